// The buffered RIFF file service: open/create/read/write/seek/flush/close of a
// file through a buffer of its own, and the RIFF chunk calls (descend, ascend
// with size patching and the pad byte, create RIFF/LIST/plain chunks).
//
// Offsets are 64-bit; RIFF chunk sizes and offsets are 32-bit on disk, so an
// ascend that would patch a size beyond 4 GiB fails instead of wrapping.
// All integers on disk are little-endian. One handle is used by one thread at a
// time; different handles are independent.
#pragma once

#include <cstdint>

#include "platform/mmresult.h"

namespace velmar {

struct TMMIOFile;
using HMMIO = TMMIOFile*;
using FOURCC = std::uint32_t;

constexpr FOURCC mmioFOURCC(char a, char b, char c, char d) {
  return static_cast<FOURCC>(static_cast<std::uint8_t>(a)) |
         static_cast<FOURCC>(static_cast<std::uint8_t>(b)) << 8 |
         static_cast<FOURCC>(static_cast<std::uint8_t>(c)) << 16 |
         static_cast<FOURCC>(static_cast<std::uint8_t>(d)) << 24;
}

inline constexpr FOURCC FOURCC_RIFF = mmioFOURCC('R', 'I', 'F', 'F');
inline constexpr FOURCC FOURCC_LIST = mmioFOURCC('L', 'I', 'S', 'T');

// Open flags.
inline constexpr std::uint32_t MMIO_READ = 0x0000;
inline constexpr std::uint32_t MMIO_WRITE = 0x0001;
inline constexpr std::uint32_t MMIO_READWRITE = 0x0002;
inline constexpr std::uint32_t MMIO_PARSE = 0x0100;   // only check that the name is valid
inline constexpr std::uint32_t MMIO_DELETE = 0x0200;  // delete the file
inline constexpr std::uint32_t MMIO_CREATE = 0x1000;  // create or truncate
inline constexpr std::uint32_t MMIO_EXIST = 0x4000;   // only check that the file exists
inline constexpr std::uint32_t MMIO_ALLOCBUF = 0x10000;
// With MMIO_CREATE: create only a file that does not exist yet (fails when it
// does), so that two programs never write the same new file.
inline constexpr std::uint32_t MMIO_CREATENEW = 0x20000;

// Chunk flags.
inline constexpr std::uint32_t MMIO_DIRTY = 0x10000000;  // size must be patched on ascend
inline constexpr std::uint32_t MMIO_CREATERIFF = 0x0020;
inline constexpr std::uint32_t MMIO_CREATELIST = 0x0040;

// String to FOURCC flag.
inline constexpr std::uint32_t MMIO_TOUPPER = 0x0010;

// Results.
inline constexpr MMRESULT MMIOERR_CANNOTOPEN = 259;
inline constexpr MMRESULT MMIOERR_CANNOTCLOSE = 260;
inline constexpr MMRESULT MMIOERR_CANNOTREAD = 261;
inline constexpr MMRESULT MMIOERR_CANNOTWRITE = 262;
inline constexpr MMRESULT MMIOERR_CANNOTSEEK = 263;
inline constexpr MMRESULT MMIOERR_CHUNKNOTFOUND = 265;

inline constexpr int SEEK_FROM_START = 0;
inline constexpr int SEEK_FROM_CURRENT = 1;
inline constexpr int SEEK_FROM_END = 2;

// Default buffer size of MMIO_ALLOCBUF.
inline constexpr std::int32_t MMIO_DEFAULTBUFFER = 8192;

struct MMCKINFO {
  FOURCC ckid;                 // chunk id
  std::uint32_t cksize;        // size of the data part
  FOURCC fccType;              // form or list type of a RIFF or LIST chunk
  std::uint32_t dwDataOffset;  // file offset just past the 8-byte header
  std::uint32_t dwFlags;       // MMIO_DIRTY
};

struct MMIOINFO {
  std::uint32_t dwFlags;  // the flags the file was opened with
  MMRESULT wErrorRet;     // why an open failed
};

// The value mmioOpen returns when a MMIO_PARSE, MMIO_EXIST or MMIO_DELETE check
// succeeds. It carries no file: every call but mmioClose rejects it.
inline HMMIO const MMIO_CHECK_PASSED = reinterpret_cast<HMMIO>(static_cast<std::uintptr_t>(1));

// Opens Name. For MMIO_PARSE, MMIO_EXIST and MMIO_DELETE only success matters:
// MMIO_CHECK_PASSED or null. Info, when given, receives the error of a failure.
HMMIO mmioOpen(const char* Name, MMIOINFO* Info, std::uint32_t Flags);
MMRESULT mmioClose(HMMIO h, std::uint32_t Flags);

// Bytes transferred, or -1 on error. A failed write leaves the position at the
// end of what reached the file.
std::int32_t mmioRead(HMMIO h, void* Buffer, std::int32_t Count);
std::int32_t mmioWrite(HMMIO h, const void* Buffer, std::int32_t Count);
// The new position, or -1 on error (negative targets included).
std::int64_t mmioSeek(HMMIO h, std::int64_t Offset, int Origin);

MMRESULT mmioFlush(HMMIO h, std::uint32_t Flags);
// Resizes the handle's buffer (0: unbuffered); Buffer must be null.
MMRESULT mmioSetBuffer(HMMIO h, char* Buffer, std::int32_t Size, std::uint32_t Flags);
MMRESULT mmioGetInfo(HMMIO h, MMIOINFO* Info, std::uint32_t Flags);
// Cuts the file off at the current position (buffered data is written first).
MMRESULT mmioTruncate(HMMIO h);
// Writes Count bytes at Offset after the buffered bytes have gone to the file,
// without moving the position (a header patched while writing goes on).
MMRESULT mmioWriteAt(HMMIO h, std::int64_t Offset, const void* Data, std::int32_t Count);
// Makes what was written durable (fdatasync).
MMRESULT mmioSync(HMMIO h);

// Reads the chunk header at the current position into Chunk and moves into the
// chunk's data (past the form type for RIFF and LIST). Parent is not consulted.
MMRESULT mmioDescend(HMMIO h, MMCKINFO* Chunk, const MMCKINFO* Parent, std::uint32_t Flags);
// Moves past Chunk and its pad byte. A dirty chunk first gets its real size
// (position - data offset) written, and a zero pad byte when that size is odd.
MMRESULT mmioAscend(HMMIO h, MMCKINFO* Chunk, std::uint32_t Flags);
// Writes a chunk header (with MMIO_CREATERIFF or MMIO_CREATELIST the id and the
// form type) at the current position and marks the chunk dirty.
MMRESULT mmioCreateChunk(HMMIO h, MMCKINFO* Chunk, std::uint32_t Flags);

// Up to four characters, padded with blanks.
FOURCC mmioStringToFOURCC(const char* Text, std::uint32_t Flags);

}  // namespace velmar

#include "platform/mmio/mmio.h"
#include "platform/byte_order.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <new>
#include <vector>

namespace velmar {

// One open file: a descriptor, the logical position and a window of the file held
// in memory. The window covers [WinStart, WinStart + WinLen); Dirty means it holds
// bytes not yet written to the file.
struct TMMIOFile {
  int Fd = -1;
  std::uint32_t Flags = 0;
  std::vector<char> Buffer;  // capacity of the window; empty: unbuffered
  std::int64_t WinStart = 0;
  std::size_t WinLen = 0;
  bool Dirty = false;
  std::int64_t Pos = 0;
};

namespace {

bool IsFile(HMMIO h) {
  return h && h != MMIO_CHECK_PASSED && h->Fd >= 0;
}

bool WriteAll(int Fd, const char* Data, std::size_t Count, std::int64_t At, std::size_t& Done) {
  Done = 0;
  while (Done < Count) {
    const ssize_t n = ::pwrite(Fd, Data + Done, Count - Done, At + static_cast<std::int64_t>(Done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    Done += static_cast<std::size_t>(n);
  }
  return true;
}

// Reads up to Count bytes, fewer only at the end of the file; -1 on error.
std::int64_t ReadSome(int Fd, char* Data, std::size_t Count, std::int64_t At) {
  std::size_t Done = 0;
  while (Done < Count) {
    const ssize_t n = ::pread(Fd, Data + Done, Count - Done, At + static_cast<std::int64_t>(Done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    Done += static_cast<std::size_t>(n);
  }
  return static_cast<std::int64_t>(Done);
}

// Writes the window if it holds unwritten bytes. On failure the window is
// dropped and the position is left at the end of what reached the file.
bool FlushWindow(TMMIOFile& f) {
  if (!f.Dirty) return true;
  std::size_t Done = 0;
  const bool Ok = WriteAll(f.Fd, f.Buffer.data(), f.WinLen, f.WinStart, Done);
  f.Dirty = false;
  if (!Ok) {
    f.Pos = f.WinStart + static_cast<std::int64_t>(Done);
    f.WinLen = 0;
  }
  return Ok;
}

void DropWindow(TMMIOFile& f) {
  f.WinStart = f.Pos;
  f.WinLen = 0;
}

bool InWindow(const TMMIOFile& f, std::int64_t At) {
  return At >= f.WinStart && At < f.WinStart + static_cast<std::int64_t>(f.WinLen);
}

std::int64_t FileLength(TMMIOFile& f) {
  struct stat St {};
  if (::fstat(f.Fd, &St) != 0) return -1;
  const std::int64_t WindowEnd = f.WinStart + static_cast<std::int64_t>(f.WinLen);
  return std::max<std::int64_t>(St.st_size, f.Dirty ? WindowEnd : 0);
}

bool ReadExact(HMMIO h, void* Data, std::int32_t Count) {
  return mmioRead(h, Data, Count) == Count;
}
bool WriteExact(HMMIO h, const void* Data, std::int32_t Count) {
  return mmioWrite(h, Data, Count) == Count;
}


bool NameIsValid(const char* Name) {
  if (!Name || !*Name) return false;
  const std::size_t Length = std::strlen(Name);
  if (Length >= PATH_MAX) return false;
  for (const auto& Part : std::filesystem::path(Name))
    if (Part.native().size() > NAME_MAX) return false;
  return true;
}

HMMIO Check(bool Passed, MMIOINFO* Info) {
  if (Info) Info->wErrorRet = Passed ? MMSYSERR_NOERROR : MMIOERR_CANNOTOPEN;
  return Passed ? MMIO_CHECK_PASSED : nullptr;
}

}  // namespace

HMMIO mmioOpen(const char* Name, MMIOINFO* Info, std::uint32_t Flags) {
  if (Flags & MMIO_PARSE) return Check(NameIsValid(Name), Info);
  if (!NameIsValid(Name)) return Check(false, Info);
  if (Flags & MMIO_EXIST) return Check(::access(Name, F_OK) == 0, Info);
  if (Flags & MMIO_DELETE) return Check(::unlink(Name) == 0, Info);

  int Mode = O_RDONLY;
  if (Flags & MMIO_READWRITE)
    Mode = O_RDWR;
  else if (Flags & MMIO_WRITE)
    Mode = O_WRONLY;
  if (Flags & MMIO_CREATE)
    Mode = (Mode == O_RDONLY ? O_RDWR : Mode) | O_CREAT | (Flags & MMIO_CREATENEW ? O_EXCL : O_TRUNC);

  auto* f = new (std::nothrow) TMMIOFile;
  if (!f) return Check(false, Info);
  f->Fd = ::open(Name, Mode | O_CLOEXEC, 0666);
  if (f->Fd < 0) {
    delete f;
    return Check(false, Info);
  }
  f->Flags = Flags;
  if (Flags & MMIO_ALLOCBUF) {
    try {
      f->Buffer.resize(MMIO_DEFAULTBUFFER);
    } catch (const std::bad_alloc&) {
      ::close(f->Fd);
      delete f;
      return Check(false, Info);
    }
  }
  if (Info) Info->wErrorRet = MMSYSERR_NOERROR;
  return f;
}

MMRESULT mmioClose(HMMIO h, std::uint32_t) {
  if (h == MMIO_CHECK_PASSED) return MMSYSERR_NOERROR;
  if (!IsFile(h)) return MMSYSERR_INVALHANDLE;
  const bool Flushed = FlushWindow(*h);
  const bool Closed = ::close(h->Fd) == 0;
  delete h;
  if (!Flushed) return MMIOERR_CANNOTWRITE;
  return Closed ? MMSYSERR_NOERROR : MMIOERR_CANNOTCLOSE;
}

std::int32_t mmioRead(HMMIO h, void* Buffer, std::int32_t Count) {
  if (!IsFile(h) || Count < 0 || (Count > 0 && !Buffer)) return -1;
  TMMIOFile& f = *h;
  auto* Out = static_cast<char*>(Buffer);
  std::int32_t Done = 0;
  while (Done < Count) {
    const std::size_t Want = static_cast<std::size_t>(Count - Done);
    if (InWindow(f, f.Pos)) {
      const auto Offset = static_cast<std::size_t>(f.Pos - f.WinStart);
      const std::size_t n = std::min(Want, f.WinLen - Offset);
      std::memcpy(Out + Done, f.Buffer.data() + Offset, n);
      f.Pos += static_cast<std::int64_t>(n);
      Done += static_cast<std::int32_t>(n);
      continue;
    }
    if (!FlushWindow(f)) return -1;
    if (Want >= f.Buffer.size()) {  // large or unbuffered: straight from the file
      const std::int64_t n = ReadSome(f.Fd, Out + Done, Want, f.Pos);
      if (n < 0) return -1;
      f.Pos += n;
      Done += static_cast<std::int32_t>(n);
      DropWindow(f);
      break;
    }
    const std::int64_t n = ReadSome(f.Fd, f.Buffer.data(), f.Buffer.size(), f.Pos);
    if (n < 0) return -1;
    f.WinStart = f.Pos;
    f.WinLen = static_cast<std::size_t>(n);
    if (n == 0) break;  // end of file
  }
  return Done;
}

std::int32_t mmioWrite(HMMIO h, const void* Buffer, std::int32_t Count) {
  if (!IsFile(h) || Count < 0 || (Count > 0 && !Buffer)) return -1;
  TMMIOFile& f = *h;
  const auto* In = static_cast<const char*>(Buffer);
  const auto Capacity = static_cast<std::int64_t>(f.Buffer.size());
  std::int32_t Done = 0;
  while (Done < Count) {
    const std::size_t Want = static_cast<std::size_t>(Count - Done);
    const std::int64_t WindowEnd = f.WinStart + static_cast<std::int64_t>(f.WinLen);
    // Continue the window when the position lies inside it or right at its end.
    if (f.Pos >= f.WinStart && f.Pos <= WindowEnd && f.Pos < f.WinStart + Capacity) {
      const auto Offset = static_cast<std::size_t>(f.Pos - f.WinStart);
      const std::size_t n = std::min(Want, f.Buffer.size() - Offset);
      std::memcpy(f.Buffer.data() + Offset, In + Done, n);
      f.WinLen = std::max(f.WinLen, Offset + n);
      f.Dirty = true;
      f.Pos += static_cast<std::int64_t>(n);
      Done += static_cast<std::int32_t>(n);
      continue;
    }
    if (!FlushWindow(f)) return -1;
    if (static_cast<std::int64_t>(Want) >= Capacity) {  // large or unbuffered: straight to the file
      std::size_t Written = 0;
      const bool Ok = WriteAll(f.Fd, In + Done, Want, f.Pos, Written);
      f.Pos += static_cast<std::int64_t>(Written);
      DropWindow(f);
      if (!Ok) return -1;
      Done += static_cast<std::int32_t>(Written);
      break;
    }
    DropWindow(f);
  }
  return Done;
}

std::int64_t mmioSeek(HMMIO h, std::int64_t Offset, int Origin) {
  if (!IsFile(h)) return -1;
  TMMIOFile& f = *h;
  std::int64_t Base = 0;
  switch (Origin) {
    case SEEK_FROM_START:
      Base = 0;
      break;
    case SEEK_FROM_CURRENT:
      Base = f.Pos;
      break;
    case SEEK_FROM_END:
      Base = FileLength(f);
      break;
    default:
      return -1;
  }
  if (Base < 0 || Base + Offset < 0) return -1;
  f.Pos = Base + Offset;
  return f.Pos;
}

MMRESULT mmioFlush(HMMIO h, std::uint32_t) {
  if (!IsFile(h)) return MMSYSERR_INVALHANDLE;
  return FlushWindow(*h) ? MMSYSERR_NOERROR : MMIOERR_CANNOTWRITE;
}

MMRESULT mmioSetBuffer(HMMIO h, char* Buffer, std::int32_t Size, std::uint32_t) {
  if (!IsFile(h)) return MMSYSERR_INVALHANDLE;
  if (Buffer || Size < 0) return MMSYSERR_INVALPARAM;
  if (!FlushWindow(*h)) return MMIOERR_CANNOTWRITE;
  DropWindow(*h);
  try {
    h->Buffer.assign(static_cast<std::size_t>(Size), 0);
    h->Buffer.shrink_to_fit();
  } catch (const std::bad_alloc&) {
    return MMSYSERR_INVALPARAM;
  }
  return MMSYSERR_NOERROR;
}

MMRESULT mmioGetInfo(HMMIO h, MMIOINFO* Info, std::uint32_t) {
  if (!IsFile(h)) return MMSYSERR_INVALHANDLE;
  if (!Info) return MMSYSERR_INVALPARAM;
  Info->dwFlags = h->Flags;
  Info->wErrorRet = MMSYSERR_NOERROR;
  return MMSYSERR_NOERROR;
}

MMRESULT mmioWriteAt(HMMIO h, std::int64_t Offset, const void* Data, std::int32_t Count) {
  if (!IsFile(h)) return MMSYSERR_INVALHANDLE;
  if (!Data || Count < 0 || Offset < 0) return MMSYSERR_INVALPARAM;
  if (!FlushWindow(*h)) return MMIOERR_CANNOTWRITE;
  std::size_t Done = 0;
  if (!WriteAll(h->Fd, static_cast<const char*>(Data), static_cast<std::size_t>(Count), Offset,
                Done))
    return MMIOERR_CANNOTWRITE;
  // The window may hold these bytes too: keep it the same as the file.
  TMMIOFile& f = *h;
  const std::int64_t From = std::max(Offset, f.WinStart);
  const std::int64_t To =
      std::min(Offset + Count, f.WinStart + static_cast<std::int64_t>(f.WinLen));
  if (From < To)
    std::memcpy(f.Buffer.data() + (From - f.WinStart),
                static_cast<const char*>(Data) + (From - Offset),
                static_cast<std::size_t>(To - From));
  return MMSYSERR_NOERROR;
}

MMRESULT mmioSync(HMMIO h) {
  if (!IsFile(h)) return MMSYSERR_INVALHANDLE;
  if (!FlushWindow(*h)) return MMIOERR_CANNOTWRITE;
  return ::fdatasync(h->Fd) == 0 ? MMSYSERR_NOERROR : MMIOERR_CANNOTWRITE;
}

MMRESULT mmioTruncate(HMMIO h) {
  if (!IsFile(h)) return MMSYSERR_INVALHANDLE;
  if (!FlushWindow(*h)) return MMIOERR_CANNOTWRITE;
  DropWindow(*h);
  return ::ftruncate(h->Fd, h->Pos) == 0 ? MMSYSERR_NOERROR : MMIOERR_CANNOTWRITE;
}

MMRESULT mmioDescend(HMMIO h, MMCKINFO* Chunk, const MMCKINFO*, std::uint32_t) {
  if (!IsFile(h)) return MMSYSERR_INVALHANDLE;
  if (!Chunk) return MMSYSERR_INVALPARAM;
  unsigned char Header[12];
  if (!ReadExact(h, Header, 8)) return MMIOERR_CHUNKNOTFOUND;
  const std::int64_t DataOffset = h->Pos;
  if (DataOffset > UINT32_MAX) return MMIOERR_CHUNKNOTFOUND;
  Chunk->ckid = GetLe32(Header);
  Chunk->cksize = GetLe32(Header + 4);
  Chunk->fccType = 0;
  Chunk->dwDataOffset = static_cast<std::uint32_t>(DataOffset);
  Chunk->dwFlags = 0;
  if (Chunk->ckid == FOURCC_RIFF || Chunk->ckid == FOURCC_LIST) {
    if (!ReadExact(h, Header + 8, 4)) return MMIOERR_CHUNKNOTFOUND;
    Chunk->fccType = GetLe32(Header + 8);
  }
  return MMSYSERR_NOERROR;
}

MMRESULT mmioAscend(HMMIO h, MMCKINFO* Chunk, std::uint32_t) {
  if (!IsFile(h)) return MMSYSERR_INVALHANDLE;
  if (!Chunk) return MMSYSERR_INVALPARAM;
  if (Chunk->dwFlags & MMIO_DIRTY) {
    const std::int64_t Size = h->Pos - Chunk->dwDataOffset;
    if (Size < 0 || Size > UINT32_MAX || Chunk->dwDataOffset < 4) return MMIOERR_CANNOTWRITE;
    unsigned char Field[4];
    PutLe32(Field, static_cast<std::uint32_t>(Size));
    if (mmioSeek(h, Chunk->dwDataOffset - 4, SEEK_FROM_START) < 0 || !WriteExact(h, Field, 4))
      return MMIOERR_CANNOTWRITE;
    Chunk->cksize = static_cast<std::uint32_t>(Size);
    if (Size & 1) {
      const char Pad = 0;
      if (mmioSeek(h, Chunk->dwDataOffset + Size, SEEK_FROM_START) < 0 || !WriteExact(h, &Pad, 1))
        return MMIOERR_CANNOTWRITE;
    }
    Chunk->dwFlags &= ~MMIO_DIRTY;
  }
  const std::int64_t End = std::int64_t{Chunk->dwDataOffset} + Chunk->cksize + (Chunk->cksize & 1);
  return mmioSeek(h, End, SEEK_FROM_START) < 0 ? MMIOERR_CANNOTSEEK : MMSYSERR_NOERROR;
}

MMRESULT mmioCreateChunk(HMMIO h, MMCKINFO* Chunk, std::uint32_t Flags) {
  if (!IsFile(h)) return MMSYSERR_INVALHANDLE;
  if (!Chunk) return MMSYSERR_INVALPARAM;
  const bool WithType = Flags & (MMIO_CREATERIFF | MMIO_CREATELIST);
  if (Flags & MMIO_CREATERIFF) Chunk->ckid = FOURCC_RIFF;
  if (Flags & MMIO_CREATELIST) Chunk->ckid = FOURCC_LIST;
  const std::int64_t Start = h->Pos;
  if (Start + 8 > UINT32_MAX) return MMIOERR_CANNOTWRITE;
  unsigned char Header[12];
  PutLe32(Header, Chunk->ckid);
  PutLe32(Header + 4, Chunk->cksize);
  PutLe32(Header + 8, Chunk->fccType);
  if (!WriteExact(h, Header, WithType ? 12 : 8)) return MMIOERR_CANNOTWRITE;
  Chunk->dwDataOffset = static_cast<std::uint32_t>(Start + 8);
  Chunk->dwFlags = MMIO_DIRTY;
  return MMSYSERR_NOERROR;
}

FOURCC mmioStringToFOURCC(const char* Text, std::uint32_t Flags) {
  char c[4] = {' ', ' ', ' ', ' '};
  for (int i = 0; i < 4 && Text && Text[i]; ++i) {
    c[i] = Text[i];
    if (Flags & MMIO_TOUPPER)
      c[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(c[i])));
  }
  return mmioFOURCC(c[0], c[1], c[2], c[3]);
}

}  // namespace velmar

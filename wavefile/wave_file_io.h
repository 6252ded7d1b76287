// The RIFF/WAVE file layer: parse an existing WAV file, create a new one, read
// and write audio at a sample-frame position, and finalise the chunk sizes when
// the file is closed, carrying the file's "INFO" and "DISP" metadata along.
//
// A written file is laid out as: "RIFF" size "WAVE", an 18-byte "fmt " chunk
// (18 + cbSize for compressed formats), "data" with the audio (and a pad byte when
// odd), a 4-byte "fact" chunk with the number of sample frames, then any "DISP"
// chunks and a "LIST"/"INFO" chunk. The sizes read 0 until the file is closed; the
// parser does not trust the data size and reads a file that was never closed
// up to its last whole frame.
//
// Nothing here raises: every operation returns a result code. A WAV file is
// outside data: whatever it holds, parsing returns a code, reads nothing beyond
// the file and allocates nothing driven by an unchecked size field.
// A block is used by one thread at a time.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/mmio/mmio.h"
#include "platform/wave/wave_format_ex.h"
#include "wavefile/riff_info.h"

namespace velmar {

// Result codes of the file operations.
inline constexpr std::int32_t WAVEERR_NONE = 0;
inline constexpr std::int32_t WAVEERR_BADFORMAT = 101;   // not a usable wave, or a bad buffer size
inline constexpr std::int32_t WAVEERR_NOARGUMENT = 104;  // missing argument
inline constexpr std::int32_t WAVEERR_IO = 106;          // open, read, seek or write failure
inline constexpr std::int32_t WAVEERR_NOMEMORY = 107;

// Result codes of the metadata operations.
inline constexpr std::int32_t INFOERR_NONE = 0;
inline constexpr std::int32_t INFOERR_NOARGUMENT = 2;
inline constexpr std::int32_t INFOERR_IO = 3;
inline constexpr std::int32_t INFOERR_NOMEMORY = 4;

// The only open mode: by file name.
inline constexpr std::int32_t WAVE_OPEN_BY_NAME = 1;

inline constexpr FOURCC FOURCC_WAVE = mmioFOURCC('W', 'A', 'V', 'E');

// Audio data stops growing before the file would pass this size: every offset,
// size and position of the layer stays within 32 signed bits.
inline constexpr std::int64_t kMaxWaveFileBytes = 0x7FFF0000;

struct TWaveFileBlock {
  std::int32_t BlockSize = 0;  // size of the fixed part plus the format, as laid out on disk
  std::int32_t Mode = 0;
  HMMIO Handle = nullptr;  // none while the file is closed
  MMCKINFO RiffChunk{};
  MMCKINFO DataChunk{};  // also used for the "fact" chunk at close
  std::int32_t FileSize = 0;
  std::int32_t DataBytes = 0;     // audio bytes in the data chunk
  std::int32_t DataOffset = 0;    // file offset of the first audio byte
  std::int32_t TotalSamples = 0;  // sample frames in the data
  std::int32_t EndSample = 0;     // sample frames available for reading
  std::int32_t BytesLeft = 0;     // audio bytes from Position to EndSample
  std::int32_t Position = 0;      // current position in sample frames
  std::string FileName;
  TWaveDispList DispList;
  TWaveInfoList InfoList;
  std::vector<std::uint8_t> FormatBytes;  // at least 18 bytes
  bool FormatAfterData = false;           // the file's "fmt " chunk follows its data
  // Chunks after the data that the layer does not read itself (cue points and
  // their labels, for one), id and body as they are: an update writes them
  // back after the metadata, so that nothing of the file is lost.
  std::vector<std::pair<FOURCC, std::vector<std::uint8_t>>> OtherChunks;
  std::int64_t OtherChunkBytes = 0;  // their bodies' sizes together, as parsed
  // Offset of the value of a "fact" chunk that stands before the data, or -1:
  // the close updates that one, as a second "fact" would end the next parse
  // before the chunks that follow it.
  std::int64_t FactBeforeData = -1;
  // While a new file records: the data length that the sizes in its header on
  // disk cover, and the length made durable; -1 for any other file.
  std::int32_t SizesOnDisk = -1;
  std::int32_t DurableBytes = 0;
  // A new file is made durable every few seconds while written; not when it
  // copies audio that is kept elsewhere (the sizes still follow the audio).
  bool SyncWhileWriting = true;

  WAVEFORMATEX* Format() { return reinterpret_cast<WAVEFORMATEX*>(FormatBytes.data()); }
  const WAVEFORMATEX* Format() const {
    return reinterpret_cast<const WAVEFORMATEX*>(FormatBytes.data());
  }
};

// Parses Name (which must be a RIFF form of FormType, i.e. "WAVE") into a new
// block; the file is closed again. Block is set only on success.
std::int32_t WaveFileParse(const std::string& Name, FOURCC FormType, std::int32_t Mode,
                           TWaveFileBlock*& Block);
// A new block holding a copy of Format, with empty metadata and no file; null
// for a null format or when memory runs out.
TWaveFileBlock* WaveFileFromFormat(const WAVEFORMATEX* Format);
// Creates the file, writes the header and leaves it open for writing. A failure
// deletes the partly written file. With MustBeNew an existing file is left
// alone and the create fails (errno EEXIST) instead of replacing it.
std::int32_t WaveFileCreate(TWaveFileBlock* Block, const std::string& Name, bool MustBeNew = false);
// Opens a parsed file again for reading and writing and seeks to Position.
std::int32_t WaveFileReopen(TWaveFileBlock* Block);
std::int32_t WaveFileSetBuffer(TWaveFileBlock* Block, std::int32_t Size);
// Bytes read, 0 at the end, -1 if the file is not open.
std::int32_t WaveFileRead(TWaveFileBlock* Block, void* Buffer, std::int32_t Count);
// Bytes written, 0 if nothing was written, -1 if not open or Count is not positive.
// A file made by WaveFileCreate keeps the sizes in its header current on disk
// while it is written (every half second of audio, durable every few
// seconds), so that a crash leaves a file that says what it holds.
std::int32_t WaveFileWrite(TWaveFileBlock* Block, const void* Buffer, std::int32_t Count);
// Positions at a sample frame, clamped to 0 .. EndSample - 1.
std::int32_t WaveFileSeek(TWaveFileBlock* Block, std::int32_t Sample);
// Finalises a written file (sizes, "fact", metadata) and closes it; the block
// stays valid and describes the finished file.
std::int32_t WaveFileClose(TWaveFileBlock* Block);
// Closes the file if open and frees the block; Block becomes null.
void WaveFileFree(TWaveFileBlock*& Block);

bool WaveFileExists(const std::string& Name);
bool WaveFileNameValid(const std::string& Name);
bool WaveFileDelete(const std::string& Name);
bool WaveFileIsWave(const std::string& Name);

// Metadata: the text of INFO tag Tag (table index), and replacing it.
std::int32_t WaveFileGetInfo(const TWaveFileBlock* Block, int Tag, std::string& Text);
std::int32_t WaveFileSetInfo(TWaveFileBlock* Block, int Tag, const std::string& Text);
// Of a file reopened for update: marks its metadata to be written anew by the
// close (after the data, which stays as it is), also when no audio was written.
std::int32_t WaveFileTouchMetadata(TWaveFileBlock* Block);

}  // namespace velmar

#include "wavefile/wave_file_io.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <new>

#include "stream/time_conversions.h"
#include "stream/wave_format.h"
#include "wavefile/wave_scan.h"

namespace velmar {

namespace {

constexpr FOURCC kFmt = mmioFOURCC('f', 'm', 't', ' ');
constexpr FOURCC kData = mmioFOURCC('d', 'a', 't', 'a');
constexpr FOURCC kFact = mmioFOURCC('f', 'a', 'c', 't');
constexpr FOURCC kDisp = mmioFOURCC('D', 'I', 'S', 'P');
constexpr FOURCC kInfo = mmioFOURCC('I', 'N', 'F', 'O');

// The fixed part of a block; the format record follows it.
constexpr std::int64_t kFixedPart = 109;
constexpr std::int64_t kFormatRecord = sizeof(WAVEFORMATEX);
// A format record never needs more than its 18 bytes and 65535 extra bytes.
constexpr std::int64_t kMaxFormatBytes = kFormatRecord + 0xFFFF;
// Metadata beyond these sizes is skipped rather than loaded.
constexpr std::int64_t kMaxInfoBody = 1 << 20;
constexpr std::int64_t kMaxDispData = 16 << 20;
constexpr std::int64_t kMaxOtherChunks = 24 << 20;  // a tag with a 16 MB cover, and more

std::int64_t Tell(HMMIO h) {
  return mmioSeek(h, 0, SEEK_FROM_CURRENT);
}

bool SeekTo(HMMIO h, std::int64_t Offset) {
  return Offset >= 0 && mmioSeek(h, Offset, SEEK_FROM_START) == Offset;
}

template <typename T>
bool ReadExact(HMMIO h, T* Data, std::int64_t Count) {
  return Count >= 0 && Count <= INT32_MAX &&
         mmioRead(h, Data, static_cast<std::int32_t>(Count)) == Count;
}

// Opens a file by name for the layer: read-write unless it is read-only (or that
// fails), then into its RIFF chunk, which must be a form of FormType.
HMMIO OpenByName(const std::string& Name, FOURCC FormType, MMCKINFO& Riff) {
  HMMIO h = nullptr;
  if (::access(Name.c_str(), W_OK) == 0)
    h = mmioOpen(Name.c_str(), nullptr, MMIO_READWRITE | MMIO_ALLOCBUF);
  if (!h) h = mmioOpen(Name.c_str(), nullptr, MMIO_READ | MMIO_ALLOCBUF);
  if (!h) return nullptr;
  if (mmioDescend(h, &Riff, nullptr, 0) != MMSYSERR_NOERROR || Riff.ckid != FOURCC_RIFF ||
      Riff.fccType != FormType) {
    mmioClose(h, 0);
    return nullptr;
  }
  return h;
}

// The most audio bytes whose frame count still fits 31 bits (this only binds
// for formats with far more frames than bytes).
std::int64_t MaxDataBytes(const WAVEFORMATEX& f) {
  return std::int64_t{INT32_MAX - 2} * f.nAvgBytesPerSec / f.nSamplesPerSec;
}

struct ParseState {
  bool HaveFormat = false;
  bool HaveData = false;
  bool HaveFact = false;
  bool PreviousWasData = false;
  std::int64_t EndOfData = 0;
  std::int64_t DataSize = 0;
  std::int64_t DataOffset = 0;
};

// Reads the "fmt " chunk into the block; false on a short read.
bool ReadFormat(HMMIO h, const MMCKINFO& Chunk, TWaveFileBlock& Block) {
  const std::int64_t Size = Chunk.cksize;
  Block.BlockSize = static_cast<std::int32_t>(
      Size < kFormatRecord ? kFixedPart + kFormatRecord
                           : std::min<std::int64_t>(Size + kFixedPart, INT32_MAX));
  const std::int64_t Keep = std::min(Size, kMaxFormatBytes);
  Block.FormatBytes.assign(static_cast<std::size_t>(std::max(Keep, kFormatRecord)), 0);
  if (!ReadExact(h, Block.FormatBytes.data(), Keep)) return false;
  // A compressed format's extra bytes must be there: never claim more than was read.
  WAVEFORMATEX* f = Block.Format();
  if (f->wFormatTag != WAVE_FORMAT_PCM)
    f->cbSize = static_cast<std::uint16_t>(std::min<std::int64_t>(
        f->cbSize, static_cast<std::int64_t>(Block.FormatBytes.size()) - kFormatRecord));
  return true;
}

void ReadInfoList(HMMIO h, const MMCKINFO& Chunk, TWaveFileBlock& Block) {
  const std::int64_t Size = std::int64_t{Chunk.cksize} - 4;
  // All lists together stay within the limit: a file cannot make us hold more.
  if (Size < 5 || Size + static_cast<std::int64_t>(Block.InfoList.Raw.size()) > kMaxInfoBody)
    return;
  std::vector<char> Body(static_cast<std::size_t>(Size));
  if (ReadExact(h, Body.data(), Size)) Block.InfoList.Load(std::move(Body));
}

// Keeps a chunk after the data as it is (a list with its form type); all of
// them together stay within a limit.
void KeepOtherChunk(HMMIO h, const MMCKINFO& Chunk, TWaveFileBlock& Block) {
  if (std::int64_t{Chunk.cksize} + Block.OtherChunkBytes > kMaxOtherChunks) return;
  const bool List = Chunk.ckid == FOURCC_LIST;
  std::vector<std::uint8_t> Body(Chunk.cksize);
  if (List) {
    if (Body.size() < 4) return;
    std::memcpy(Body.data(), &Chunk.fccType, 4);
  }
  const std::int64_t Rest = static_cast<std::int64_t>(Body.size()) - (List ? 4 : 0);
  if (ReadExact(h, Body.data() + (List ? 4 : 0), Rest)) {
    Block.OtherChunkBytes += static_cast<std::int64_t>(Body.size());
    Block.OtherChunks.emplace_back(Chunk.ckid, std::move(Body));
  }
}

bool WriteOtherChunks(HMMIO h, const TWaveFileBlock& Block) {
  for (const auto& [Id, Body] : Block.OtherChunks) {
    MMCKINFO c{};
    c.ckid = Id;
    const auto Size = static_cast<std::int32_t>(Body.size());
    if (mmioCreateChunk(h, &c, 0) != MMSYSERR_NOERROR || mmioWrite(h, Body.data(), Size) != Size ||
        mmioAscend(h, &c, 0) != MMSYSERR_NOERROR)
      return false;
  }
  return true;
}

void ReadDisp(HMMIO h, const MMCKINFO& Chunk, TWaveFileBlock& Block, bool BeforeData) {
  const std::int64_t Size = std::int64_t{Chunk.cksize} - 4;
  if (Size < 0 || Size > kMaxDispData) return;
  unsigned char Code[4];
  TWaveDispEntry Entry;
  Entry.Data.resize(static_cast<std::size_t>(Size));
  if (!ReadExact(h, Code, 4) || !ReadExact(h, Entry.Data.data(), Size)) return;
  // A chunk in front of the data stays where it is when the file is finalised.
  if (BeforeData) Entry.State = DISP_STATE_BEFORE_DATA;
  Entry.Code = std::uint32_t{Code[0]} | std::uint32_t{Code[1]} << 8 | std::uint32_t{Code[2]} << 16 |
               std::uint32_t{Code[3]} << 24;
  Block.DispList.push_back(std::move(Entry));
}

std::int32_t Parse(const std::string& Name, FOURCC FormType, std::int32_t Mode,
                   TWaveFileBlock*& Result) {
  MMCKINFO Riff{};
  HMMIO h = OpenByName(Name, FormType, Riff);
  if (!h) return WAVEERR_IO;
  struct Closer {
    HMMIO h;
    ~Closer() { mmioClose(h, 0); }
  } CloseAtEnd{h};

  // Offsets of the layer are 32-bit: a longer file is read up to that limit.
  std::int64_t FileLength = mmioSeek(h, 0, SEEK_FROM_END);
  if (FileLength < 0) return WAVEERR_IO;
  FileLength = std::min<std::int64_t>(FileLength, INT32_MAX);
  if (!SeekTo(h, std::int64_t{Riff.dwDataOffset} + 4)) return WAVEERR_IO;
  const std::int64_t RiffEnd =
      std::min<std::int64_t>(std::int64_t{Riff.dwDataOffset} + Riff.cksize, FileLength);

  auto Block = std::make_unique<TWaveFileBlock>();
  ParseState s;
  s.EndOfData = FileLength;

  for (;;) {
    MMCKINFO Chunk{};
    if (mmioDescend(h, &Chunk, &Riff, 0) != MMSYSERR_NOERROR) break;
    const std::int64_t ChunkEnd = std::int64_t{Chunk.dwDataOffset} + Chunk.cksize;
    if (ChunkEnd > RiffEnd) {
      if (s.HaveFormat && s.HaveData) break;
      if (ChunkEnd > FileLength)
        Chunk.cksize =
            static_cast<std::uint32_t>(std::max<std::int64_t>(FileLength - Chunk.dwDataOffset, 0));
    }
    if (s.PreviousWasData) {
      s.EndOfData = std::int64_t{Chunk.dwDataOffset} - 8;
      s.PreviousWasData = false;
    }
    if (Chunk.ckid == FOURCC_LIST && Chunk.fccType == kInfo) {
      ReadInfoList(h, Chunk, *Block);
    } else if (Chunk.ckid == kDisp) {
      ReadDisp(h, Chunk, *Block, !s.HaveData);
    } else if (Chunk.ckid == kFmt) {
      if (s.HaveFormat) break;
      if (!ReadFormat(h, Chunk, *Block)) return WAVEERR_IO;
      s.HaveFormat = true;
      Block->FormatAfterData = s.HaveData;
    } else if (Chunk.ckid == kData) {
      if (s.HaveData) break;
      s.HaveData = true;
      s.DataSize = Chunk.cksize;
      s.DataOffset = Chunk.dwDataOffset;
      s.PreviousWasData = true;
    } else if (Chunk.ckid == kFact) {
      // Its value is not trusted: the data length decides. Only the first is
      // updated in place; a later one is passed over (an update writes one after
      // the data when the first is too short to hold a count).
      if (!s.HaveFact && !s.HaveData && Chunk.cksize >= 4)
        Block->FactBeforeData = Chunk.dwDataOffset;
      s.HaveFact = true;
    } else if (s.HaveData) {
      KeepOtherChunk(h, Chunk, *Block);
    }
    if (mmioAscend(h, &Chunk, 0) != MMSYSERR_NOERROR) {
      if (s.HaveData) break;
      return WAVEERR_IO;
    }
  }

  if (!s.HaveFormat) return WAVEERR_BADFORMAT;
  PlainFormatFromExtensible(Block->FormatBytes);
  WAVEFORMATEX& f = *Block->Format();
  // A PCM record's layout is corrected first, and the data length below is then
  // rounded to the corrected block alignment rather than the stored one: a stored
  // alignment that is too small would count bytes of the next chunk's header as
  // audio. (The design rounds with the stored value; this order is deliberate.)
  if (!NormaliseFormat(f)) return WAVEERR_BADFORMAT;

  // The data reaches the next chunk or the end of the file, whatever its size
  // field says: a file that was never finalised reads back in full.
  std::int64_t Span = s.HaveData ? std::max<std::int64_t>(s.EndOfData - s.DataOffset, 0) : 0;
  // The pad byte after odd data is no audio.
  if ((s.DataSize & 1) && Span == s.DataSize + 1) Span = s.DataSize;
  Block->DataBytes = static_cast<std::int32_t>(Span / f.nBlockAlign * f.nBlockAlign);
  Block->DataOffset = static_cast<std::int32_t>(s.DataOffset);
  if (Block->DataBytes > MaxDataBytes(f)) return WAVEERR_BADFORMAT;
  Block->TotalSamples = BytesToSamples(&f, Block->DataBytes);
  Block->Mode = Mode;
  Block->FileSize = static_cast<std::int32_t>(FileLength);
  Block->EndSample = Block->TotalSamples;
  Block->Position = 0;
  Block->BytesLeft = 0;
  Block->RiffChunk = Riff;
  Block->FileName = Name;
  Result = Block.release();
  return WAVEERR_NONE;
}

// Writes the "fmt " chunk: 18 bytes for PCM (cbSize 0, whatever the block
// holds), 18 + cbSize otherwise.
bool WriteFormatChunk(HMMIO h, const TWaveFileBlock& Block) {
  std::vector<std::uint8_t> Record(Block.FormatBytes.begin(),
                                   Block.FormatBytes.begin() + WaveFormatSize(Block.Format()));
  if (Block.Format()->wFormatTag == WAVE_FORMAT_PCM)
    reinterpret_cast<WAVEFORMATEX*>(Record.data())->cbSize = 0;
  MMCKINFO Fmt{};
  Fmt.ckid = kFmt;
  Fmt.cksize = static_cast<std::uint32_t>(Record.size());
  const auto RecordSize = static_cast<std::int32_t>(Record.size());
  return mmioCreateChunk(h, &Fmt, 0) == MMSYSERR_NOERROR &&
         mmioWrite(h, Record.data(), RecordSize) == RecordSize &&
         mmioAscend(h, &Fmt, 0) == MMSYSERR_NOERROR;
}

std::int32_t Create(TWaveFileBlock& Block, const std::string& Name, bool MustBeNew) {
  HMMIO h =
      mmioOpen(Name.c_str(), nullptr,
               MMIO_CREATE | MMIO_READWRITE | MMIO_ALLOCBUF | (MustBeNew ? MMIO_CREATENEW : 0));
  if (!h) return WAVEERR_IO;
  MMCKINFO Riff{}, Data{};
  Riff.fccType = FOURCC_WAVE;
  Data.ckid = kData;
  const bool Ok = mmioCreateChunk(h, &Riff, MMIO_CREATERIFF) == MMSYSERR_NOERROR &&
                  WriteFormatChunk(h, Block) && mmioCreateChunk(h, &Data, 0) == MMSYSERR_NOERROR &&
                  mmioFlush(h, 0) == MMSYSERR_NOERROR;  // the header is on disk from the start
  if (!Ok) {
    mmioClose(h, 0);
    mmioOpen(Name.c_str(), nullptr, MMIO_DELETE);
    return WAVEERR_IO;
  }
  Block.Mode = WAVE_OPEN_BY_NAME;
  Block.Handle = h;
  Block.RiffChunk = Riff;
  Block.DataChunk = Data;  // dirty from its creation
  Block.DataOffset = static_cast<std::int32_t>(Data.dwDataOffset);
  Block.DataBytes = Block.TotalSamples = Block.EndSample = Block.Position = Block.BytesLeft = 0;
  Block.FileName = Name;
  Block.FormatAfterData = false;
  Block.FactBeforeData = -1;
  Block.SizesOnDisk = Block.DurableBytes = 0;
  return WAVEERR_NONE;
}

// A recording's header follows its audio: once half a second of audio more has
// been written, the data and RIFF sizes on disk are set to cover it (the audio
// goes to the file first), so that what a crash leaves beyond the sizes is less
// than a second even counting the write in progress; every few seconds the file
// is made durable, so a power cut loses no more than that. The close writes the
// final header as before. False when buffered audio failed to reach the file on
// the way (a full disk): the write has then failed.
bool KeepSizesCurrent(TWaveFileBlock& Block) {
  const WAVEFORMATEX* f = Block.Format();
  const std::int32_t Second =
      std::max<std::int32_t>(static_cast<std::int32_t>(f->nAvgBytesPerSec), f->nBlockAlign);
  if (Block.DataBytes - Block.SizesOnDisk < Second / 2) return true;
  // Patching the header writes out the buffered audio first; when that fails
  // the position falls back to what reached the file.
  const std::int64_t Written = Tell(Block.Handle);
  auto Le = [](std::uint32_t v) {
    return std::array<std::uint8_t, 4>{
        static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
        static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
  };
  const auto Data = Le(static_cast<std::uint32_t>(Block.DataBytes));
  const auto Riff = Le(static_cast<std::uint32_t>(Block.DataOffset + Block.DataBytes) -
                       Block.RiffChunk.dwDataOffset);
  if (mmioWriteAt(Block.Handle, Block.DataOffset - 4, Data.data(), 4) != MMSYSERR_NOERROR ||
      mmioWriteAt(Block.Handle, std::int64_t{Block.RiffChunk.dwDataOffset} - 4, Riff.data(), 4) !=
          MMSYSERR_NOERROR)
    return Tell(Block.Handle) == Written;  // the close still writes the header; writing goes on
  Block.SizesOnDisk = Block.DataBytes;
  if (Block.SyncWhileWriting && Block.DataBytes - Block.DurableBytes >= 4 * Second) {
    if (mmioSync(Block.Handle) == MMSYSERR_NOERROR)
      Block.DurableBytes = Block.DataBytes;
    else
      return Tell(Block.Handle) == Written;
  }
  return true;
}

// After a failed write: take the position and the data length from what reached
// the file, in whole frames, so that the block describes the file again.
void ResyncAfterFailedWrite(TWaveFileBlock& Block) {
  const WAVEFORMATEX* f = Block.Format();
  const std::int64_t Blk = f->nBlockAlign;
  const std::int64_t OnDisk =
      std::max<std::int64_t>(mmioSeek(Block.Handle, 0, SEEK_FROM_END) - Block.DataOffset, 0);
  const std::int64_t Reached = std::max<std::int64_t>(Tell(Block.Handle) - Block.DataOffset, 0);
  const std::int64_t p = std::min(Reached, OnDisk) / Blk * Blk;
  SeekTo(Block.Handle, Block.DataOffset + p);
  Block.DataBytes =
      static_cast<std::int32_t>(std::min<std::int64_t>(Block.DataBytes, OnDisk / Blk * Blk));
  const std::int32_t Available = BytesToSamples(f, Block.DataBytes);
  if (Block.TotalSamples > Available) Block.TotalSamples = Block.EndSample = Available;
  Block.Position = BytesToSamples(f, static_cast<std::int32_t>(p));
  Block.BytesLeft = std::max(SamplesToBytes(f, Block.EndSample - Block.Position), 0);
}

bool WriteFact(HMMIO h, std::int32_t TotalSamples) {
  MMCKINFO Fact{};
  Fact.ckid = kFact;
  return mmioCreateChunk(h, &Fact, 0) == MMSYSERR_NOERROR && mmioWrite(h, &TotalSamples, 4) == 4 &&
         mmioAscend(h, &Fact, 0) == MMSYSERR_NOERROR;
}

// Writes the sizes, "fact" and the metadata of a written file.
std::int32_t Finalise(TWaveFileBlock& Block) {
  HMMIO h = Block.Handle;
  MMIOINFO Info{};
  if (mmioGetInfo(h, &Info, 0) != MMSYSERR_NOERROR || mmioFlush(h, 0) != MMSYSERR_NOERROR)
    return WAVEERR_IO;
  if (!(Info.dwFlags & MMIO_CREATE)) {
    // Reopened for update: both sizes are rewritten from the data length.
    Block.DataChunk.cksize = 0;
    Block.DataChunk.dwFlags |= MMIO_DIRTY;
    Block.RiffChunk.cksize = 0;
    Block.RiffChunk.dwFlags |= MMIO_DIRTY;
  }
  // The data ends at DataBytes, also when the position was moved back meanwhile:
  // finishing there never lets "fact" overwrite audio.
  if (!SeekTo(h, std::int64_t{Block.DataOffset} + Block.DataBytes) ||
      mmioAscend(h, &Block.DataChunk, 0) != MMSYSERR_NOERROR)
    return WAVEERR_IO;
  const std::int64_t EndOfData = Tell(h);
  // A format that stood after the data is overwritten from there on: write it again.
  const bool Fact =
      Block.FactBeforeData < 0
          ? WriteFact(h, Block.TotalSamples)
          : mmioWriteAt(h, Block.FactBeforeData, &Block.TotalSamples, 4) == MMSYSERR_NOERROR;
  const bool Extras = Fact && (!Block.FormatAfterData || WriteFormatChunk(h, Block)) &&
                      WriteDispChunks(h, Block.DispList) && WriteInfoList(h, Block.InfoList) &&
                      WriteOtherChunks(h, Block) && mmioFlush(h, 0) == MMSYSERR_NOERROR;
  // What follows the last chunk (a failed extra, or the tail of a longer old
  // file) is cut off, so that the RIFF size describes the whole file.
  if (!Extras) SeekTo(h, EndOfData);
  if (mmioTruncate(h) != MMSYSERR_NOERROR || mmioAscend(h, &Block.RiffChunk, 0) != MMSYSERR_NOERROR)
    return WAVEERR_IO;
  const std::int64_t Length = mmioSeek(h, 0, SEEK_FROM_END);
  Block.FileSize = static_cast<std::int32_t>(std::clamp<std::int64_t>(Length, 0, INT32_MAX));
  Block.EndSample = Block.TotalSamples;
  return Extras ? WAVEERR_NONE : WAVEERR_IO;
}

// Runs an operation so that nothing escapes as an exception.
template <typename F>
std::int32_t Guarded(F&& Operation) {
  try {
    return Operation();
  } catch (const std::bad_alloc&) {
    return WAVEERR_NOMEMORY;
  } catch (...) {
    return WAVEERR_IO;
  }
}

}  // namespace

std::int32_t WaveFileParse(const std::string& Name, FOURCC FormType, std::int32_t Mode,
                           TWaveFileBlock*& Block) {
  if (Name.empty()) return WAVEERR_NOARGUMENT;
  return Guarded([&] { return Parse(Name, FormType, Mode, Block); });
}

TWaveFileBlock* WaveFileFromFormat(const WAVEFORMATEX* Format) {
  const std::uint32_t Size = WaveFormatSize(Format);
  if (Size == 0) return nullptr;
  auto* Block = new (std::nothrow) TWaveFileBlock;
  if (!Block) return nullptr;
  try {
    // PCM copies its 18 bytes unchanged, cbSize included.
    const auto* Bytes = reinterpret_cast<const std::uint8_t*>(Format);
    Block->FormatBytes.assign(Bytes, Bytes + Size);
  } catch (const std::bad_alloc&) {
    delete Block;
    return nullptr;
  }
  Block->BlockSize = static_cast<std::int32_t>(kFixedPart + Size);
  return Block;
}

std::int32_t WaveFileCreate(TWaveFileBlock* Block, const std::string& Name, bool MustBeNew) {
  if (!Block || Name.empty()) return WAVEERR_NOARGUMENT;
  if (Block->Handle) WaveFileClose(Block);
  return Guarded([&] { return Create(*Block, Name, MustBeNew); });
}

std::int32_t WaveFileReopen(TWaveFileBlock* Block) {
  if (!Block) return WAVEERR_NOARGUMENT;
  if (!Block->Handle) {
    MMCKINFO Riff{};
    Block->Handle = OpenByName(Block->FileName, FOURCC_WAVE, Riff);
    if (!Block->Handle) return WAVEERR_IO;
    Block->RiffChunk = Riff;
  }
  return WaveFileSeek(Block, Block->Position) == WAVEERR_NONE ? WAVEERR_NONE : WAVEERR_IO;
}

std::int32_t WaveFileSetBuffer(TWaveFileBlock* Block, std::int32_t Size) {
  if (!Block) return WAVEERR_NOARGUMENT;
  if (Size < 0 || !Block->Handle) return WAVEERR_BADFORMAT;
  return mmioSetBuffer(Block->Handle, nullptr, Size, 0) == MMSYSERR_NOERROR ? WAVEERR_NONE
                                                                            : WAVEERR_IO;
}

std::int32_t WaveFileRead(TWaveFileBlock* Block, void* Buffer, std::int32_t Count) {
  if (!Block || !Block->Handle || (Count > 0 && !Buffer)) return -1;
  if (Count <= 0 || Block->BytesLeft <= 0) return 0;
  std::int32_t Got = mmioRead(Block->Handle, Buffer, std::min(Count, Block->BytesLeft));
  if (Got < 0) Got = 0;  // a read error ends the data like its end does
  if (Got < Count)
    Block->BytesLeft = 0;
  else
    Block->BytesLeft = std::max(Block->BytesLeft - Got, 0);
  Block->Position = Block->EndSample - BytesToSamples(Block->Format(), Block->BytesLeft);
  return Got;
}

std::int32_t WaveFileWrite(TWaveFileBlock* Block, const void* Buffer, std::int32_t Count) {
  if (!Block || !Block->Handle || Count <= 0 || !Buffer) return -1;
  const WAVEFORMATEX* f = Block->Format();
  // Keep every offset and frame count within 32 bits: write only the whole frames
  // that fit.
  const std::int64_t Pos = Tell(Block->Handle);
  const std::int64_t Room =
      std::min(kMaxWaveFileBytes - Pos, Block->DataOffset + MaxDataBytes(*f) - Pos);
  if (Room < Count)
    Count = static_cast<std::int32_t>(std::max<std::int64_t>(Room - Room % f->nBlockAlign, 0));
  if (Count == 0) return 0;
  const std::int32_t Written = mmioWrite(Block->Handle, Buffer, Count);
  if (Written < 0) {
    ResyncAfterFailedWrite(*Block);
    return 0;
  }
  if (Written == 0) return 0;
  Block->DataChunk.dwFlags |= MMIO_DIRTY;
  const auto p = static_cast<std::int32_t>(Tell(Block->Handle) - Block->DataOffset);
  Block->Position = BytesToSamples(f, p);
  Block->DataBytes = std::max(Block->DataBytes, p);
  if (Block->Position > Block->TotalSamples)
    Block->TotalSamples = Block->EndSample = Block->Position;
  Block->BytesLeft = std::max(
      std::min(SamplesToBytes(f, Block->EndSample - Block->Position), Block->DataBytes - p), 0);
  if (Block->SizesOnDisk >= 0 && !KeepSizesCurrent(*Block)) {
    ResyncAfterFailedWrite(*Block);
    return 0;
  }
  return Written;
}

std::int32_t WaveFileSeek(TWaveFileBlock* Block, std::int32_t Sample) {
  if (!Block || !Block->Handle) return WAVEERR_IO;
  // Within 0 .. EndSample - 1; an empty file has only position 0.
  const std::int32_t s = std::max(std::min(std::max(Sample, 0), Block->EndSample - 1), 0);
  const WAVEFORMATEX* f = Block->Format();
  const std::uint32_t Dirty = Block->DataChunk.dwFlags & MMIO_DIRTY;
  MMCKINFO Data{};
  if (!SeekTo(Block->Handle, std::int64_t{Block->DataOffset} - 8) ||
      mmioDescend(Block->Handle, &Data, &Block->RiffChunk, 0) != MMSYSERR_NOERROR ||
      Data.ckid != kData || Data.dwDataOffset != static_cast<std::uint32_t>(Block->DataOffset))
    return WAVEERR_IO;
  // A pending finalisation survives the seek.
  Data.dwFlags |= Dirty;
  Block->DataChunk = Data;
  // For compressed formats frames and bytes convert only roughly: never past the data.
  const std::int32_t End = std::min(SamplesToBytes(f, Block->EndSample), Block->DataBytes);
  const std::int32_t Bytes = std::min(SamplesToBytes(f, s), End);
  if (mmioSeek(Block->Handle, Bytes, SEEK_FROM_CURRENT) < 0) return WAVEERR_IO;
  Block->BytesLeft = End - Bytes;
  Block->Position = BytesToSamples(f, Bytes);
  return WAVEERR_NONE;
}

std::int32_t WaveFileClose(TWaveFileBlock* Block) {
  if (!Block) return WAVEERR_NOARGUMENT;
  std::int32_t Result = WAVEERR_NONE;
  if (Block->Handle) {
    if (Block->DataChunk.dwFlags & MMIO_DIRTY) Result = Guarded([&] { return Finalise(*Block); });
    if (mmioClose(Block->Handle, 0) != MMSYSERR_NOERROR && Result == WAVEERR_NONE)
      Result = WAVEERR_IO;
    Block->Handle = nullptr;
    Block->DataChunk.dwFlags &= ~MMIO_DIRTY;
  }
  Block->SizesOnDisk = -1;
  Block->BytesLeft = 0;
  Block->Position = 0;
  return Result;
}

void WaveFileFree(TWaveFileBlock*& Block) {
  if (!Block) return;
  WaveFileClose(Block);
  delete Block;
  Block = nullptr;
}

bool WaveFileExists(const std::string& Name) {
  return mmioOpen(Name.c_str(), nullptr, MMIO_EXIST) != nullptr;
}

bool WaveFileNameValid(const std::string& Name) {
  return mmioOpen(Name.c_str(), nullptr, MMIO_PARSE) != nullptr;
}

bool WaveFileDelete(const std::string& Name) {
  return mmioOpen(Name.c_str(), nullptr, MMIO_DELETE) != nullptr;
}

bool WaveFileIsWave(const std::string& Name) {
  TWaveFileBlock* Block = nullptr;
  if (WaveFileParse(Name, FOURCC_WAVE, WAVE_OPEN_BY_NAME, Block) != WAVEERR_NONE) return false;
  WaveFileFree(Block);
  return true;
}

std::int32_t WaveFileGetInfo(const TWaveFileBlock* Block, int Tag, std::string& Text) {
  if (!Block || Tag < 0 || Tag >= kInfoTagCount) return INFOERR_NOARGUMENT;
  try {
    Text = Block->InfoList.Text(Tag);
  } catch (const std::bad_alloc&) {
    return INFOERR_NOMEMORY;
  }
  return INFOERR_NONE;
}

std::int32_t WaveFileSetInfo(TWaveFileBlock* Block, int Tag, const std::string& Text) {
  if (!Block || Tag < 0 || Tag >= kInfoTagCount) return INFOERR_NOARGUMENT;
  try {
    Block->InfoList.SetText(Tag, Text);
  } catch (const std::bad_alloc&) {
    return INFOERR_NOMEMORY;
  }
  return INFOERR_NONE;
}

std::int32_t WaveFileTouchMetadata(TWaveFileBlock* Block) {
  if (!Block || !Block->Handle) return WAVEERR_NOARGUMENT;
  Block->DataChunk.dwFlags |= MMIO_DIRTY;
  return WAVEERR_NONE;
}

}  // namespace velmar

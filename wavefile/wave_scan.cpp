#include "wavefile/wave_scan.h"
#include "platform/acm/acm_api.h"
#include "platform/byte_order.h"
#include "wavefile/riff_chunks.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "wavefile/wave_tags.h"

namespace velmar {

namespace {

constexpr std::int64_t kFormatRecord = sizeof(WAVEFORMATEX);
constexpr std::int64_t kMaxFormatBytes = kFormatRecord + 0xFFFF;
constexpr std::uint32_t kUnknownSize = 0xFFFFFFFF;
constexpr std::int64_t kMaxInfoBytes =
    1 << 20;  // larger lists are not texts  // RF64: the size is in "ds64"
// An ID3v2 chunk holds a cover of up to 16 MB besides its texts.
constexpr std::int64_t kMaxTagBytes = kMaxCoverBytes + (1 << 20);
// All the chunks kept for a copy, as the file layer keeps them.
constexpr std::int64_t kMaxKeptBytes = 24 << 20;

bool Is(const std::uint8_t* p, const char* Id) {
  return std::memcmp(p, Id, 4) == 0;
}

std::string Mb(std::int64_t Bytes) {
  char Text[32];
  std::snprintf(Text, sizeof Text, "%.1f MB", static_cast<double>(Bytes) / 1e6);
  return Text;
}

// "a 17.6 MB "id3 " chunk"
std::string DescribeChunk(const std::uint8_t* Id, std::int64_t Size) {
  return "a " + Mb(Size) + " \"" + std::string(reinterpret_cast<const char*>(Id), 4) + "\" chunk";
}

// The GUIDs of the plain sub-formats, as stored: the plain format's tag in
// the first two bytes, then these.
constexpr std::uint8_t kSubFormatTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                             0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

}  // namespace

bool PlainFormatFromExtensible(std::vector<std::uint8_t>& FormatBytes) {
  // WAVEFORMATEX (18 bytes), valid bits (2), channel mask (4), sub-format (16).
  constexpr std::size_t kExtensible = 18 + 22;
  if (FormatBytes.size() < kExtensible) return false;
  auto* f = reinterpret_cast<WAVEFORMATEX*>(FormatBytes.data());
  if (f->wFormatTag != WAVE_FORMAT_EXTENSIBLE || f->cbSize < 22) return false;
  const auto ValidBits = static_cast<std::uint16_t>(FormatBytes[18] | FormatBytes[19] << 8);
  const std::uint8_t Tag = FormatBytes[24];
  if ((Tag != 1 && Tag != 3) || FormatBytes[25] != 0 ||
      std::memcmp(&FormatBytes[26], kSubFormatTail, sizeof kSubFormatTail) != 0)
    return false;
  // Fewer valid bits lie at the top of each sample: read whole, they keep their level.
  if (ValidBits > f->wBitsPerSample) return false;
  f->wFormatTag = Tag;
  f->cbSize = 0;
  FormatBytes.resize(18);
  return true;
}

std::vector<std::uint8_t> StoredFormatRecord(const std::vector<std::uint8_t>& FormatBytes) {
  if (FormatBytes.size() < 18) return FormatBytes;
  const auto* f = reinterpret_cast<const WAVEFORMATEX*>(FormatBytes.data());
  const bool Plain = f->wFormatTag == WAVE_FORMAT_PCM || f->wFormatTag == WAVE_FORMAT_IEEE_FLOAT;
  if (!Plain || (f->wBitsPerSample <= 16 && f->nChannels <= 2)) return FormatBytes;
  std::vector<std::uint8_t> Record(FormatBytes.begin(), FormatBytes.begin() + 18);
  auto* x = reinterpret_cast<WAVEFORMATEX*>(Record.data());
  x->wFormatTag = WAVE_FORMAT_EXTENSIBLE;
  x->cbSize = 22;
  // Front left, front right, centre, LFE, back left, back right, ...: the first
  // channels of the standard order.
  const std::uint32_t Mask = f->nChannels >= 32 ? 0xFFFFFFFFu : (1u << f->nChannels) - 1;
  const std::uint16_t Tag = f->wFormatTag;
  const std::uint8_t Tail[8] = {static_cast<std::uint8_t>(f->wBitsPerSample),
                                static_cast<std::uint8_t>(f->wBitsPerSample >> 8),
                                static_cast<std::uint8_t>(Mask),
                                static_cast<std::uint8_t>(Mask >> 8),
                                static_cast<std::uint8_t>(Mask >> 16),
                                static_cast<std::uint8_t>(Mask >> 24),
                                static_cast<std::uint8_t>(Tag),
                                static_cast<std::uint8_t>(Tag >> 8)};
  Record.insert(Record.end(), std::begin(Tail), std::end(Tail));
  Record.insert(Record.end(), std::begin(kSubFormatTail), std::end(kSubFormatTail));
  return Record;
}

bool NormaliseFormat(WAVEFORMATEX& f) {
  if (f.wFormatTag == WAVE_FORMAT_PCM) {
    const std::uint64_t Align = std::uint64_t{f.nChannels} * f.wBitsPerSample / 8;
    const std::uint64_t Avg = Align * f.nSamplesPerSec;
    if (Align > UINT16_MAX || Avg > UINT32_MAX) return false;
    f.nBlockAlign = static_cast<std::uint16_t>(Align);
    f.nAvgBytesPerSec = static_cast<std::uint32_t>(Avg);
  }
  return f.nBlockAlign > 0 && f.nChannels > 0 && f.nSamplesPerSec > 0 &&
         f.nSamplesPerSec <= INT32_MAX && f.nAvgBytesPerSec > 0 && f.nAvgBytesPerSec <= INT32_MAX;
}

bool ScanWaveFile(const std::string& Name, TWaveScan& Scan, std::string& Error) {
  Scan = TWaveScan{};
  const TRiffFile File(Name.c_str());
  struct stat St {};
  if (File.Fd() < 0 || ::fstat(File.Fd(), &St) != 0) {
    Error = std::strerror(errno);
    return false;
  }
  if (!S_ISREG(St.st_mode)) {
    Error = "not a file";
    return false;
  }
  Scan.FileBytes = St.st_size;
  std::uint8_t Head[12];
  if (!File.ReadAt(0, Head, 12) || !(Is(Head, "RIFF") || Is(Head, "RF64")) ||
      !Is(Head + 8, "WAVE")) {
    Error = "no RIFF or RF64 WAVE header";
    return false;
  }
  Scan.RF64 = Is(Head, "RF64");
  std::int64_t RiffEnd = 8 + std::int64_t{GetLe32(Head + 4)};
  std::uint64_t DataSize64 = 0;

  bool HaveFormat = false, HaveData = false, PreviousWasData = false;
  std::vector<std::uint8_t> Cue, Adtl;
  std::int64_t DeclaredData = 0;
  std::int64_t EndOfData = Scan.FileBytes;
  std::int64_t Kept = 0;  // bytes of chunks held for a copy
  const auto Unkept = [&](const std::uint8_t* Id, std::int64_t Size) {
    if (Scan.Unkept.empty()) Scan.Unkept = DescribeChunk(Id, Size);
  };
  std::int64_t Pos = 12;
  for (;;) {
    TChunkHeader Header;
    if (Pos + 8 > Scan.FileBytes || !File.ReadHeader(Pos, Header)) break;
    const std::uint8_t* Chunk = Header.Id;
    const std::int64_t Body = Header.Body();
    std::int64_t Size = Header.Size;
    if (Scan.RF64 && Is(Chunk, "data") && Size == kUnknownSize)
      Size = static_cast<std::int64_t>(DataSize64);
    const std::int64_t End = Body + Size;
    // Past a data chunk that the file holds whole, chunks follow where its
    // size says, also beyond a RIFF size that ends inside it.
    const std::int64_t Limit =
        EndOfData < Scan.FileBytes ? Scan.FileBytes : std::min(RiffEnd, Scan.FileBytes);
    if (End > Limit && HaveFormat && HaveData) break;
    if (PreviousWasData) {
      EndOfData = Pos;  // a chunk follows the audio where its size says
      PreviousWasData = false;
    }
    if (Is(Chunk, "ds64") && Scan.RF64 && Size >= 24) {
      std::uint8_t Sizes[24];
      if (!File.ReadAt(Body, Sizes, 24)) break;
      RiffEnd = 8 + static_cast<std::int64_t>(std::min<std::uint64_t>(GetLe64(Sizes), INT64_MAX / 2));
      DataSize64 = std::min<std::uint64_t>(GetLe64(Sizes + 8), INT64_MAX / 2);
    } else if (Is(Chunk, "fmt ")) {
      if (HaveFormat) break;
      const std::int64_t Keep = std::min({Size, kMaxFormatBytes, Scan.FileBytes - Body});
      Scan.FormatBytes.assign(static_cast<std::size_t>(std::max(Keep, kFormatRecord)), 0);
      if (Keep < 16 || !File.ReadAt(Body, Scan.FormatBytes.data(), Keep)) {
        Error = "a damaged format chunk";
        return false;
      }
      HaveFormat = true;
    } else if (Is(Chunk, "LIST") && Size > kMaxInfoBytes) {
      Unkept(Chunk, Size);
    } else if (Is(Chunk, "LIST") && Size >= 4 && End <= Scan.FileBytes) {
      std::vector<char> List(static_cast<std::size_t>(Size));
      if (File.ReadAt(Body, List.data(), Size) && std::memcmp(List.data(), "INFO", 4) == 0)
        Scan.Info.Load(std::vector<char>(List.begin() + 4, List.end()));
      else if (std::memcmp(List.data(), "adtl", 4) == 0)
        Adtl.assign(List.begin(), List.end());
      else
        Scan.OtherChunks.emplace_back(mmioFOURCC('L', 'I', 'S', 'T'),
                                      std::vector<std::uint8_t>(List.begin(), List.end()));
    } else if (Is(Chunk, "cue ") && Size > kMaxInfoBytes) {
      Unkept(Chunk, Size);
    } else if (Is(Chunk, "cue ") && Size >= 4 && End <= Scan.FileBytes) {
      Cue.resize(static_cast<std::size_t>(Size));
      if (!File.ReadAt(Body, Cue.data(), Size)) Cue.clear();
    } else if (Is(Chunk, "data")) {
      if (HaveData) break;
      HaveData = true;
      PreviousWasData = true;
      Scan.DataOffset = Body;
      DeclaredData = Size;
      // A chunk where the data's size says it ends: the audio ends there. (A
      // recording never finalised has its audio run on past a stale size.)
      TChunkHeader Next;
      const std::int64_t After = TChunkHeader::After(Body, Size);
      const bool Declared = Size != 0 && !(Size == kUnknownSize && !Scan.RF64);
      if (Declared && After + 8 <= Scan.FileBytes && File.ReadHeader(After, Next) &&
          IsChunkId(Next.Id) && Next.Body() + Next.Size <= Scan.FileBytes)
        EndOfData = End;
    } else if (!Is(Chunk, "fact") && !Is(Chunk, "ds64") && !Is(Chunk, "LIST") &&
               !Is(Chunk, "cue ") && End <= Scan.FileBytes) {
      // A chunk this reader does not use ("bext", ...), kept for a copy of the
      // file, unless it or all of them together are more than a copy holds.
      const bool Tag = Is(Chunk, "id3 ") || Is(Chunk, "ID3 ");
      Scan.TagBeforeData |= Tag && !HaveData;
      if (Size > (Tag ? kMaxTagBytes : kMaxInfoBytes) || Kept + Size > kMaxKeptBytes) {
        Unkept(Chunk, Size);
      } else {
        std::vector<std::uint8_t> Body8(static_cast<std::size_t>(Size));
        if (File.ReadAt(Body, Body8.data(), Size)) {
          Kept += Size;
          Scan.OtherChunks.emplace_back(Header.Code(), std::move(Body8));
        }
      }
    }
    Pos = TChunkHeader::After(Body, Size);
  }
  if (!HaveFormat) {
    Error = "no format chunk";
    return false;
  }
  const std::vector<std::uint8_t> Stored = Scan.FormatBytes;
  const bool Extensible = PlainFormatFromExtensible(Scan.FormatBytes);
  auto* f = reinterpret_cast<WAVEFORMATEX*>(Scan.FormatBytes.data());
  if (f->wFormatTag == WAVE_FORMAT_PCM) f->cbSize = 0;
  if (!NormaliseFormat(*f)) {
    Error = "an unusable format";
    return false;
  }
  // The record to write the same format with: the usable one, and for an
  // extensible record its extension (the channel mask, the sub-format) too.
  Scan.StoredFormatBytes = Scan.FormatBytes;
  if (Extensible) {
    constexpr std::size_t kExtension = 22;
    Scan.StoredFormatBytes.resize(18 + kExtension);
    std::copy(Stored.begin() + 18, Stored.begin() + 18 + kExtension,
              Scan.StoredFormatBytes.begin() + 18);
    auto* e = reinterpret_cast<WAVEFORMATEX*>(Scan.StoredFormatBytes.data());
    e->wFormatTag = WAVE_FORMAT_EXTENSIBLE;
    e->cbSize = kExtension;
  }
  Scan.Markers = ParseCueMarkers(Cue, Adtl);
  if (!HaveData) return true;
  std::int64_t Span = std::max<std::int64_t>(EndOfData - Scan.DataOffset, 0);
  if ((DeclaredData & 1) && Span == DeclaredData + 1) Span = DeclaredData;  // the pad byte
  Scan.DataBytes = Span / f->nBlockAlign * f->nBlockAlign;
  const bool SizeKnown = DeclaredData != 0 && !(DeclaredData == kUnknownSize && !Scan.RF64);
  Scan.Truncated = SizeKnown && Scan.DataOffset + DeclaredData > Scan.FileBytes;
  // What was read otherwise than the header says, in the order a reader meets it.
  const std::string Audio = std::to_string(Scan.DataBytes) + " bytes of audio";
  if (!SizeKnown)
    Scan.Notes.push_back("the audio's size was never written: " + Audio + " to the end of the file");
  else if (Scan.Truncated)
    Scan.Notes.push_back("the header declares " + std::to_string(DeclaredData) +
                         " bytes of audio, the file holds " + Audio);
  else if (Span > DeclaredData)
    Scan.Notes.push_back("the audio runs on past its declared " + std::to_string(DeclaredData) +
                         " bytes: " + Audio + " to the end of the file");
  if (Span > Scan.DataBytes)
    Scan.Notes.push_back(std::to_string(Span - Scan.DataBytes) +
                         " bytes of a partial frame at the end are left out");
  if (SizeKnown && RiffEnd < Scan.DataOffset + Scan.DataBytes)
    Scan.Notes.push_back("the RIFF size ends inside the audio and is passed over");
  if (!Scan.Unkept.empty()) Scan.Notes.push_back(Scan.Unkept + " is read past, not kept");
  return true;
}

}  // namespace velmar

#include "wavefile/wave.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/files.h"
#include "stream/arith.h"
#include "stream/messages.h"
#include "stream/time_conversions.h"
#include "stream/wave_format.h"
#include "wavefile/wave_scan.h"

namespace velmar {

namespace {
constexpr int kMinIOBuffer = 8192;
}

TMMWave::TMMWave() = default;

TMMWave::~TMMWave() {
  ReleaseWave();
}

void TMMWave::Fail(int Message) const {
  throw EMMWaveError(LibMessage(Message));
}

void TMMWave::Changed() {
  if (FAssigning) {
    FChangePending = true;
    return;
  }
  FChangePending = false;
  TMMObject::Changed();
  FObservers.Notify(this);
}

void TMMWave::SetTimeFormat(TMMTimeFormats Value) {
  if (Value == FTimeFormat) return;
  FTimeFormat = Value;
  RebuildPlayList();
  Changed();
}

void TMMWave::SetIOBufferSize(int Value) {
  FIOBufferSize = std::max(Value, kMinIOBuffer);
  if (FBlock && FBlock->Handle && WaveFileSetBuffer(FBlock, FIOBufferSize) != WAVEERR_NONE)
    Fail(137);
}

WAVEFORMATEX* TMMWave::GetPWaveFormat() const {
  return FBlock ? FBlock->Format() : nullptr;
}

std::uint16_t TMMWave::BitLength() const {
  return GetPWaveFormat() ? GetPWaveFormat()->wBitsPerSample : 0;
}

TMMMode TMMWave::Mode() const {
  return GetPWaveFormat() && GetPWaveFormat()->nChannels == 2 ? TMMMode::mStereo : TMMMode::mMono;
}

std::uint16_t TMMWave::FormatTag() const {
  return GetPWaveFormat() ? GetPWaveFormat()->wFormatTag : 0;
}

std::string TMMWave::FormatString() const {
  return WaveFormatTagName(GetPWaveFormat());
}

int TMMWave::SampleRate() const {
  return GetPWaveFormat() ? static_cast<int>(GetPWaveFormat()->nSamplesPerSec) : 11025;
}

int TMMWave::FileSize() const {
  return FBlock ? FBlock->FileSize : 0;
}

int TMMWave::DataSize() const {
  return FBlock ? SamplesToTimeFormat(FBlock->TotalSamples) : 0;
}

int TMMWave::SamplesToBytes(int n) const {
  return GetPWaveFormat() ? velmar::SamplesToBytes(GetPWaveFormat(), n) : 0;
}

int TMMWave::BytesToSamples(int n) const {
  return GetPWaveFormat() ? velmar::BytesToSamples(GetPWaveFormat(), n) : 0;
}

int TMMWave::SamplesToTimeFormat(int n) const {
  const WAVEFORMATEX* f = GetPWaveFormat();
  if (!f) return 0;
  switch (FTimeFormat) {
    case TMMTimeFormats::tfMillisecond:
      return SamplesToTime(f, n);
    case TMMTimeFormats::tfByte:
      return velmar::SamplesToBytes(f, n);
    case TMMTimeFormats::tfSample:
      break;
  }
  return n;
}

int TMMWave::TimeFormatToSamples(int n) const {
  const WAVEFORMATEX* f = GetPWaveFormat();
  if (!f) return 0;
  switch (FTimeFormat) {
    case TMMTimeFormats::tfMillisecond:
      return TimeToSamples(f, n);
    case TMMTimeFormats::tfByte:
      return velmar::BytesToSamples(f, n);
    case TMMTimeFormats::tfSample:
      break;
  }
  return n;
}

void TMMWave::SetCutList(const TMMCutList* List) {
  FCutList = List;
  RebuildPlayList();
}

void TMMWave::RebuildPlayList() {
  FPlayList.clear();
  if (FCutList) {
    for (TMMSegment s : FCutList->Segments) FPlayList.push_back(s);
  } else {
    FPlayList.push_back({FRegionStart, 0, FRegionEnd - FRegionStart, 0});
  }
  for (TMMSegment& s : FPlayList) {
    s.StartByte = SamplesToBytes(s.StartSample);
    s.Bytes = SamplesToBytes(s.Samples);
  }
}

std::int32_t TMMWave::PlaySamples() const {
  std::int32_t n = 0;
  for (const TMMSegment& s : FPlayList) n += s.Samples;
  return n;
}

std::int32_t TMMWave::PlayBytesTotal() const {
  std::int32_t n = 0;
  for (const TMMSegment& s : FPlayList) n += s.Bytes;
  return n;
}

int TMMWave::PlayLength() const {
  return SamplesToTimeFormat(PlaySamples());
}

void TMMWave::TakeBlock(TWaveFileBlock* Block) {
  FBlock = Block;
  FRegionStart = 0;
  FRegionEnd = Block->EndSample;
  FPosition = Block->Position;
  FBytesLeft = Block->BytesLeft;
  RebuildPlayList();
}

void TMMWave::SetFileName(const std::string& Name) {
  const std::string Full = ExpandFileName(Name);
  if (!Full.empty() && Full == FFileName && FileSizeOnDisk(Full) == FileSize()) return;
  if (Full.empty()) {
    Clear();
    return;
  }
  const bool Exists = WaveFileExists(Full);
  TWaveFileBlock* Parsed = nullptr;
  if (Exists && WaveFileParse(Full, FOURCC_WAVE, WAVE_OPEN_BY_NAME, Parsed) == WAVEERR_NONE) {
    ReleaseWave();
    TakeBlock(Parsed);
    FPosition = 0;
    FBytesLeft = 0;
    FFileName = Full;
    Changed();
    return;
  }
  if (Exists) Fail(133);
  if (FFileMustExist) Fail(130);
  ReleaseWave();
  FFileName = Full;
  Changed();
}

void TMMWave::CreateFile(const std::string& Name, const WAVEFORMATEX* Format, bool MustBeNew) {
  if (Name.empty() || !Format) return;
  const std::string Full = ExpandFileName(Name);
  if (!MustBeNew && WaveFileNameValid(Full) && WaveFileExists(Full)) WaveFileDelete(Full);
  // A new recording of wide samples gets the record other programs need.
  const std::vector<std::uint8_t> Record = StoredFormatRecord(std::vector<std::uint8_t>(
      reinterpret_cast<const std::uint8_t*>(Format),
      reinterpret_cast<const std::uint8_t*>(Format) + WaveFormatSize(Format)));
  TWaveFileBlock* Block = WaveFileFromFormat(reinterpret_cast<const WAVEFORMATEX*>(Record.data()));
  errno = 0;
  if (!Block || WaveFileCreate(Block, Full, MustBeNew) != WAVEERR_NONE) {
    const int Reason = errno;
    WaveFileFree(Block);
    ReleaseWave();
    throw EMMWaveError(LibMessage(139) + " " + Full +
                       (Reason ? std::string(": ") + std::strerror(Reason) : std::string()));
  }
  Block->SyncWhileWriting = FSyncWhileWriting;
  ReleaseWave();
  TakeBlock(Block);
  Changed();
  FFileName = Full;
  if (WaveFileSetBuffer(FBlock, FIOBufferSize) != WAVEERR_NONE) Fail(137);
}

void TMMWave::OpenFile() {
  if (!FBlock) return;
  if (WaveFileReopen(FBlock) != WAVEERR_NONE) Fail(138);
  if (WaveFileSetBuffer(FBlock, FIOBufferSize) != WAVEERR_NONE) Fail(137);
  RebuildPlayList();
  ResetHook(false);
  FOpened = true;
  SetPosition(GetPosition());
}

void TMMWave::CloseFile() {
  if (FBlock) WaveFileClose(FBlock);
  FOpened = false;
  FPosition = 0;
  FBytesLeft = 0;
}

int TMMWave::GetPosition() const {
  return FBlock ? SamplesToTimeFormat(FPosition) : -1;
}

void TMMWave::SetPosition(int Value) {
  if (!FBlock) return;
  FPosition = TimeFormatToSamples(Value);
  if (!FOpened) return;
  const std::int32_t p = Clamp(PositionToSample(FPosition), 0, PlaySamples());
  FPlayBytes = PlayBytesTotal();
  FBytesLeft = FPlayBytes - SamplesToBytes(p);
  ResetHook(true);
  std::int32_t Sum = 0;
  size_t i = 0;
  for (; i < FPlayList.size(); ++i) {
    Sum += FPlayList[i].Samples;
    if (Sum >= p) break;
  }
  if (i == FPlayList.size()) Fail(147);
  const TMMSegment& s = FPlayList[i];
  const std::int32_t Target = s.StartSample + s.Samples + p - Sum;
  if (WaveFileSeek(FBlock, Target) != WAVEERR_NONE && WaveFileSeek(FBlock, Target) != WAVEERR_NONE)
    Fail(147);
  FSegmentBytesLeft = SamplesToBytes(Sum - p);
  FSegment = static_cast<std::int32_t>(i);
}

int TMMWave::ReadData(void* Buffer, int Count) {
  return WaveFileRead(FBlock, Buffer, Count);
}

int TMMWave::ReadDataBuffer(void* Buffer, int Count) {
  if (!FBlock || FBytesLeft <= 0) return -1;
  auto* Out = static_cast<char*>(Buffer);
  int Want = std::min(Count, FBytesLeft);
  int Read = 0;
  while (Want > 0) {
    if (FSegmentBytesLeft < 1) {
      if (FSegment + 1 >= static_cast<std::int32_t>(FPlayList.size())) {
        FBytesLeft = 0;
        break;
      }
      ++FSegment;
      FSegmentBytesLeft = FPlayList[FSegment].Bytes;
      WaveFileSeek(FBlock, FPlayList[FSegment].StartSample);
      continue;
    }
    const int n = ReadData(Out + Read, std::min(Want, FSegmentBytesLeft));
    if (n <= 0) break;
    FSegmentBytesLeft -= n;
    Want -= n;
    Read += n;
  }
  if (Read == 0) {
    // Nothing more: a short run of silence ends the data (never more than asked).
    const int Silence = std::min(Count, 4);
    std::memset(Buffer, 0, static_cast<size_t>(std::max(Silence, 0)));
    FBytesLeft = 0;
    FSegmentBytesLeft = 0;
    FPosition = PlaySamples();
    return Silence;
  }
  FBytesLeft -= Read;
  FPosition = BytesToSamples(FPlayBytes - FBytesLeft);
  return Read;
}

int TMMWave::WriteData(const void* Buffer, int Count) {
  if (!FBlock) return -1;
  const int Written = WaveFileWrite(FBlock, Buffer, Count);
  FRegionEnd = FBlock->EndSample;
  RebuildPlayList();
  return Written;
}

void TMMWave::Clear() {
  if (FFileName.empty() && !FBlock) return;
  ReleaseWave();
  Changed();
}

void TMMWave::ReleaseWave() {
  // This platform has no simple sound player that could still be playing the file.
  CloseFile();
  FFileName.clear();
  WaveFileFree(FBlock);
  FPlayList.clear();
  FRegionStart = FRegionEnd = 0;
}

void TMMWave::Assign(const TMMWave* Source) {
  if (!Source) {
    Clear();
    FCutList = nullptr;
    return;
  }
  if (Source == this) return;
  ReleaseWave();
  FFileMustExist = Source->FFileMustExist;
  FAssigning = true;
  struct TRelease {
    TMMWave& w;
    ~TRelease() { w.FAssigning = false; }
  } Release{*this};
  if (!Source->FFileName.empty()) {
    SetFileName(Source->FFileName);
  } else if (const WAVEFORMATEX* f = Source->GetPWaveFormat()) {
    if (TWaveFileBlock* Block = WaveFileFromFormat(f)) {
      TakeBlock(Block);
      Changed();
    }
  } else {
    Changed();
  }
  FTimeFormat = Source->FTimeFormat;
  FRegionStart = Source->FRegionStart;
  FRegionEnd = Source->FRegionEnd;
  FPosition = Source->FPosition;
  FIOBufferSize = Source->FIOBufferSize;
  FCutList = Source->FCutList;
  RebuildPlayList();
  FAssigning = false;
  if (FChangePending) Changed();
}

}  // namespace velmar

#include "wavefile/wave_file.h"

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "platform/files.h"
#include "stream/dsp_thread.h"
#include "stream/wave_format.h"

namespace velmar {

namespace {

// The free space is asked again within this many margins of it, and after
// this much audio in any case.
constexpr std::int64_t kAskAgainMargins = 16;
constexpr std::int64_t kAskAgainBytes = 1 << 20;

}  // namespace

TMMCustomWaveFile::TMMCustomWaveFile(TComponent* AOwner)
    : TMMDSPComponent(AOwner),
      FWave(std::make_unique<TMMWave>()),
      FWaveObserver(std::make_unique<TMMObserver>()) {
  FWaveObserver->OnNotify = [this](TObject* Sender, TObject* Data) { WaveChanged(Sender, Data); };
  FWave->AddObserver(FWaveObserver.get());
}

TMMCustomWaveFile::~TMMCustomWaveFile() {
  Closed();
  FWave->OnChange = nullptr;
  FWave->RemoveObserver(FWaveObserver.get());
  FWave.reset();
  FWaveObserver.reset();
  DetachFromChain();
}

void TMMCustomWaveFile::SetPWaveFormat(const WAVEFORMATEX* fmt) {
  TMMDSPComponent::SetPWaveFormat(fmt);
  const WAVEFORMATEX* Own = PWaveFormat();
  FSilenceValue = (Own && Own->wFormatTag == WAVE_FORMAT_PCM && Own->wBitsPerSample == 8) ? 128 : 0;
}

void TMMCustomWaveFile::WaveChanged(TObject*, TObject*) {
  if (FSwitching) return;
  if (OnChange) OnChange(this);
  struct TChanged {
    TMMCustomWaveFile& c;
    ~TChanged() {
      if (c.OnChanged) c.OnChanged(&c);
    }
  } RaiseChanged{*this};
  // Only a new format goes down the chain (and stops it): other changes of the
  // wave, such as its time unit, leave a running stream alone.
  const WAVEFORMATEX* Format = FWave->GetPWaveFormat();
  if ((FWave->FileMustExist() || Format) && !SameWaveFormat(Format, PWaveFormat()))
    SetPWaveFormat(Format);
}

void TMMCustomWaveFile::DoOpen() {
  if (OnOpen) OnOpen(this);
}

void TMMCustomWaveFile::DoClose() {
  if (OnClose) OnClose(this);
}

void TMMCustomWaveFile::Opened() {
  TMMDSPComponent::Opened();
  if (FIsOpen) return;
  if (Input()) {
    FKnownFree = -1;  // perhaps another disk
    SetPWaveFormat(Input()->PWaveFormat());
    if (PWaveFormat() && !FWave->FileName().empty()) {
      if (FOverwriteExisting || FWave->IsEmpty())
        FWave->CreateFile(FWave->FileName(), PWaveFormat(), FCreateNew);
      else
        FWave->OpenFile();
      FIsOpen = true;
    }
  } else if (!FWave->IsEmpty()) {
    FWave->OpenFile();
    FSavedPosition = FWave->GetPosition();
    FIsOpen = true;
  }
  if (FIsOpen && OnOpen) RunOnMainThread([this] { DoOpen(); });
}

void TMMCustomWaveFile::Started() {
  TMMDSPComponent::Started();
  if (!FIsOpen || FIsStarted) return;
  FIsStarted = true;
  if (!Input()) FWave->SetPosition(FSavedPosition);
  FWave->ResetHook(false);
}

void TMMCustomWaveFile::Stopped() {
  if (FIsOpen && FIsStarted) FIsStarted = false;
  TMMDSPComponent::Stopped();
}

void TMMCustomWaveFile::Resetting() {
  TMMDSPComponent::Resetting();
  if (FIsStarted && FIsOpen) FWave->RewindHook();
}

void TMMCustomWaveFile::FinishRecordedFile() {
  // A recorded file never keeps an empty data chunk.
  if (Input() && !FWave->FileName().empty() && FWave->GetPWaveFormat() && FWave->IsEmpty()) {
    const std::uint8_t Zeros[4] = {};
    FWave->WriteData(Zeros, sizeof Zeros);
  }
  FWave->CloseFile();
}

bool TMMCustomWaveFile::ContinueIn(const std::string& Name) {
  // A recording that runs without a file (no name: listening) begins its first.
  const bool First = !FIsOpen && IsStarted();
  if (!(First || (FIsOpen && FIsStarted)) || !Input() || !PWaveFormat()) return false;
  if (!First) FinishRecordedFile();
  FSwitching = true;
  struct TSwitched {
    bool& Flag;
    ~TSwitched() { Flag = false; }
  } Switched{FSwitching};
  try {
    FWave->CreateFile(Name, PWaveFormat(), FCreateNew);
  } catch (...) {
    if (First) throw;  // still listening, as before
    FIsOpen = false;
    FIsStarted = false;
    if (OnClose) RunOnMainThread([this] { DoClose(); });
    throw;
  }
  if (First) {
    FIsOpen = FIsStarted = true;
    FKnownFree = -1;
  }
  return true;
}

void TMMCustomWaveFile::Closed() {
  if (FIsOpen) {
    Stopped();
    FinishRecordedFile();
    FIsOpen = false;
    if (OnClose) RunOnMainThread([this] { DoClose(); });
  }
  TMMDSPComponent::Closed();
}

void TMMCustomWaveFile::WriteBuffer(PWaveHdr lpWaveHdr) {
  const auto Bytes = static_cast<std::int64_t>(lpWaveHdr->wh.dwBytesRecorded);
  if (FWave->FileName().empty() || Bytes <= 0) return;
  // The free space is asked again only when what was written since the last
  // answer could have brought it near the margin, or after a few seconds of
  // audio (other programs write too); a write that fails all the same closes
  // the file below.
  const std::int64_t Needed = FWave->IOBufferSize() + Bytes + kDiskReserveBytes;
  if (FKnownFree < 0 || FKnownFree - FWrittenSinceAsked < kAskAgainMargins * Needed ||
      FWrittenSinceAsked >= kAskAgainBytes) {
    const std::string Folder = std::filesystem::path(FWave->FileName()).parent_path().string();
    FKnownFree = DiskFreeBytes(Folder);
    FWrittenSinceAsked = 0;
    if (FKnownFree < 0 || FKnownFree < Needed) {
      FKnownFree = -1;
      Closed();
      return;
    }
  }
  FWrittenSinceAsked += Bytes;
  if (FWave->WriteData(lpWaveHdr->wh.lpData, static_cast<int>(Bytes)) <= 0) Closed();
}

void TMMCustomWaveFile::BufferReady(PWaveHdr lpWaveHdr) {
  if (FIsStarted && FEnabled && Input()) WriteBuffer(lpWaveHdr);
  TMMDSPComponent::BufferReady(lpWaveHdr);
}

void TMMCustomWaveFile::Play(PWaveHdr lpWaveHdr, bool& MoreBuffers) {
  const int n =
      FWave->ReadDataBuffer(lpWaveHdr->wh.lpData, static_cast<int>(lpWaveHdr->wh.dwBufferLength));
  lpWaveHdr->wh.dwBytesRecorded = static_cast<std::uint32_t>(std::max(n, 0));
  if (n <= 0) return;
  if (FWave->BytesLeftToPlay() > 0) {
    MoreBuffers = true;
    return;
  }
  if (!lpWaveHdr->Looping) return;
  if (lpWaveHdr->LoopCount > 0) --lpWaveHdr->LoopsLeft;
  if (lpWaveHdr->LoopCount != 0 && lpWaveHdr->LoopsLeft < 0) return;  // all loops played
  FWave->SetPosition(0);
  FWave->RewindHook();
  if (OnLooping) OnLooping(this);
  MoreBuffers = true;
  lpWaveHdr->Looped = kHdrTrue;
}

void TMMCustomWaveFile::BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) {
  if (Input()) {
    TMMDSPComponent::BufferLoad(lpWaveHdr, MoreBuffers);
    if (FIsStarted && FEnabled) WriteBuffer(lpWaveHdr);
  } else if (!FWave->IsEmpty() && FIsStarted && FEnabled) {
    Play(lpWaveHdr, MoreBuffers);
  } else if (FWave->IsEmpty()) {
    lpWaveHdr->wh.dwBytesRecorded = 0;
  } else {
    std::memset(lpWaveHdr->wh.lpData, FSilenceValue, lpWaveHdr->wh.dwBufferLength);
    lpWaveHdr->wh.dwBytesRecorded = lpWaveHdr->wh.dwBufferLength;
    MoreBuffers = true;
  }
}

}  // namespace velmar

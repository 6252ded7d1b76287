#include "wavefile/wave_recorder.h"

#include <cstring>

#include "platform/application.h"
#include "stream/time_conversions.h"
#include "stream/wave_format.h"
#include "wavefile/acm_conversion.h"

namespace velmar {

TMMWaveRecorder::TMMWaveRecorder(TComponent* AOwner)
    : TMMDSPComponent(AOwner),
      FWaveIn(std::make_unique<TMMWaveIn>()),
      FWaveFile(std::make_unique<TMMWaveFile>()) {
  PublishLinks(false, true);
  FWaveFile->Wave()->SetFileMustExist(false);
  FWaveFile->OnChange = [this](TObject*) { FileChanging(); };
  FWaveFile->OnChanged = [this](TObject*) { FChangeActive = false; };
  FWaveFile->OnClose = [this](TObject*) { Stop(); };  // a full disk ends the recording

  FWaveIn->SetOutput(FWaveFile.get());
  FWaveIn->OnOpen = [this](TObject*) {
    if (OnStart) OnStart(this);
  };
  FWaveIn->OnStop = [this](TObject*) { InputStopped(); };
  FWaveIn->OnPause = [this](TObject*) {
    if (OnPause) OnPause(this);
  };
  FWaveIn->OnRestart = [this](TObject*) {
    if (OnRestart) OnRestart(this);
  };
  FWaveIn->OnBufferReady = [this](TObject*, PWaveHdr h) {
    // A new name finished the file before the input stopped: what the stop
    // still hands over belonged to it, not to the file of the new name.
    if (FChangeActive) h->wh.dwBytesRecorded = 0;
    FDelivering = h->wh.dwBytesRecorded;
    if (OnData) OnData(this, h);
  };
  SetAcceptsInput(true);
  FWaveFile->SetOutput(this);
  SetAcceptsInput(false);
}

TMMWaveRecorder::~TMMWaveRecorder() {
  Destroying();  // no events from a recorder going away
  Stop();
  FWaveFile.reset();
  FWaveIn.reset();
  DetachFromChain();
}

void TMMWaveRecorder::Start() {
  if ((FWaveIn->State() & wisStarted) || Wave()->FileName().empty()) return;
  FStartPosition = Wave()->GetPosition();
  FContinuedAt = 0;
  FWaveIn->Start();
}

void TMMWaveRecorder::Listen() {
  if (FWaveIn->State() & wisStarted) return;
  Wave()->SetFileName("");
  FStartPosition = 0;
  FContinuedAt = 0;
  FWaveIn->Start();
}

bool TMMWaveRecorder::ContinueIn(const std::string& Name) {
  if (!FWaveFile->ContinueIn(Name)) return false;
  // A buffer being delivered is counted by the input already but is the new
  // file's first.
  FStartPosition = 0;
  FContinuedAt = FWaveIn->BytesRecorded() - FDelivering;
  return true;
}

void TMMWaveRecorder::BufferReady(PWaveHdr lpWaveHdr) {
  TMMDSPComponent::BufferReady(lpWaveHdr);
  FDelivering = 0;  // written: a switch from now on starts with the next buffer
}

void TMMWaveRecorder::Stop() {
  FWaveIn->Stop();
  FWaveIn->Close();
}

void TMMWaveRecorder::InputStopped() {
  FWaveIn->Close();
  if (OnStop && !HasState(csDestroying)) OnStop(this);
}

void TMMWaveRecorder::FileChanging() {
  FChangeActive = true;
  Stop();
  if (OnChange && !HasState(csDestroying)) OnChange(this);
}

int TMMWaveRecorder::Position() {
  const bool Keep = !OverwriteExisting();
  if (FWaveIn->State() & wisOpened) {
    const WAVEFORMATEX* f = FWaveIn->PWaveFormat();
    const std::int64_t Before =
        f ? SamplesToTimeFormat64(f, TimeFormat(), FContinuedAt / f->nBlockAlign) : 0;
    return FWaveIn->Position() - static_cast<int>(Before) + (Keep ? FStartPosition : 0);
  }
  return Keep ? Wave()->GetPosition() : 0;
}

void TMMWaveRecorder::SetTimeFormat(TMMTimeFormats Value) {
  FWaveIn->SetTimeFormat(Value);
  Wave()->SetTimeFormat(Value);
}

std::string TMMWaveRecorder::InputFormat() const {
  std::string Tag, Text;
  if (!GetFormatNames(FWaveIn->PWaveFormat(), Tag, Text)) return "Unknown";
  return Tag + " " + Text;
}

void TMMWaveRecorder::SetInputFormat(const std::string&) {
  Application().ShowMessage("This is a read-only property, please use SelectFormat.");
}

void TMMWaveRecorder::SetPWaveFormat(const WAVEFORMATEX* fmt) {
  if (FChangeActive) return;
  if (fmt) {
    const WAVEFORMATEX* Own = FWaveIn->PWaveFormat();
    const std::uint32_t Size = WaveFormatSize(fmt);
    if (!Own || WaveFormatSize(Own) != Size || std::memcmp(Own, fmt, Size) != 0) {
      FWaveIn->SetPWaveFormat(fmt);
      return;
    }
  }
  TMMDSPComponent::SetPWaveFormat(fmt);
}

}  // namespace velmar

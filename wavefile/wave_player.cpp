#include "wavefile/wave_player.h"

#include <chrono>

#include "stream/errors.h"
#include "stream/messages.h"

namespace velmar {

TMMWavePlayer::TMMWavePlayer(TComponent* AOwner)
    : TMMDSPComponent(AOwner),
      FWaveFile(std::make_unique<TMMWaveFile>()),
      FDecoder(std::make_unique<TMMADPCMConverter>()),
      FConverter(std::make_unique<TMMPCMConverter>()),
      FWaveOut(std::make_unique<TMMWaveOut>()) {
  PublishLinks(false, true);
  FWaveFile->OnChange = [this](TObject*) {
    Stop();
    if (OnChange && !HasState(csDestroying)) OnChange(this);
  };
  FWaveFile->OnChanged = [this](TObject*) { UpdateDecoder(); };
  FDecoder->SetInput(FWaveFile.get());
  FConverter->SetInput(FDecoder.get());
  FWaveOut->SetInput(FConverter.get());
  FWaveOut->OnOpen = [this](TObject*) {
    if (OnStart) OnStart(this);
  };
  FWaveOut->OnStop = [this](TObject*) { DeviceStopped(); };
  FWaveOut->OnClose = [this](TObject*) { DeviceClosed(); };
  FWaveOut->OnPause = [this](TObject*) {
    if (OnPause && !FSeeking) OnPause(this);
  };
  FWaveOut->OnRestart = [this](TObject*) {
    if (OnRestart && !FSeeking) OnRestart(this);
  };
  FWaveOut->OnBufferReady = [this](TObject*, PWaveHdr h) {
    if (OnData) OnData(this, h);
  };
  SetAcceptsInput(true);
  FWaveOut->SetOutput(this);
  SetAcceptsInput(false);
}

TMMWavePlayer::~TMMWavePlayer() {
  Destroying();  // no events from a player going away
  Stop();
  FWaveOut.reset();
  FConverter.reset();
  FDecoder.reset();
  FWaveFile.reset();
  DetachFromChain();
}

void TMMWavePlayer::UpdateDecoder() {
  FDecoder->SetEnabled(FAutoConvert && FDecoder->CanHandle());
}

void TMMWavePlayer::LoadFile(const std::string& Name) {
  Wave()->SetFileName(Name);
  UpdateDecoder();
}

void TMMWavePlayer::Play() {
  if ((FWaveOut->State() & wosStarted) || Wave()->IsEmpty()) return;
  if (GetPosition() >= Wave()->DataSize()) SetPosition(0);  // a finished track starts again
  FBasePosition = GetPosition();
  FStopPosition = -1;
  FWaveOut->Start();
}

void TMMWavePlayer::Stop() {
  FStopPosition = GetPosition();
  FWaveOut->Stop();
  FWaveOut->Close();
}

bool TMMWavePlayer::OutputStalled(double Seconds) {
  const double Now =
      std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
  const int Position = (State() & wosStarted) && !(State() & wosPaused) ? GetPosition() : -1;
  if (Position < 0 || Position != FWatchedPosition) {
    FWatchedPosition = Position;
    FWatchedSince = Now;
    return false;
  }
  return Now - FWatchedSince >= Seconds;
}

int TMMWavePlayer::GetPosition() {
  if (!(FWaveOut->State() & wosStarted)) return Wave()->GetPosition();
  return static_cast<int>(FWaveOut->Position()) + FBasePosition;
}

void TMMWavePlayer::SetPosition(int Value) {
  if (!(FWaveOut->State() & wosOpened)) {
    Wave()->SetPosition(Value);
    return;
  }
  FSeeking = true;
  struct TDone {
    bool& Flag;
    ~TDone() { Flag = false; }
  } Done{FSeeking};
  const bool WasPaused = FWaveOut->State() & wosPaused;
  FWaveOut->Pause();
  Wave()->SetPosition(Value);
  FBasePosition = Value;
  FWaveOut->Reset();
  if (!WasPaused) FWaveOut->Restart();
}

void TMMWavePlayer::DeviceStopped() {
  if (FStopPosition == -1) FStopPosition = GetPosition();
  FWaveOut->Close();
}

void TMMWavePlayer::DeviceClosed() {
  if (!FResetPosition) SetPosition(FStopPosition);
  if (OnStop && !HasState(csDestroying)) OnStop(this);
}

void TMMWavePlayer::SetAutoConvert(bool Value) {
  if (Value == FAutoConvert) return;
  if (FWaveOut->State() & wosOpened) throw EMMError(LibMessage(kMsgChangeWhileOpen));
  FAutoConvert = Value;
  FConverter->SetEnabled(Value);
  UpdateDecoder();  // never enabled for a format it cannot decode
}

void TMMWavePlayer::SetTimeFormat(TMMTimeFormats Value) {
  FWaveOut->SetTimeFormat(Value);
  Wave()->SetTimeFormat(Value);
}

}  // namespace velmar

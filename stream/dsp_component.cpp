#include "stream/dsp_component.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "stream/arith.h"
#include "stream/wave_format.h"

namespace velmar {

namespace {

constexpr size_t kMaxPropName = 20;
const std::string kInput = "Input";
const std::string kOutput = "Output";

// Every live stream component, for the link maintenance broadcast. It exists
// while at least one component does. Main thread only.
std::unique_ptr<std::vector<TMMDSPComponent*>>& Registry() {
  static std::unique_ptr<std::vector<TMMDSPComponent*>> List;
  return List;
}

}  // namespace

int DSPComponentCount() {
  return Registry() ? static_cast<int>(Registry()->size()) : 0;
}

TMMDSPComponent::TMMDSPComponent(TComponent* AOwner) : TMMCustomDSPComponent(AOwner) {
  auto& List = Registry();
  if (!List) List = std::make_unique<std::vector<TMMDSPComponent*>>();
  List->push_back(this);
}

TMMDSPComponent::~TMMDSPComponent() {
  Destroying();
  DetachFromChain();
  auto& List = Registry();
  List->erase(std::find(List->begin(), List->end(), this));
  if (List->empty()) List.reset();
}

void TMMDSPComponent::DetachFromChain() {
  SetInput(nullptr);
  SetOutput(nullptr);
  SetPWaveFormat(nullptr);
}

void TMMDSPComponent::Loaded() {
  TMMCustomDSPComponent::Loaded();
  // Links are restored now: let the format flow once.
  SetPWaveFormat(PWaveFormat());
}

TMMDSPComponent* TMMDSPComponent::LinkNamed(const std::string& PropName) const {
  if (PropName == kInput) return FInput;
  if (PropName == kOutput) return FOutput;
  return nullptr;
}

void TMMDSPComponent::Broadcast(TMMDSPComponent* Sender, bool InputSide,
                                const std::string& PropName) {
  auto& List = Registry();
  for (size_t i = 0; List && i < List->size(); ++i)
    (*List)[i]->ConnectionNotify(Sender, InputSide, PropName);
}

void TMMDSPComponent::ConnectionNotify(TMMDSPComponent* Sender, bool InputSide,
                                       const std::string& PropName) {
  // Forget a link only when Sender's link of that name still points back here.
  if (InputSide) {
    if (FInput == Sender && FInputPropName == PropName && Sender->LinkNamed(PropName) == this)
      AssignInput(nullptr, "");
  } else {
    if (FOutput == Sender && FOutputPropName == PropName && Sender->LinkNamed(PropName) == this)
      AssignOutput(nullptr, "");
  }
}

void TMMDSPComponent::AssignInput(TMMDSPComponent* Component, const std::string& PropName) {
  FInput = Component;
  FInputPropName = PropName.substr(0, kMaxPropName);
}

void TMMDSPComponent::AssignOutput(TMMDSPComponent* Component, const std::string& PropName) {
  FOutput = Component;
  FOutputPropName = PropName.substr(0, kMaxPropName);
}

bool TMMDSPComponent::CanConnectInput(TMMDSPComponent* Component) {
  // Component must not be this one nor lie downstream of it.
  return Component && Component != this &&
         (Component->FPublishesOutput || Component->FAcceptsOutput) &&
         (!FOutput || FOutput->CanConnectInput(Component));
}

bool TMMDSPComponent::CanConnectOutput(TMMDSPComponent* Component) {
  // Component must not be this one nor lie upstream of it.
  return Component && Component != this &&
         (Component->FPublishesInput || Component->FAcceptsInput) &&
         (!FInput || FInput->CanConnectOutput(Component));
}

void TMMDSPComponent::SetInput(TMMDSPComponent* Value) {
  if (Value == FInput) return;
  if (Value && !CanConnectInput(Value)) return;
  Stopped();
  if (FInput) {
    Broadcast(this, false, kInput);
    AssignInput(nullptr, "");
    ChangePWaveFormat(nullptr);
  }
  if (Value) {
    Broadcast(Value, true, kOutput);
    AssignInput(Value, kOutput);
    Value->AssignOutput(this, kInput);
    UpdateFormat();
  }
}

void TMMDSPComponent::SetOutput(TMMDSPComponent* Value) {
  if (Value == FOutput) return;
  if (Value && !CanConnectOutput(Value)) return;
  Stopped();
  if (FOutput) {
    Broadcast(this, true, kOutput);
    FOutput->ChangePWaveFormat(nullptr);
    AssignOutput(nullptr, "");
  }
  if (Value) {
    Broadcast(Value, false, kInput);
    AssignOutput(Value, kInput);
    Value->AssignInput(this, kOutput);
    UpdateFormat();
  }
}

void TMMDSPComponent::Notification(TComponent* AComponent, TOperation Operation) {
  TMMCustomDSPComponent::Notification(AComponent, Operation);
  if (Operation != TOperation::opRemove || !AComponent) return;
  if (FInput && AComponent == FInput)
    SetInput(nullptr);
  else if (FOutput && AComponent == FOutput)
    SetOutput(nullptr);
}

void TMMDSPComponent::SetPWaveFormat(const WAVEFORMATEX* fmt) {
  if (fmt != FPWaveFormat) {
    if (FStarted) Stopped();
    WAVEFORMATEX* Copy = CopyWaveFormat(fmt);  // before freeing: the copy may fail
    FreeWaveFormat(FPWaveFormat);
    FPWaveFormat = Copy;
  }
  if (!Quiet() && FOutput) FOutput->ChangePWaveFormat(FPWaveFormat);
}

void TMMDSPComponent::ChangePWaveFormat(const WAVEFORMATEX* fmt) {
  SetPWaveFormat(fmt);
}

void TMMDSPComponent::UpdateFormat() {
  if (Quiet()) return;
  if (FInput)
    ChangePWaveFormat(FInput->PWaveFormat());
  else if (FOutput)
    FOutput->ChangePWaveFormat(PWaveFormat());
}

int TMMDSPComponent::BufferSize() const {
  return FOpened ? FRealBufferSize : FBufferSize;
}

void TMMDSPComponent::SetBufferSize(int Value) {
  if (Value == FBufferSize) return;
  if (FStarted) Stopped();
  FBufferSize = Value;
}

void TMMDSPComponent::Opened() {
  if (FOpened) return;
  // Whole frames only, at least one; a damaged format without a block size
  // leaves the requested size as it is.
  if (FPWaveFormat && FPWaveFormat->nBlockAlign > 0) {
    const int Blk = FPWaveFormat->nBlockAlign;
    FRealBufferSize = Max(FBufferSize - FBufferSize % Blk, Blk);
  } else {
    FRealBufferSize = FBufferSize;
  }
  FOpened = true;
  FStarted = false;
  FPaused = false;
}

void TMMDSPComponent::Closed() {
  FOpened = false;
}

void TMMDSPComponent::Started() {
  if (FOpened && !FStarted) FStarted = true;
}

void TMMDSPComponent::Paused() {
  FPaused = true;
}

void TMMDSPComponent::Restarted() {
  FPaused = false;
}

void TMMDSPComponent::Stopped() {
  if (!FStarted) return;
  FStarted = false;
  FPaused = false;
}

void TMMDSPComponent::BufferReady(PWaveHdr lpWaveHdr) {
  if (OnBufferReady) OnBufferReady(this, lpWaveHdr);
  if (FOutput) FOutput->BufferReady(lpWaveHdr);
}

void TMMDSPComponent::BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) {
  if (OnBufferLoad) OnBufferLoad(this, lpWaveHdr, MoreBuffers);
  if (FInput) FInput->BufferLoad(lpWaveHdr, MoreBuffers);
}

std::uint32_t PullInput(TMMDSPComponent& Stage, TMMWaveHdr& Internal, char* Buffer,
                        std::uint32_t Capacity, TMMWaveHdr& Caller, bool& More) {
  auto CopyLoopFields = [](const TMMWaveHdr& From, TMMWaveHdr& To) {
    To.Looping = From.Looping;
    To.LoopCount = From.LoopCount;
    To.LoopsLeft = From.LoopsLeft;
    To.Looped = From.Looped;
  };
  Internal = TMMWaveHdr{};
  Internal.wh.lpData = Buffer;
  Internal.wh.dwBufferLength = Capacity;
  CopyLoopFields(Caller, Internal);
  More = false;
  Stage.TMMDSPComponent::BufferLoad(&Internal, More);
  CopyLoopFields(Internal, Caller);
  return std::min(Internal.wh.dwBytesRecorded, Capacity);
}

std::int32_t AppendToBuffer(TMMWaveHdr& Header, const std::uint8_t* Data, std::int32_t Count) {
  WAVEHDR& h = Header.wh;
  const auto Room = static_cast<std::int64_t>(h.dwBufferLength) - h.dwBytesRecorded;
  const auto n = static_cast<std::int32_t>(std::min<std::int64_t>(Room, Count));
  if (n <= 0) return 0;
  std::memcpy(h.lpData + h.dwBytesRecorded, Data, static_cast<std::size_t>(n));
  h.dwBytesRecorded += static_cast<std::uint32_t>(n);
  return n;
}

bool PullBuffer(TMMDSPComponent& Source, PWaveHdr lpWaveHdr, std::uint32_t Capacity) {
  lpWaveHdr->wh.dwBufferLength = Capacity;
  lpWaveHdr->wh.dwBytesRecorded = 0;
  bool MoreBuffers = false;
  Source.BufferLoad(lpWaveHdr, MoreBuffers);
  // A source never hands back more than the buffer holds.
  lpWaveHdr->wh.dwBytesRecorded = std::min(lpWaveHdr->wh.dwBytesRecorded, Capacity);
  return MoreBuffers && lpWaveHdr->wh.dwBytesRecorded > 0;
}

}  // namespace velmar

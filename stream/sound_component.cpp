#include "stream/sound_component.h"

namespace velmar {

namespace {

bool IsDevice(const TMMDSPComponent* c) {
  return dynamic_cast<const TMMCustomSoundComponent*>(c) != nullptr;
}

}  // namespace

TMMDSPComponent* TMMCustomSoundComponent::SegmentStart() const {
  const TMMDSPComponent* Top = this;
  for (TMMDSPComponent* c = Input(); c; c = c->Input()) {
    if (IsDevice(c)) return const_cast<TMMCustomSoundComponent*>(this);
    Top = c;
  }
  return const_cast<TMMDSPComponent*>(Top);
}

TMMCustomSoundComponent* TMMCustomSoundComponent::NextDeviceBelow() const {
  for (TMMDSPComponent* c = Output(); c; c = c->Output())
    if (auto* Device = dynamic_cast<TMMCustomSoundComponent*>(c)) return Device;
  return nullptr;
}

void TMMCustomSoundComponent::WalkDown(Notify Note, bool PassBufferSize) {
  const int Size = BufferSize();
  for (TMMDSPComponent* c = SegmentStart(); c; c = c->Output()) {
    if (c == this) continue;
    if (PassBufferSize) c->SetBufferSize(Size);
    (c->*Note)();
    if (IsDevice(c)) break;
  }
}

void TMMCustomSoundComponent::WalkDownDeviceFirst(Notify Note) {
  if (TMMCustomSoundComponent* Device = NextDeviceBelow()) (Device->*Note)();
  for (TMMDSPComponent* c = SegmentStart(); c; c = c->Output()) {
    if (c == this) continue;
    if (IsDevice(c)) break;
    (c->*Note)();
  }
}

void TMMCustomSoundComponent::Opened() {
  FHasSourceDevice = SegmentStart() == this && Input() != nullptr;
  WalkDown(&TMMDSPComponent::Opened, true);
  TMMDSPComponent::Opened();
}

void TMMCustomSoundComponent::Started() {
  WalkDown(&TMMDSPComponent::Started, false);
  TMMDSPComponent::Started();
}

void TMMCustomSoundComponent::Paused() {
  WalkDown(&TMMDSPComponent::Paused, false);
  TMMDSPComponent::Paused();
}

void TMMCustomSoundComponent::Restarted() {
  WalkDown(&TMMDSPComponent::Restarted, false);
  TMMDSPComponent::Restarted();
}

void TMMCustomSoundComponent::Resetting() {
  WalkDown(&TMMDSPComponent::Resetting, false);
  TMMDSPComponent::Resetting();
}

void TMMCustomSoundComponent::Looped() {
  WalkDown(&TMMDSPComponent::Looped, false);
  TMMDSPComponent::Looped();
}

void TMMCustomSoundComponent::Closed() {
  WalkDownDeviceFirst(&TMMDSPComponent::Closed);
  TMMDSPComponent::Closed();
}

void TMMCustomSoundComponent::Stopped() {
  WalkDownDeviceFirst(&TMMDSPComponent::Stopped);
  TMMDSPComponent::Stopped();
}

}  // namespace velmar

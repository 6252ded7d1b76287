// Test doubles of stream components: a plain component that publishes both links,
// a source that publishes only Output, and a device. Each logs its notifications
// as "<Name>.<Notification>" into an optional shared log and then runs the base
// behaviour, so tests can check both order and effect.
#pragma once

#include <string>
#include <vector>

#include "stream/sound_component.h"

namespace velmar::test {

using Log = std::vector<std::string>;

template <typename Base>
class Logged : public Base {
 public:
  Logged(const std::string& Name, Log* Into, TComponent* Owner = nullptr)
      : Base(Owner), FLog(Into) {
    this->SetName(Name);
  }

  void Opened() override {
    Note("Opened");
    Base::Opened();
  }
  void Closed() override {
    Note("Closed");
    Base::Closed();
  }
  void Started() override {
    Note("Started");
    Base::Started();
  }
  void Paused() override {
    Note("Paused");
    Base::Paused();
  }
  void Restarted() override {
    Note("Restarted");
    Base::Restarted();
  }
  void Stopped() override {
    Note("Stopped");
    Base::Stopped();
  }
  void Resetting() override {
    Note("Resetting");
    Base::Resetting();
  }
  void Looped() override {
    Note("Looped");
    Base::Looped();
  }

 private:
  void Note(const char* What) {
    if (FLog) FLog->push_back(this->Name() + "." + What);
  }
  Log* FLog;
};

// A plain component with both links published.
class TPlain : public TMMDSPComponent {
 public:
  explicit TPlain(TComponent* Owner = nullptr) : TMMDSPComponent(Owner) {
    PublishLinks(true, true);
  }
  using TMMDSPComponent::Quiet;
  using TMMDSPComponent::SetInput;
  using TMMDSPComponent::SetOutput;
};

// A source: only Output is published, like an input device or a recorder.
class TSourceOnly : public TMMDSPComponent {
 public:
  explicit TSourceOnly(TComponent* Owner = nullptr) : TMMDSPComponent(Owner) {
    PublishLinks(false, true);
  }
  using TMMDSPComponent::SetInput;
  using TMMDSPComponent::SetOutput;
};

// A device with both links published and trivial device properties.
class TDevice : public TMMCustomSoundComponent {
 public:
  explicit TDevice(TComponent* Owner = nullptr) : TMMCustomSoundComponent(Owner) {
    PublishLinks(true, true);
  }
  using TMMDSPComponent::SetInput;
  using TMMDSPComponent::SetOutput;

  void SetNumBuffers(int Value) override { FNumBuffers = Value; }
  int NumBuffers() const override { return FNumBuffers; }
  void SetDeviceID(TMMDeviceId Value) override { FDeviceID = Value; }
  TMMDeviceId DeviceID() const override { return FDeviceID; }
  void SetProductName(const std::string& Value) override { FProductName = Value; }
  std::string ProductName() const override { return FProductName; }
  void SetCallBackMode(TMMCBMode Value) override { FMode = Value; }
  TMMCBMode CallBackMode() const override { return FMode; }

 private:
  int FNumBuffers = 4;
  TMMDeviceId FDeviceID = 0;
  std::string FProductName;
  TMMCBMode FMode = TMMCBMode::cmWindow;
};

using LoggedPlain = Logged<TPlain>;
using LoggedDevice = Logged<TDevice>;

}  // namespace velmar::test

// The base of the sound devices (input and output devices).
//
// A device never notifies the components around it one by one: its versions of
// the chain notifications work on its segment, the run of components from the
// head of the chain (or from the device itself, when another device lies above
// it) down to and including the next device below it.
//   Opened:  from the start of the segment downward; each plain component first
//            gets the device's BufferSize, then Opened; the next device below
//            gets the same; finally the device's own base Opened.
//   Started, Paused, Restarted, Resetting, Looped: the same walk without the
//            buffer size.
//   Closed, Stopped: first the next device below, then the plain components of
//            the segment from its start, finally the device's own base.
// So opening and starting reach a downstream device last; closing and stopping
// reach it first. Main thread only, like all notifications.
#pragma once

#include <string>

#include "stream/dsp_component.h"
#include "stream/mm_types.h"

namespace velmar {

class TMMCustomSoundComponent : public TMMDSPComponent {
 public:
  using TMMDSPComponent::TMMDSPComponent;

  // Set while opening when another device lies upstream in the chain.
  bool HasSourceDevice() const { return FHasSourceDevice; }

  // Device properties, implemented by each device.
  virtual void SetNumBuffers(int Value) = 0;
  virtual int NumBuffers() const = 0;
  virtual void SetDeviceID(TMMDeviceId Value) = 0;
  virtual TMMDeviceId DeviceID() const = 0;
  virtual void SetProductName(const std::string& Value) = 0;
  virtual std::string ProductName() const = 0;
  virtual void SetCallBackMode(TMMCBMode Value) = 0;
  virtual TMMCBMode CallBackMode() const = 0;

  void Opened() override;
  void Closed() override;
  void Started() override;
  void Paused() override;
  void Restarted() override;
  void Stopped() override;
  void Resetting() override;
  void Looped() override;

 private:
  using Notify = void (TMMDSPComponent::*)();

  // Where the segment starts: this device when another device lies upstream,
  // otherwise the top of the chain.
  TMMDSPComponent* SegmentStart() const;
  // The first device below this one, or null.
  TMMCustomSoundComponent* NextDeviceBelow() const;
  // Opened, Started, ...: from the segment start down, the next device included.
  void WalkDown(Notify Note, bool PassBufferSize);
  // Closed, Stopped: the next device first, then the segment's plain components.
  void WalkDownDeviceFirst(Notify Note);

  bool FHasSourceDevice = false;
};

}  // namespace velmar

// The stream component chain.
//
// Components are linked into a linear chain through Input and Output. A chain
// carries one PCM stream: a source at the top (an input device, or a file being
// played) and sinks below. Buffers are pushed down with BufferReady or pulled up
// with BufferLoad; the format flows from the source down (each component passes
// on its own copy); life-cycle notifications (Opened, Started, ..., Closed) are
// sent by the sound components of the chain (see sound_component.h).
//
// Links never own their neighbours and are always symmetric: A.Output() == B
// exactly when B.Input() == A. A link that would form a cycle, or that names a
// component which cannot take part, is ignored without an error.
//
// Threads: linking, formats and the notifications run on the main thread; the
// process-wide registry of components has no lock. BufferReady and BufferLoad run
// on the thread that delivers the driving device's buffers.
//
// Destruction: the destructor unlinks the component and drops its format with
// the base behaviour (C++ calls no overrides from a base destructor). A
// descendant whose notifications keep per-stream state calls DetachFromChain()
// first in its own destructor.
#pragma once

#include <cstdint>
#include <string>

#include "platform/component.h"
#include "platform/wave/wave_format_ex.h"
#include "stream/wave_hdr.h"

namespace velmar {

class TMMComponent : public TComponent {
 public:
  using TComponent::TComponent;
  // The design-mode setter; it has no role outside a form designer.
  virtual void SetDesigning(bool Value) { SetDesigningState(Value); }
};

class TMMNonVisualComponent : public TMMComponent {
 public:
  using TMMComponent::TMMComponent;
};

class TMMCustomDSPComponent : public TMMNonVisualComponent {
 public:
  using TMMNonVisualComponent::TMMNonVisualComponent;
};

class TMMDSPComponent : public TMMCustomDSPComponent {
 public:
  explicit TMMDSPComponent(TComponent* AOwner = nullptr);
  ~TMMDSPComponent() override;

  // Links. Reading is open to all; a descendant that publishes a link makes its
  // setter public (using) and declares it with PublishLinks.
  virtual TMMDSPComponent* Input() const { return FInput; }
  virtual TMMDSPComponent* Output() const { return FOutput; }
  const std::string& InputPropName() const { return FInputPropName; }
  const std::string& OutputPropName() const { return FOutputPropName; }
  bool PublishesInput() const { return FPublishesInput; }
  bool PublishesOutput() const { return FPublishesOutput; }
  bool AcceptsInput() const { return FAcceptsInput; }
  bool AcceptsOutput() const { return FAcceptsOutput; }
  void SetAcceptsInput(bool Value) { FAcceptsInput = Value; }
  void SetAcceptsOutput(bool Value) { FAcceptsOutput = Value; }

  // Format: this component's own copy, or null.
  virtual WAVEFORMATEX* PWaveFormat() const { return FPWaveFormat; }
  // Replaces the own copy (stopping first if started) and passes it downstream.
  // Handing the component its own current copy only re-sends it.
  virtual void SetPWaveFormat(const WAVEFORMATEX* fmt);
  // The upstream neighbour announces its format; converters derive their own.
  virtual void ChangePWaveFormat(const WAVEFORMATEX* fmt);
  virtual void UpdateFormat();

  // The real size while opened, the requested size otherwise.
  virtual int BufferSize() const;
  virtual void SetBufferSize(int Value);
  int RealBufferSize() const { return FRealBufferSize; }

  bool IsOpened() const { return FOpened; }
  bool IsStarted() const { return FStarted; }
  bool IsPaused() const { return FPaused; }

  // Chain notifications, called by sound components on their chain segment
  // (never by the application).
  virtual void Opened();
  virtual void Closed();
  virtual void Started();
  virtual void Paused();
  virtual void Restarted();
  virtual void Stopped();
  virtual void Resetting() {}
  virtual void Looped() {}

  // Push: OnBufferReady fires, then the buffer goes on to Output.
  virtual void BufferReady(PWaveHdr lpWaveHdr);
  // Pull: OnBufferLoad fires, then the request goes on to Input.
  virtual void BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers);

  virtual bool CanConnectInput(TMMDSPComponent* Component);
  virtual bool CanConnectOutput(TMMDSPComponent* Component);

  TMMBufferEvent OnBufferReady;
  TMMBufferLoadEvent OnBufferLoad;

  void Loaded() override;

 protected:
  virtual void SetInput(TMMDSPComponent* Value);
  virtual void SetOutput(TMMDSPComponent* Value);
  // Store a link without any other effect (the name is cut to 20 characters).
  virtual void AssignInput(TMMDSPComponent* Component, const std::string& PropName);
  virtual void AssignOutput(TMMDSPComponent* Component, const std::string& PropName);
  // Run on every registered component when Sender's link PropName changes, so
  // that the component Sender was linked to before forgets the link.
  virtual void ConnectionNotify(TMMDSPComponent* Sender, bool InputSide,
                                const std::string& PropName);

  void Notification(TComponent* AComponent, TOperation Operation) override;

  void PublishLinks(bool InputLink, bool OutputLink) {
    FPublishesInput = InputLink;
    FPublishesOutput = OutputLink;
  }
  // Unlinks and drops the format; idempotent.
  void DetachFromChain();
  // True while loading, reading or being destroyed: formats are not passed on.
  bool Quiet() const { return HasState(csLoading | csReading | csDestroying); }

 private:
  TMMDSPComponent* LinkNamed(const std::string& PropName) const;
  static void Broadcast(TMMDSPComponent* Sender, bool InputSide, const std::string& PropName);

  TMMDSPComponent* FInput = nullptr;
  TMMDSPComponent* FOutput = nullptr;
  WAVEFORMATEX* FPWaveFormat = nullptr;
  int FBufferSize = 2048;
  int FRealBufferSize = 2048;
  bool FOpened = false;
  bool FStarted = false;
  bool FPaused = false;
  bool FAcceptsInput = false;
  bool FAcceptsOutput = false;
  bool FPublishesInput = false;
  bool FPublishesOutput = false;
  std::string FInputPropName;
  std::string FOutputPropName;
};

// Asks Source for one buffer on behalf of a device that pulls: prepares the
// header (capacity, no bytes yet), calls Source.BufferLoad and returns whether
// more buffers follow. A buffer that came back empty never has more after it.
// The caller sets the loop fields of the header beforehand.
bool PullBuffer(TMMDSPComponent& Source, PWaveHdr lpWaveHdr, std::uint32_t Capacity);

// Pulls up to Capacity bytes into Buffer from Stage's input, through Stage's
// base BufferLoad and Internal, a header of the stage's own, on behalf of the
// request Caller: its loop fields go up with the pull and come back. Returns
// the bytes delivered; More tells whether the input has more. For stages that
// pull their input in chunks of their own size (converters).
std::uint32_t PullInput(TMMDSPComponent& Stage, TMMWaveHdr& Internal, char* Buffer,
                        std::uint32_t Capacity, TMMWaveHdr& Caller, bool& More);

// Appends up to Count bytes of Data behind the header's recorded bytes, as far
// as the buffer has room; returns the bytes appended (for stages that hand out
// output of their own).
std::int32_t AppendToBuffer(TMMWaveHdr& Header, const std::uint8_t* Data, std::int32_t Count);

// The number of live stream components (for diagnostics and tests).
int DSPComponentCount();

}  // namespace velmar

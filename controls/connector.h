// TMMConnector: a stream component that passes every buffer on unchanged and, on
// the side, copies it into a PCM buffer of its own from which it feeds displays
// (its sinks: two level bars and the optional display slots), in slices of one
// update each, paced to the real time of the audio. The level bars are fed
// differently: every sample delivered is folded into one update's worth of
// peaks (per position, the sample farthest from silence), and each picture
// feeds the bars the fold of everything since the last one, so no peak between
// two pictures is missed.
//
// Threads. The tap (ProcessBuffer, from BufferReady or BufferLoad) runs on the
// thread that delivers buffers and only copies (and converts) under the
// connector's lock, arms the sink groups and wakes the pump. The draw passes
// run on the main thread, from the connector unit's hidden window
// ("TMMConnectorWindow") and a timer aimed at the next slice that comes due: all
// passes that are due run in one wake-up, one slice per group and pass, and none
// is skipped. The displays are fed after the lock is released, from a copy, so
// that a display's event handler may stop or pause the connector. The pause
// feed runs on the shared 25 ms tick service's thread and only writes the time
// stamp, the armed flags and the read offsets (atomics). Without RealTime the
// tap posts one draw pass to the main thread per buffer. Properties are set on
// the main thread.
#pragma once

#include <QObject>
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "controls/display_sink.h"
#include "controls/level.h"
#include "platform/messages.h"
#include "stream/dsp_component.h"
#include "stream/tick_service.h"
#include "wavefile/acm_conversion.h"

namespace velmar {

enum class TMMTriggerMode { tmNone, tmUpFlank, tmDownFlank };

// The unit's messages to its hidden window (lParam: the connector).
inline constexpr UINT WM_CONNECTOR_ACTIVATE = WM_USER + 0x0700;
inline constexpr UINT WM_CONNECTOR_TRIGGER = WM_USER + 0x0701;
inline constexpr UINT WM_CONNECTOR_PUMP = WM_USER + 0x0702;

// The optional display slots take any display that offers the sink operations;
// the displays named by them (meters, scopes, lights, spectra) are not built.
using TMMMeter = TMMDisplaySink;
using TMMOscope = TMMDisplaySink;
using TMMLight = TMMDisplaySink;
using TMMSpectrum = TMMDisplaySink;
using TMMSpectrogram = TMMDisplaySink;

class TMMConnector : public TMMDSPComponent {
 public:
  explicit TMMConnector(TComponent* AOwner = nullptr);
  ~TMMConnector() override;

  using TMMDSPComponent::SetInput;
  using TMMDSPComponent::SetOutput;

  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool Value);
  bool AutoConvert() const { return FAutoConvert; }
  void SetAutoConvert(bool Value) { FAutoConvert = Value; }
  bool AutoTrigger() const { return FAutoTrigger; }
  void SetAutoTrigger(bool Value);
  bool Synchronize() const { return FSynchronize; }
  void SetSynchronize(bool Value) { FSynchronize = Value; }
  int Speed() const { return FSpeed; }
  void SetSpeed(int Value);
  TMMTriggerMode TriggerMode() const { return FTriggerMode; }
  void SetTriggerMode(TMMTriggerMode Value) { FTriggerMode = Value; }
  int TriggerLevel() const { return FTriggerLevel; }
  void SetTriggerLevel(int Value) { FTriggerLevel = Value; }
  bool RefreshOnStop() const { return FRefreshOnStop; }
  void SetRefreshOnStop(bool Value) { FRefreshOnStop = Value; }
  bool RealTime() const { return FRealTime; }
  // Raises EMMConnectorError (message 60) while the chain is open.
  void SetRealTime(bool Value);
  // Unit-wide: one value for all connectors.
  static bool EnterIdle();
  static void SetEnterIdle(bool Value);

  TMMCustomLevel* Level1() const { return dynamic_cast<TMMCustomLevel*>(Sink(kLevel1)); }
  void SetLevel1(TMMCustomLevel* Value) { SetSink(kLevel1, Value); }
  TMMCustomLevel* Level2() const { return dynamic_cast<TMMCustomLevel*>(Sink(kLevel2)); }
  void SetLevel2(TMMCustomLevel* Value) { SetSink(kLevel2, Value); }
  TMMMeter* Meter1() const { return Sink(kMeter1); }
  void SetMeter1(TMMMeter* Value) { SetSink(kMeter1, Value); }
  TMMMeter* Meter2() const { return Sink(kMeter2); }
  void SetMeter2(TMMMeter* Value) { SetSink(kMeter2, Value); }
  TMMOscope* Oscope1() const { return Sink(kOscope1); }
  void SetOscope1(TMMOscope* Value) { SetSink(kOscope1, Value); }
  TMMOscope* Oscope2() const { return Sink(kOscope2); }
  void SetOscope2(TMMOscope* Value) { SetSink(kOscope2, Value); }
  TMMLight* Light1() const { return Sink(kLight1); }
  void SetLight1(TMMLight* Value) { SetSink(kLight1, Value); }
  TMMLight* Light2() const { return Sink(kLight2); }
  void SetLight2(TMMLight* Value) { SetSink(kLight2, Value); }
  TMMSpectrum* Spectrum(int i) const { return Sink(kSpectrum1 + i - 1); }  // 1..4
  void SetSpectrum(int i, TMMSpectrum* Value) { SetSink(kSpectrum1 + i - 1, Value); }
  TMMSpectrogram* Spectrogram1() const { return Sink(kSpectrogram1); }
  void SetSpectrogram1(TMMSpectrogram* Value) { SetSink(kSpectrogram1, Value); }
  TMMSpectrogram* Spectrogram2() const { return Sink(kSpectrogram2); }
  void SetSpectrogram2(TMMSpectrogram* Value) { SetSink(kSpectrogram2, Value); }

  // Chain operations.
  void SetPWaveFormat(const WAVEFORMATEX* fmt) override;
  void Started() override;
  void Paused() override;
  void Restarted() override;
  void Stopped() override;
  void Resetting() override;
  void BufferReady(PWaveHdr lpWaveHdr) override;
  void BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) override;

  // The tap, on the delivering thread.
  virtual void ProcessBuffer(const void* Data, std::uint32_t Size);
  // One draw on demand (AutoTrigger off).
  virtual void Trigger();

  // One draw pass; true when a slice was fed. Main thread in real time.
  bool UpdateDisplays();
  // When the next armed slice comes due, in the µs clock; -1 when none is armed.
  std::int64_t NextDue() const;

  bool Running() const { return FRunning; }
  bool Active() const { return FActive; }
  int PendingTriggers() const { return FPendingTriggers; }
  // The µs clock of the pacing (the high-resolution counter, or the millisecond
  // time x 1000 where the counter is unusable).
  static std::int64_t MicroSeconds();

  TNotifyEvent OnTrigger;

 private:
  enum {
    kLevel1,
    kLevel2,
    kMeter1,
    kMeter2,
    kOscope1,
    kOscope2,
    kLight1,
    kLight2,
    kSpectrum1,
    kSpectrum2,
    kSpectrum3,
    kSpectrum4,
    kSpectrogram1,
    kSpectrogram2,
    kSlots
  };
  enum { gLevel, gMeter, gOscope, gLight, gSpectrum, gSpectrogram, kGroups };
  struct TGroup {
    int First, Count;  // slots
    std::atomic<bool> Armed{false};
    std::atomic<std::int32_t> Offset{0};
    std::array<std::atomic<std::int32_t>, 2> SpectrogramOffsets{};
  };
  friend struct TConnectorUnit;

  TMMDisplaySink* Sink(int Slot) const { return FSinks[static_cast<std::size_t>(Slot)]; }
  void SetSink(int Slot, TMMDisplaySink* Value);
  void SetSinkFormats();
  bool HasSinks(const TGroup& g) const;
  void ArmGroups();
  // Folds Bytes of PCM at Data into the level bars' peaks (under the lock).
  void FoldLevels(const std::uint8_t* Data, std::int32_t Bytes);
  void PostDraw();
  // The bars' update size from the level sinks (main thread).
  void UpdateLevelNeed();
  void ResetSinks();
  void Activate();
  void Deactivate();
  std::int32_t FlankDistance(std::int32_t From) const;
  void PauseFeed();

  std::atomic<bool> FEnabled{true};
  bool FAutoConvert = true;
  std::atomic<bool> FAutoTrigger{true};
  std::atomic<bool> FSynchronize{true};
  int FSpeed = 5000;
  TMMTriggerMode FTriggerMode = TMMTriggerMode::tmNone;
  int FTriggerLevel = 0;
  bool FRefreshOnStop = true;
  std::atomic<bool> FRealTime{true};

  std::array<TMMDisplaySink*, kSlots> FSinks{};
  std::array<QMetaObject::Connection, kSlots> FSinkWatch;  // forgets a destroyed sink
  std::array<TGroup, kGroups> FGroups;

  std::atomic<bool> FRunning{false};
  std::atomic<bool> FActive{false};
  bool FCountedAuto = false;  // counted among the unit's active auto-triggered connectors
  std::atomic<bool> FDrawPosted{false};  // without RealTime: a draw pass is on its way
  std::atomic<bool> FPaused{false};
  bool FIsPCM = false, FConverting = false;
  const WAVEFORMATEX* FFormat = nullptr;  // the PCM format in use
  WAVEFORMATEX* FOwnedFormat = nullptr;
  std::unique_ptr<std::uint8_t[]> FRaw;
  std::uint8_t* FData = nullptr;
  std::int32_t FCapacity = 0;
  std::int32_t FValid = 0;
  std::uint8_t FSilence = 0;
  std::unique_ptr<TACMConversion> FConversion;
  // The level bars' update: the peaks of everything delivered since the last
  // picture (FPeaksPending), silence once fed. Sized at the start.
  std::vector<std::uint8_t> FPeaks;
  std::int32_t FPeaksSize = 0;
  std::atomic<std::int32_t> FLevelNeed{0};  // the bars' update size, as the last pass found it
  std::atomic<bool> FPeaksPending{false};
  // What a draw pass feeds, copied under the lock: the slices, then the sinks
  // are fed without it. Sized at the start; kept to the end.
  std::vector<std::uint8_t> FFeed;
  std::int32_t FRawSize = 0;
  std::atomic<std::int64_t> FTapTime{0};
  std::atomic<int> FPendingTriggers{0};
  std::mutex FLock;
  PTickClient FPauseNode = nullptr;
};

}  // namespace velmar

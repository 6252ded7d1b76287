// TMMCustomLevel / TMMLevel: a level bar. It shows the peak level of a PCM
// stream as a row of equal spots in three colour zones, with a peak marker that
// holds and falls, optional decay smoothing, and a decibel or linear scale. A
// connector hands it the stream's format (SetPCMWaveFormat) and one update of
// PCM data at a time (RefreshPCMData); Value sets a level directly.
//
// Threads: everything runs on the main thread, except the peak fall, which the
// shared tick service runs on its timer thread (four 25 ms ticks of it every
// 100 ms). The two share only the
// peak marker (peak and hold counter, packed into one atomic word and changed by
// compare-and-swap on both sides) and the redraw-pending flag: no lock on the
// drawing path. While a marker is up, a main-thread timer draws its fall at
// the fall's pace, also while no data changes the bar.
#pragma once

#include <QRect>

class QTimer;
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

#include "controls/dib_canvas.h"
#include "controls/display_sink.h"
#include "platform/wave/wave_format_ex.h"
#include "stream/mm_types.h"
#include "stream/tick_service.h"

namespace velmar {

enum class TMMLevelKind { lkHorizontal, lkVertical };
enum class TMMLevelDirection { dirNormal, dirReversed, dirSymetric };

using TMMLevelDrawBar =
    std::function<void(TObject* Sender, TMMDIBCanvas& DIB, QRect Rect, int nSpots, int Peak)>;

class TMMCustomLevel : public TMMDIBGraphicControl, public TMMDisplaySink {
 public:
  explicit TMMCustomLevel(QWidget* Parent = nullptr);
  ~TMMCustomLevel() override;

  // The data interface of the connector's sinks.
  int BytesPerUpdate() const override { return FBytesPerUpdate; }
  // Raises EMMLevelError "Invalid WaveFormat" for a format that is not valid PCM.
  void SetPCMWaveFormat(const WAVEFORMATEX* Format) override;
  // Measures BytesPerUpdate bytes at Data (when enabled and visible).
  void RefreshPCMData(const void* Data) override;
  void ProcessLevel(int Amplitude);
  void ResetData() override;

  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool Value);
  TMMLevelKind Kind() const { return FKind; }
  void SetKind(TMMLevelKind Value);
  TMMLevelDirection Direction() const { return FDirection; }
  void SetDirection(TMMLevelDirection Value);
  int SpotSpace() const { return FSpotSpace; }
  void SetSpotSpace(int Value);
  int SpotWidth() const { return FSpotWidth; }
  void SetSpotWidth(int Value);
  TColor Bar1Color() const { return FBarColor[0]; }
  void SetBar1Color(TColor Value) { SetBarColor(0, Value); }
  TColor Bar2Color() const { return FBarColor[1]; }
  void SetBar2Color(TColor Value) { SetBarColor(1, Value); }
  TColor Bar3Color() const { return FBarColor[2]; }
  void SetBar3Color(TColor Value) { SetBarColor(2, Value); }
  TColor Inactive1Color() const { return FInactiveColor[0]; }
  void SetInactive1Color(TColor Value) { SetInactiveColor(0, Value); }
  TColor Inactive2Color() const { return FInactiveColor[1]; }
  void SetInactive2Color(TColor Value) { SetInactiveColor(1, Value); }
  TColor Inactive3Color() const { return FInactiveColor[2]; }
  void SetInactive3Color(TColor Value) { SetInactiveColor(2, Value); }
  bool InactiveDoted() const { return FInactiveDoted; }
  void SetInactiveDoted(bool Value);
  bool ActiveDoted() const { return FActiveDoted; }
  void SetActiveDoted(bool Value);
  int Point1() const { return FPoint1; }
  void SetPoint1(int Value);
  int Point2() const { return FPoint2; }
  void SetPoint2(int Value);
  TMMBits BitLength() const { return FBitLength; }
  void SetBitLength(TMMBits Value);
  TMMChannel Channel() const { return FChannel; }
  void SetChannel(TMMChannel Value);
  TMMMode Mode() const { return FMode; }
  void SetMode(TMMMode Value);
  int Gain() const { return FGain; }
  void SetGain(int Value);
  int Samples() const { return FSamples; }
  void SetSamples(int Value);
  int Sensitivy() const { return FSensitivy; }
  void SetSensitivy(int Value);
  bool LogAmp() const { return FLogAmp; }
  void SetLogAmp(bool Value);
  int NumPeaks() const { return FNumPeaks; }
  void SetNumPeaks(int Value);
  int PeakDelay() const { return FPeakDelay; }
  void SetPeakDelay(int Value);
  int PeakSpeed() const { return FPeakSpeed; }
  void SetPeakSpeed(int Value);
  TMMDecayMode DecayMode() const { return FDecayMode; }
  void SetDecayMode(TMMDecayMode Value);
  int Decay() const { return FDecay; }
  void SetDecay(int Value);
  int Value() const;
  void SetValue(int Value);
  int DCOffsetL() const { return FDCOffsetL; }
  void SetDCOffsetL(int Value) { FDCOffsetL = Value; }
  int DCOffsetR() const { return FDCOffsetR; }
  void SetDCOffsetR(int Value) { FDCOffsetR = Value; }
  const TMMLevelDrawBar& OnDrawBar() const { return FOnDrawBar; }
  void SetOnDrawBar(TMMLevelDrawBar Value);
  void SetBitsPerPixel(int Value) override;

  // The geometry and the state, for displays and tests.
  int NumSpots() const { return FNumSpots; }
  int FirstSpace() const { return FFirstSpace; }
  int Zone1Spots() const { return FP1; }
  int Zone2Spots() const { return FP2; }
  int CurrentLevel() const { return FCurrent; }
  int Peak() const;
  int LastPeak() const { return FLastPeak; }
  float DecayFactor() const { return FK; }
  // The rectangle of spot i (1..NumSpots) in the canvas.
  QRect SpotRect(int i) const;
  // The picture with every spot unlit.
  const TMMDIBCanvas& Background() const { return FBackground; }
  // Runs one 25 ms tick of the peak fall; false once no marker is up (the
  // node sleeps). The tick service's node runs every 100 ms and takes as many
  // ticks as passed since it last ran: a late run is not time lost.
  bool PeakFall();

  TNotifyEvent OnPaint;
  TNotifyEvent OnGainOverflow;
  TNotifyEvent OnPcmOverflow;

 protected:
  virtual void GainOverflow();
  virtual void PcmOverflow();
  void DrawCanvas() override;
  void resizeEvent(QResizeEvent* Event) override;
  void BevelChanged() override;
  void ColorChanged() override;

 private:
  // The peak marker as one word: the peak spot in the low half, the hold
  // counter in the high half but its top bit, which says that the node sleeps:
  // with no marker shown the tick has nothing to do, so the tick thread pauses
  // the node (one pause of its own) and the next marker resumes it. Sleeping
  // and waking are decided on the word, so a marker set while the node goes
  // to sleep is never left without ticks.
  static constexpr std::uint64_t kAsleep = std::uint64_t{1} << 63;
  static std::uint64_t Pack(int Peak, int Hold);
  static int PeakOf(std::uint64_t State) { return static_cast<std::int32_t>(State); }
  static int HoldOf(std::uint64_t State) {
    return static_cast<std::int32_t>((State & ~kAsleep) >> 32);
  }
  void ClearPeak();
  void ZeroHold();
  // The tick thread's run: the ticks that passed since the last counted one.
  void FallSinceLastRun();
  // The node runs again: the fall is counted from now.
  void CountFallFromNow();

  void Geometry();
  void RebuildBackground();
  void ComputeBytesPerUpdate();
  void ClearDecay();
  void DrawSpot(TMMDIBCanvas& Canvas, int i, bool Lit) const;
  // Whether spot i is lit in the picture of the state with the marker at PeakSpot.
  bool LitAt(int i, int PeakSpot) const;
  // The picture follows the state: the spots that differ from the canvas
  // (ShowChanges, the level's own pictures), or all of it (Redraw: the
  // geometry, colours or kind changed).
  void ShowChanges();
  void Redraw();
  int ZoneOf(int i) const { return i <= FP1 ? 0 : (i <= FP2 ? 1 : 2); }
  bool Showing() const { return FEnabled && isVisible(); }
  void SetBarColor(int Zone, TColor Value);
  void SetInactiveColor(int Zone, TColor Value);
  void PauseNode();
  void ResumeNode();

  bool FEnabled = true;
  TMMLevelKind FKind = TMMLevelKind::lkHorizontal;
  TMMLevelDirection FDirection = TMMLevelDirection::dirNormal;
  int FSpotSpace = 1;
  int FSpotWidth = 1;
  std::array<TColor, 3> FBarColor{clAqua, clAqua, clRed};
  std::array<TColor, 3> FInactiveColor{clTeal, clTeal, clMaroon};
  bool FInactiveDoted = false;
  bool FActiveDoted = false;
  int FPoint1 = 50, FPoint2 = 85;
  TMMBits FBitLength = TMMBits::b8Bit;
  TMMChannel FChannel = TMMChannel::chBoth;
  TMMMode FMode = TMMMode::mMono;
  int FGain = 0;
  int FSamples = 50;
  int FSensitivy = -35;
  bool FLogAmp = true;
  int FNumPeaks = 1;
  int FPeakDelay = 20;
  std::atomic<int> FPeakSpeed{0};
  TMMDecayMode FDecayMode = TMMDecayMode::dmNone;
  int FDecay = 1;
  int FDCOffsetL = 0, FDCOffsetR = 0;
  TMMLevelDrawBar FOnDrawBar;

  int FBytesPerUpdate = 50;
  int FNumSpots = 1, FFirstSpace = 0, FP1 = 0, FP2 = 0;
  int FCurrent = 0;
  int FLastPeak = 0;
  std::atomic<std::uint64_t> FPeakState{0};
  std::atomic<bool> FRedrawPending{false};
  QTimer* FMarkerTimer = nullptr;  // owned by the widget; runs while a marker is up
  // Where the fall's count stands, in ms of the steady clock: the tick
  // thread's, set by whoever wakes the node.
  std::atomic<std::int64_t> FFallCounted{0};
  // Decay state.
  float FK = 0.0001f;
  int FRingLength = 1;
  std::array<int, 32> FRing{};
  int FRingPos = 0, FFilled = 0;
  std::int64_t FSum = 0;
  float FY = 0;

  // What the canvas shows: each spot lit or not (index 1..NumSpots), valid
  // after a whole picture of a bar drawn from the two pictures below; and the
  // spots the screen was told to take anew since the canvas was last drawn.
  std::vector<char> FDrawn;
  bool FDrawnValid = false;
  int FAskedFirst = 0, FAskedLast = 0;

  TMMDIBCanvas FBackground;
  // The picture with every spot lit: a frame is the background with a run of
  // spots copied from here, instead of each lit spot drawn anew.
  TMMDIBCanvas FLit;
  PTickClient FNode = nullptr;
  int FNodePauses = 0;  // pauses this level asked for and has not taken back
};

// The component placed on forms.
class TMMLevel : public TMMCustomLevel {
 public:
  using TMMCustomLevel::TMMCustomLevel;
};

}  // namespace velmar

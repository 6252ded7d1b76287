#include "controls/level.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>

#include <QTimer>

#include "stream/arith.h"
#include "stream/errors.h"
#include "stream/pcm_samples.h"
#include "stream/wave_format.h"

namespace velmar {

namespace {

constexpr int kFullScale = 32767;
constexpr int kFallTicksPerRun = 4;

}  // namespace

TMMCustomLevel::TMMCustomLevel(QWidget* Parent) : TMMDIBGraphicControl(Parent) {
  SetColor(clBlack);
  resize(200, 17);
  ComputeBytesPerUpdate();
  Geometry();
  // The fall goes in ticks of 25 ms, taken four at a time: the marker moves
  // as designed, and the tick service wakes ten times a second for it, not
  // forty (a picture of the bars comes at most every 46 ms anyway). A run
  // that comes late (a busy machine) takes the ticks that passed, so the
  // marker holds its second of wall time.
  // While a marker is up, its fall is drawn within a run of the fall, not
  // with the next data: a quiet input after a click brings no data that
  // changes the bar, and the marker would linger. Idle without a marker.
  FMarkerTimer = new QTimer(this);
  FMarkerTimer->setInterval(kFallTicksPerRun * kTickPeriodMs);
  QObject::connect(FMarkerTimer, &QTimer::timeout, this, [this] {
    // The fall's flag is raised just after the marker's word changes: a
    // marker seen gone is drawn gone now, whatever the flag said.
    const bool Gone = Peak() <= 0;
    if ((FRedrawPending.exchange(false) || Gone) && Showing()) ShowChanges();
    if (Gone) FMarkerTimer->stop();
  });
  CountFallFromNow();
  FNode = AddTickClient(
      kFallTicksPerRun * kTickPeriodMs, false,
      [](PTickClient, void* User) { static_cast<TMMCustomLevel*>(User)->FallSinceLastRun(); },
      this);
}

TMMCustomLevel::~TMMCustomLevel() {
  // Waits for a running tick: nothing of the level is used afterwards.
  RemoveTickClient(FNode);
}

std::uint64_t TMMCustomLevel::Pack(int Peak, int Hold) {
  return static_cast<std::uint32_t>(Peak) |
         static_cast<std::uint64_t>(static_cast<std::uint32_t>(Hold)) << 32;
}

int TMMCustomLevel::Peak() const {
  return PeakOf(FPeakState.load());
}

void TMMCustomLevel::ZeroHold() {
  std::uint64_t Old = FPeakState.load();
  while (!FPeakState.compare_exchange_weak(Old, Pack(PeakOf(Old), 0) | (Old & kAsleep))) {
  }
}

void TMMCustomLevel::ClearPeak() {
  FPeakState.fetch_and(kAsleep);
}

namespace {

std::int64_t SteadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

void TMMCustomLevel::CountFallFromNow() {
  FFallCounted = SteadyMs();
}

void TMMCustomLevel::FallSinceLastRun() {
  const std::int64_t Now = SteadyMs(), Counted = FFallCounted;
  const std::int64_t Ticks = std::max<std::int64_t>(0, Now - Counted) / kTickPeriodMs;
  // The part of a tick not yet passed counts with the next run.
  FFallCounted = Counted + Ticks * kTickPeriodMs;
  for (std::int64_t i = 0; i < Ticks && PeakFall(); ++i) {
  }
}

void TMMCustomLevel::PauseNode() {
  if (!FNode) return;
  PauseTickClient(FNode);
  ++FNodePauses;
}

void TMMCustomLevel::ResumeNode() {
  if (!FNode || FNodePauses == 0) return;
  CountFallFromNow();
  ResumeTickClient(FNode);
  --FNodePauses;
}

// ---------------------------------------------------------------------------
// Data

void TMMCustomLevel::ComputeBytesPerUpdate() {
  FBytesPerUpdate = (static_cast<int>(FBitLength) + 1) * (static_cast<int>(FMode) + 1) * FSamples;
}

void TMMCustomLevel::SetPCMWaveFormat(const WAVEFORMATEX* Format) {
  if (!IsValidPCMFormat(Format)) throw EMMLevelError("Invalid WaveFormat");
  FBitLength = BitsFromFormat(*Format);
  FMode = Format->nChannels == 2 ? TMMMode::mStereo : TMMMode::mMono;
  ComputeBytesPerUpdate();
}

void TMMCustomLevel::RefreshPCMData(const void* Data) {
  if (!Showing() || !Data) return;
  const bool Stereo = FMode == TMMMode::mStereo;
  const int Frames = FSamples;
  const int OffL = FDCOffsetL, OffR = FDCOffsetR;
  int A = 0;
  // One value per frame: the chosen channel with its offset, or the average of
  // both; 8-bit values become 16-bit amplitudes around 128, 24-bit ones are
  // taken at the 16-bit scale (the bar and its full scale are the same).
  auto Measure = [&](auto Sample, bool EightBit) {
    for (int f = 0; f < Frames; ++f) {
      int v;
      if (!Stereo) {
        v = Sample(f) - OffL;
      } else if (FChannel == TMMChannel::chLeft) {
        v = Sample(2 * f) - OffL;
      } else if (FChannel == TMMChannel::chRight) {
        v = Sample(2 * f + 1) - OffR;
      } else {
        v = (Sample(2 * f) - OffL + Sample(2 * f + 1) - OffR) / 2;
      }
      if (EightBit) v = (v - 128) * 256;
      A = std::max(A, std::abs(v));
    }
  };
  if (FBitLength == TMMBits::b16Bit) {
    const auto* p = static_cast<const std::uint8_t*>(Data);
    Measure(
        [p](int i) {
          std::int16_t s;
          std::memcpy(&s, p + 2 * i, 2);
          return static_cast<int>(s);
        },
        false);
  } else if (FBitLength == TMMBits::b24Bit) {
    const auto* p = static_cast<const std::uint8_t*>(Data);
    Measure([p](int i) { return PcmSample(p + 3 * i, 3) >> 8; }, false);
  } else {
    const auto* p = static_cast<const std::uint8_t*>(Data);
    Measure([p](int i) { return static_cast<int>(p[i]); }, true);
  }
  if (A >= kFullScale) PcmOverflow();
  ProcessLevel(A);
}

void TMMCustomLevel::ClearDecay() {
  FRing.fill(0);
  FRingPos = FFilled = 0;
  FSum = 0;
  FY = 0;
}

void TMMCustomLevel::ProcessLevel(int Amplitude) {
  std::int64_t b = std::abs(static_cast<std::int64_t>(Amplitude));
  FLastPeak = static_cast<int>(b);
  if (b == 0 && FCurrent == 0 && !FRedrawPending) return;

  if (FDecayMode != TMMDecayMode::dmNone) {
    FRingPos = (FRingPos + 1) % FRingLength;
    FFilled = std::min(FFilled + 1, FRingLength);
    switch (FDecayMode) {
      case TMMDecayMode::dmStepUp:
        FY = FY * FK;
        if (static_cast<float>(b) > FY)
          FY = static_cast<float>(b);
        else
          b = static_cast<std::int64_t>(FY);
        break;
      case TMMDecayMode::dmExponential:
        FY = static_cast<float>(static_cast<double>(FY) * FK + (1.0 - FK) * static_cast<double>(b));
        b = static_cast<std::int64_t>(std::floor(FY));
        break;
      case TMMDecayMode::dmUniform:
        FSum += b - FRing[static_cast<std::size_t>(FRingPos)];
        FRing[static_cast<std::size_t>(FRingPos)] = static_cast<int>(b);
        b = FSum / FFilled;
        break;
      case TMMDecayMode::dmNone:
        break;
    }
  }

  const std::int64_t d = b * (FGain + 8) / 8;
  std::int64_t Level;
  if (FLogAmp) {
    const auto dB = static_cast<float>(
        20.0 * std::log10(std::max(static_cast<double>(d) / kFullScale, 0.000001)));
    Level = Round((static_cast<long double>(dB) - FSensitivy) * FNumSpots / -FSensitivy);
  } else {
    const auto f0 = static_cast<float>(kFullScale / std::pow(10.0, -FSensitivy / 20.0));
    Level = Round((static_cast<long double>(d) - f0) * FNumSpots / (kFullScale - f0));
  }
  Level = std::max<std::int64_t>(Level, 0);
  if (FDirection == TMMLevelDirection::dirSymetric) Level /= 2;
  if (Level > FNumSpots) {
    GainOverflow();
    Level = FNumSpots;
  }
  const int NewLevel = static_cast<int>(Level);

  if (NewLevel > 0 && FNumPeaks > 0) {
    std::uint64_t Old = FPeakState.load();
    while (NewLevel >= PeakOf(Old)) {
      if (FPeakState.compare_exchange_weak(Old, Pack(NewLevel, 2 * FPeakDelay + 1))) {
        if (Old & kAsleep) {
          CountFallFromNow();
          ResumeTickClient(FNode);
        }
        FRedrawPending = true;
        if (!FMarkerTimer->isActive()) FMarkerTimer->start();
        break;
      }
    }
  }
  if (NewLevel == FCurrent && !FRedrawPending) return;
  FRedrawPending = false;
  FCurrent = NewLevel;
  if (Showing()) ShowChanges();
}

bool TMMCustomLevel::PeakFall() {
  std::uint64_t Old = FPeakState.load();
  for (;;) {
    int Peak = PeakOf(Old), Hold = HoldOf(Old);
    if (Peak <= 0) {
      if (Old & kAsleep) return false;
      // Paused before the word says so: whoever sees the word asleep resumes
      // a node that is paused already.
      PauseTickClient(FNode);
      if (FPeakState.compare_exchange_weak(Old, Old | kAsleep)) return false;
      ResumeTickClient(FNode);
      continue;
    }
    bool Fell = false;
    if (--Hold <= 0) {
      Fell = true;
      if (const int Speed = FPeakSpeed; Speed != 0) {
        --Peak;
        Hold = Speed;
      } else {
        Peak = Hold = 0;
      }
    }
    if (FPeakState.compare_exchange_weak(Old, Pack(Peak, Hold))) {
      if (Fell) FRedrawPending = true;
      return true;
    }
  }
}

void TMMCustomLevel::ResetData() {
  ClearPeak();
  FCurrent = 0;
  FLastPeak = 0;
  ClearDecay();
  Redraw();
}

int TMMCustomLevel::Value() const {
  if (FCurrent == 0) return 0;
  if (!FLogAmp) return static_cast<int>(Round(FCurrent * 100.0L / FNumSpots));
  const long double dB = FSensitivy - static_cast<long double>(FSensitivy) * FCurrent / FNumSpots;
  return static_cast<int>(Round(std::pow(10.0L, dB / 20) * 8 / (FGain + 8) * 100));
}

void TMMCustomLevel::SetValue(int Value) {
  ProcessLevel(static_cast<int>(Round(std::clamp(Value, 0, 100) * 32767.0L / 100)));
}

void TMMCustomLevel::GainOverflow() {
  if (OnGainOverflow) OnGainOverflow(this);
}

void TMMCustomLevel::PcmOverflow() {
  if (OnPcmOverflow) OnPcmOverflow(this);
}

// ---------------------------------------------------------------------------
// Geometry and drawing

void TMMCustomLevel::Geometry() {
  const QRect Inner = InnerRect();
  const int w = std::max(Inner.width(), 1), h = std::max(Inner.height(), 1);
  Canvas().SetSize(w, h);
  FBackground.SetSize(w, h);
  FLit.SetSize(w, h);
  FSpotWidth = std::max(FSpotWidth, 1);
  const int L = FKind == TMMLevelKind::lkHorizontal ? w : h;
  const int Step = FSpotWidth + FSpotSpace;
  FNumSpots = std::max((L + FSpotSpace) / Step, 1);
  FFirstSpace = (L - (Step * FNumSpots - FSpotSpace)) / 2;
  FP1 = FPoint1 * FNumSpots / 100;
  FP2 = FPoint2 * FNumSpots / 100;
  RebuildBackground();
  ClearPeak();
  FCurrent = 0;
  // The picture follows the new geometry: a resized canvas starts black, and a
  // bar at rest would show it so until data came.
  Redraw();
}

QRect TMMCustomLevel::SpotRect(int i) const {
  const int w = Canvas().Width(), h = Canvas().Height();
  const int Shift = (i - 1) * (FSpotWidth + FSpotSpace);
  const bool Normal = FDirection == TMMLevelDirection::dirNormal;
  if (FKind == TMMLevelKind::lkHorizontal) {
    const int x = Normal ? FFirstSpace + Shift : w - FFirstSpace - Shift - FSpotWidth;
    return QRect(x, 0, FSpotWidth, h);
  }
  const int y = Normal ? h - FFirstSpace - Shift - FSpotWidth : FFirstSpace + Shift;
  return QRect(0, y, w, FSpotWidth);
}

void TMMCustomLevel::DrawSpot(TMMDIBCanvas& Target, int i, bool Lit) const {
  const int Zone = ZoneOf(i);
  const QRect R = SpotRect(i);
  const TColor Color = Lit ? FBarColor[static_cast<std::size_t>(Zone)]
                           : FInactiveColor[static_cast<std::size_t>(Zone)];
  if (Lit ? FActiveDoted : FInactiveDoted)
    Target.DotRect(R, Color);
  else
    Target.FillRect(R, Color);
}

void TMMCustomLevel::RebuildBackground() {
  if (FOnDrawBar) return;
  FBackground.FillRect(QRect(0, 0, FBackground.Width(), FBackground.Height()), Color());
  for (int i = 1; i <= FNumSpots; ++i) DrawSpot(FBackground, i, false);
  // Lit spots lie over the unlit ones, as a doted spot shows.
  FLit.CopyFrom(FBackground);
  for (int i = 1; i <= FNumSpots; ++i) DrawSpot(FLit, i, true);
}

bool TMMCustomLevel::LitAt(int i, int PeakSpot) const {
  return i <= FCurrent ||
         (FNumPeaks > 0 && PeakSpot > FCurrent && i > PeakSpot - FNumPeaks && i <= PeakSpot);
}

void TMMCustomLevel::Redraw() {
  FDrawnValid = false;
  DrawNow();
}

void TMMCustomLevel::ShowChanges() {
  if (!FDrawnValid) {
    DrawNow();
    return;
  }
  const int PeakSpot = Peak();
  int First = 0, Last = 0;
  for (int i = 1; i <= FNumSpots; ++i)
    if (LitAt(i, PeakSpot) != static_cast<bool>(FDrawn[static_cast<std::size_t>(i)])) {
      if (First == 0) First = i;
      Last = i;
    }
  if (First == 0) return;
  FAskedFirst = FAskedFirst == 0 ? First : std::min(FAskedFirst, First);
  FAskedLast = std::max(FAskedLast, Last);
  DrawNow(SpotRect(First).united(SpotRect(Last)));
}

void TMMCustomLevel::DrawCanvas() {
  if (OnPaint) OnPaint(this);
  TMMDIBCanvas& Target = Canvas();
  // A bar drawn by the user, a disabled or symmetric one: the whole picture.
  const bool Spots = !FOnDrawBar && FEnabled && FDirection != TMMLevelDirection::dirSymetric;
  if (!Spots) FDrawnValid = false;
  if (FOnDrawBar) {
    FOnDrawBar(this, Target, QRect(0, 0, Target.Width(), Target.Height()), FCurrent, Peak());
    return;
  }
  const bool Incremental =
      Spots && FDrawnValid && FDrawn.size() == static_cast<std::size_t>(FNumSpots) + 1;
  if (!Incremental) {
    Target.CopyFrom(FBackground);
    FDrawn.assign(static_cast<std::size_t>(FNumSpots) + 1, 0);
    FDrawnValid = Spots;
  }
  if (!FEnabled) return;
  if (FDirection == TMMLevelDirection::dirSymetric) {
    // A block of five spots around the level, in the colour of its centre.
    const int Centre = std::max(1, std::min(FCurrent, FNumSpots));
    const std::size_t Zone = static_cast<std::size_t>(ZoneOf(Centre));
    for (int i = std::max(1, Centre - 2); i <= std::min(FNumSpots, Centre + 2); ++i) {
      if (FActiveDoted)
        Target.DotRect(SpotRect(i), FBarColor[Zone]);
      else
        Target.FillRect(SpotRect(i), FBarColor[Zone]);
    }
    return;
  }
  // The spots that differ from what the canvas shows, in runs, from the lit
  // or the unlit picture. The marker may have fallen since the screen was
  // told which spots change: a spot beyond those is told now.
  const int PeakSpot = Peak();
  const int AskedFirst = Incremental ? FAskedFirst : 1,
            AskedLast = Incremental ? FAskedLast : FNumSpots;
  FAskedFirst = FAskedLast = 0;
  for (int i = 1; i <= FNumSpots;) {
    const bool Lit = LitAt(i, PeakSpot);
    if (Lit == static_cast<bool>(FDrawn[static_cast<std::size_t>(i)])) {
      ++i;
      continue;
    }
    int Last = i;
    while (Last < FNumSpots && LitAt(Last + 1, PeakSpot) == Lit &&
           Lit != static_cast<bool>(FDrawn[static_cast<std::size_t>(Last) + 1]))
      ++Last;
    const QRect Run = SpotRect(i).united(SpotRect(Last));
    Target.CopyRect(Lit ? FLit : FBackground, Run);
    std::fill(FDrawn.begin() + i, FDrawn.begin() + Last + 1, static_cast<char>(Lit));
    if (i < AskedFirst || Last > AskedLast) update(Run.translated(InnerRect().topLeft()));
    i = Last + 1;
  }
}

void TMMCustomLevel::resizeEvent(QResizeEvent* Event) {
  TMMDIBGraphicControl::resizeEvent(Event);
  Geometry();
}

void TMMCustomLevel::BevelChanged() {
  Geometry();
}

void TMMCustomLevel::ColorChanged() {
  RebuildBackground();
  Redraw();
}

// ---------------------------------------------------------------------------
// Properties

void TMMCustomLevel::SetEnabled(bool Value) {
  if (Value == FEnabled) return;
  FEnabled = Value;
  if (!Value) {
    PauseNode();
    ResetData();  // frozen on the unlit picture
  } else {
    ResumeNode();
    Geometry();
  }
}

void TMMCustomLevel::SetKind(TMMLevelKind Value) {
  if (Value == FKind) return;
  FKind = Value;
  const bool Swap = (Value == TMMLevelKind::lkHorizontal && height() > width()) ||
                    (Value == TMMLevelKind::lkVertical && width() > height());
  if (Swap) resize(height(), width());
  Geometry();
}

void TMMCustomLevel::SetDirection(TMMLevelDirection Value) {
  if (Value == FDirection) return;
  FDirection = Value;
  RebuildBackground();
  Redraw();
}

void TMMCustomLevel::SetSpotSpace(int Value) {
  Value = std::clamp(Value, 0, 10);
  if (Value == FSpotSpace) return;
  FSpotSpace = Value;
  Geometry();
}

void TMMCustomLevel::SetSpotWidth(int Value) {
  const QRect Inner = InnerRect();
  const int L = FKind == TMMLevelKind::lkHorizontal ? Inner.width() : Inner.height();
  Value = std::clamp(Value, 1, std::max(1, L / 3));
  if (Value == FSpotWidth) return;
  FSpotWidth = Value;
  Geometry();
}

void TMMCustomLevel::SetBarColor(int Zone, TColor Value) {
  FBarColor[static_cast<std::size_t>(Zone)] = Value;
  RebuildBackground();
  Redraw();
}

void TMMCustomLevel::SetInactiveColor(int Zone, TColor Value) {
  FInactiveColor[static_cast<std::size_t>(Zone)] = Value;
  RebuildBackground();
  Redraw();
}

void TMMCustomLevel::SetInactiveDoted(bool Value) {
  FInactiveDoted = Value;
  RebuildBackground();
  Redraw();
}

void TMMCustomLevel::SetActiveDoted(bool Value) {
  FActiveDoted = Value;
  RebuildBackground();
  Redraw();
}

void TMMCustomLevel::SetPoint1(int Value) {
  FPoint1 = std::clamp(Value, 1, 100);
  Geometry();
}

void TMMCustomLevel::SetPoint2(int Value) {
  FPoint2 = std::clamp(Value, 1, 100);
  Geometry();
}

void TMMCustomLevel::SetBitLength(TMMBits Value) {
  FBitLength = Value;
  ComputeBytesPerUpdate();
  update();
}

void TMMCustomLevel::SetChannel(TMMChannel Value) {
  FChannel = Value;
  update();
}

void TMMCustomLevel::SetMode(TMMMode Value) {
  FMode = Value;
  ComputeBytesPerUpdate();
  update();
}

void TMMCustomLevel::SetGain(int Value) {
  if (Value < -8 || Value > 32) return;  // ignored, as designed
  FGain = Value;
  update();
}

void TMMCustomLevel::SetSamples(int Value) {
  FSamples = std::max(Value, 1);
  ComputeBytesPerUpdate();
}

void TMMCustomLevel::SetSensitivy(int Value) {
  FSensitivy = std::clamp(Value, -90, -9);
}

void TMMCustomLevel::SetLogAmp(bool Value) {
  FLogAmp = Value;
  update();
}

void TMMCustomLevel::SetNumPeaks(int Value) {
  Value = std::clamp(Value, 0, 5);
  if (Value == FNumPeaks) return;
  const int Old = FNumPeaks;
  FNumPeaks = Value;
  if (Value == 0)
    PauseNode();
  else if (Old == 0 && FEnabled)
    ResumeNode();
  ZeroHold();
  update();
}

void TMMCustomLevel::SetPeakDelay(int Value) {
  FPeakDelay = std::clamp(Value, 0, 50);
  ZeroHold();
  update();
}

void TMMCustomLevel::SetPeakSpeed(int Value) {
  FPeakSpeed = std::clamp(Value, 0, 50);
  ZeroHold();
  update();
}

void TMMCustomLevel::SetDecayMode(TMMDecayMode Value) {
  FDecayMode = Value;
  ClearDecay();
}

void TMMCustomLevel::SetDecay(int Value) {
  Value = std::clamp(Value, 1, 16);
  if (Value == FDecay) return;
  FDecay = Value;
  float k = 0.0001f;
  for (int i = 0; i < Value; ++i) k = std::sqrt(k);
  FK = k;
  FRingLength = std::clamp(2 * Value - 2, 1, 32);
  if (FDecayMode == TMMDecayMode::dmUniform) ClearDecay();
}

void TMMCustomLevel::SetOnDrawBar(TMMLevelDrawBar Value) {
  const bool Cleared = FOnDrawBar && !Value;
  FOnDrawBar = std::move(Value);
  if (Cleared) RebuildBackground();
  Redraw();
}

void TMMCustomLevel::SetBitsPerPixel(int Value) {
  TMMDIBGraphicControl::SetBitsPerPixel(Value);
  FBackground.SetBitsPerPixel(Value);
  FLit.SetBitsPerPixel(Value);
  RebuildBackground();
  Redraw();
}

}  // namespace velmar

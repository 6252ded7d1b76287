// Control bases and the level bar on Qt's offscreen platform: geometry, the
// scale's worked values, measuring, the pixels drawn and the peak marker.
#include "controls/level.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QScreen>
#include <chrono>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include "platform/application.h"
#include "stream/errors.h"
#include "stream/tick_service.h"
#include "stream/wave_format.h"
#include "tests/support/wait_until.h"

namespace velmar {
namespace {

using test::WaitUntil;

// A level bar as the recorder's main window has it: 280 x 9, one-pixel lowered
// outer bevel, 16-bit stereo, lime bars.
struct RecorderBar {
  QWidget Window;
  TMMLevel Level{&Window};
  explicit RecorderBar(TMMChannel Channel = TMMChannel::chLeft) {
    Level.setGeometry(9, 8, 280, 9);
    Level.SetChannel(Channel);
    Level.SetBitLength(TMMBits::b16Bit);
    Level.SetMode(TMMMode::mStereo);
    Level.SetBar1Color(clLime);
    Level.SetBar2Color(clLime);
    Window.resize(300, 40);
    Window.show();
  }
  QRgb Pixel(int Spot) const {
    const QRect R = Level.SpotRect(Spot);
    return Level.Canvas().Image().pixel(R.left(), R.top());
  }
};

std::vector<std::uint8_t> Stereo16(int Frames, std::int16_t Left, std::int16_t Right) {
  std::vector<std::uint8_t> b(static_cast<std::size_t>(Frames) * 4);
  for (int f = 0; f < Frames; ++f) {
    std::memcpy(&b[static_cast<std::size_t>(f) * 4], &Left, 2);
    std::memcpy(&b[static_cast<std::size_t>(f) * 4 + 2], &Right, 2);
  }
  return b;
}

TEST(Bevel, WidthsAndTheRingsItPaints) {
  TMMBevel b;
  EXPECT_EQ(b.BevelExtend(), 1);  // only the lowered outer bevel
  int Changes = 0;
  b.OnChange = [&](TObject*) { ++Changes; };
  b.SetBorderStyle(TBorderStyle::bsSingle);
  b.SetBorderWidth(2);
  b.SetBevelInner(TBevelCut::bvLowered);
  b.SetBorderSpace(1);
  b.SetBorderSpace(1);  // unchanged: no call
  EXPECT_EQ(b.BevelExtend(), 6);
  EXPECT_EQ(Changes, 4);
  TMMBevel Copy;
  Changes = 0;
  Copy.OnChange = [&](TObject*) { ++Changes; };
  Copy.Assign(b);
  EXPECT_EQ(Changes, 1);  // one bracket
  EXPECT_EQ(Copy.BevelExtend(), 6);

  // Painted from the outside in: the single border, then the lowered bevel
  // (shadow top-left, light bottom-right), the border band, the inner bevel and
  // the border space.
  QImage Image(20, 20, QImage::Format_RGB32);
  Image.fill(Qt::magenta);
  QPainter p(&Image);
  const QRect Left = b.PaintBevel(p, Image.rect(), true);
  p.end();
  EXPECT_EQ(Left, QRect(6, 6, 8, 8));
  EXPECT_EQ(Image.pixel(0, 0), qRgb(0, 0, 0));         // window frame
  EXPECT_EQ(Image.pixel(1, 5), qRgb(128, 128, 128));   // outer shadow, left edge
  EXPECT_EQ(Image.pixel(18, 5), qRgb(255, 255, 255));  // outer light, right edge
  EXPECT_EQ(Image.pixel(2, 9), qRgb(192, 192, 192));   // border band (button face)
  EXPECT_EQ(Image.pixel(5, 9), qRgb(0, 0, 0));         // border space
  EXPECT_EQ(Image.pixel(6, 6), qRgb(255, 0, 255));     // inside: untouched

  // A space as the outer bevel takes its width unpainted: what is left inside
  // is what BevelExtend says, so the picture is not shifted.
  TMMBevel Spaced;
  Spaced.SetBevelOuter(TBevelCut::bvSpace);
  Spaced.SetBevelOuterWidth(3);
  Image.fill(Qt::magenta);
  QPainter q(&Image);
  const QRect Inside = Spaced.PaintBevel(q, Image.rect(), true);
  q.end();
  EXPECT_EQ(Spaced.BevelExtend(), 3);
  EXPECT_EQ(Inside, Image.rect().adjusted(3, 3, -3, -3));
  EXPECT_EQ(Image.pixel(1, 1), qRgb(255, 0, 255));  // nothing painted in the space
}

TEST(Level, GeometryOfTheRecorderBarsAndOthers) {
  RecorderBar Bar;
  TMMLevel& l = Bar.Level;
  EXPECT_EQ(l.InnerRect(), QRect(1, 1, 278, 7));
  EXPECT_EQ(l.NumSpots(), 139);
  EXPECT_EQ(l.FirstSpace(), 0);
  EXPECT_EQ(l.Zone1Spots(), 69);
  EXPECT_EQ(l.Zone2Spots(), 118);
  EXPECT_EQ(l.BytesPerUpdate(), 200);
  l.SetSpotWidth(3);
  EXPECT_EQ(l.NumSpots(), 69);
  EXPECT_EQ(l.FirstSpace(), 1);
  l.SetSpotWidth(1);
  // Clamping and ignoring, as designed.
  l.SetGain(33);
  l.SetGain(-9);
  EXPECT_EQ(l.Gain(), 0);
  l.SetSensitivy(-100);
  EXPECT_EQ(l.Sensitivy(), -90);
  l.SetSensitivy(-35);
  l.SetSpotSpace(20);
  EXPECT_EQ(l.SpotSpace(), 10);
  l.SetSpotSpace(1);
  l.SetPoint1(0);
  EXPECT_EQ(l.Point1(), 1);
  l.SetPoint1(50);
  // The decay factors, single precision, and the ring length.
  l.SetDecay(4);
  EXPECT_NEAR(l.DecayFactor(), 0.562341f, 1e-6);
  l.SetDecay(16);
  EXPECT_NEAR(l.DecayFactor(), 0.999859f, 1e-6);
  // A vertical bar turns the control.
  l.SetKind(TMMLevelKind::lkVertical);
  EXPECT_EQ(l.width(), 9);
  EXPECT_EQ(l.height(), 280);
  EXPECT_EQ(l.NumSpots(), 139);
  // Not a PCM the meter reads: refused, nothing changes.
  WAVEFORMATEX Bad{};
  BuildPCMFormat(&Bad, 32, 2, 44100);
  EXPECT_THROW(l.SetPCMWaveFormat(&Bad), EMMLevelError);
  EXPECT_EQ(l.BitLength(), TMMBits::b16Bit);
  EXPECT_THROW(l.SetBitsPerPixel(16), EMMDIBError);
}

TEST(Level, TheScaleGivesTheWorkedValues) {
  for (const auto& [Amplitude, Spots] : std::vector<std::pair<int, int>>{
           {32767, 139}, {16384, 115}, {3277, 60}, {1000, 19}, {578, 0}}) {
    RecorderBar Bar;
    Bar.Level.ProcessLevel(Amplitude);
    EXPECT_EQ(Bar.Level.CurrentLevel(), Spots) << Amplitude;
  }
  RecorderBar Bar;
  Bar.Level.SetValue(50);
  EXPECT_EQ(Bar.Level.CurrentLevel(), 115);
  EXPECT_EQ(Bar.Level.Value(), 50);
  Bar.Level.SetLogAmp(false);
  Bar.Level.SetValue(100);
  EXPECT_EQ(Bar.Level.CurrentLevel(), 139);
  EXPECT_EQ(Bar.Level.Value(), 100);
}

TEST(Level, MeasuringChannelsOffsetsAndOverflows) {
  RecorderBar Both(TMMChannel::chBoth);
  int Pcm = 0, Gain = 0;
  Both.Level.OnPcmOverflow = [&](TObject*) { ++Pcm; };
  Both.Level.OnGainOverflow = [&](TObject*) { ++Gain; };
  // Opposite phase on both channels reads 0.
  Both.Level.RefreshPCMData(Stereo16(50, 20000, -20000).data());
  EXPECT_EQ(Both.Level.LastPeak(), 0);
  // -32768 is a full-scale overflow, and a full bar without a gain overflow.
  Both.Level.RefreshPCMData(Stereo16(50, -32768, -32768).data());
  EXPECT_EQ(Both.Level.LastPeak(), 32768);
  EXPECT_EQ(Both.Level.CurrentLevel(), 139);
  EXPECT_EQ(Pcm, 1);
  EXPECT_EQ(Gain, 0);
  // Factor 2 overflows the bar once the doubled amplitude rounds above the last
  // spot (from 16622 on; 16384 doubled still rounds to 139).
  Both.Level.SetGain(8);
  Both.Level.ProcessLevel(16384);
  EXPECT_EQ(Gain, 0);
  Both.Level.ProcessLevel(20000);
  EXPECT_EQ(Gain, 1);
  EXPECT_EQ(Both.Level.CurrentLevel(), 139);

  RecorderBar Right(TMMChannel::chRight);
  Right.Level.SetDCOffsetR(100);
  Right.Level.RefreshPCMData(Stereo16(50, 30000, -1000).data());
  EXPECT_EQ(Right.Level.LastPeak(), 1100);

  // 24-bit stereo reads at the 16-bit scale: the same bar as its 16-bit twin,
  // and the full scale's negative end overflows.
  RecorderBar Wide(TMMChannel::chLeft);
  WAVEFORMATEX Hires{};
  BuildPCMFormat(&Hires, 24, 2, 96000);
  Wide.Level.SetPCMWaveFormat(&Hires);
  EXPECT_EQ(Wide.Level.BytesPerUpdate(), Wide.Level.Samples() * 6);
  int WidePcm = 0;
  Wide.Level.OnPcmOverflow = [&](TObject*) { ++WidePcm; };
  auto Stereo24 = [&](std::int32_t L, std::int32_t R) {
    std::vector<std::uint8_t> b;
    for (int f = 0; f < Wide.Level.Samples(); ++f)
      for (const std::int32_t v : {L, R})
        for (int i = 0; i < 3; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    return b;
  };
  Wide.Level.RefreshPCMData(Stereo24(12345 * 256 + 200, 5).data());
  EXPECT_EQ(Wide.Level.LastPeak(), 12345);
  EXPECT_EQ(WidePcm, 0);
  Wide.Level.RefreshPCMData(Stereo24(-8388608, 0).data());
  EXPECT_EQ(Wide.Level.LastPeak(), 32768);
  EXPECT_EQ(WidePcm, 1);

  // 8-bit mono: 128 is silence, 255 the largest positive value.
  RecorderBar Eight;
  WAVEFORMATEX Phone{};
  BuildPCMFormat(&Phone, 8, 1, 8000);
  Eight.Level.SetPCMWaveFormat(&Phone);
  EXPECT_EQ(Eight.Level.BytesPerUpdate(), 50);
  const std::vector<std::uint8_t> Silence(50, 128), Loud(50, 255);
  Eight.Level.RefreshPCMData(Silence.data());
  EXPECT_EQ(Eight.Level.LastPeak(), 0);
  Eight.Level.RefreshPCMData(Loud.data());
  EXPECT_EQ(Eight.Level.LastPeak(), 32512);
}

// The pixels of a bar at 60 spots, then falling to 10 with the peak marker held
// at 60: lit spots in their zone colours, unlit ones in theirs.
TEST(Level, DrawsLitUnlitAndPeakSpotsInTheirZoneColours) {
  RecorderBar Bar;
  const QRgb Lime = qRgb(0, 255, 0), Teal = qRgb(0, 128, 128), Maroon = qRgb(128, 0, 0);
  const QRgb Red = qRgb(255, 0, 0);
  // At rest, before any data, the screen shows the unlit spots.
  QApplication::processEvents();
  const QImage Rest = Bar.Level.grab().toImage();
  EXPECT_EQ(Rest.pixel(1, 1), Teal);      // spot 1, inside the bevel
  EXPECT_EQ(Rest.pixel(277, 1), Maroon);  // spot 139
  Bar.Level.ProcessLevel(3277);
  ASSERT_EQ(Bar.Level.CurrentLevel(), 60);
  EXPECT_EQ(Bar.Pixel(1), Lime);
  EXPECT_EQ(Bar.Pixel(60), Lime);
  EXPECT_EQ(Bar.Pixel(61), Teal);
  EXPECT_EQ(Bar.Pixel(139), Maroon);
  // Between spots: the background colour.
  EXPECT_EQ(Bar.Level.Canvas().Image().pixel(Bar.Level.SpotRect(1).right() + 1, 0), qRgb(0, 0, 0));
  Bar.Level.ProcessLevel(1000);
  ASSERT_EQ(Bar.Level.CurrentLevel(), 19);
  EXPECT_EQ(Bar.Level.Peak(), 60);
  EXPECT_EQ(Bar.Pixel(19), Lime);
  EXPECT_EQ(Bar.Pixel(20), Teal);
  EXPECT_EQ(Bar.Pixel(60), Lime);  // the peak marker
  EXPECT_EQ(Bar.Pixel(59), Teal);
  // A full bar lights zone 3 in Bar3Color.
  Bar.Level.ProcessLevel(32767);
  EXPECT_EQ(Bar.Pixel(139), Red);
  // Reversed, spot 1 stands at the right end and the lit run grows leftwards.
  Bar.Level.SetDirection(TMMLevelDirection::dirReversed);
  Bar.Level.ProcessLevel(3277);
  EXPECT_GT(Bar.Level.SpotRect(1).left(), Bar.Level.SpotRect(60).left());
  EXPECT_EQ(Bar.Pixel(1), Lime);
  EXPECT_EQ(Bar.Pixel(60), Lime);
  EXPECT_EQ(Bar.Pixel(61), Teal);
  // Doted lit spots show their unlit colour between the dots.
  Bar.Level.SetActiveDoted(true);
  const QRect Spot = Bar.Level.SpotRect(10);
  EXPECT_EQ(Bar.Level.Canvas().Image().pixel(Spot.left(), Spot.top()), Lime);
  EXPECT_EQ(Bar.Level.Canvas().Image().pixel(Spot.left(), Spot.top() + 1), Teal);
  Bar.Level.SetActiveDoted(false);
  Bar.Level.SetDirection(TMMLevelDirection::dirNormal);
  // Disabled: the unlit picture at once.
  Bar.Level.SetEnabled(false);
  EXPECT_EQ(Bar.Pixel(1), Teal);
  // The widget shows the canvas inside its bevel.
  Bar.Level.SetEnabled(true);
  Bar.Level.ProcessLevel(32767);
  QApplication::processEvents();
  const QImage Shot = Bar.Level.grab().toImage();
  EXPECT_EQ(Shot.pixel(0, 0), qRgb(128, 128, 128));    // shadow of the lowered bevel
  EXPECT_EQ(Shot.pixel(279, 8), qRgb(255, 255, 255));  // its light
  EXPECT_EQ(Shot.pixel(1, 1), Lime);                   // spot 1
}

// A bar drawn in parts (only the spots that changed, and only those sent to
// the screen) looks exactly as the bar drawn whole, after any sequence of
// levels and marker falls: on the canvas, and on the screen the window has.
TEST(Level, ABarDrawnInPartsIsTheBarDrawnWhole) {
  for (const int Peaks : {1, 3}) {
    RecorderBar Bar;
    Bar.Level.SetNumPeaks(Peaks);
    Bar.Level.SetPeakDelay(2);
    Bar.Level.SetActiveDoted(Peaks == 3);
    std::mt19937 Random(46 + static_cast<unsigned>(Peaks));
    const auto Screen = [&] {
      QApplication::processEvents();
      const QPoint At = Bar.Level.mapTo(&Bar.Window, Bar.Level.InnerRect().topLeft());
      return Bar.Window.screen()
          ->grabWindow(Bar.Window.winId())
          .toImage()
          .copy(QRect(At, Bar.Level.InnerRect().size()))
          .convertToFormat(QImage::Format_RGB32);
    };
    for (int Step = 0; Step < 600; ++Step) {
      const auto What = Random() % 10;
      if (What < 6)
        Bar.Level.ProcessLevel(static_cast<int>(Random() % 33000) >> (Random() % 6));
      else if (What < 9)
        Bar.Level.PeakFall();
      else
        QApplication::processEvents();  // a picture in between
      if (Step % 20 != 19) continue;
      const QImage Parts = Bar.Level.Canvas().Image().copy();
      const QImage Shown = Screen();
      Bar.Level.SetBar1Color(clLime);  // the same colour: drawn whole again
      const QImage Whole = Bar.Level.Canvas().Image().copy();
      ASSERT_EQ(Parts, Whole) << "step " << Step << ", " << Peaks << " peak spots";
      ASSERT_EQ(Shown, Whole) << "step " << Step << ", " << Peaks << " peak spots (screen)";
    }
  }
}

// The marker holds 41 ticks of the shared 25 ms service (about a second) after
// the level fell, then vanishes; the tick runs on the timer thread while the
// main thread keeps drawing.
TEST(Level, ThePeakMarkerHoldsThenFallsWhileTheBarIsDrawn) {
  RecorderBar Bar;
  Bar.Level.ProcessLevel(32767);
  Bar.Level.ProcessLevel(0);
  EXPECT_EQ(Bar.Level.CurrentLevel(), 0);
  EXPECT_EQ(Bar.Level.Peak(), 139);
  const auto Start = std::chrono::steady_clock::now();
  ASSERT_TRUE(WaitUntil([&] {
    Bar.Level.DrawNow();  // the drawing path reads the marker meanwhile
    return Bar.Level.Peak() == 0;
  }));
  // Ticks never come closer than 25 ms apart: at least 40 of them passed.
  EXPECT_GE(std::chrono::steady_clock::now() - Start, std::chrono::milliseconds(990));
  Bar.Level.ProcessLevel(0);
  EXPECT_EQ(Bar.Pixel(139), qRgb(128, 0, 0));

  // With no marker the bar's tick sleeps (from the next tick on); a new marker
  // wakes it and falls again.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  Bar.Level.ProcessLevel(16384);
  Bar.Level.ProcessLevel(0);
  ASSERT_GT(Bar.Level.Peak(), 0);
  ASSERT_TRUE(WaitUntil([&] {
    Bar.Level.DrawNow();
    return Bar.Level.Peak() == 0;
  }));

  // The marker's drop is drawn without any further data (a quiet input after
  // a click changes nothing of the bar), about 1 s after the click: 41 ticks.
  Bar.Level.ProcessLevel(32767);
  Bar.Level.ProcessLevel(0);
  ASSERT_NE(Bar.Pixel(139), qRgb(128, 0, 0));
  const auto Click = std::chrono::steady_clock::now();
  ASSERT_TRUE(WaitUntil([&] { return Bar.Pixel(139) == qRgb(128, 0, 0); }))
      << "the marker is still drawn";
  EXPECT_GE(std::chrono::steady_clock::now() - Click, std::chrono::milliseconds(990));

  // Without a marker nothing holds.
  Bar.Level.SetNumPeaks(0);
  Bar.Level.ProcessLevel(32767);
  EXPECT_EQ(Bar.Level.Peak(), 0);
}

// A busy machine makes the shared tick thread late at every wake (here a
// neighbour on the service whose run takes 40 ms): ticks it could not keep
// are skipped, but the marker still holds about a second of wall time.
TEST(Level, ThePeakMarkerHoldsASecondWhenTheTicksComeLate) {
  RecorderBar Bar;
  const PTickClient Slow = AddTickClient(
      kTickPeriodMs, false,
      [](PTickClient, void*) { std::this_thread::sleep_for(std::chrono::milliseconds(40)); },
      nullptr);
  ASSERT_NE(Slow, nullptr);
  for (int Click = 0; Click < 3; ++Click) {
    Bar.Level.ProcessLevel(32767);
    const auto Start = std::chrono::steady_clock::now();
    Bar.Level.ProcessLevel(0);
    ASSERT_TRUE(WaitUntil([&] { return Bar.Level.Peak() == 0; }));
    const auto Held = std::chrono::steady_clock::now() - Start;
    EXPECT_GE(Held, std::chrono::milliseconds(990)) << "click " << Click;
    // A run (100 ms of ticks) and the neighbour's lateness at most, with
    // room for a loaded machine; the skipped ticks alone made it 2 s.
    EXPECT_LT(Held, std::chrono::milliseconds(1600)) << "click " << Click;
  }
  RemoveTickClient(Slow);
}

}  // namespace
}  // namespace velmar

// The main window's test rig: a programme of sounds and quiet to record, and
// the window in a fresh folder with its own settings on virtual devices (a
// capture device that runs on while nobody reads it, a playback device that
// keeps what it played). Shared by the window's tests.
#pragma once

#include <QApplication>
#include <QTimer>
#include <QtTest/QTest>
#include <atomic>
#include <cmath>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/form_audio_graphics.h"
#include "app/form_audio_recorder_main.h"
#include "tests/app/window_seam.h"
#include "app/messages_window.h"
#include "app/form_edit.h"
#include "app/recorder_settings.h"
#include "platform/registry/settings_store.h"
#include "platform/wave/virtual/virtual_devices.h"
#include "session/track_rule.h"
#include "tests/support/logind_bus.h"
#include "tests/support/temp_dir.h"
#include "tests/support/xvfb_server.h"

namespace velmar {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint64_t kBytesPerSecond = 44100 * 4;

// Sound and quiet, section after section, then quiet: 16-bit stereo. The
// quiet is a faint noise (below the default noise gate) that never repeats, so
// that any stretch of the stream tells where in the programme it lies.
struct Programme {
  std::vector<std::pair<double, bool>> Sections;  // seconds, sound
  std::int16_t Sample(std::uint64_t Frame, int Channel) const {
    std::uint64_t h = (Frame * 2 + static_cast<std::uint64_t>(Channel)) * 0x9E3779B97F4A7C15ull;
    h ^= h >> 29;
    const auto Noise = static_cast<std::int16_t>(static_cast<int>(h & 63) - 32);
    double At = 0;
    const double t = static_cast<double>(Frame) / 44100;
    for (const auto& [Seconds, Sound] : Sections) {
      if (t < At + Seconds)
        return static_cast<std::int16_t>(
            Noise + (Sound ? 8000 * std::sin(static_cast<double>(Frame) * 0.0627) : 0));
      At += Seconds;
    }
    return Noise;
  }
  std::uint8_t Byte(std::uint64_t Offset) const {
    const std::int16_t s = Sample(Offset / 4, static_cast<int>(Offset / 2 % 2));
    return static_cast<std::uint8_t>(Offset % 2 == 0 ? s & 0xFF : (s >> 8) & 0xFF);
  }
  // Where in the stream Audio begins (a byte offset), or -1: the first 1024
  // bytes are looked for in the first minute.
  std::int64_t Find(const std::vector<std::uint8_t>& Audio) const {
    for (std::uint64_t At = 0; At < 60 * 44100 * 4; At += 4) {
      std::size_t i = 0;
      while (i < std::min<std::size_t>(Audio.size(), 1024) && Audio[i] == Byte(At + i)) ++i;
      if (i == std::min<std::size_t>(Audio.size(), 1024)) return static_cast<std::int64_t>(At);
    }
    return -1;
  }
};

// The window as it stands, for people to look at (scripts/screenshots).
inline void Photograph(QWidget& Window, const std::string& Name) {
  QApplication::processEvents();  // the layouts that the last changes asked for
  Window.grab().save(QString::fromStdString(test::ScreenshotFolder() + "/" + Name + ".png"));
}

// A window in a fresh folder with its own settings, on virtual devices.
struct WindowRig {
  // The window's recordings take logind's sleep lock on a bus of the test's own.
  test::LogindBus Logind;
  test::TempDir Dir;
  std::string OldCwd = fs::current_path();
  std::shared_ptr<TVirtualBackend> Devices = std::make_shared<TVirtualBackend>();
  std::atomic<std::uint64_t> Played{0};
  std::mutex PlayedLock;
  Bytes PlayedData;  // what the playback device was given, in order
  std::unique_ptr<TFormAudioGraphics> Skin;
  std::unique_ptr<TFormAudioRecorderMain> Window;

  WindowRig() {
    fs::current_path(Dir.Path());
    ::setenv("XDG_CONFIG_HOME", Dir.File("config").c_str(), 1);
    ::setenv("XDG_CACHE_HOME", Dir.File("cache").c_str(), 1);
  }
  ~WindowRig() {
    Window.reset();
    SetWaveBackends({});
    fs::current_path(OldCwd);
  }
  void Write(const char* Name, int Value) {
    WriteRegValue(kSettingsRoot, kSettingsKey, Name, Value);
  }
  int Read(const char* Name) { return ReadRegValue(kSettingsRoot, kSettingsKey, Name, -999); }
  // A capture device that plays Programme in real time from now on and runs
  // on while nobody reads it, as a sound card does (Live), or pauses while
  // closed, as a file would; and a playback device that plays in real time.
  // Faults adjusts the capture device's faults (a suspension, say).
  void Install(const Programme& P, bool Live = true,
               const std::function<void(TVirtualDeviceSpec&)>& Faults = {}) {
    TVirtualDeviceSpec Capture{.Name = "Programme",
                               .Generator =
                                   [P](std::uint8_t* Dest, std::uint32_t Count,
                                       std::uint64_t Offset, const WAVEFORMATEX&) {
                                     for (std::uint32_t i = 0; i < Count; ++i)
                                       Dest[i] = P.Byte(Offset + i);
                                   },
                               .Live = Live,
                               .OnDemand = !Live};
    if (Faults) Faults(Capture);
    Devices->AddCapture(Capture);
    Devices->AddPlayback(
        {.Name = "Speakers", .Sink = [this](const std::uint8_t* Data, std::uint32_t Count) {
           const std::lock_guard<std::mutex> Hold(PlayedLock);
           PlayedData.insert(PlayedData.end(), Data, Data + Count);
           Played += Count;
         }});
    SetWaveBackends({Devices});
  }
  TFormAudioRecorderMain& Open() {
    Skin = std::make_unique<TFormAudioGraphics>();
    Window = std::make_unique<TFormAudioRecorderMain>(*Skin);
    Window->show();
    QApplication::processEvents();
    return *Window;
  }
  int Rows() const { return Window->Grid->rowCount(); }
  QString Name(int Row) const { return Window->Grid->item(Row, 1)->text(); }
  std::string Track(int n) const {
    return (fs::path(Window->GetOutputFolder().toStdString()) / TrackFileName(n)).string();
  }
  // Answers the next modal edit dialog with Text (typed), then Enter or Escape.
  void AnswerEdit(const QString& Text, bool Confirm) {
    QTimer::singleShot(0, [this, Text, Confirm] {
      TFormEdit& Edit = test::TWindowSeam::Edit(*Window);
      if (!Text.isNull()) {
        Edit.dfsEdit->clear();
        QTest::keyClicks(Edit.dfsEdit, Text);
      }
      QTest::keyClick(Edit.dfsEdit, Confirm ? Qt::Key_Return : Qt::Key_Escape);
    });
  }
};

}  // namespace velmar

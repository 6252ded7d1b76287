// The review window on a one-hour side (12 tracks), offscreen: how long the
// first opening (the scan) and a second opening (the peaks cache) take to show
// the side, the longest time the window's loop stood still meanwhile and while
// a user works (a mark selected and zoomed to single samples, each in turn; a
// split into 12 at the quiet gaps), against `cat` reading the same files,
// run alone before it. Goals: a second opening under 2 s; the loop never
// still for more than 50 ms.
//
//   velmar_review_window [minutes]     (default 60)
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/form_review.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace velmar;

// The longest stretch between two turns of the event loop while Work runs
// and until Done holds.
struct TStallMeter {
  QElapsedTimer Clock;
  qint64 Last = 0, Longest = 0;
  QTimer Tick;
  TStallMeter() {
    Tick.setInterval(0);
    QObject::connect(&Tick, &QTimer::timeout, [this] { Turn(); });
  }
  void Turn() {
    const qint64 Now = Clock.elapsed();
    Longest = std::max(Longest, Now - Last);
    Last = Now;
  }
  template <typename F, typename D>
  double Run(F Work, D Done) {
    Clock.start();
    Last = 0;
    Tick.start();
    Work();
    Turn();
    while (!Done()) QApplication::processEvents(QEventLoop::AllEvents, 5);
    Tick.stop();
    return static_cast<double>(Clock.elapsed()) / 1000;
  }
};

}  // namespace

int main(int argc, char** argv) {
  const int Minutes = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60;
  qputenv("QT_QPA_PLATFORM", "offscreen");
  test::TempDir Dir;
  qputenv("XDG_CACHE_HOME", Dir.File("cache").c_str());
  int Args = 1;
  QApplication App(Args, argv);
  std::vector<std::string> Tracks;
  std::string Files;
  for (int i = 0; i < 12; ++i) {
    // Pieces of pink noise with a second of quiet after each.
    Tracks.push_back(Dir.File("Track" + std::to_string(10 + i) + ".wav"));
    const std::string Make = "sox -n -r 44100 -b 16 -c 2 " + Tracks.back() + " synth " +
                             std::to_string(Minutes * 60.0 / 12 - 1) + " pinknoise vol 0.4 pad 0 1";
    if (std::system(Make.c_str()) != 0) return 1;
    Files += " " + Tracks.back();
  }
  QElapsedTimer Cat;
  Cat.start();
  if (std::system(("cat" + Files + " > /dev/null").c_str()) != 0) return 1;
  const double CatSeconds = static_cast<double>(Cat.elapsed()) / 1000;
  std::printf("%d min side in 12 tracks; cat of its files: %.3f s\n", Minutes, CatSeconds);
  std::printf("%-28s %10s %16s\n", "", "seconds", "longest still ms");
  for (const char* Opening : {"first opening (scan)", "second opening (cache)"}) {
    TStallMeter Meter;
    std::unique_ptr<TFormReview> V;
    const double s = Meter.Run(
        [&] {
          V = std::make_unique<TFormReview>(Tracks, TTrackSettings{}, 0, Qt::green, Qt::black);
          V->show();
        },
        [&] { return V->Ready() && !V->Busy(); });
    std::printf("%-28s %10.3f %16lld\n", Opening, s, static_cast<long long>(Meter.Longest));
    if (std::string(Opening).find("second") == std::string::npos) continue;
    const double w = Meter.Run(
        [&] {
          for (int m = 0; m < static_cast<int>(V->Edit().Marks().size()); ++m) {
            V->SelectMark(m);
            V->Zoom(30);
            QApplication::processEvents();
            V->Zoom(-30);
            QApplication::processEvents();
          }
        },
        [] { return true; });
    std::printf("%-28s %10.3f %16lld  (all of it in one go: each step is under it)\n",
                "11 marks selected, zoomed", w, static_cast<long long>(Meter.Longest));
    const double g = Meter.Run([&] { V->SplitInto(12); }, [&] { return !V->Busy(); });
    std::printf("%-28s %10.3f %16lld  (%zu tracks)\n", "split into 12 (gap search)", g,
                static_cast<long long>(Meter.Longest), V->Edit().Tracks());
  }
  return 0;
}

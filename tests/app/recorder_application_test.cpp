// The windowed program's loop on Qt's offscreen platform: platform messages,
// Synchronize, Wait and the error display with Qt's event loop as the pump.
#include "app/recorder_application.h"

#include <gtest/gtest.h>

#include <QDialog>
#include <QMessageBox>
#include <QPainter>
#include <QTimer>
#include <QWidget>
#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/messages.h"
#include "platform/thread.h"

namespace velmar {
namespace {

constexpr UINT kNumber = WM_USER + 1;

// Answers the next message box that opens: records its text and presses OK.
class BoxWatcher {
 public:
  BoxWatcher() {
    QObject::connect(&FTimer, &QTimer::timeout, [this] {
      if (auto* Box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        Texts.push_back(Box->text().toStdString());
        Box->accept();
      }
    });
    FTimer.start(5);
  }
  std::vector<std::string> Texts;

 private:
  QTimer FTimer;
};

// Four threads post numbered messages to four windows, and call Synchronize,
// while a modal dialog runs its own loop: every window sees its numbers in order.
TEST(QtPump, MessagesFromFourThreadsReachTheirWindowsInOrderDuringAModalDialog) {
  constexpr int kThreads = 4, kCount = 2000;
  std::vector<std::vector<WPARAM>> Seen(kThreads);
  std::vector<HWND> Windows;
  for (int i = 0; i < kThreads; ++i)
    Windows.push_back(AllocateHWnd([&Seen, i](HWND, UINT Message, WPARAM w, LPARAM) -> LRESULT {
      if (Message == kNumber) Seen[static_cast<std::size_t>(i)].push_back(w);
      return 0;
    }));
  std::atomic<int> Synchronized{0};
  QDialog Dialog;
  std::vector<std::thread> Threads;
  QTimer::singleShot(0, [&] {
    ASSERT_TRUE(Dialog.isModal() || QApplication::activeModalWidget() == &Dialog);
    for (int i = 0; i < kThreads; ++i)
      Threads.emplace_back([&, i] {
        for (WPARAM n = 0; n < kCount; ++n) {
          PostMessage(Windows[static_cast<std::size_t>(i)], kNumber, n, 0);
          if (n % 500 == 0)
            TThread::Synchronize([&] {
              EXPECT_TRUE(InMainThread());
              ++Synchronized;
            });
        }
      });
  });
  QTimer Check;
  QObject::connect(&Check, &QTimer::timeout, [&] {
    std::size_t Total = 0;
    for (const auto& s : Seen) Total += s.size();
    if (Total == kThreads * kCount) Dialog.accept();
  });
  Check.start(10);
  QTimer::singleShot(30000, &Dialog, &QDialog::reject);  // a hang fails, never blocks
  EXPECT_EQ(Dialog.exec(), QDialog::Accepted);
  // Threads waiting in Synchronize end once their calls are handled.
  std::atomic<int> Ended{0};
  for (auto& t : Threads)
    std::thread([&] {
      t.join();
      ++Ended;
    }).detach();
  while (Ended < kThreads) Wait(5, true);
  for (const auto& s : Seen) {
    ASSERT_EQ(s.size(), static_cast<std::size_t>(kCount));
    for (std::size_t n = 0; n < s.size(); ++n) ASSERT_EQ(s[n], n);
  }
  EXPECT_EQ(Synchronized, kThreads * kCount / 500);
  for (HWND w : Windows) DeallocateHWnd(w);
}

// Wait with pumping keeps a window painting and timers running; the idle hook
// runs when Qt's loop has nothing to do.
TEST(QtPump, WaitKeepsTheWindowPaintingAndIdleRuns) {
  struct Painted : QWidget {
    int Count = 0;
    void paintEvent(QPaintEvent*) override {
      QPainter(this).fillRect(rect(), Qt::darkGreen);
      ++Count;
    }
  } Window;
  Window.resize(200, 100);
  Window.show();
  QTimer Repaint;
  QObject::connect(&Repaint, &QTimer::timeout, [&] { Window.update(); });
  Repaint.start(20);
  int Idle = 0;
  Application().OnIdle = [&](TObject*, bool& Done) {
    ++Idle;
    Done = true;
  };
  const int Before = Window.Count;
  Wait(400, true);
  Application().OnIdle = nullptr;
  EXPECT_GE(Window.Count - Before, 3);
  EXPECT_GT(Idle, 0);
}

// An exception escaping a platform message or a Qt slot is shown in the error
// box with its text, and the loop goes on.
TEST(QtPump, AnEscapingExceptionShowsTheErrorBoxAndTheLoopGoesOn) {
  BoxWatcher Boxes;
  int Handled = 0;
  const HWND Window = AllocateHWnd([&](HWND, UINT Message, WPARAM w, LPARAM) -> LRESULT {
    if (Message != kNumber) return 0;
    ++Handled;
    if (w == 1) throw std::runtime_error("Device busy");
    return 0;
  });
  QTimer::singleShot(0, [] { throw std::runtime_error("Slot failed"); });
  std::thread([&] {
    PostMessage(Window, kNumber, 1, 0);
    PostMessage(Window, kNumber, 2, 0);
  }).join();
  const auto End = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while ((Boxes.Texts.size() < 2 || Handled < 2) && std::chrono::steady_clock::now() < End)
    Wait(10, true);
  EXPECT_EQ(Handled, 2);
  std::sort(Boxes.Texts.begin(), Boxes.Texts.end());
  EXPECT_EQ(Boxes.Texts, (std::vector<std::string>{"Device busy", "Slot failed"}));
  DeallocateHWnd(Window);
}

}  // namespace
}  // namespace velmar

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  qputenv("QT_QPA_PLATFORM", "offscreen");
  velmar::TRecorderApplication App(argc, argv);
  return RUN_ALL_TESTS();
}

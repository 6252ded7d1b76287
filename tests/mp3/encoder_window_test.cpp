// The encoder's window as a user sees it: bars that reach the end and a
// summary, and Cancel in the middle of a long file, which leaves no partial
// MP3 and says what was cancelled.
#include "mp3/encoder_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QtTest/QTest>
#include <filesystem>

#include "tests/support/temp_dir.h"
#include "tests/support/wait_until.h"

namespace velmar {
namespace {

namespace fs = std::filesystem;

std::string Sox(const test::TempDir& Dir, const std::string& Name, int Seconds) {
  const std::string File = Dir.File(Name);
  int Status = -1;
  test::RunCommand("sox -n -r 44100 -b 16 -c 2 '" + File + "' synth " + std::to_string(Seconds) +
                       " pinknoise vol 0.3",
                   &Status);
  EXPECT_EQ(Status, 0);
  return File;
}

TEST(EncoderWindow, ShowsEachFileToItsEndAndASummary) {
  test::TempDir Dir;
  TEncoderJobs Jobs({Sox(Dir, "a.wav", 2), Sox(Dir, "b.wav", 3), Dir.File("gone.wav")});
  TEncoderWindow Window(Jobs);
  Window.show();
  Jobs.Start(2);
  ASSERT_TRUE(test::WaitUntil([&] { return Window.CancelButton()->text() == "Close"; }));
  EXPECT_EQ(Window.Summary(), "2 MP3 files written, 1 failed");
  EXPECT_TRUE(fs::exists(Dir.File("a.mp3")));
  EXPECT_TRUE(fs::exists(Dir.File("b.mp3")));
  EXPECT_EQ(Jobs.Progress(), 1.0);
  QTest::mouseClick(Window.CancelButton(), Qt::LeftButton);
  EXPECT_FALSE(Window.isVisible());
  Jobs.Wait();
}

TEST(EncoderWindow, CancelStopsTheFilesBeingWrittenAndRemovesTheirPartialFiles) {
  test::TempDir Dir;
  TEncoderJobs Jobs({Sox(Dir, "long1.wav", 300), Sox(Dir, "long2.wav", 300)});
  TEncoderWindow Window(Jobs);
  Window.show();
  Jobs.Start(2);
  ASSERT_TRUE(test::WaitUntil([&] { return Jobs.Job(0).Done > 0 && Jobs.Job(1).Done > 0; }));
  EXPECT_GT(Jobs.Progress(), 0.0);
  EXPECT_LT(Jobs.Progress(), 1.0);
  QTest::mouseClick(Window.CancelButton(), Qt::LeftButton);
  ASSERT_TRUE(test::WaitUntil([&] { return Window.CancelButton()->text() == "Close"; }));
  Jobs.Wait();
  EXPECT_EQ(Window.Summary(), "0 MP3 files written, 2 cancelled");
  for (const auto& Entry : fs::directory_iterator(Dir.Path()))
    EXPECT_EQ(Entry.path().extension(), ".wav") << Entry.path();

  // Escape cancels and closes once the files have stopped (it stayed open at "100 %").
  TEncoderJobs More({Sox(Dir, "long3.wav", 300)});
  TEncoderWindow Second(More);
  Second.show();
  More.Start(1);
  ASSERT_TRUE(test::WaitUntil([&] { return More.Job(0).Done > 0; }));
  QTest::keyClick(&Second, Qt::Key_Escape);
  EXPECT_TRUE(test::WaitUntil([&] { return !Second.isVisible(); }));
  More.Wait();
  EXPECT_TRUE(More.Job(0).Result.Cancelled);
}

}  // namespace
}  // namespace velmar

#include "wavefile/wave.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/files.h"
#include "tests/support/temp_dir.h"
#include "tests/wavefile/wave_file_test_support.h"

namespace velmar {
namespace {

using namespace test;

struct Wave : ::testing::Test {
  TempDir Dir;
  TMMWave w;
  int Changes = 0;
  TMMObserver Watch;
  const WAVEFORMATEX Cd = PcmFormat(16, 2, 44100);

  Wave() {
    Watch.OnNotify = [this](TObject*, TObject* Data) {
      EXPECT_EQ(Data, &w);
      ++Changes;
    };
    w.AddObserver(&Watch);
  }

  void ExpectError(const std::function<void()>& Action, const std::string& Text) {
    try {
      Action();
      ADD_FAILURE() << "no error, expected " << Text;
    } catch (const EMMWaveError& e) {
      EXPECT_EQ(std::string(e.what()), Text);
    }
  }
};

TEST_F(Wave, EmptyWaveProperties) {
  EXPECT_EQ(w.TimeFormat(), TMMTimeFormats::tfSample);
  EXPECT_TRUE(w.FileMustExist());
  EXPECT_EQ(w.IOBufferSize(), 32768);
  EXPECT_EQ(w.BitLength(), 0);
  EXPECT_EQ(w.Mode(), TMMMode::mMono);
  EXPECT_EQ(w.FormatTag(), 0);
  EXPECT_EQ(w.FormatString(), "Unknown");
  EXPECT_EQ(w.SampleRate(), 11025);
  EXPECT_EQ(w.FileSize(), 0);
  EXPECT_EQ(w.DataSize(), 0);
  EXPECT_EQ(w.GetPosition(), -1);
  EXPECT_TRUE(w.IsEmpty());
  EXPECT_EQ(w.WriteData("x", 1), -1);
  char b[4];
  EXPECT_EQ(w.ReadDataBuffer(b, 4), -1);
  w.SetIOBufferSize(1000);
  EXPECT_EQ(w.IOBufferSize(), 8192);
}

TEST_F(Wave, NamingMissingAndForeignFiles) {
  const std::string Missing = Dir.File("Track01.wav");
  ExpectError([&] { w.SetFileName(Missing); }, "Error reading wave file");
  EXPECT_EQ(w.FileName(), "");
  w.SetFileMustExist(false);
  w.SetFileName(Missing);
  EXPECT_EQ(w.FileName(), Missing);
  EXPECT_EQ(w.Block(), nullptr);
  EXPECT_EQ(Changes, 1);

  const std::string Text = Dir.File("notes.txt");
  std::ofstream(Text) << "not a wave";
  ExpectError([&] { w.SetFileName(Text); }, "Invalid wave file...");
  EXPECT_EQ(w.FileName(), Missing);  // a failed rename keeps the previous wave
  w.SetFileName("");
  EXPECT_EQ(w.FileName(), "");
  EXPECT_EQ(Changes, 2);
}

TEST_F(Wave, SameNameIsOnlyReadAgainWhenTheFileGrew) {
  const std::string Name = Dir.File("same.wav");
  Record(Name, Cd, Pattern(400));
  w.SetFileName(Name);
  EXPECT_EQ(Changes, 1);
  EXPECT_EQ(w.DataSize(), 100);
  w.SetFileName(Name);
  EXPECT_EQ(Changes, 1);
  Record(Name, Cd, Pattern(800));
  w.SetFileName(Name);
  EXPECT_EQ(Changes, 2);
  EXPECT_EQ(w.DataSize(), 200);
  // Relative names are taken from the current folder.
  const auto Here = std::filesystem::current_path();
  std::filesystem::current_path(Dir.Path());
  w.SetFileName("same.wav");
  std::filesystem::current_path(Here);
  EXPECT_EQ(w.FileName(), Name);
  EXPECT_EQ(Changes, 2);
}

TEST_F(Wave, TimeFormatsAndEmptiness) {
  const std::string Name = Dir.File("one.wav");
  Record(Name, Cd, Pattern(4));  // one frame
  w.SetFileName(Name);
  EXPECT_EQ(w.DataSize(), 1);
  EXPECT_FALSE(w.IsEmpty());
  w.SetTimeFormat(TMMTimeFormats::tfMillisecond);
  EXPECT_EQ(w.DataSize(), 0);
  EXPECT_TRUE(w.IsEmpty());
  w.SetTimeFormat(TMMTimeFormats::tfByte);
  EXPECT_EQ(w.DataSize(), 4);
  EXPECT_EQ(w.BitLength(), 16);
  EXPECT_EQ(w.Mode(), TMMMode::mStereo);
  EXPECT_EQ(w.FormatString(), "PCM");
  EXPECT_EQ(w.SampleRate(), 44100);
  EXPECT_EQ(w.FileSize(), 46 + 4 + 12);
}

TEST_F(Wave, CreateWriteCloseAndReadAlongThePosition) {
  const std::string Name = Dir.File("new.wav");
  Record(Name, Cd, Pattern(100));  // an older file of that name goes
  w.SetTimeFormat(TMMTimeFormats::tfMillisecond);
  w.CreateFile(Name, &Cd);
  EXPECT_EQ(w.FileName(), Name);
  EXPECT_TRUE(w.IsEmpty());
  const Bytes Second = Pattern(176400);  // one second
  EXPECT_EQ(w.WriteData(Second.data(), static_cast<int>(Second.size())), 176400);
  EXPECT_EQ(w.DataSize(), 1000);
  EXPECT_EQ(w.PlayLength(), 1000);
  w.CloseFile();

  w.OpenFile();
  EXPECT_TRUE(w.IsOpened());
  w.SetPosition(500);
  EXPECT_EQ(w.GetPosition(), 500);
  EXPECT_EQ(w.BytesLeftToPlay(), 88200);
  Bytes Got(100000);
  EXPECT_EQ(w.ReadDataBuffer(Got.data(), 100000), 88200);
  EXPECT_EQ(Bytes(Got.begin(), Got.begin() + 88200), Bytes(Second.begin() + 88200, Second.end()));
  EXPECT_EQ(w.GetPosition(), 1000);
  EXPECT_EQ(w.ReadDataBuffer(Got.data(), 100000), -1);
  w.SetPosition(5000);  // beyond the end: clamped
  EXPECT_EQ(w.BytesLeftToPlay(), 0);
  w.CloseFile();
  EXPECT_FALSE(w.IsOpened());
}

TEST_F(Wave, AssignCopiesAndNotifiesOnce) {
  const std::string Name = Dir.File("src.wav");
  Record(Name, Cd, Pattern(400));
  TMMWave Source;
  Source.SetFileName(Name);
  Source.SetTimeFormat(TMMTimeFormats::tfByte);
  Source.SetIOBufferSize(65536);
  w.Assign(&Source);
  EXPECT_EQ(Changes, 1);
  EXPECT_EQ(w.FileName(), Name);
  EXPECT_EQ(w.TimeFormat(), TMMTimeFormats::tfByte);
  EXPECT_EQ(w.IOBufferSize(), 65536);
  EXPECT_EQ(w.DataSize(), 400);

  TMMWave Unnamed;
  w.Assign(&Unnamed);
  EXPECT_EQ(w.FileName(), "");
  EXPECT_EQ(w.GetPWaveFormat(), nullptr);
  w.Assign(nullptr);
  EXPECT_EQ(w.Block(), nullptr);
}

TEST_F(Wave, CreateFailureLeavesTheWaveEmpty) {
  const std::string Name = Dir.File("keep.wav");
  Record(Name, Cd, Pattern(40));
  w.SetFileName(Name);
  ExpectError([&] { w.CreateFile(Dir.File("missing/folder/x.wav"), &Cd); },
              "Unable to create wave file " + Dir.File("missing/folder/x.wav") +
                  ": No such file or directory");
  EXPECT_EQ(w.Block(), nullptr);
  // Created only new: an existing file is left as it is.
  const Bytes Before = ReadFileBytes(Name);
  ExpectError([&] { w.CreateFile(Name, &Cd, true); },
              "Unable to create wave file " + Name + ": File exists");
  EXPECT_TRUE(ReadFileBytes(Name) == Before);

  w.SetFileName(Name);
  std::filesystem::remove(Name);
  ExpectError([&] { w.OpenFile(); }, "Unable to open wave file");
}

}  // namespace
}  // namespace velmar

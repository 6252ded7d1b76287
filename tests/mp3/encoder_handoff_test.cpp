// The hand-off to the MP3 encoder: the library binding with a complete, an
// incomplete and a missing library; the values written at start and their
// order in the access log; the file list; the command line and its limit; a
// program started without a shell and waited for.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "mp3/encoder_library.h"
#include "mp3/encoder_registry.h"
#include "platform/registry/settings_store.h"
#include "tests/support/temp_dir.h"

namespace velmar {
namespace {

struct Store {
  test::TempDir Dir;
  Store() { ::setenv("XDG_CONFIG_HOME", Dir.File("config").c_str(), 1); }
};

TEST(EncoderLibrary, KeepsACompleteLibraryWarnsOnceOfAnIncompleteOneAndIgnoresAMissingOne) {
  Store S;
  std::vector<std::string> Messages;
  auto Show = [&](const std::string& Text) { Messages.push_back(Text); };
  {
    // The designed name does not exist here: silently absent.
    TFhgEncoderLibrary Library;
    EXPECT_EQ(Library.LoadFhgEncoderLibrary(Show), nullptr);
    EXPECT_TRUE(Messages.empty());
  }
  {
    // The value name is matched without regard to case.
    WriteRegValue(kEncoderRoot, kEncoderKey, "FhGEncoder", FAKE_COMPLETE_LIBRARY);
    TFhgEncoderLibrary Library;
    void* Handle = Library.LoadFhgEncoderLibrary(Show);
    ASSERT_NE(Handle, nullptr);
    EXPECT_EQ(Library.LoadFhgEncoderLibrary(Show), Handle);  // bound once
    for (int i = 0; i < 9; ++i) EXPECT_NE(Library.EntryPoint(i), nullptr) << i;
    EXPECT_TRUE(Messages.empty());
  }
  {
    WriteRegValue(kEncoderRoot, kEncoderKey, "FhgEncoder", FAKE_INCOMPLETE_LIBRARY);
    TFhgEncoderLibrary Library;
    EXPECT_EQ(Library.LoadFhgEncoderLibrary(Show), nullptr);
    EXPECT_EQ(Library.EntryPoint(0), nullptr);
    ASSERT_EQ(Messages.size(), 1u);
    EXPECT_EQ(Messages[0], std::string("Velmar MP3 Encoder failed to load the file ") +
                               FAKE_INCOMPLETE_LIBRARY +
                               ".\n\rPlease reinstall Velmar MP3 Encoder.");
  }
}

TEST(EncoderHandOff, WritesItsValuesInOrderAndBuildsTheCommandLine) {
  Store S;
  const std::string Old = std::filesystem::current_path();
  std::filesystem::current_path(S.Dir.Path());  // where the store writes its log
  {
    TSettingsStore Log;
    WriteEncoderRegistry();
    std::vector<std::string> Names;
    for (const std::string& Line : Log.Log()) Names.push_back(Line.substr(0, Line.find('\t', 6)));
    const std::string Key = "Write\tSOFTWARE\\Velmar\\Velmar MP3 Encoder\\";
    EXPECT_EQ(Names, (std::vector<std::string>{Key + "FhGEncoder", Key + "VelmEnc", Key + "LameEnc",
                                               Key + "BladeEnc", Key + "MP3Help"}));
    EXPECT_EQ(ReadRegValue(kEncoderRoot, kEncoderKey, "LameEnc", ""), "lame_enc.dll");
  }
  // The defaults: a dot, two backslashes and the demo program's name.
  EXPECT_EQ(GetEncoderProgram(), ".\\\\VelmarMP3EncoderDemo.exe");
  EXPECT_EQ(ProgramFile(GetEncoderProgram()), ".//VelmarMP3EncoderDemo.exe");
  // An installer's values win; without them ours are stored once.
  InstallEncoderProgram("/opt/velmar");
  EXPECT_EQ(GetEncoderProgram(), "/opt/velmar\\velmar-mp3");
  InstallEncoderProgram("/elsewhere");
  EXPECT_EQ(GetEncoderProgram(), "/opt/velmar\\velmar-mp3");
  // A stored program that is gone gives way to ours where ours is there; one
  // that is there stays.
  const std::string Ours = S.Dir.File("bin");
  std::filesystem::create_directories(Ours);
  std::filesystem::create_directories(S.Dir.File("other"));
  test::WriteFileBytes(Ours + "/velmar-mp3", {0});
  InstallEncoderProgram(Ours);
  EXPECT_EQ(GetEncoderProgram(), Ours + "\\velmar-mp3");
  test::WriteFileBytes(S.Dir.File("other/velmar-mp3"), {0});
  InstallEncoderProgram(S.Dir.File("other"));
  EXPECT_EQ(GetEncoderProgram(), Ours + "\\velmar-mp3");
  // At most 511 characters: the 512-byte buffer never overruns.
  EXPECT_EQ(CommandLineFor(std::string(511, 'a')).size(), 511u);
  EXPECT_THROW(CommandLineFor(std::string(512, 'a')), EMP3HandOffError);
  // Every path followed by CR LF; none gives the empty text.
  WriteEncoderFileList({"/rec/Track01.wav", "/rec/Track02.wav", "/rec/Track03.wav"});
  EXPECT_EQ(ReadRegValue(kEncoderRoot, kEncoderKey, "FileList", ""),
            "/rec/Track01.wav\r\n/rec/Track02.wav\r\n/rec/Track03.wav\r\n");
  WriteEncoderFileList({});
  EXPECT_EQ(ReadRegValue(kEncoderRoot, kEncoderKey, "FileList", "x"), "");
  std::filesystem::current_path(Old);
}

TEST(EncoderHandOff, StartsTheProgramWithoutAShellAndWaitsForIt) {
  Store S;
  const std::string Old = std::filesystem::current_path();
  std::filesystem::current_path(S.Dir.Path());
  ::setenv("WAIT_MS", "200", 1);
  std::string Error;
  TStartedProgram Program = StartProgram(RECORD_START_PROGRAM, Error);
  ASSERT_GT(Program.Pid, 0) << Error;
  EXPECT_GE(Program.ExitFd, 0);
  EXPECT_EQ(ReapProgram(Program), 0);
  std::ifstream Started(S.Dir.File("started.txt"));
  std::string Line;
  std::getline(Started, Line);
  EXPECT_EQ(Line, "started with 0 arguments");
  // A program that does not exist: no process, and the reason.
  TStartedProgram Missing = StartProgram(S.Dir.File("no such program"), Error);
  EXPECT_EQ(Missing.Pid, -1);
  EXPECT_FALSE(Error.empty());
  std::filesystem::current_path(Old);
}

}  // namespace
}  // namespace velmar

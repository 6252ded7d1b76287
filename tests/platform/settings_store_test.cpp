#include "platform/registry/settings_store.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/support/temp_dir.h"

namespace velmar {
namespace {

using test::TempDir;

constexpr std::string_view kKey = "\\SOFTWARE\\Velmar\\Velmar Audio Recorder";

std::string ReadText(const std::string& Name) {
  std::ifstream In(Name, std::ios::binary);
  std::stringstream s;
  s << In.rdbuf();
  return s.str();
}

void WriteText(const std::string& Name, const std::string& Text) {
  std::filesystem::create_directories(std::filesystem::path(Name).parent_path());
  std::ofstream(Name, std::ios::binary) << Text;
}

// Each test has its own registry ($XDG_CONFIG_HOME) and start directory.
class SettingsStore : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("XDG_CONFIG_HOME", Dir.File("config").c_str(), 1);
    std::filesystem::create_directories(Dir.File("start"));
    Previous = std::filesystem::current_path();
    std::filesystem::current_path(Dir.File("start"));
  }
  void TearDown() override { std::filesystem::current_path(Previous); }

  std::string Registry() const { return Dir.File("config/velmar/registry.reg"); }

  TempDir Dir;
  std::filesystem::path Previous;
};

// The Part's edge cases in one run, checked through the log file it leaves.
TEST_F(SettingsStore, LogsEveryOpenedAccessInOrderAndSavesTheLogAtTheEnd) {
  {
    TSettingsStore Store;
    // No registry file, no key: defaults, nothing logged.
    EXPECT_EQ(ReadRegValue(HKEY_CURRENT_USER, kKey, "NoiseGate", 25), 25);
    EXPECT_FALSE(RegValueExists(HKEY_CURRENT_USER, kKey, "NoiseGate"));
    EXPECT_TRUE(Store.Log().empty());

    // A write creates the key path; the key with and without its outer backslashes
    // and value names in any case are one and the same.
    WriteRegValue(HKEY_CURRENT_USER, kKey, "NoiseGate", 25);
    EXPECT_EQ(ReadRegValue(HKEY_CURRENT_USER, "SOFTWARE\\Velmar\\Velmar Audio Recorder\\",
                           "\\\\noisegate", 0),
              25);
    EXPECT_TRUE(RegValueExists(HKEY_CURRENT_USER, kKey, "NOISEGATE"));
    // A missing value in an existing key is logged with its default.
    EXPECT_EQ(ReadRegValue(HKEY_CURRENT_USER, kKey, "Path", "C:\\"), "C:\\");
    EXPECT_FALSE(RegValueExists(HKEY_CURRENT_USER, kKey, "Path"));
    // Any other root is the current user's.
    EXPECT_TRUE(ReadRegValue(static_cast<HKEY>(12345), kKey, "NoiseGate", 0) == 25);
    // Other predefined roots are keys of their own.
    EXPECT_EQ(ReadRegValue(HKEY_LOCAL_MACHINE, kKey, "NoiseGate", 7), 7);
  }
  const std::string Path = "SOFTWARE\\Velmar\\Velmar Audio Recorder\\";
  EXPECT_EQ(ReadText(Dir.File("start/velmar_audio_recorer.log")),
            "Write\t" + Path + "NoiseGate\t25\n" +     //
                "Read\t" + Path + "noisegate\t25\n" +  //
                "True\t" + Path + "NOISEGATE\t\n" +    //
                "Read\t" + Path + "Path\tC:\\\n" +     //
                "False\t" + Path + "Path\t\n" +        //
                "Read\t" + Path + "NoiseGate\t25\n");
  // The file keeps the name's first spelling, in the export format.
  EXPECT_EQ(ReadText(Registry()),
            "REGEDIT4\n\n[HKEY_CURRENT_USER]\n\n[HKEY_CURRENT_USER\\SOFTWARE]\n\n"
            "[HKEY_CURRENT_USER\\SOFTWARE\\Velmar]\n\n"
            "[HKEY_CURRENT_USER\\SOFTWARE\\Velmar\\Velmar Audio Recorder]\n"
            "\"NoiseGate\"=dword:00000019\n");
}

TEST_F(SettingsStore, EverySixTypesRoundTripsAndAnotherTypeGivesTheDefault) {
  TSettingsStore Store;
  WriteRegValue(HKEY_CURRENT_USER, kKey, "Int", -5);
  WriteRegValue(HKEY_CURRENT_USER, kKey, "Float", 0.1);
  WriteRegValue(HKEY_CURRENT_USER, kKey, "Big", 1e20);
  WriteRegValue(HKEY_CURRENT_USER, kKey, "Small", -1.5e-7);
  WriteRegValue(HKEY_CURRENT_USER, kKey, "Money", TCurrency{125000});
  WriteRegValue(HKEY_CURRENT_USER, kKey, "When", TDateTime{46000.75});
  WriteRegValue(HKEY_CURRENT_USER, kKey, "Path", "C:\\Music \"live\"\r\nline two");
  WriteRegValue(HKEY_CURRENT_USER, kKey, "On", true);
  std::vector<std::string> Values;
  for (const std::string& Line : Store.Log()) Values.push_back(Line.substr(Line.rfind('\t') + 1));
  EXPECT_EQ(Values, (std::vector<std::string>{"-5", "0.1", "1E20", "-1.5E-7", "12.5", "18:00:00",
                                              "C:\\Music \"live\"\r\nline two", "True"}));

  EXPECT_EQ(ReadRegValue(HKEY_CURRENT_USER, kKey, "Int", 0), -5);
  EXPECT_EQ(ReadRegValue(HKEY_CURRENT_USER, kKey, "Float", 0.0), 0.1);
  EXPECT_EQ(ReadRegValue(HKEY_CURRENT_USER, kKey, "Money", TCurrency{}), TCurrency{125000});
  EXPECT_EQ(ReadRegValue(HKEY_CURRENT_USER, kKey, "When", TDateTime{}), TDateTime{46000.75});
  EXPECT_EQ(ReadRegValue(HKEY_CURRENT_USER, kKey, "Path", ""), "C:\\Music \"live\"\r\nline two");
  EXPECT_TRUE(ReadRegValue(HKEY_CURRENT_USER, kKey, "On", false));
  EXPECT_TRUE(ReadRegValue(HKEY_CURRENT_USER, kKey, "Int", false));  // booleans are integers
  // Read with the reader of another type: the default.
  EXPECT_EQ(ReadRegValue(HKEY_CURRENT_USER, kKey, "Path", 7), 7);
  EXPECT_EQ(ReadRegValue(HKEY_CURRENT_USER, kKey, "Int", "x"), "x");
  EXPECT_EQ(ReadRegValue(HKEY_CURRENT_USER, kKey, "Int", 2.5), 2.5);
  // The file is readable text: escapes in strings, binary data in hex.
  const std::string Text = ReadText(Registry());
  EXPECT_NE(Text.find("\"Path\"=\"C:\\\\Music \\\"live\\\"\\r\\nline two\"\n"), std::string::npos);
  EXPECT_NE(Text.find("\"Float\"=hex:9a,99,99,99,99,99,b9,3f\n"), std::string::npos);
}

// A hand-edited file: what can be read is used, nothing the user wrote is lost.
TEST_F(SettingsStore, DamagedFileIsUsedAsFarAsItGoesAndItsOtherLinesSurviveAWrite) {
  const std::string Original =
      "; my settings\r\n"
      "REGEDIT4\r\n"
      "\r\n"
      "[HKEY_CURRENT_USER\\SOFTWARE\\Velmar\\Velmar Audio Recorder]\r\n"
      "\"NoiseGate\"=dword:0000001e\r\n"
      "\"Broken\"=dword:xyz\r\n"
      "garbage line without quotes\r\n"
      "\"Data\"=hex:01,02,\\\r\n"
      "  03,04\r\n"
      "\"Unterminated=\"abc\r\n"
      "[not a section\r\n"
      "\"Path\"=\"D:\\\\Tapes\"\r\n"
      "\r\n"
      "[HKEY_CURRENT_USER\\SOFTWARE\\Velmar\\Velmar Audio Recorder]\r\n"
      "\"NoiseGate\"=dword:00000028\r\n";
  WriteText(Registry(), Original);
  TSettingsStore Store;
  EXPECT_EQ(ReadRegValue(HKEY_CURRENT_USER, kKey, "NoiseGate", 0), 40);  // the later one counts
  EXPECT_EQ(ReadRegValue(HKEY_CURRENT_USER, kKey, "Path", ""), "D:\\Tapes");
  EXPECT_EQ(ReadRegValue(HKEY_CURRENT_USER, kKey, "Broken", 3), 3);
  EXPECT_FALSE(RegValueExists(HKEY_CURRENT_USER, kKey, "Broken"));

  WriteRegValue(HKEY_CURRENT_USER, kKey, "Path", "E:\\");
  WriteRegValue(HKEY_CURRENT_USER, kKey, "New", 1);
  const std::string Text = ReadText(Registry());
  std::string Expected = Original;
  Expected.replace(Expected.find("\"NoiseGate\"=dword:00000028\r\n"),
                   std::string("\"NoiseGate\"=dword:00000028\r\n").size(),
                   "\"NoiseGate\"=dword:00000028\r\n\"New\"=dword:00000001\n");
  Expected.replace(Expected.find("\"Path\"=\"D:\\\\Tapes\"\r\n"),
                   std::string("\"Path\"=\"D:\\\\Tapes\"\r\n").size(), "\"Path\"=\"E:\\\\\"\n");
  EXPECT_EQ(Text, Expected);
  EXPECT_EQ(ReadRegValue(HKEY_CURRENT_USER, kKey, "Path", ""), "E:\\");
}

// Where nothing can be written, writes fail silently and lose nothing stored;
// a start directory that is gone loses the log silently.
TEST_F(SettingsStore, FailedWritesAndALostStartDirectoryChangeNothing) {
  // A registry that is not ours (too large to be one) is never written over.
  const std::string Huge = "REGEDIT4\n" + std::string(17 << 20, ';') + "\n";
  WriteText(Registry(), Huge);
  {
    TSettingsStore Store;
    WriteRegValue(HKEY_CURRENT_USER, kKey, "NoiseGate", 5);
    EXPECT_EQ(ReadRegValue(HKEY_CURRENT_USER, kKey, "NoiseGate", 9), 9);
    EXPECT_TRUE(Store.Log().empty());
  }
  EXPECT_EQ(ReadText(Registry()).size(), Huge.size());

  // A configuration folder that cannot be made.
  WriteText(Dir.File("file"), "x");
  ::setenv("XDG_CONFIG_HOME", Dir.File("file/sub").c_str(), 1);
  {
    TSettingsStore Store;
    WriteRegValue(HKEY_CURRENT_USER, kKey, "NoiseGate", 5);
    EXPECT_FALSE(RegValueExists(HKEY_CURRENT_USER, kKey, "NoiseGate"));
    std::filesystem::current_path(Dir.Path());
    std::filesystem::remove_all(Dir.File("start"));
  }
  EXPECT_FALSE(std::filesystem::exists(Dir.File("start")));
}

// The settings file as people keep it: a link to their own copy is written
// through (not replaced by a file), a read-only file stays as it is, and the
// temporary files of a writer killed before its rename go at the next write.
TEST_F(SettingsStore, LinksReadOnlyFilesAndLeftoversAreRespected) {
  const std::string Kept = Dir.File("dotfiles/registry.reg");
  WriteText(Kept, "REGEDIT4\n");
  std::filesystem::create_directories(Dir.File("config/velmar"));
  std::filesystem::create_symlink(Kept, Registry());
  WriteText(Registry() + ".a1B2c3", "half a file");
  {
    TSettingsStore Store;
    WriteRegValue(HKEY_CURRENT_USER, kKey, "NoiseGate", 5);
  }
  EXPECT_TRUE(std::filesystem::is_symlink(Registry()));
  EXPECT_NE(ReadText(Kept).find("\"NoiseGate\"=dword:00000005"), std::string::npos)
      << ReadText(Kept);
  EXPECT_FALSE(std::filesystem::exists(Registry() + ".a1B2c3"));

  std::filesystem::permissions(Kept, std::filesystem::perms::owner_read);
  const std::string Before = ReadText(Kept);
  {
    TSettingsStore Store;
    WriteRegValue(HKEY_CURRENT_USER, kKey, "NoiseGate", 7);
  }
  EXPECT_EQ(ReadText(Kept), Before);
  EXPECT_EQ(std::filesystem::status(Kept).permissions(), std::filesystem::perms::owner_read);
}

// Two programs writing at once lose none of each other's values, and a program
// killed while writing leaves a whole file behind.
TEST_F(SettingsStore, ConcurrentWritersLoseNothingAndAKilledWriterLeavesAWholeFile) {
  auto Writer = [](char Prefix, int Count) {
    for (int i = 0; i < Count; ++i)
      WriteRegValue(HKEY_CURRENT_USER, kKey, std::string(1, Prefix) + std::to_string(i), i);
    std::_Exit(0);
  };
  std::vector<pid_t> Children;
  for (char Prefix : {'A', 'B'}) {
    const pid_t Child = ::fork();
    ASSERT_GE(Child, 0);
    if (Child == 0) Writer(Prefix, 1000);
    Children.push_back(Child);
  }
  for (pid_t Child : Children) {
    int Status = 0;
    ASSERT_EQ(::waitpid(Child, &Status, 0), Child);
    ASSERT_TRUE(WIFEXITED(Status) && WEXITSTATUS(Status) == 0);
  }
  for (char Prefix : {'A', 'B'})
    for (int i = 0; i < 1000; ++i)
      ASSERT_EQ(
          ReadRegValue(HKEY_CURRENT_USER, kKey, std::string(1, Prefix) + std::to_string(i), -1), i);

  const pid_t Child = ::fork();
  ASSERT_GE(Child, 0);
  if (Child == 0) Writer('C', 1000000);
  // Let it write a while, then kill it without warning.
  const auto End = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (ReadRegValue(HKEY_CURRENT_USER, kKey, "C50", -1) != 50 &&
         std::chrono::steady_clock::now() < End)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ::kill(Child, SIGKILL);
  ::waitpid(Child, nullptr, 0);
  const TRegFile File = TRegFile::Parse(ReadText(Registry()));
  const std::string Key = "HKEY_CURRENT_USER\\SOFTWARE\\Velmar\\Velmar Audio Recorder";
  int Written = 0;
  while (File.FindValue(Key, "C" + std::to_string(Written))) ++Written;
  EXPECT_GT(Written, 50);
  EXPECT_FALSE(File.FindValue(Key, "C" + std::to_string(Written + 1)));
  EXPECT_TRUE(File.FindValue(Key, "B999"));
}

}  // namespace
}  // namespace velmar

// Every rewrite of a side's tracks (titles, tags, join, split, declick -o)
// killed inside its system calls: strace
// kills velmar-rec at the Nth call of pwrite64, write, ftruncate, rename,
// renameat2 or fsync, for every N until the command completes. Once the
// folder is looked at, it holds the old set or the new set, whole: every
// field and the cover as mutagen reads them, the audio as Python's wave
// module reads it. The same command run again then finishes with success.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "session/staged_files.h"
#include "tests/support/peer.h"
#include "tests/support/temp_dir.h"

namespace velmar {
namespace {

namespace fs = std::filesystem;
using namespace test;

// What the peers read of every WAV file in Folder, one line each: its name,
// title, track n/N, date, album, the cover's MD5 and the audio's MD5; hidden
// files are listed too, so that none may stay behind.
std::string Seen(const std::string& Folder) {
  if (!fs::exists(Folder) || fs::is_empty(Folder)) return "(none)";
  return Peer(
      "/usr/bin/python3 -c \"import sys, os, hashlib, wave, mutagen\n"
      "for n in sorted(os.listdir(sys.argv[1])):\n"
      "  p = os.path.join(sys.argv[1], n)\n"
      "  if not n.endswith('.wav'):\n"
      "    print(n); continue\n"
      "  t = mutagen.File(p).tags or {}\n"
      "  a = [t[k] for k in t.keys() if k.startswith('APIC')]\n"
      "  w = wave.open(p)\n"
      "  d = hashlib.md5(w.readframes(w.getnframes())).hexdigest()\n"
      "  print(n, [str(t.get(k)) for k in ('TIT2', 'TRCK', 'TDRC', 'TALB')],\n"
      "        a and hashlib.md5(a[0].data).hexdigest(), d)\" '" +
      Folder + "'");
}

struct Rewrite {
  const char* Name;
  // The command's arguments on the side in Folder; where what it writes is seen.
  std::function<std::vector<std::string>(const std::string& Folder)> Arguments;
  std::function<std::string(const std::string& Folder)> Result;
};

// Runs velmar-rec with Arguments under strace, killed at the Nth call of
// Call; its exit status (128 + 9 when the kill came first).
int KilledAt(const std::vector<std::string>& Arguments, const std::string& Call, int N) {
  std::string Line = "strace -f -o /dev/null -e trace=" + Call + " -e inject=" + Call +
                     ":signal=KILL:when=" + std::to_string(N) + " " + VELMAR_REC;
  for (const std::string& a : Arguments) Line += " '" + a + "'";
  int Status = -1;
  RunCommand(Line + " >/dev/null 2>&1", &Status);
  return Status;
}

TEST(RewriteKill, EveryRewriteKilledInsideAnySystemCallLeavesTheOldSetOrTheNewWhole) {
  TempDir Dir;
  // Three tracks with album fields, numbers and a cover of a few hundred kB
  // (its writing takes several calls).
  const std::string Original = Dir.File("original");
  fs::create_directories(Original);
  std::vector<std::string> Names{"Track01.wav", "Track02.wav", "Track03.wav"};
  for (std::size_t i = 0; i < Names.size(); ++i)
    Peer("sox -n -r 44100 -b 16 -c 2 '" + Original + "/" + Names[i] + "' synth 1.5 sine " +
         std::to_string(300 + 100 * i) + " vol 0.3");
  Peer(
      "ffmpeg -loglevel error -f lavfi -i 'testsrc=size=300x300,noise=alls=100:allf=t' "
      "-frames:v 1 '" +
      Dir.File("cover.png") + "'");
  Peer(std::string(VELMAR_REC) + " tags --album 'Side A' --date 1971 --numbers --cover '" +
       Dir.File("cover.png") + "' '" + Original + "/Track01.wav' '" + Original + "/Track02.wav' '" +
       Original + "/Track03.wav'");
  WriteFileBytes(Dir.File("titles.txt"),
                 {'O', 'n', 'e', '\n', 'T', 'w', 'o', '\n', 'T', 'h', 'r', 'e', 'e', '\n'});
  auto Tracks = [&](const std::string& Folder) {
    std::vector<std::string> Paths;
    for (const std::string& n : Names) Paths.push_back(Folder + "/" + n);
    return Paths;
  };
  auto Same = [](const std::string& Folder) { return Folder; };
  const std::vector<Rewrite> Rewrites{
      {"titles",
       [&](const std::string& Folder) {
         std::vector<std::string> a{"titles", Dir.File("titles.txt")};
         for (const std::string& t : Tracks(Folder)) a.push_back(t);
         return a;
       },
       Same},
      {"tags",
       [&](const std::string& Folder) {
         std::vector<std::string> a{"tags", "--album", "Side B", "--genre", "Folk"};
         for (const std::string& t : Tracks(Folder)) a.push_back(t);
         return a;
       },
       Same},
      {"join",
       [&](const std::string& Folder) {
         std::vector<std::string> a{"join", "-o", Folder + "/joined/side.wav"};
         for (const std::string& t : Tracks(Folder)) a.push_back(t);
         return a;
       },
       [](const std::string& Folder) { return Folder + "/joined"; }},
      {"split",
       [&](const std::string& Folder) {
         return std::vector<std::string>{"split", Folder + "/Track01.wav", "--tracks", "1",
                                         "-o",    Folder + "/split"};
       },
       [](const std::string& Folder) { return Folder + "/split"; }},
      {"declick",
       [&](const std::string& Folder) {
         std::vector<std::string> a{"declick", "-o", Folder + "/repaired"};
         for (const std::string& t : Tracks(Folder)) a.push_back(t);
         return a;
       },
       [](const std::string& Folder) { return Folder + "/repaired"; }},
  };
  const std::string Before = Seen(Original);
  for (const Rewrite& r : Rewrites) {
    // The new set, written without a kill.
    const std::string Whole = Dir.File(std::string(r.Name) + "-whole");
    fs::copy(Original, Whole);
    int Status = -1;
    RunCommand(
        std::string(VELMAR_REC) + " " +
            [&] {
              std::string Line;
              for (const std::string& a : r.Arguments(Whole)) Line += " '" + a + "'";
              return Line;
            }() +
            " >/dev/null 2>&1",
        &Status);
    ASSERT_EQ(Status, 0) << r.Name;
    const std::string Old = r.Result(Whole) == Whole ? Before : "(none)";
    const std::string New = Seen(r.Result(Whole));
    int Kills = 0;
    for (const char* Call : {"pwrite64", "write", "ftruncate", "rename", "renameat2", "fsync"})
      for (int N = 1; N < 80; ++N) {
        const std::string Folder =
            Dir.File(std::string(r.Name) + "-" + Call + "-" + std::to_string(N));
        fs::copy(Original, Folder);
        const int Ended = KilledAt(r.Arguments(Folder), Call, N);
        if (Ended == 0) break;  // the command ran to its end before its Nth call
        ++Kills;
        EXPECT_EQ(Ended, 128 + SIGKILL) << r.Name << " " << Call << " " << N;
        // The folder looked at by the next program: one set, whole.
        RecoverRewrites(Folder);
        if (fs::exists(r.Result(Folder))) RecoverRewrites(r.Result(Folder));
        const std::string After = Seen(r.Result(Folder));
        EXPECT_TRUE(After == Old || After == New)
            << r.Name << " killed at " << Call << " " << N << ":\n"
            << After << "old:\n"
            << Old << "new:\n"
            << New;
        // The same command again finishes the run, as success.
        fs::remove_all(Folder);
        fs::copy(Original, Folder);
        KilledAt(r.Arguments(Folder), Call, N);
        // Killed before its journal was gone, the run was not finished: the
        // same command finishes it. Killed after (printing what it did), the
        // run was whole, and the command run again may refuse its own files
        // (or, as split does, write its tracks again under new numbers).
        bool Unfinished = false;
        for (const std::string& Where : {Folder, r.Result(Folder)})
          if (fs::is_directory(Where))
            for (const auto& e : fs::directory_iterator(Where))
              Unfinished |= e.path().filename().string().rfind(".velmar-rewrite-", 0) == 0;
        std::string Line = std::string(VELMAR_REC);
        for (const std::string& a : r.Arguments(Folder)) Line += " '" + a + "'";
        const std::string Said = RunCommand(Line + " 2>&1", &Status);
        if (Unfinished) {
          EXPECT_EQ(Status, 0) << r.Name << " run again after a kill at " << Call << " " << N
                               << ": " << Said;
          EXPECT_EQ(Seen(r.Result(Folder)), New)
              << r.Name << " run again after " << Call << " " << N;
        }
        fs::remove_all(Folder);
      }
    EXPECT_GT(Kills, 5) << r.Name;
    std::printf("%s: killed inside %d system calls\n", r.Name, Kills);
  }
}

}  // namespace
}  // namespace velmar

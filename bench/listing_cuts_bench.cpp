// Placing a listing on real sides: fluidsynth music, songs with quiet
// passages inside them longer than some gaps between songs, each side played
// 1 % slow or fast, its listing typed with every length off by up to 3 s.
// Counts the cuts that fall inside their true gap (between one song's last
// audible sample and the next one's first) for velmar-rec split --listing,
// for split --tracks N on the same sides, and for the peer: shntool cutting
// at the listing's times (a cue sheet made from it), as a splitter without a
// look at the audio does.
//   velmar_listing_cuts [sides] [seed]   (default 8 sides, seed 1)
#include <cmath>
#include <cstdio>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/fluid_music.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wav_data.h"

using namespace velmar::test;

namespace {

struct Side {
  std::vector<std::pair<double, double>> Gaps;  // the true gaps, seconds of the played side
  std::string Listing;
  std::string Cue;  // the listing as a cue sheet, for the peer
};

// Track starts (seconds) from velmar-rec's listing of what it would write.
std::vector<double> StartsFrom(const std::string& Said) {
  static const std::regex Line(R"(Track\d+\.wav  (\d+):(\d+\.\d+) - )");
  std::vector<double> Starts;
  for (auto It = std::sregex_iterator(Said.begin(), Said.end(), Line); It != std::sregex_iterator();
       ++It)
    Starts.push_back(std::stod((*It)[1]) * 60 + std::stod((*It)[2]));
  return Starts;
}

std::string Clock(double Seconds, bool Cue) {
  char Text[32];
  const long Whole = static_cast<long>(Seconds);
  if (Cue)
    std::snprintf(Text, sizeof Text, "%02ld:%02ld:%02ld", Whole / 60, Whole % 60,
                  static_cast<long>((Seconds - static_cast<double>(Whole)) * 75));
  else
    std::snprintf(Text, sizeof Text, "%ld:%02ld", Whole / 60, Whole % 60);
  return Text;
}

Side MakeSide(std::mt19937& Random, const std::string& Wav) {
  std::uniform_real_distribution<double> Unit(0, 1);
  const int Songs = 4 + static_cast<int>(Random() % 3);
  const double Speed = Random() % 2 ? 0.99 : 1.01;  // sox speed: < 1 plays slow
  Bytes Pcm;
  auto Silence = [&](double s) {
    Pcm.resize(Pcm.size() + static_cast<std::size_t>(s * 44100) * 4);
  };
  std::vector<std::pair<double, double>> Music;
  Silence(1 + Unit(Random));
  for (int i = 0; i < Songs; ++i) {
    if (i > 0) Silence(0.8 + 0.7 * Unit(Random));
    const double First = static_cast<double>(Pcm.size()) / 176400;
    const int Parts = Unit(Random) < 0.5 ? 2 : 1;
    for (int k = 0; k < Parts; ++k) {
      if (k > 0) Silence(1.6 + 1.4 * Unit(Random));  // longer than most gaps
      Piece p;
      p.Program = static_cast<int>(std::vector<int>{0, 24, 48}[Random() % 3]);
      p.Seed = static_cast<unsigned>(Random());
      p.Seconds = 8 + 10 * Unit(Random);
      const Bytes Music1 = RenderPiece(p);
      Pcm.insert(Pcm.end(), Music1.begin(), Music1.end());
    }
    std::size_t Last = Pcm.size() / 4;
    while (Last > 0 && std::abs(static_cast<std::int16_t>(Pcm[4 * (Last - 1)] |
                                                          Pcm[4 * (Last - 1) + 1] << 8)) <= 104)
      --Last;
    Music.emplace_back(First, static_cast<double>(Last) / 44100);
  }
  Silence(3);
  TempDir Dir;
  WriteFileBytes(Dir.File("made.wav"), CdWav(Pcm));
  int Status = -1;
  RunCommand("sox " + Dir.File("made.wav") + " " + Wav + " speed " + std::to_string(Speed),
             &Status);
  Side s;
  for (int i = 1; i < Songs; ++i)
    s.Gaps.emplace_back(Music[static_cast<std::size_t>(i - 1)].second / Speed,
                        Music[static_cast<std::size_t>(i)].first / Speed);
  // The sleeve: lengths from song start to song start, each off by up to 3 s.
  s.Cue = "FILE \"side.wav\" WAVE\n";
  double At = 0;
  for (int i = 0; i < Songs; ++i) {
    const auto u = static_cast<std::size_t>(i);
    const double End = i + 1 < Songs ? Music[u + 1].first : Music[u].second + 1;
    const double Listed = std::max(1.0, std::round(End - Music[u].first + (Unit(Random) * 6 - 3)));
    s.Listing += "A" + std::to_string(i + 1) + " Song " + std::to_string(i + 1) + " " +
                 Clock(Listed, false) + "\n";
    s.Cue += "  TRACK " + std::to_string(i + 1) + " AUDIO\n    INDEX 01 " + Clock(At, true) + "\n";
    At += Listed;
  }
  return s;
}

int InGaps(const std::vector<double>& Starts, const Side& s) {
  int n = 0;
  for (std::size_t i = 1; i < Starts.size() && i - 1 < s.Gaps.size(); ++i)
    n += Starts[i] > s.Gaps[i - 1].first && Starts[i] < s.Gaps[i - 1].second;
  return n;
}

}  // namespace

int main(int argc, char** argv) {
  const int Sides = argc > 1 ? std::atoi(argv[1]) : 8;
  std::mt19937 Random(argc > 2 ? static_cast<unsigned>(std::atoi(argv[2])) : 1u);
  int Cuts = 0, Ours = 0, IntoN = 0, Peer = 0;
  for (int n = 0; n < Sides; ++n) {
    TempDir Dir;
    const std::string Wav = Dir.File("side.wav");
    const Side s = MakeSide(Random, Wav);
    WriteFileBytes(Dir.File("listing.txt"), Bytes(s.Listing.begin(), s.Listing.end()));
    WriteFileBytes(Dir.File("side.cue"), Bytes(s.Cue.begin(), s.Cue.end()));
    int Status = -1;
    const std::string Listed =
        RunCommand(std::string(VELMAR_REC) + " split " + Wav + " --listing " +
                       Dir.File("listing.txt") + " --dry-run 2>&1",
                   &Status);
    const std::string Tracks = RunCommand(std::string(VELMAR_REC) + " split " + Wav + " --tracks " +
                                              std::to_string(s.Gaps.size() + 1) + " --dry-run 2>&1",
                                          &Status);
    // The peer writes its tracks; their lengths give its cuts.
    RunCommand(
        "cd " + Dir.Path() + " && shntool split -q -f side.cue -d peer -O always side.wav 2>&1",
        &Status);
    std::vector<double> PeerStarts{0};
    for (std::size_t t = 1;; ++t) {
      char Name[32];
      std::snprintf(Name, sizeof Name, "/peer/split-track%02zu.wav", t);
      const std::string Path = Dir.Path() + Name;
      if (!std::filesystem::exists(Path)) break;
      PeerStarts.push_back(PeerStarts.back() + static_cast<double>(WavData(Path).size()) / 176400);
    }
    PeerStarts.pop_back();
    const int o = InGaps(StartsFrom(Listed), s), t = InGaps(StartsFrom(Tracks), s),
              p = InGaps(PeerStarts, s);
    std::printf(
        "side %d: %zu cuts: in their gap: velmar-rec --listing %d, --tracks N %d, shntool at "
        "the listed times %d\n",
        n + 1, s.Gaps.size(), o, t, p);
    std::fflush(stdout);
    Cuts += static_cast<int>(s.Gaps.size());
    Ours += o;
    IntoN += t;
    Peer += p;
  }
  std::printf(
      "all %d sides, %d cuts in their true gap: velmar-rec --listing %d (%.0f %%), --tracks N "
      "%d (%.0f %%), shntool at the listed times %d (%.0f %%)\n",
      Sides, Cuts, Ours, 100.0 * Ours / Cuts, IntoN, 100.0 * IntoN / Cuts, Peer,
      100.0 * Peer / Cuts);
  return Ours == Cuts ? 0 : 1;
}

// velmar-rec's commands on a side's files: split (by the track rule, into a
// number of tracks, or at a cue sheet's points; --dry-run lists the tracks
// only), join (tracks into one side and its cue sheet), titles and tags.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "cli/commands.h"
#include "cli/track_session.h"
#include "session/cue_sheet.h"
#include "session/listing_cuts.h"
#include "session/quiet_gaps.h"
#include "session/recording_session.h"
#include "session/staged_files.h"
#include "session/track_files.h"
#include "session/track_listing.h"
#include "stream/time_conversions.h"
#include "stream/wave_format.h"
#include "wavefile/text_encoding.h"
#include "wavefile/wave_audio_reader.h"

namespace velmar::cli {

namespace fs = std::filesystem;

namespace {

constexpr int kRate = 44100;

std::string FolderOf(const std::string& Path) {
  const fs::path Parent = fs::path(Path).parent_path();
  return Parent.empty() ? "." : Parent.string();
}

// The titles of a titles file: one a line, in any encoding and with any line
// ends; each trimmed, and a line of only blanks is no title.
std::vector<std::string> TitleLines(const std::string& Raw) {
  const std::string Text = TextAsUtf8(Raw);
  std::vector<std::string> Titles;
  std::size_t At = 0;
  while (At <= Text.size()) {
    const std::size_t End = std::min(Text.find_first_of("\r\n", At), Text.size());
    std::string Line = Text.substr(At, End - At);
    const std::size_t First = Line.find_first_not_of(" \t\f\v");
    if (First != std::string::npos)
      Titles.push_back(Line.substr(First, Line.find_last_not_of(" \t\f\v") - First + 1));
    At = End + (Text.compare(End, 2, "\r\n") == 0 ? 2 : 1);
  }
  return Titles;
}

std::string FramesText(std::int64_t Frames) {
  return TimeToText((Frames * 1000 + kRate / 2) / kRate);
}

std::unique_ptr<TWaveAudioReader> OpenSide(const std::string& Input, const WAVEFORMATEX& Cd,
                                           bool Say) {
  auto Reader = std::make_unique<TWaveAudioReader>(Input, Cd);
  const TWaveScan& Scan = Reader->Scan();
  if (Scan.DataBytes == 0) throw std::runtime_error("holds no audio");
  if (!Say) return Reader;
  if (Scan.Truncated)
    std::fprintf(stderr,
                 "velmar-rec: %s: warning: the file is truncated (its header claims more audio "
                 "than it holds); splitting the %s it holds\n",
                 Input.c_str(), TimeToText(SamplesToTime64(Scan.Format(), Scan.Frames())).c_str());
  return Reader;
}

TAudioSource SourceOf(TWaveAudioReader& Reader, const std::string& Input) {
  return [&Reader, Input](std::uint8_t* Dest, std::int64_t Count) -> std::int64_t {
    if (Interrupted()) {
      std::fprintf(stderr, "velmar-rec: interrupted; no track was written\n");
      return -1;
    }
    try {
      return Reader.Read(Dest, Count);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "velmar-rec: %s: %s\n", Input.c_str(), e.what());
      return -1;
    }
  };
}

// Where the side is cut: between its tracks, and what stays outside them.
struct TSideCuts {
  std::vector<std::int64_t> Cuts;  // frames at 44.1 kHz where tracks 2 .. start
  // The gap each cut lies in (a gap of no length: none was near).
  std::vector<TQuietGap> CutIn;
  std::vector<TTrackTags> Tags;     // a sheet's or listing's titles and album
  std::vector<std::int64_t> Exact;  // a sheet's exact frames at ExactRate
  int ExactRate = 0;
  // The first track's start and the last one's end (-1: the side's end):
  // a lead-in before and a run-out after are left out.
  std::int64_t From = 0, To = -1;
};

int WriteCuts(const TOptions& o, const TSessionOptions& s, const std::string& Input,
              const TSideCuts& Side, std::int64_t Frames);

bool IsCd(const WAVEFORMATEX& f, const WAVEFORMATEX& Cd) {
  return f.wFormatTag == WAVE_FORMAT_PCM && f.nChannels == Cd.nChannels &&
         f.nSamplesPerSec == Cd.nSamplesPerSec && f.wBitsPerSample == Cd.wBitsPerSample;
}

// Split by the track rule, as a recording of the file would be. A side in
// another format is measured the same way and then cut in its own format.
int SplitByRule(const TOptions& o, TSessionOptions s, const std::string& Input,
                const WAVEFORMATEX& Cd) {
  std::unique_ptr<TWaveAudioReader> Reader;
  try {
    Reader = OpenSide(Input, Cd, true);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "velmar-rec: %s: %s\n", Input.c_str(), e.what());
    return 2;
  }
  const auto Read = [&](std::uint8_t* Dest, std::int64_t Count) -> std::int64_t {
    try {
      return Reader->Read(Dest, Count);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "velmar-rec: %s: %s\n", Input.c_str(), e.what());
      return -1;
    }
  };
  s.WriteFiles = !o.Has("--dry-run");
  if (!s.WriteFiles || IsCd(*Reader->Scan().Format(), Cd)) {
    TTrackSession Session(s, ::isatty(STDERR_FILENO) && s.WriteFiles);
    return Session.Split(Read, Interrupted());
  }
  std::vector<std::int64_t> Lengths;
  {
    TSessionOptions Dry = s;
    Dry.WriteFiles = false;
    TTrackSession Session(Dry);
    Session.CollectInto(Lengths);
    if (const int Status = Session.Split(Read, Interrupted()); Status != 0) return Status;
  }
  std::vector<std::int64_t> Cuts;
  std::int64_t At = 0;
  for (std::size_t i = 0; i + 1 < Lengths.size(); ++i) Cuts.push_back(At += Lengths[i]);
  At += Lengths.empty() ? 0 : Lengths.back();
  return WriteCuts(o, s, Input, {.Cuts = Cuts}, At);
}

// The listing's tracks placed on the side (see listing_cuts.h), with their
// titles and the album's fields; what the placing could not find is said.
void PlaceOnSide(const TListing& Listing, const std::vector<TQuietGap>& Gaps, std::int64_t Frames,
                 const std::string& Input, TSideCuts& Side) {
  std::vector<std::int64_t> Ms;
  for (const TListedTrack& t : Listing.Tracks) Ms.push_back(t.Ms);
  const TListingPlan Plan = PlaceListing(Gaps, Frames, Ms, kRate);
  Side.From = Plan.From;
  Side.To = Plan.To;
  if (std::abs(Plan.Speed - 1) >= 0.002)
    std::fprintf(stderr, "velmar-rec: %s: the side's sound runs %.1f %% %s than the listing\n",
                 Input.c_str(), std::abs(Plan.Speed - 1) * 100,
                 Plan.Speed > 1 ? "longer" : "shorter");
  for (std::size_t i = 0; i < Plan.Cuts.size(); ++i) {
    const TListingCut& c = Plan.Cuts[i];
    Side.Cuts.push_back(c.Frame);
    Side.CutIn.push_back(c.InGap ? c.Gap : TQuietGap{c.Frame, c.Frame});
    if (!c.InGap)
      std::fprintf(stderr,
                   "velmar-rec: %s: no quiet gap near the end of track %zu (\"%s\"): cut at %s, "
                   "where its listed length ends\n",
                   Input.c_str(), i + 1, Listing.Tracks[i].Title.c_str(),
                   FramesText(c.Frame).c_str());
  }
  if (Plan.Cuts.size() + 1 < Listing.Tracks.size())
    std::fprintf(stderr, "velmar-rec: %s: %zu quiet gaps found for %zu tracks\n", Input.c_str(),
                 Plan.Cuts.size(), Listing.Tracks.size());
  const int Total = static_cast<int>(Plan.Cuts.size()) + 1;
  for (int i = 0; i < Total; ++i) {
    const TListedTrack& l = Listing.Tracks[static_cast<std::size_t>(i)];
    TTrackTags t;
    t.Title = l.Title;
    t.Artist = l.Artist.empty() ? Listing.Artist : l.Artist;
    t.Album = Listing.Album;
    t.Date = Listing.Date;
    // A listed number without a side letter is the track's; else its place.
    const bool Numeric = !l.Number.empty() && l.Number.size() <= 4 &&
                         std::all_of(l.Number.begin(), l.Number.end(), ::isdigit);
    t.Track = Numeric ? std::stoi(l.Number) : i + 1;
    t.TrackTotal = Total;
    Side.Tags.push_back(t);
  }
}

// Split at planned cuts: the N - 1 longest quiet gaps, a cue sheet's points,
// or a listing's tracks placed in the gaps nearest their lengths.
int SplitAtCuts(TOptions& o, const TSessionOptions& s, const std::string& Input,
                const WAVEFORMATEX& Cd) {
  TSideCuts Side;
  std::vector<std::int64_t>& Cuts = Side.Cuts;
  std::vector<TTrackTags>& Tags = Side.Tags;
  std::vector<std::int64_t>& Exact = Side.Exact;
  int& ExactRate = Side.ExactRate;
  std::int64_t Frames = 0;
  TListing Listing;
  if (o.Has("--listing")) {
    const std::string Name = o.Text("--listing", "");
    std::ifstream In(Name, std::ios::binary);
    std::stringstream Text;
    Text << In.rdbuf();
    std::string Error;
    if (!In || !ParseListing(TextAsUtf8(Text.str()), o.Text("--side", ""), Listing, Error)) {
      std::fprintf(stderr, "velmar-rec: %s: %s\n", Name.c_str(),
                   In ? Error.c_str() : "cannot be read");
      return 2;
    }
    if (Listing.Sides.size() > 1)
      std::fprintf(stderr, "velmar-rec: %s: side %c of sides %s (--side chooses)\n", Name.c_str(),
                   Listing.Side, Listing.Sides.c_str());
  }
  try {
    auto Reader = OpenSide(Input, Cd, true);
    if (o.Has("--cue")) {
      const std::string CueName = o.Text("--cue", "");
      std::ifstream In(CueName, std::ios::binary);
      std::stringstream Text;
      Text << In.rdbuf();
      std::vector<TCueTrack> Sheet;
      TCueAlbum Album;
      std::string Error, Named;
      if (!In || !ParseCueSheet(Text.str(), kRate, Sheet, Error, &Named, &ExactRate, &Album)) {
        std::fprintf(stderr, "velmar-rec: %s: %s\n", CueName.c_str(),
                     In ? Error.c_str() : "cannot be read");
        return 2;
      }
      if (fs::path(Named).filename() != fs::path(Input).filename())
        std::fprintf(stderr, "velmar-rec: %s: warning: the sheet is of \"%s\", not of %s\n",
                     CueName.c_str(), Named.c_str(), fs::path(Input).filename().c_str());
      for (std::size_t i = 1; i < Sheet.size() && ExactRate > 0; ++i)
        Exact.push_back(Sheet[i].Exact);
      for (std::size_t i = 0; i < Sheet.size(); ++i)
        if (Sheet[i].Stale)
          std::fprintf(stderr,
                       "velmar-rec: %s: track %zu's REM FRAME does not match its INDEX (edited "
                       "since the sheet was written): the INDEX is used\n",
                       CueName.c_str(), i + 1);
      const WAVEFORMATEX* f = Reader->Scan().Format();
      Frames = Reader->Scan().Frames() * kRate / static_cast<std::int64_t>(f->nSamplesPerSec);
      // The sheet's tracks are an album's, numbered as on the sheet.
      for (std::size_t i = 0; i < Sheet.size(); ++i) {
        TTrackTags t;
        t.Title = Sheet[i].Title;
        t.Artist = Sheet[i].Performer.empty() ? Album.Performer : Sheet[i].Performer;
        t.Album = Album.Title;
        t.Date = Album.Date;
        t.Genre = Album.Genre;
        t.Track = static_cast<int>(i) + 1;
        t.TrackTotal = static_cast<int>(Sheet.size());
        Tags.push_back(t);
        if (i == 0) continue;
        if (Sheet[i].Start >= Frames ||
            (ExactRate > 0 && Sheet[i].Exact * kRate / ExactRate >= Frames)) {
          std::fprintf(stderr, "velmar-rec: %s: track %zu starts after the end of %s\n",
                       CueName.c_str(), i + 1, Input.c_str());
          return 2;
        }
        Cuts.push_back(Sheet[i].Start);
      }
    } else {
      long long Tracks = static_cast<long long>(Listing.Tracks.size());
      if (!o.Has("--listing") && !o.Integer("--tracks", 1, 999, 1, Tracks))
        return UsageError(o.Error());
      TQuietGapFinder Finder(s.Rule);
      std::vector<std::uint8_t> Buffer(1 << 20);
      const TAudioSource Read = SourceOf(*Reader, Input);
      for (std::int64_t n; (n = Read(Buffer.data(), static_cast<std::int64_t>(Buffer.size()))) > 0;)
        Finder.Add(Buffer.data(), static_cast<std::size_t>(n));
      if (Interrupted()) return 2;
      const std::vector<TQuietGap> Gaps = Finder.Finish();
      Frames = Finder.Frames();
      if (o.Has("--listing")) {
        PlaceOnSide(Listing, Gaps, Frames, Input, Side);
        return WriteCuts(o, s, Input, Side, Frames);
      }
      Cuts = CutsForTracks(Gaps, Frames, static_cast<int>(Tracks), s.Rule.MinSec * kRate);
      for (const std::int64_t c : Cuts)
        for (const TQuietGap& g : Gaps)
          if (g.Middle() == c) Side.CutIn.push_back(g);
      if (static_cast<long long>(Cuts.size()) + 1 < Tracks) {
        const int Gate = Finder.GateFor(static_cast<int>(Tracks), s.Rule.MinSec * kRate);
        std::fprintf(stderr,
                     "velmar-rec: %s: %lld tracks need %lld quiet gaps; found %zu (with tracks "
                     "of at least %d s); nothing was written%s\n",
                     Input.c_str(), Tracks, Tracks - 1, Cuts.size(), s.Rule.MinSec,
                     Gate > 0 ? (" (-n " + std::to_string(Gate) + ", " +
                                 NoiseGateText(Gate, s.Rule.TimeGate) + ", finds them)")
                                    .c_str()
                              : " (no noise gate finds them; try a shorter --min-length)");
        return 2;
      }
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "velmar-rec: %s: %s\n", Input.c_str(), e.what());
    return 2;
  }
  return WriteCuts(o, s, Input, Side, Frames);
}

// The side's audio as it is, for cutting: its own samples when they can be
// copied (PCM or floating point; Record: its format record as stored, an
// extensible one with its channel mask), else decoded to 16-bit PCM of its
// rate and channels, which is said.
std::unique_ptr<TWaveAudioReader> OpenSideAsItIs(const std::string& Input,
                                                 std::vector<std::uint8_t>& Record) {
  TWaveScan Scan;
  std::string Error;
  if (!ScanWaveFile(Input, Scan, Error)) throw std::runtime_error(Error);
  const WAVEFORMATEX* f = Scan.Format();
  if (f->wFormatTag == WAVE_FORMAT_PCM || f->wFormatTag == WAVE_FORMAT_IEEE_FLOAT) {
    Record = Scan.StoredFormatBytes;
    return std::make_unique<TWaveAudioReader>(Input, *f);
  }
  auto Reader = std::make_unique<TWaveAudioReader>(Input);
  const WAVEFORMATEX& t = Reader->Target();
  Record.assign(reinterpret_cast<const std::uint8_t*>(&t),
                reinterpret_cast<const std::uint8_t*>(&t) + sizeof t);
  std::fprintf(stderr, "velmar-rec: %s: %s %s cannot be cut as it is; the tracks are %s\n",
               Input.c_str(), WaveFormatTagName(f).c_str(), WaveFormatText(f).c_str(),
               WaveFormatText(&t).c_str());
  return Reader;
}

// Writes the tracks that Cuts (frames at 44.1 kHz, where the side is measured)
// make of the side, in the side's own format, each cut at the side's nearest
// frame; lists each track. Frames: the side's length at 44.1 kHz.
int WriteCuts(const TOptions& o, const TSessionOptions& s, const std::string& Input,
              const TSideCuts& Side, std::int64_t Frames) {
  const std::vector<std::int64_t>& Cuts = Side.Cuts;
  const std::vector<TQuietGap>& CutIn = Side.CutIn;
  const std::vector<TTrackTags>& Tags = Side.Tags;
  const std::vector<std::int64_t>& Exact = Side.Exact;
  const int ExactRate = Side.ExactRate;
  const std::int64_t From = Side.From, To = Side.To < 0 ? Frames : Side.To;
  std::vector<std::uint8_t> Record;
  std::unique_ptr<TWaveAudioReader> Reader;
  try {
    if (!o.Has("--dry-run")) Reader = OpenSideAsItIs(Input, Record);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "velmar-rec: %s: %s\n", Input.c_str(), e.what());
    return 2;
  }
  const double Rate = Reader ? Reader->Target().nSamplesPerSec : kRate;
  // A cut in the side's frames: exact where the sheet gives it at the side's
  // rate, else the nearest to the frame at 44.1 kHz.
  const bool UseExact = Exact.size() == Cuts.size() && ExactRate == static_cast<int>(Rate);
  std::vector<std::int64_t> OwnCuts;
  for (std::size_t i = 0; i < Cuts.size(); ++i)
    OwnCuts.push_back(UseExact ? Exact[i]
                               : static_cast<std::int64_t>(
                                     std::llround(static_cast<double>(Cuts[i]) * Rate / kRate)));
  const auto Own = [&](std::size_t i, std::int64_t f44) {
    return i < OwnCuts.size()
               ? OwnCuts[i]
               : static_cast<std::int64_t>(std::llround(static_cast<double>(f44) * Rate / kRate));
  };
  std::vector<TTrackFile> Files;
  const auto OwnAt = [&](std::int64_t f44) {
    return static_cast<std::int64_t>(std::llround(static_cast<double>(f44) * Rate / kRate));
  };
  // What lies before the first track and after the last is passed over.
  const auto LeaveOut = [&](std::int64_t Start, std::int64_t End, const char* What) {
    TTrackFile Out;
    Out.LeftOut = true;
    Out.Frames = OwnAt(End) - OwnAt(Start);
    Files.push_back(Out);
    std::printf("%s  %s - %s  left out\n", What, FramesText(Start).c_str(),
                FramesText(End).c_str());
  };
  if (From > 0) LeaveOut(0, From, "lead-in");
  const std::size_t First = Files.size();
  int Number = NextTrackNumber(s.Folder);
  for (std::size_t i = 0; i <= Cuts.size(); ++i) {
    const std::int64_t Start = i == 0 ? From : Cuts[i - 1], End = i < Cuts.size() ? Cuts[i] : To;
    std::error_code e;
    while (fs::exists(fs::path(s.Folder) / TrackFileName(Number), e)) ++Number;
    TTrackFile Track;
    Track.Name = TrackFileName(Number++);
    Track.Frames = Own(i, End) - (i == 0 ? OwnAt(From) : Own(i - 1, Start));
    Files.push_back(Track);
    std::string Line = Track.Name + "  " + FramesText(Start) + " - " + FramesText(End) + "  " +
                       FramesText(End - Start);
    if (i < CutIn.size())
      Line += CutIn[i].Length() == 0 ? "  (cut where its listed length ends: no quiet gap near)"
                                     : "  (cut in the quiet gap " + FramesText(CutIn[i].Start) +
                                           " - " + FramesText(CutIn[i].End) + ")";
    if (i < Tags.size() && !Tags[i].Title.empty()) Line += "  \"" + Tags[i].Title + "\"";
    std::printf("%s\n", Line.c_str());
  }
  if (To < Frames) LeaveOut(To, Frames, "run-out");
  // The side's album fields go into every track; a sheet's or a listing's say more.
  SideTags({Input}, Files);
  for (std::size_t i = 0; First + i < Files.size() && i < Tags.size(); ++i) {
    TTrackTags& t = Files[First + i].Tags;
    const TTrackTags& Sheet = Tags[i];
    t.Title = Sheet.Title;
    for (auto Field :
         {&TTrackTags::Artist, &TTrackTags::Album, &TTrackTags::Date, &TTrackTags::Genre})
      if (!(Sheet.*Field).empty()) t.*Field = Sheet.*Field;
    t.Track = Sheet.Track;
    t.TrackTotal = Sheet.TrackTotal;
  }
  std::fflush(stdout);
  if (o.Has("--dry-run")) return 0;
  std::string Error;
  const auto* Format = reinterpret_cast<const WAVEFORMATEX*>(Record.data());
  if (!WriteTrackFiles(SourceOf(*Reader, Input), *Format, s.Folder, Files, {}, Error)) {
    if (!Error.empty() && Error != "reading failed")
      std::fprintf(stderr, "velmar-rec: %s\n", Error.c_str());
    return 2;
  }
  return 0;
}

}  // namespace

int SplitCommand(const TArgs& Args) {
  TOptions o;
  if (!o.Parse(Args,
               {"--out", "--noise-gate", "--time-gate", "--min-length", "--tracks", "--cue",
                "--listing", "--side"},
               {"--dry-run"}))
    return UsageError(o.Error());
  if (o.Positional().size() != 1) return UsageError("split needs one input file");
  if (o.Has("--tracks") + o.Has("--cue") + o.Has("--listing") > 1)
    return UsageError("--tracks, --cue and --listing exclude each other");
  if (o.Has("--side") && !o.Has("--listing")) return UsageError("--side goes with --listing");
  TSessionOptions s;
  if (!RuleOptions(o, s.Rule)) return UsageError(o.Error());
  s.Folder = o.Text("--out", ".");
  s.KeepGoing = true;  // every sample of the input goes into a track
  WAVEFORMATEX Cd{};
  BuildPCMFormat(&Cd, 16, 2, kRate);
  InstallInterruptHandlers();
  FinishRewritesIn(s.Folder);
  // Run again after it was killed: the tracks its journal finished are this split's.
  const fs::path Into = fs::absolute(s.Folder).lexically_normal();
  bool Finished = false;
  for (const TRecoveredFile& f : RecoveredFiles())
    if (fs::path(f.Path).parent_path() == Into && f.Before.empty() && !o.Has("--dry-run")) {
      std::printf("%s\n", fs::path(f.Path).filename().c_str());
      Finished = true;
    }
  if (Finished) return 0;
  if (o.Has("--dry-run") && !o.Has("--cue"))
    std::fprintf(stderr, "velmar-rec: quiet is under %s (noise gate %d, time gate %d)\n",
                 NoiseGateText(s.Rule.NoiseGate, s.Rule.TimeGate).c_str(), s.Rule.NoiseGate,
                 s.Rule.TimeGate);
  const std::string& Input = o.Positional()[0];
  if (o.Has("--tracks") || o.Has("--cue") || o.Has("--listing"))
    return SplitAtCuts(o, s, Input, Cd);
  return SplitByRule(o, s, Input, Cd);
}

int JoinCommand(const TArgs& Args) {
  TOptions o;
  if (!o.Parse(Args, {"--out"}, {})) return UsageError(o.Error());
  if (o.Positional().empty()) return UsageError("join needs the tracks to join");
  if (!o.Has("--out")) return UsageError("join needs -o SIDE.wav");
  const std::string Side = o.Text("--out", "");
  std::vector<std::string> Tracks = o.Positional();
  for (const std::string& t : Tracks) FinishRewritesIn(FolderOf(t));
  FinishRewritesIn(FolderOf(Side));
  OrderByTrackNumber(Tracks);
  std::string Error;
  // Run again after it was killed: the side its journal finished is this join's.
  if (!RecoveredInPlace(Side) && !JoinTrackFiles(Tracks, Side, Error)) {
    std::fprintf(stderr, "velmar-rec: %s; nothing was written\n", Error.c_str());
    return 2;
  }
  TWaveScan Scan;
  ScanWaveFile(Side, Scan, Error);
  std::printf("%s  %zu tracks  %s\n%s\n", Side.c_str(), Tracks.size(),
              TimeToText(SamplesToTime64(Scan.Format(), Scan.Frames())).c_str(),
              fs::path(Side).replace_extension(".cue").c_str());
  return 0;
}

int TitlesCommand(const TArgs& Args) {
  TOptions o;
  if (!o.Parse(Args, {}, {})) return UsageError(o.Error());
  if (o.Positional().size() < 2) return UsageError("titles needs a titles file and the tracks");
  std::ifstream In(o.Positional()[0], std::ios::binary);
  std::stringstream Raw;
  Raw << In.rdbuf();
  if (!In) {
    std::fprintf(stderr, "velmar-rec: %s: cannot be read\n", o.Positional()[0].c_str());
    return 2;
  }
  std::vector<std::string> Titles = TitleLines(Raw.str());
  TTagEdit Edit;
  std::string Error;
  if (!TakeHeaderLines(Titles, Edit, Error)) {
    std::fprintf(stderr, "velmar-rec: %s: %s; nothing was changed\n", o.Positional()[0].c_str(),
                 Error.c_str());
    return 2;
  }
  std::vector<std::string> Tracks(o.Positional().begin() + 1, o.Positional().end());
  FinishRewritesIn(FolderOf(Tracks.front()));
  OrderByTrackNumber(Tracks);
  // Run again after it was killed: its journal has finished this titling.
  if (std::all_of(Tracks.begin(), Tracks.end(), [](const std::string& t) {
        return !fs::exists(t) && !RecoveredPathOf(t).empty();
      })) {
    for (const std::string& t : Tracks)
      std::printf("%s -> %s\n", t.c_str(),
                  (fs::path(FolderOf(t)) / fs::path(RecoveredPathOf(t)).filename()).c_str());
    return 0;
  }
  std::vector<std::string> Names;
  if (!TitleTrackFiles(Tracks, Titles, Names, Error, Edit)) {
    std::fprintf(stderr, "velmar-rec: %s\n", Error.c_str());
    return 2;
  }
  for (std::size_t i = 0; i < Tracks.size(); ++i)
    std::printf("%s -> %s\n", Tracks[i].c_str(), Names[i].c_str());
  return 0;
}

int TagsCommand(const TArgs& Args) {
  TOptions o;
  const std::vector<std::pair<const char*, const char*>> Fields = {
      {"--artist", "Artist"}, {"--album", "Album"}, {"--album-artist", "Album Artist"},
      {"--date", "Date"},     {"--genre", "Genre"}, {"--comment", "Comment"},
      {"--disc", "Disc"}};
  std::vector<std::string> Valued{"--cover"};
  for (const auto& f : Fields) Valued.push_back(f.first);
  if (!o.Parse(Args, Valued, {"--numbers"})) return UsageError(o.Error());
  if (o.Positional().empty()) return UsageError("tags needs the tracks");
  TTagEdit Edit;
  std::string Error;
  for (const auto& [Option, Name] : Fields)
    if (o.Has(Option) && !Edit.SetByName(Name, o.Text(Option, ""), Error))
      return UsageError(Option + std::string(": ") + Error);
  if (o.Has("--cover")) {
    TCover Cover;
    if (const std::string Path = o.Text("--cover", "");
        !Path.empty() && !LoadCover(Path, Cover, Error)) {
      std::fprintf(stderr, "velmar-rec: %s; nothing was changed\n", Error.c_str());
      return 2;
    }
    Edit.Cover = Cover;  // an empty name takes the cover away
  }
  Edit.Numbers = o.Has("--numbers");
  std::vector<std::string> Tracks = o.Positional();
  for (const std::string& t : Tracks) FinishRewritesIn(FolderOf(t));
  OrderByTrackNumber(Tracks);
  std::vector<TTrackTags> Tags;
  for (const std::string& t : Tracks) Tags.push_back(TrackTags(t));
  Edit.ApplyTo(Tags);
  // Tracks of several folders (the sides of an album) are tagged folder by
  // folder; each folder's set all or nothing.
  std::vector<std::string> Folders;
  for (const std::string& t : Tracks)
    if (std::find(Folders.begin(), Folders.end(), FolderOf(t)) == Folders.end())
      Folders.push_back(FolderOf(t));
  for (const std::string& Folder : Folders) {
    std::vector<std::string> Set;
    std::vector<TTrackTags> SetTags;
    for (std::size_t i = 0; i < Tracks.size(); ++i)
      if (FolderOf(Tracks[i]) == Folder) {
        Set.push_back(Tracks[i]);
        SetTags.push_back(Tags[i]);
      }
    if (!RetagTrackFiles(Set, Set, SetTags, Error)) {
      std::fprintf(stderr, "velmar-rec: %s\n", Error.c_str());
      return 2;
    }
  }
  for (std::size_t i = 0; i < Tracks.size(); ++i) {
    const TTrackTags& t = Tags[i];
    std::string Line = Tracks[i];
    if (t.Track > 0) Line += "  " + NumberOfText(t.Track, t.TrackTotal);
    if (!t.Title.empty()) Line += "  \"" + t.Title + "\"";
    if (!t.Artist.empty()) Line += "  " + t.Artist;
    if (!t.Album.empty()) Line += "  (" + t.Album + (t.Date.empty() ? "" : ", " + t.Date) + ")";
    if (!t.Cover.Data.empty())
      Line += "  cover " + std::to_string((t.Cover.Data.size() + 1023) / 1024) + " kB";
    std::printf("%s\n", Line.c_str());
  }
  return 0;
}

}  // namespace velmar::cli

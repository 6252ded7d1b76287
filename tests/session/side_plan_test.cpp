// What the review's rules decide on a side as a record gives it: a lead-in of
// surface hiss, two pieces with a short rest inside the first, a track of
// only the run-out's hiss. Its quiet, the track of noise, the sound's ends,
// and the set that leaving them out makes, written and read back: the kept
// tracks hold exactly the audio between the ends, less the track left out,
// numbered by themselves, and the recorded tracks stay whole in Originals.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>

#include "session/side_apply.h"
#include "session/side_plan.h"
#include "tests/support/hissy_side.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wav_data.h"

namespace velmar {
namespace {

namespace fs = std::filesystem;
using test::Bytes;

constexpr std::int64_t kRate = 44100;

TEST(SidePlan, TheQuietTellsTheNoiseTrackAndTheEndsAndLeavingThemOutKeepsTheRest) {
  test::TempDir Dir;
  // The first piece from 4 s to 15.15 s, the second from 17.65 s to 25.65 s.
  // Recorded as three tracks: the lead-in and the first piece; the second
  // piece and two seconds after; the rest of the run-out alone.
  const std::vector<std::int16_t> All = test::RecordSide();
  const auto Frames = static_cast<std::int64_t>(All.size() / 2);
  const std::vector<std::int64_t> Ends = test::RecordSideTrackEnds(Frames);
  std::vector<std::string> Tracks;
  for (int t = 0; t < 3; ++t) {
    const std::int64_t From = t == 0 ? 0 : Ends[t - 1];
    Tracks.push_back(Dir.File("Track0" + std::to_string(t + 1) + ".wav"));
    test::WriteSideTrack(Tracks.back(), All, From, Ends[t] - From);
  }
  TSideAudio Audio;
  std::string Error;
  ASSERT_TRUE(Audio.Open(Tracks, Error)) << Error;
  TSideGaps Gaps;
  std::atomic<bool> Cancel{false};
  std::atomic<std::int64_t> Done{0};
  ASSERT_TRUE(FindSideGaps(Audio, TTrackSettings{}, Cancel, Done, Gaps));
  EXPECT_EQ(Done.load(), Frames);

  TSideEdit Edit;
  Edit.Reset({Ends[0], Ends[1] - Ends[0], Ends[2] - Ends[1]}, {"", "", ""});
  // The third track is the run-out's hiss; the rest inside the first piece
  // (150 ms) is no gap, and the gap between the pieces is not a track.
  EXPECT_EQ(NoiseOnlyTracks(Edit, Gaps.Gaps), std::vector<std::size_t>{2});
  // The sound runs from 4 s to 25.65 s: the span keeps half a second before
  // it and a second after (within a buffer of the rule).
  const TSoundSpan Span = SoundSpan(Gaps.Gaps, Frames);
  ASSERT_TRUE(Span.Trims(Frames));
  EXPECT_NEAR(static_cast<double>(Span.From) / kRate, 4 - 0.5, 0.1);
  EXPECT_NEAR(static_cast<double>(Span.To) / kRate, 25.65 + 1, 0.1);

  // Leave the ends out in one edit: marks where they begin; then the noise
  // track, which the run-out holds already, is left out as it is.
  ASSERT_TRUE(Edit.LeaveOutEnds(Span.From, Span.To));
  ASSERT_EQ(Edit.Tracks(), 5u);  // lead-in | piece 1 | piece 2 | run-out | the old third
  EXPECT_TRUE(Edit.LeftOut(0));
  EXPECT_FALSE(Edit.LeftOut(1));
  EXPECT_FALSE(Edit.LeftOut(2));
  EXPECT_TRUE(Edit.LeftOut(3));
  EXPECT_TRUE(Edit.LeftOut(4));
  EXPECT_EQ(Edit.KeptTracks(), 2u);
  EXPECT_FALSE(Edit.LeaveOutEnds(Span.From, Span.To));  // nothing more to leave out
  // The last kept track cannot go; a join keeps what either kept.
  ASSERT_TRUE(Edit.LeaveOut(1, true));
  EXPECT_FALSE(Edit.LeaveOut(2, true));
  ASSERT_TRUE(Edit.Undo());
  ASSERT_TRUE(Edit.DeleteMark(2));  // piece 2 joined with the run-out
  EXPECT_FALSE(Edit.LeftOut(2));
  ASSERT_TRUE(Edit.Undo());
  ASSERT_TRUE(Edit.SetTitles(1, {"Prelude", "Fugue"}));

  TTrackTags Album;
  Album.Album = "Side A";
  const std::vector<TTrackFile> New =
      PlanSideTracks(Edit, {Ends[0], Ends[1] - Ends[0], Ends[2] - Ends[1]},
                     std::vector<TTrackTags>(3), Album, true);
  ASSERT_EQ(New.size(), 5u);
  EXPECT_TRUE(New[0].LeftOut && New[3].LeftOut && New[4].LeftOut);
  EXPECT_EQ(New[1].Name, "01 Prelude.wav");
  EXPECT_EQ(New[2].Name, "02 Fugue.wav");
  EXPECT_EQ(New[2].Tags.Track, 2);
  EXPECT_EQ(New[2].Tags.TrackTotal, 2);
  EXPECT_EQ(New[1].Tags.Album, "Side A");

  Audio.Close();
  TSideApply Apply{.Tracks = Tracks,
                   .Frames = {Ends[0], Ends[1] - Ends[0], Ends[2] - Ends[1]},
                   .Folder = Dir.Path(),
                   .New = New,
                   .MarksChanged = Edit.MarksChanged(),
                   .LeftOut = Edit.AnyLeftOut(),
                   .KeepOriginals = false};
  for (const std::string& t : Tracks) ASSERT_TRUE(StampTrack(t, Apply.Stamps.emplace_back()));
  // Leaving audio out keeps the recorded tracks whatever the user chose for
  // repairs; titles alone retag in place; a repair not kept rewrites only.
  EXPECT_EQ(HowToWrite(Apply), TSideWrite::RewriteKeeping);
  EXPECT_EQ(HowToWrite({.Repair = TClickOptions{}, .KeepOriginals = false}), TSideWrite::Rewrite);
  EXPECT_EQ(HowToWrite({.Repair = TClickOptions{}}), TSideWrite::RewriteKeeping);
  EXPECT_EQ(HowToWrite({}), TSideWrite::Retag);
  // A track changed since it was read (another program wrote it meanwhile):
  // nothing is written and nothing moves.
  {
    TSideApply Stale = Apply;
    Stale.Frames[1] += 1;
    std::string Why;
    EXPECT_FALSE(ApplySide(Stale, {}, Why));
    EXPECT_EQ(Why, "Track02.wav changed on disk since the review read it; nothing was changed "
                   "(open the review again to see it)");
    EXPECT_FALSE(fs::exists(Dir.File("Originals")));
    EXPECT_TRUE(fs::exists(Tracks[1]));
  }
  std::int64_t Written = 0;
  ASSERT_TRUE(ApplySide(Apply, [&](std::int64_t n) { Written = n; }, Error)) << Error;
  EXPECT_GT(Written, 0);
  // The two pieces, exactly the side's audio between the ends.
  Bytes Joined;
  for (const char* Name : {"01 Prelude.wav", "02 Fugue.wav"}) {
    const Bytes a = test::WavData(Dir.File(Name));
    Joined.insert(Joined.end(), a.begin(), a.end());
  }
  Bytes Expected(static_cast<std::size_t>(Edit.TrackEnd(2) - Edit.TrackStart(1)) * 4);
  std::memcpy(Expected.data(), All.data() + 2 * Edit.TrackStart(1), Expected.size());
  EXPECT_TRUE(Joined == Expected);
  std::vector<std::string> Left;
  for (const auto& e : fs::directory_iterator(Dir.Path()))
    if (e.is_regular_file()) Left.push_back(e.path().filename().string());
  std::sort(Left.begin(), Left.end());
  EXPECT_EQ(Left, (std::vector<std::string>{"01 Prelude.wav", "02 Fugue.wav"}));
  // The recorded side, left-out audio and all, is in Originals.
  Bytes Original;
  for (int t = 1; t <= 3; ++t) {
    const Bytes a = test::WavData(Dir.File("Originals/Track0" + std::to_string(t) + ".wav"));
    Original.insert(Original.end(), a.begin(), a.end());
  }
  EXPECT_EQ(Original.size(), All.size() * 2);
  EXPECT_TRUE(std::memcmp(Original.data(), All.data(), Original.size()) == 0);
}

}  // namespace
}  // namespace velmar

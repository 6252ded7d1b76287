// A side's listing looked up as a user does it, against a stand-in for the
// MusicBrainz web service that answers in its documented JSON and refuses
// requests faster than one a second: releases found by artist and album and by
// barcode, the chosen one saved, and split --listing placing it on a side of
// real music. Offline, an unknown release, a service too busy: one sentence.
#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "tests/support/fluid_music.h"
#include "tests/support/musicbrainz_service.h"
#include "tests/support/peer.h"
#include "tests/support/wav_data.h"

namespace velmar {
namespace {

using namespace test;

std::string VelmarRec(const std::string& Arguments, int& Status) {
  return RunCommand(std::string(VELMAR_REC) + " " + Arguments + " 2>&1", &Status);
}

TEST(ListingLookup, AReleaseFoundByArtistAndAlbumOrBarcodeSplitsTheSide) {
  MusicBrainzService Service;
  ASSERT_TRUE(Service.Started) << "the stand-in web service did not start";
  const SongSide Songs = RenderSongSide();
  ASSERT_TRUE(Songs.Rendered) << "fluidsynth did not render the pieces";
  Service.Add("5f6a1c2e-0000-4000-8000-00000000a001", SideReleaseJson(Songs));
  Service.Add("5f6a1c2e-0000-4000-8000-00000000b002",
              R"json({"id": "5f6a1c2e-0000-4000-8000-00000000b002", "title": "Kind of Quiet (Live)",
                  "date": null, "barcode": null, "artist-credit": [{"name": "The Velmar Trio"}],
                  "media": [{"position": 1, "format": "CD", "tracks": []}, {"position": 2, "format": "CD", "tracks": []}]})json");
  TempDir Dir;
  int Status = -1;
  // Two releases match the artist and album: each with its id.
  const std::string Found =
      VelmarRec("listing --artist 'velmar trio' --album 'kind of quiet'", Status);
  ASSERT_EQ(Status, 0) << Found;
  EXPECT_NE(Found.find("5f6a1c2e-0000-4000-8000-00000000a001  The Velmar Trio - Kind of Quiet "
                       "(1971-05-01, GB, 12\" Vinyl, 4 tracks)\n"),
            std::string::npos)
      << Found;
  EXPECT_NE(Found.find("5f6a1c2e-0000-4000-8000-00000000b002  The Velmar Trio - Kind of Quiet "
                       "(Live) (2 x CD)\n"),
            std::string::npos)
      << Found;
  const std::string ByBarcode = VelmarRec("listing --barcode 5012345678900", Status);
  ASSERT_EQ(Status, 0) << ByBarcode;
  EXPECT_EQ(std::count(ByBarcode.begin(), ByBarcode.end(), '\n'), 1) << ByBarcode;
  // The release saved, then the side split by it.
  const std::string Saved = VelmarRec(
      "listing --release 5f6a1c2e-0000-4000-8000-00000000a001 -o " + Dir.File("release.json"),
      Status);
  ASSERT_EQ(Status, 0) << Saved;
  EXPECT_NE(Saved.find("The Velmar Trio - Kind of Quiet: 4 tracks, sides AB"), std::string::npos)
      << Saved;
  WriteFileBytes(Dir.File("side.wav"), CdWav(Songs.Pcm));
  const std::string Split =
      VelmarRec("split " + Dir.File("side.wav") + " --listing " + Dir.File("release.json") +
                    " --side A -o " + Dir.File("tracks"),
                Status);
  ASSERT_EQ(Status, 0) << Split;
  const std::vector<Bytes> Tracks = TracksIn(Dir.File("tracks"));
  ASSERT_EQ(Tracks.size(), 3u) << Split;
  EXPECT_NE(Split.find("run-out "), std::string::npos) << Split;
  EXPECT_NE(Split.find("cut in the quiet gap"), std::string::npos) << Split;
  // The tags as ffprobe reads them.
  const std::string Tags = Peer("ffprobe -v error -show_entries format_tags -of default=nw=1 " +
                                Dir.File("tracks/Track03.wav"));
  for (const char* Tag : {"TAG:title=Evening\n", "TAG:artist=The Velmar Trio\n",
                          "TAG:album=Kind of Quiet\n", "TAG:date=1971-05-01\n", "TAG:track=3"})
    EXPECT_NE(Tags.find(Tag), std::string::npos) << Tag << " in " << Tags;

  // Every request named us. A program run right after another met the
  // service's limit of one a second and asked again a second later: each
  // refused request was answered in the end, none sooner than a second after.
  std::istringstream Log(Service.Log());
  int Answered = 0;
  std::map<std::string, double> Refused;  // path: when
  for (std::string Line; std::getline(Log, Line);) {
    EXPECT_NE(Line.find("\tVelmarAudioRecorder/"), std::string::npos) << Line;
    const double When = std::stod(Line);
    const std::string Path = Line.substr(
        Line.find('\t') + 1, Line.find('\t', Line.find('\t') + 1) - Line.find('\t') - 1);
    if (Line.ends_with("\t503")) {
      Refused.emplace(Path, When);
    } else if (Line.ends_with("\t200")) {
      ++Answered;
      if (const auto It = Refused.find(Path); It != Refused.end()) {
        EXPECT_GE(When - It->second, 0.95) << Line;
        Refused.erase(It);
      }
    }
  }
  EXPECT_EQ(Answered, 3) << Service.Log();
  EXPECT_TRUE(Refused.empty()) << Service.Log();

  // Unknown, refused, offline: one sentence each, status 2, nothing written.
  const std::string Unknown =
      VelmarRec("listing --release 5f6a1c2e-0000-4000-8000-0000000000ff", Status);
  EXPECT_EQ(Status, 2);
  EXPECT_EQ(Unknown, "velmar-rec: the MusicBrainz web service knows no such release\n");
  EXPECT_EQ(VelmarRec("listing --release '../../etc'", Status),
            "velmar-rec: \"../../etc\" is not a release's MusicBrainz id\n");
  ::setenv("VELMAR_MUSICBRAINZ", "http://127.0.0.1:1/ws/2/", 1);
  const std::string Offline = VelmarRec("listing --barcode 5012345678900", Status);
  EXPECT_EQ(Status, 2);
  EXPECT_EQ(Offline.rfind("velmar-rec: the MusicBrainz web service cannot be reached (", 0), 0u)
      << Offline;
  EXPECT_NE(Offline.find("); check the connection, or paste the listing\n"), std::string::npos)
      << Offline;
}

}  // namespace
}  // namespace velmar

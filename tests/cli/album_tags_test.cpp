// Album fields from velmar-rec to the encoded files, read back with the
// peers (mutagen, ffprobe, metaflac), never with our own reader: a titles
// file's header lines and the tags command set them, with non-ASCII text and
// a cover; the WAV carries them in INFO and its ID3v2 chunk; velmar-mp3
// carries every field and the cover's bytes into FLAC and MP3; a retitling,
// a join (its cue sheet) and a split at that sheet keep them. A cover that is
// not an image or too large, and a wrong disc, change nothing.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "tests/cli/velmar_rec.h"
#include "tests/support/peer.h"
#include "tests/support/temp_dir.h"

namespace velmar {
namespace {

namespace fs = std::filesystem;
using namespace test;
using Fields = std::map<std::string, std::string>;

Fields KeyValues(const std::string& Text) {
  Fields f;
  std::istringstream Lines(Text);
  for (std::string Line; std::getline(Lines, Line);)
    if (const std::size_t Eq = Line.find('='); Eq != std::string::npos)
      f[Line.substr(0, Eq)] = Line.substr(Eq + 1);
  return f;
}

// The ID3v2 frames mutagen reads in a WAV or MP3 file (text frames by id,
// the front cover's bytes as its MD5), with the system's Python, which has it.
Fields Mutagen(const std::string& File) {
  return KeyValues(
      Peer("/usr/bin/python3 -c \"import sys, hashlib, mutagen\n"
           "t = mutagen.File(sys.argv[1]).tags\n"
           "for k in t.keys():\n"
           "  f = t[k]\n"
           "  if k.startswith('APIC'): print('APIC=' + hashlib.md5(f.data).hexdigest() + ' ' + "
           "str(int(f.type)) + ' ' + f.mime)\n"
           "  elif k.startswith('COMM'): print('COMM=' + str(f.text[0]))\n"
           "  elif hasattr(f, 'text'): print(k + '=' + str(f.text[0]))\" '" +
           File + "'"));
}

// The format's tags as ffprobe reads them (its own names, lower case).
Fields Ffprobe(const std::string& File) {
  Fields f;
  for (const auto& [k, v] : KeyValues(Peer("ffprobe -v error -show_format '" + File + "'")))
    if (k.rfind("TAG:", 0) == 0) {
      std::string Name = k.substr(4);
      for (char& c : Name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      f[Name] = v;
    }
  return f;
}

std::string Md5(const std::string& File) {
  return Peer("md5sum '" + File + "'").substr(0, 32);
}

struct AlbumTags : ::testing::Test {
  TempDir Dir;
  std::string Cover = Dir.File("cover.png");
  std::vector<std::string> Tracks;

  // Twelve short tracks of a side, and a 64x64 PNG cover.
  void SetUp() override {
    fs::create_directories(Dir.File("side"));
    for (int i = 1; i <= 12; ++i) {
      char Name[32];
      std::snprintf(Name, sizeof Name, "side/Track%02d.wav", i);
      Tracks.push_back(Dir.File(Name));
      Peer("sox -n -r 44100 -b 16 -c 2 '" + Tracks.back() + "' synth 0.3 sine " +
           std::to_string(200 + 50 * i) + " vol 0.3");
    }
    Peer("ffmpeg -loglevel error -f lavfi -i testsrc=size=64x64 -frames:v 1 '" + Cover + "'");
  }
  std::string Args(const std::vector<std::string>& Files) const {
    std::string a;
    for (const std::string& f : Files) a += " '" + f + "'";
    return a;
  }
  std::vector<std::string> Now() const {
    std::vector<std::string> Files;
    for (const std::string& Name : test::Tracks(Dir.File("side")))
      Files.push_back(Dir.File("side/" + Name));
    return Files;
  }
};

TEST_F(AlbumTags, EveryFieldReachesTheWavFlacAndMp3AsThePeersReadThemAndRewritesKeepThem) {
  // A titles file with the album's header lines; a first title with a colon
  // in it is a title, not a header.
  std::ofstream(Dir.File("titles.txt"))
      << "Artist: Sibelius Ö\nAlbum: Tapiola № 7\nDate: 1975-03-01\nGenre: Klassik\n"
         "Intro: "
         "Allegro\n雪の歌\nThree\nFour\nFive\nSix\nSeven\nEight\nNine\nTen\nEleven\nTwelve\n";
  int Status = -1;
  std::string Out = Rec("titles '" + Dir.File("titles.txt") + "'" + Args(Tracks), &Status);
  ASSERT_EQ(Status, 0) << Out;
  Out = Rec("tags --album-artist 'Various Ärtists' --comment 'from tape №2' --disc 1/2 --cover '" +
                Cover + "' --numbers" + Args(Now()),
            &Status);
  ASSERT_EQ(Status, 0) << Out;
  const std::vector<std::string> Tagged = Now();
  ASSERT_EQ(Tagged.size(), 12u);
  EXPECT_EQ(fs::path(Tagged[0]).filename(), "01 Intro_ Allegro.wav");
  const std::string Third = Dir.File("side/03 Three.wav");
  const std::string CoverMd5 = Md5(Cover);

  // The WAV: every field in its ID3v2 chunk (mutagen), INFO's in INFO (ffprobe).
  const Fields Id3 = Mutagen(Third);
  EXPECT_EQ(Id3.at("TIT2"), "Three");
  EXPECT_EQ(Id3.at("TPE1"), "Sibelius Ö");
  EXPECT_EQ(Id3.at("TALB"), "Tapiola № 7");
  EXPECT_EQ(Id3.at("TPE2"), "Various Ärtists");
  EXPECT_EQ(Id3.at("TCON"), "Klassik");
  EXPECT_EQ(Id3.at("COMM"), "from tape №2");
  EXPECT_EQ(Id3.at("TRCK"), "3/12");
  EXPECT_EQ(Id3.at("TPOS"), "1/2");
  EXPECT_EQ(Id3.at("TDRC").substr(0, 4), "1975");
  EXPECT_EQ(Id3.at("APIC"), CoverMd5 + " 3 image/png");
  EXPECT_EQ(Mutagen(Dir.File("side/02 雪の歌.wav")).at("TIT2"), "雪の歌");
  const Fields Info = Ffprobe(Third);
  EXPECT_EQ(Info.at("title"), "Three");
  EXPECT_EQ(Info.at("artist"), "Sibelius Ö");
  EXPECT_EQ(Info.at("album"), "Tapiola № 7");
  EXPECT_EQ(Info.at("date"), "1975-03-01");
  EXPECT_EQ(Info.at("genre"), "Klassik");
  EXPECT_EQ(Info.at("comment"), "from tape №2");
  EXPECT_EQ(Info.at("track"), "3");

  // FLAC and MP3 of the third track.
  Peer(std::string(VELMAR_MP3) + " --no-window --flac '" + Third + "' && " + VELMAR_MP3 +
       " --no-window '" + Third + "'");
  const std::string Flac = Dir.File("side/03 Three.flac"), Mp3 = Dir.File("side/03 Three.mp3");
  const Fields Vorbis = KeyValues(Peer("metaflac --export-tags-to=- '" + Flac + "'"));
  const Fields Want = {{"TITLE", "Three"},          {"ARTIST", "Sibelius Ö"},
                       {"ALBUM", "Tapiola № 7"},    {"ALBUMARTIST", "Various Ärtists"},
                       {"DATE", "1975-03-01"},      {"GENRE", "Klassik"},
                       {"COMMENT", "from tape №2"}, {"TRACKNUMBER", "3"},
                       {"TRACKTOTAL", "12"},        {"DISCNUMBER", "1"},
                       {"DISCTOTAL", "2"}};
  for (const auto& [k, v] : Want) EXPECT_EQ(Vorbis.count(k) ? Vorbis.at(k) : "(none)", v) << k;
  Peer("metaflac --export-picture-to='" + Dir.File("picture") + "' '" + Flac + "'");
  EXPECT_EQ(Md5(Dir.File("picture")), CoverMd5);
  EXPECT_NE(
      Peer("metaflac --list --block-type=PICTURE '" + Flac + "'").find("type: 3 (Cover (front))"),
      std::string::npos);
  const Fields Frames = Mutagen(Mp3);
  const Fields WantMp3 = {{"TIT2", "Three"},        {"TPE1", "Sibelius Ö"},
                          {"TALB", "Tapiola № 7"},  {"TPE2", "Various Ärtists"},
                          {"TDRC", "1975-03-01"},   {"TCON", "Klassik"},
                          {"COMM", "from tape №2"}, {"TRCK", "3/12"},
                          {"TPOS", "1/2"},          {"APIC", CoverMd5 + " 3 image/png"}};
  for (const auto& [k, v] : WantMp3) EXPECT_EQ(Frames.count(k) ? Frames.at(k) : "(none)", v) << k;
  for (const std::string& File : {Flac, Mp3}) {
    const Fields f = Ffprobe(File);
    EXPECT_EQ(f.at("album_artist"), "Various Ärtists") << File;
    EXPECT_EQ(f.at("album"), "Tapiola № 7") << File;
    EXPECT_EQ(f.at("track").substr(0, 1), "3") << File;
  }
  fs::remove(Flac);
  fs::remove(Mp3);

  // Titled again (in place): the other fields stay.
  std::ofstream(Dir.File("titles2.txt")) << "A\nB\nC\nD\nE\nF\nG\nH\nI\nJ\nK\nL\n";
  Out = Rec("titles '" + Dir.File("titles2.txt") + "'" + Args(Now()), &Status);
  ASSERT_EQ(Status, 0) << Out;
  const Fields Retitled = Mutagen(Dir.File("side/03 C.wav"));
  EXPECT_EQ(Retitled.at("TIT2"), "C");
  EXPECT_EQ(Retitled.at("TALB"), "Tapiola № 7");
  EXPECT_EQ(Retitled.at("TRCK"), "3/12");
  EXPECT_EQ(Retitled.at("APIC"), CoverMd5 + " 3 image/png");
  EXPECT_EQ(Ffprobe(Dir.File("side/03 C.wav")).at("title"), "C");

  // Joined: the sheet names the album; split at the sheet, the tracks have it.
  Out = Rec("join" + Args(Now()) + " -o '" + Dir.File("album.wav") + "'", &Status);
  ASSERT_EQ(Status, 0) << Out;
  std::ifstream In(Dir.File("album.cue"));
  const std::string Sheet((std::istreambuf_iterator<char>(In)), {});
  for (const char* Line : {"PERFORMER \"Sibelius Ö\"", "TITLE \"Tapiola № 7\"",
                           "REM DATE \"1975-03-01\"", "REM GENRE \"Klassik\""})
    EXPECT_NE(Sheet.find(Line), std::string::npos) << Line << " in\n" << Sheet;
  Out = Rec("split --cue '" + Dir.File("album.cue") + "' -o '" + Dir.File("again") + "' '" +
                Dir.File("album.wav") + "'",
            &Status);
  ASSERT_EQ(Status, 0) << Out;
  const Fields Split = Mutagen(Dir.File("again/Track03.wav"));
  EXPECT_EQ(Split.at("TIT2"), "C");
  EXPECT_EQ(Split.at("TPE1"), "Sibelius Ö");
  EXPECT_EQ(Split.at("TALB"), "Tapiola № 7");
  EXPECT_EQ(Split.at("TRCK"), "3/12");
  EXPECT_EQ(Split.at("TPE2"), "Various Ärtists");  // the side's own fields
  EXPECT_EQ(Split.at("APIC"), CoverMd5 + " 3 image/png");
}

TEST_F(AlbumTags, ACoverThatIsNotAnImageOrTooLargeAndAWrongDiscChangeNothing) {
  std::vector<std::string> Sums;
  for (const std::string& t : Tracks) Sums.push_back(Md5(t));
  std::ofstream(Dir.File("notes.jpg")) << "not a picture\n";
  {
    std::ofstream Large(Dir.File("large.png"), std::ios::binary);
    Large << "\x89PNG\r\n\x1a\n";
    Large << std::string(17 << 20, '\0');
  }
  int Status = -1;
  std::string Out =
      Rec("tags --album X --cover '" + Dir.File("notes.jpg") + "'" + Args(Tracks), &Status);
  EXPECT_EQ(Status, 2);
  EXPECT_NE(Out.find("is not a JPEG or PNG image; nothing was changed"), std::string::npos) << Out;
  Out = Rec("tags --album X --cover '" + Dir.File("large.png") + "'" + Args(Tracks), &Status);
  EXPECT_EQ(Status, 2);
  EXPECT_NE(Out.find("is larger than 16 MB; nothing was changed"), std::string::npos) << Out;
  Out = Rec("tags --disc one" + Args(Tracks), &Status);
  EXPECT_EQ(Status, 2);
  EXPECT_NE(Out.find("is not N or N/M"), std::string::npos) << Out;
  // A track that is not a WAV file stops the whole set.
  std::ofstream(Dir.File("side/Track13.wav")) << "not audio";
  Out = Rec("tags --album X" + Args(Now()), &Status);
  EXPECT_EQ(Status, 2);
  EXPECT_NE(Out.find("nothing was changed"), std::string::npos) << Out;
  for (std::size_t i = 0; i < Tracks.size(); ++i) EXPECT_EQ(Md5(Tracks[i]), Sums[i]) << Tracks[i];
}

}  // namespace
}  // namespace velmar

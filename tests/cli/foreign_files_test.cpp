// What other programs write into WAV files, through velmar-rec's rewrites:
// chunks larger than a copy keeps are refused with a word and no byte
// changed; a RIFF size that ends inside the data is read as sox and ffprobe
// read it; a tag that another program edited wins over the INFO list; a tag
// before the audio stays one tag; a cue sheet whose INDEX a person edited is
// cut at the INDEX; covers that are no pictures are refused.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "tests/cli/velmar_rec.h"
#include "tests/support/peer.h"
#include "tests/support/riff_builder.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wav_data.h"

namespace velmar {
namespace {

namespace fs = std::filesystem;
using namespace test;

constexpr std::size_t kAudioBytes = 88200 * 4;  // 2 s

// A list chunk of Form with the given sub-chunks.
Bytes List(const char* Form, const std::vector<Bytes>& Items) {
  Bytes Body = Id(Form);
  for (const Bytes& i : Items) Body.insert(Body.end(), i.begin(), i.end());
  return Chunk("LIST", Body);
}

Bytes Text(const std::string& s) {
  Bytes b(s.begin(), s.end());
  b.push_back(0);
  return b;
}

std::string Quote(const std::string& Path) {
  return "'" + Path + "'";
}

TEST(ForeignFiles, ChunksLargerThanACopyKeepsAreRefusedAndNothingChanges) {
  TempDir Dir;
  WriteFileBytes(Dir.File("titles.txt"), Bytes{'N', 'e', 'w', '\n'});
  Bytes Cue{0x50, 0xC3, 0, 0};                 // 50,000 points of 24 bytes
  for (std::uint32_t i = 0; i < 50000; ++i) {  // name, position, "data", 0, 0, frame
    for (const std::uint32_t v : {i + 1, 0u}) PutLe(Cue, v, 4);
    Cue.insert(Cue.end(), {'d', 'a', 't', 'a'});
    for (const std::uint32_t v : {0u, 0u, i * 7}) PutLe(Cue, v, 4);
  }
  Bytes Id3 = {'I', 'D', '3', 3, 0, 0, 0x08, 0x69, 0x13, 0x20};  // an ID3v2.3 tag of 18.5 MB
  const Bytes Picture = Pattern(18500000);
  Id3.insert(Id3.end(), Picture.begin(), Picture.end());
  const std::vector<std::pair<std::string, Bytes>> Cases{
      {"id3 ", Chunk("id3 ", Id3)},
      {"LIST", List("INFO", {Chunk("ICMT", Pattern(1200000))})},
      {"bext", Chunk("bext", Pattern(2000000))},
      {"cue ", Chunk("cue ", Cue)},
  };
  for (const auto& [Kind, Big] : Cases) {
    const std::string Track = Dir.File("Track01.wav");
    const Bytes File = Riff({PcmFmt(2, 44100, 16), Chunk("data", Pattern(kAudioBytes)), Big});
    WriteFileBytes(Track, File);
    for (const std::string& Command :
         {"tags --album X " + Quote(Track),
          "titles " + Quote(Dir.File("titles.txt")) + " " + Quote(Track)}) {
      int Status = -1;
      const std::string Said = Rec(Command, &Status);
      EXPECT_EQ(Status, 2) << Kind << ": " << Said;
      EXPECT_NE(Said.find("holds a "), std::string::npos) << Said;
      EXPECT_NE(Said.find("\"" + Kind + "\" chunk"), std::string::npos) << Said;
      EXPECT_NE(Said.find("nothing was changed"), std::string::npos) << Said;
      EXPECT_TRUE(fs::exists(Track)) << Kind;
      EXPECT_TRUE(ReadFileBytes(Track) == File) << Kind << " " << Command;
    }
  }
}

TEST(ForeignFiles, ARiffSizeEndingInsideTheDataIsReadAsThePeersReadIt) {
  TempDir Dir;
  const std::string Track = Dir.File("short.wav");
  const Bytes Audio = Pattern(kAudioBytes, 3);
  WriteFileBytes(
      Track,
      Riff({PcmFmt(2, 44100, 16), Chunk("data", Audio),
            List("INFO", {Chunk("INAM", Text("Old title")), Chunk("IART", Text("Someone"))})},
           100));
  int Status = -1;
  EXPECT_NE(Rec("info " + Quote(Track), &Status).find("frames: 88200"), std::string::npos);
  EXPECT_EQ(Peer("soxi -s " + Quote(Track)), "88200\n");
  EXPECT_EQ(Peer("ffprobe -v error -show_entries stream=duration_ts -of csv=p=0 " + Quote(Track)),
            "88200\n");
  // Tagged: the audio as it was, the INFO list kept.
  const std::string Said = Rec("tags --album X " + Quote(Track), &Status);
  ASSERT_EQ(Status, 0) << Said;
  EXPECT_TRUE(test::Audio(Track) == Audio);
  EXPECT_EQ(Peer("soxi -s " + Quote(Track)), "88200\n");
  const std::string Tags =
      Peer("ffprobe -v error -show_entries format_tags -of flat " + Quote(Track));
  EXPECT_NE(Tags.find("title=\"Old title\""), std::string::npos) << Tags;
  EXPECT_NE(Tags.find("artist=\"Someone\""), std::string::npos) << Tags;
  EXPECT_NE(Tags.find("album=\"X\""), std::string::npos) << Tags;
  // Split: every frame, nothing more.
  const std::string Split =
      Rec("split " + Quote(Track) + " --tracks 1 -o " + Quote(Dir.File("split")), &Status);
  ASSERT_EQ(Status, 0) << Split;
  EXPECT_TRUE(test::Audio(Dir.File("split/Track01.wav")) == Audio);
}

TEST(ForeignFiles, ATagAnotherProgramEditedWinsAndATagBeforeTheAudioStaysOne) {
  TempDir Dir;
  const std::string Track = Dir.File("Track01.wav");
  Peer("sox -n -r 44100 -b 16 -c 2 " + Quote(Track) + " synth 1 sine 440 vol 0.3");
  int Status = -1;
  ASSERT_EQ((Rec("tags --album 'Old album' --artist Someone " + Quote(Track), &Status), Status), 0);
  // Another program edits the tag's album and artist, not the INFO list.
  Peer(
      "/usr/bin/python3 -c \"import sys, mutagen.wave, mutagen.id3\n"
      "f = mutagen.wave.WAVE(sys.argv[1])\n"
      "f.tags.add(mutagen.id3.TALB(encoding=1, text='Nouvel album'))\n"
      "f.tags.add(mutagen.id3.TPE1(encoding=1, text='Ärtist'))\n"
      "f.save()\" " +
      Quote(Track));
  ASSERT_EQ((Rec("tags --genre Folk " + Quote(Track), &Status), Status), 0);
  const std::string Read = Peer(
      "/usr/bin/python3 -c \"import sys, mutagen\n"
      "t = mutagen.File(sys.argv[1]).tags\n"
      "print(t['TALB'], t['TPE1'], t['TCON'])\" " +
      Quote(Track));
  EXPECT_EQ(Read, "Nouvel album Ärtist Folk\n");
  const std::string Info =
      Peer("ffprobe -v error -show_entries format_tags -of flat " + Quote(Track));
  EXPECT_NE(Info.find("album=\"Nouvel album\""), std::string::npos) << Info;

  // A tag before the audio (as some programs write it): titled, one tag.
  const std::string Early = Dir.File("early.wav");
  const Bytes Tag = [&] {
    const Bytes File = ReadFileBytes(Track);
    const auto [Size, At] = WavChunk(File, "id3 ");
    return Bytes(File.begin() + At, File.begin() + At + Size);
  }();
  WriteFileBytes(
      Early, Riff({PcmFmt(2, 44100, 16), Chunk("id3 ", Tag), Chunk("data", Pattern(kAudioBytes))}));
  const std::string EarlyTitle = "Early title\n";
  WriteFileBytes(Dir.File("t.txt"), Bytes(EarlyTitle.begin(), EarlyTitle.end()));
  const std::string Said = Rec("titles " + Quote(Dir.File("t.txt")) + " " + Quote(Early), &Status);
  ASSERT_EQ(Status, 0) << Said;
  const std::string Titled = Dir.File("01 Early title.wav");
  const Bytes After = ReadFileBytes(Titled);
  int Tags = 0;
  for (std::size_t i = 12; i + 8 <= After.size();) {
    const std::uint32_t Size = After[i + 4] | After[i + 5] << 8 | After[i + 6] << 16 |
                               static_cast<std::uint32_t>(After[i + 7]) << 24;
    Tags += std::string(After.begin() + i, After.begin() + i + 4) == "id3 ";
    i += 8 + Size + (Size & 1);
  }
  EXPECT_EQ(Tags, 1);
  EXPECT_EQ(Peer("/usr/bin/python3 -c \"import sys, mutagen\n"
                 "t = mutagen.File(sys.argv[1]).tags\n"
                 "print(t['TIT2'], t['TALB'])\" " +
                 Quote(Titled)),
            "Early title Nouvel album\n");
  EXPECT_TRUE(test::Audio(Titled) == Pattern(kAudioBytes));
}

TEST(ForeignFiles, AnEditedIndexWinsOverItsStaleFrameAndATrackPastTheEndIsRefused) {
  TempDir Dir;
  for (int i = 1; i <= 3; ++i)
    Peer("sox -n -r 44100 -b 16 -c 2 " + Quote(Dir.File("Track0" + std::to_string(i) + ".wav")) +
         " synth 2 sine " + std::to_string(300 * i) + " vol 0.3");
  int Status = -1;
  ASSERT_EQ(
      (Rec("join -o " + Quote(Dir.File("side/side.wav")) + " " + Quote(Dir.File("Track01.wav")) +
               " " + Quote(Dir.File("Track02.wav")) + " " + Quote(Dir.File("Track03.wav")),
           &Status),
       Status),
      0);
  const std::string Sheet = Dir.File("side/side.cue");
  const Bytes Was = ReadFileBytes(Sheet);
  std::string Text(Was.begin(), Was.end());
  // A person moves the second track's start from 0:02 to 0:02.40.
  Text.replace(Text.find("INDEX 01 00:02:00"), 17, "INDEX 01 00:02:30");
  WriteFileBytes(Sheet, Bytes(Text.begin(), Text.end()));
  std::string Said = Rec("split " + Quote(Dir.File("side/side.wav")) + " --cue " + Quote(Sheet) +
                             " -o " + Quote(Dir.File("edited")),
                         &Status);
  ASSERT_EQ(Status, 0) << Said;
  EXPECT_NE(Said.find("track 2's REM FRAME does not match its INDEX"), std::string::npos) << Said;
  EXPECT_EQ(Peer("soxi -s " + Quote(Dir.File("edited/Track01.wav"))),
            std::to_string(105840) + "\n");
  EXPECT_EQ(Peer("soxi -s " + Quote(Dir.File("edited/Track02.wav"))), std::to_string(70560) + "\n");
  // The third moved past the side's end: an error, no track written.
  Text.replace(Text.find("INDEX 01 00:04:00"), 17, "INDEX 01 09:04:00");
  WriteFileBytes(Sheet, Bytes(Text.begin(), Text.end()));
  Said = Rec("split " + Quote(Dir.File("side/side.wav")) + " --cue " + Quote(Sheet) + " -o " +
                 Quote(Dir.File("past")),
             &Status);
  EXPECT_EQ(Status, 2) << Said;
  EXPECT_NE(Said.find("track 3 starts after the end"), std::string::npos) << Said;
  EXPECT_FALSE(fs::exists(Dir.File("past/Track03.wav")));
}

TEST(ForeignFiles, ACoverThatIsNoPictureOrNoFileIsRefused) {
  TempDir Dir;
  const std::string Track = Dir.File("Track01.wav");
  Peer("sox -n -r 44100 -b 16 -c 2 " + Quote(Track) + " synth 1 sine 440 vol 0.3");
  const Bytes Before = ReadFileBytes(Track);
  WriteFileBytes(Dir.File("tiny.png"), {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'});
  WriteFileBytes(Dir.File("tiny.jpg"), {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J'});
  fs::create_directories(Dir.File("folder.png"));
  ASSERT_EQ(::mkfifo(Dir.File("pipe.jpg").c_str(), 0600), 0);
  for (const char* Cover : {"tiny.png", "tiny.jpg", "folder.png", "pipe.jpg"}) {
    int Status = -1;
    const std::string Said = RunCommand("timeout 20 " + std::string(VELMAR_REC) + " tags --cover " +
                                            Quote(Dir.File(Cover)) + " " + Quote(Track) + " 2>&1",
                                        &Status);
    EXPECT_EQ(Status, 2) << Cover << ": " << Said;  // not 124: a pipe never blocks it
    EXPECT_NE(Said.find(std::string(Cover) + " is not a"), std::string::npos) << Said;
    EXPECT_TRUE(ReadFileBytes(Track) == Before) << Cover;
  }
}

}  // namespace
}  // namespace velmar

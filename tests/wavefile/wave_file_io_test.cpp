#include "wavefile/wave_file_io.h"

#include <gtest/gtest.h>

#include <unistd.h>
#include <map>

#include <cstring>
#include <filesystem>

#include "tests/support/file_size_limit.h"
#include "tests/support/temp_dir.h"
#include "tests/wavefile/wave_file_test_support.h"
#include "wavefile/cue_markers.h"
#include "wavefile/wave_scan.h"

namespace velmar {
namespace {

using namespace test;

struct WaveFileIo : ::testing::Test {
  TempDir Dir;
  const WAVEFORMATEX Cd = PcmFormat(16, 2, 44100);
};

TEST_F(WaveFileIo, ClosedFileHasTheDocumentedLayout) {
  const std::string Name = Dir.File("Track01.wav");
  const Bytes Audio = Pattern(1000);
  Record(Name, Cd, Audio);
  const Bytes File = ReadFileBytes(Name);
  ASSERT_EQ(File.size(), 46u + 1000 + 12);
  Bytes Header = Riff({}, 1050);  // "RIFF" 1050 "WAVE"
  const Bytes Fmt = PcmFmt(2, 44100, 16);
  Header.insert(Header.end(), Fmt.begin(), Fmt.end());
  const Bytes DataHeader = Chunk("data", {}, 1000);
  Header.insert(Header.end(), DataHeader.begin(), DataHeader.end());
  EXPECT_EQ(Bytes(File.begin(), File.begin() + 46), Header);
  EXPECT_EQ(Bytes(File.begin() + 46, File.begin() + 1046), Audio);
  EXPECT_EQ(Bytes(File.begin() + 1046, File.end()), Chunk("fact", {250, 0, 0, 0}));
}

TEST_F(WaveFileIo, OddDataGetsAPadByteAndFactCountsFrames) {
  const std::string Name = Dir.File("odd.wav");
  Record(Name, PcmFormat(8, 1, 8000), Pattern(1001));
  const Bytes File = ReadFileBytes(Name);
  ASSERT_EQ(File.size(), 46u + 1001 + 1 + 12);
  EXPECT_EQ(Le32At(File, 4), File.size() - 8);
  EXPECT_EQ(Le32At(File, 42), 1001u);
  EXPECT_EQ(File[46 + 1001], 0);
  EXPECT_EQ(Le32At(File, 46 + 1002 + 8), 1001u);
  auto b = Parse(Name);
  ASSERT_TRUE(b);
  EXPECT_EQ(b->DataBytes, 1001);  // the pad byte is no sample
  EXPECT_EQ(ReadAll(b.get()), Pattern(1001));

  // Also when the padded data is the last chunk of the file.
  WriteFileBytes(Name, Riff({PcmFmt(1, 8000, 8), Chunk("data", Pattern(1001))}));
  b = Parse(Name);
  ASSERT_TRUE(b);
  EXPECT_EQ(b->DataBytes, 1001);
}

TEST_F(WaveFileIo, ParsedFileDescribesWhatWasWritten) {
  const std::string Name = Dir.File("back.wav");
  Record(Name, Cd, Pattern(40000));
  std::int32_t Code = -1;
  auto b = Parse(Name, &Code);
  ASSERT_EQ(Code, WAVEERR_NONE);
  EXPECT_EQ(WaveFormatText(b->Format()), "44.100 kHz, 16 Bit, Stereo");
  EXPECT_EQ(b->DataOffset, 46);
  EXPECT_EQ(b->DataBytes, 40000);
  EXPECT_EQ(b->TotalSamples, 10000);
  EXPECT_EQ(b->EndSample, 10000);
  EXPECT_EQ(b->FileSize, 46 + 40000 + 12);
  EXPECT_EQ(b->Handle, nullptr);  // parsing leaves the file closed
  EXPECT_EQ(ReadAll(b.get(), 4096), Pattern(40000));
  EXPECT_EQ(b->Position, b->EndSample);
}

// The file as it stands on disk while a recording runs: sizes still 0, no fact.
Bytes InProgressImage(const std::string& Name, const WAVEFORMATEX& Format, const Bytes& Audio) {
  BlockPtr b = Record(Name, Format, Audio, /*Close=*/false);
  EXPECT_EQ(WaveFileSetBuffer(b.get(), 0), WAVEERR_NONE);  // pushes the buffer out
  return ReadFileBytes(Name);
}

TEST_F(WaveFileIo, FileCutOffAnywhereWhileRecordingReadsEveryWholeFrame) {
  const Bytes Audio = Pattern(403);  // 100 frames and 3 bytes of a frame
  const Bytes Image = InProgressImage(Dir.File("rec.wav"), Cd, Audio);
  ASSERT_EQ(Image.size(), 46u + 403);
  EXPECT_EQ(Le32At(Image, 4), 0u);
  EXPECT_EQ(Le32At(Image, 42), 0u);
  const std::string Cut = Dir.File("cut.wav");
  for (size_t Length = 0; Length <= Image.size(); ++Length) {
    WriteFileBytes(Cut, Bytes(Image.begin(), Image.begin() + static_cast<std::ptrdiff_t>(Length)));
    std::int32_t Code = -1;
    auto b = Parse(Cut, &Code);
    if (!b) {
      // Only a file cut inside its header may fail, and only with a code.
      EXPECT_LT(Length, 46u);
      EXPECT_TRUE(Code == WAVEERR_IO || Code == WAVEERR_BADFORMAT) << Code;
      continue;
    }
    const size_t Frames = Length >= 46 ? (Length - 46) / 4 : 0;
    ASSERT_EQ(b->TotalSamples, static_cast<std::int32_t>(Frames)) << "cut at " << Length;
    if (Frames) {
      ASSERT_EQ(ReadAll(b.get()),
                Bytes(Audio.begin(), Audio.begin() + static_cast<std::ptrdiff_t>(Frames * 4)))
          << "cut at " << Length;
    }
  }
}

TEST_F(WaveFileIo, DataEndsAtTheNextChunkWhateverSizesClaim) {
  const std::string Name = Dir.File("next.wav");
  // 1001 bytes of data (padded), a lying "fact", then a LIST chunk.
  WriteFileBytes(
      Name,
      Riff({PcmFmt(2, 44100, 16), Chunk("data", Pattern(1001)), Chunk("fact", {0x99, 0x99, 0, 0}),
            Chunk("LIST", {'I', 'N', 'F', 'O', 'I', 'C', 'M', 'T', 2, 0, 0, 0, 'x', 0})}));
  auto b = Parse(Name);
  ASSERT_TRUE(b);
  EXPECT_EQ(b->DataBytes, 1000);  // up to the next header, whole frames only
  EXPECT_EQ(b->TotalSamples, 250);
  std::string Comment;
  EXPECT_EQ(WaveFileGetInfo(b.get(), 3, Comment), INFOERR_NONE);
  EXPECT_EQ(Comment, "x");
}

TEST_F(WaveFileIo, PcmLayoutFieldsAreRecomputed) {
  const std::string Name = Dir.File("wrong.wav");
  WriteFileBytes(Name, Riff({Chunk("fmt ", FmtBody(1, 2, 22050, 12345, 3, 16, false)),
                             Chunk("data", Pattern(100))}));
  auto b = Parse(Name);
  ASSERT_TRUE(b);
  EXPECT_EQ(b->Format()->nBlockAlign, 4);
  EXPECT_EQ(b->Format()->nAvgBytesPerSec, 88200u);
  EXPECT_EQ(b->TotalSamples, 25);
}

TEST_F(WaveFileIo, SecondFormatOrDataChunkEndsTheScan) {
  const std::string Name = Dir.File("twice.wav");
  WriteFileBytes(Name, Riff({PcmFmt(2, 44100, 16), Chunk("data", Pattern(400)), PcmFmt(1, 8000, 8),
                             Chunk("data", Pattern(100))}));
  auto b = Parse(Name);
  ASSERT_TRUE(b);
  EXPECT_EQ(b->Format()->nChannels, 2);
  EXPECT_EQ(b->DataBytes, 400);

  WriteFileBytes(Name,
                 Riff({PcmFmt(2, 44100, 16), PcmFmt(1, 8000, 8), Chunk("data", Pattern(100))}));
  b = Parse(Name);
  ASSERT_TRUE(b);
  EXPECT_EQ(b->Format()->nChannels, 2);
  EXPECT_EQ(b->DataBytes, 0);
}

TEST_F(WaveFileIo, UnusableFilesGiveCodes) {
  const std::string Name = Dir.File("bad.wav");
  auto CodeOf = [&](const Bytes& Content) {
    WriteFileBytes(Name, Content);
    std::int32_t Code = -1;
    EXPECT_FALSE(Parse(Name, &Code));
    return Code;
  };
  EXPECT_EQ(CodeOf({}), WAVEERR_IO);
  EXPECT_EQ(CodeOf(Chunk("RIFX", Id("WAVE"))), WAVEERR_IO);
  Bytes Avi = Riff({PcmFmt(2, 44100, 16)});
  std::memcpy(Avi.data() + 8, "AVI ", 4);
  EXPECT_EQ(CodeOf(Avi), WAVEERR_IO);
  EXPECT_EQ(CodeOf(Riff({Chunk("data", Pattern(100))})), WAVEERR_BADFORMAT);
  EXPECT_EQ(CodeOf(Riff(
                {Chunk("fmt ", FmtBody(0x11, 1, 22050, 11100, 0, 4)), Chunk("data", Pattern(10))})),
            WAVEERR_BADFORMAT);  // block alignment 0
  EXPECT_EQ(
      CodeOf(Riff({Chunk("fmt ", FmtBody(1, 0, 22050, 0, 0, 16)), Chunk("data", Pattern(10))})),
      WAVEERR_BADFORMAT);  // no channels
  EXPECT_EQ(CodeOf(Riff({Chunk("fmt ", FmtBody(1, 2, 0, 0, 4, 16)), Chunk("data", Pattern(10))})),
            WAVEERR_BADFORMAT);                                              // no rate
  EXPECT_EQ(CodeOf(Riff({Chunk("fmt ", Pattern(10))})), WAVEERR_BADFORMAT);  // short record
  std::int32_t Code = -1;
  EXPECT_FALSE(Parse(Dir.File("missing.wav"), &Code));
  EXPECT_EQ(Code, WAVEERR_IO);
  TWaveFileBlock* None = nullptr;
  EXPECT_EQ(WaveFileParse("", FOURCC_WAVE, WAVE_OPEN_BY_NAME, None), WAVEERR_NOARGUMENT);
  EXPECT_FALSE(WaveFileIsWave(Name));
}

TEST_F(WaveFileIo, FormatsWhoseFiguresOverflowAreNotUsable) {
  const std::string Name = Dir.File("absurd.wav");
  auto CodeOf = [&](const Bytes& Fmt) {
    WriteFileBytes(Name, Riff({Chunk("fmt ", Fmt), Chunk("data", Pattern(64))}));
    std::int32_t Code = -1;
    EXPECT_FALSE(Parse(Name, &Code));
    return Code;
  };
  // PCM whose channels x bits overflow the block size.
  EXPECT_EQ(CodeOf(FmtBody(1, 63233, 44100, 0, 0, 63479)), WAVEERR_BADFORMAT);
  // PCM whose byte rate does not fit 31 bits.
  EXPECT_EQ(CodeOf(FmtBody(1, 2, 838905924, 0, 0, 16)), WAVEERR_BADFORMAT);
  // A compressed format with far more frames than bytes: the count would overflow.
  EXPECT_EQ(CodeOf(FmtBody(0x4402, 2, 0x50534944, 9, 16, 16)), WAVEERR_BADFORMAT);
}

TEST_F(WaveFileIo, WritingStopsBeforeTheFrameCountOverflows) {
  // 140 million frames per byte: 15 bytes hold all the frames 31 bits can count.
  const std::string Name = Dir.File("dense.wav");
  WriteFileBytes(Name, Riff({Chunk("fmt ", FmtBody(0x73, 2, 280079428, 2, 13, 16)),
                             Chunk("data", Pattern(13))}));
  auto b = Parse(Name);
  ASSERT_TRUE(b);
  ASSERT_EQ(WaveFileReopen(b.get()), WAVEERR_NONE);
  const Bytes More(39, 0x55);
  EXPECT_EQ(WaveFileWrite(b.get(), More.data(), 39), 13);
  EXPECT_EQ(WaveFileWrite(b.get(), More.data(), 39), 0);
  EXPECT_GT(b->TotalSamples, 0);
  ASSERT_EQ(WaveFileClose(b.get()), WAVEERR_NONE);
  EXPECT_TRUE(Parse(Name));
}

TEST_F(WaveFileIo, CompressedSeekNeverReadsPastTheData) {
  // 10.9 bytes per frame in blocks of 4: frames and bytes convert only roughly.
  const std::string Name = Dir.File("rough.wav");
  WriteFileBytes(Name, Riff({Chunk("fmt ", FmtBody(0x4402, 2, 16129, 176400, 4, 16)),
                             Chunk("data", Pattern(28)), Chunk("junk", Pattern(40, 99))}));
  auto b = Parse(Name);
  ASSERT_TRUE(b);
  EXPECT_EQ(ReadAll(b.get(), 4096), Pattern(28));
}

// A format after the data is written again by an update; a "fact" in front of
// the data is updated where it stands. One too short to hold a count stays, and
// the one written after the data must not hide the format from the next parse.
TEST_F(WaveFileIo, UpdateKeepsAFormatThatFollowsTheData) {
  const Bytes StaleFact = {9, 0, 0, 0};
  const Bytes ShortFact = {9, 1, 0};
  for (const int Fact : {0, 1, 2}) {
    SCOPED_TRACE(Fact == 0 ? "no fact" : Fact == 1 ? "fact before the data" : "short fact");
    const bool FactFirst = Fact == 1;
    const std::string Name = Dir.File("late.wav");
    std::vector<Bytes> Chunks = {Chunk("data", Pattern(64)), PcmFmt(2, 44100, 16)};
    if (Fact) Chunks.insert(Chunks.begin(), Chunk("fact", FactFirst ? StaleFact : ShortFact));
    WriteFileBytes(Name, Riff(Chunks));
    auto b = Parse(Name);
    ASSERT_TRUE(b);
    ASSERT_EQ(WaveFileReopen(b.get()), WAVEERR_NONE);
    ASSERT_EQ(WaveFileSeek(b.get(), 15), WAVEERR_NONE);  // the last frame: the data grows by one
    const Bytes Patch(8, 0x55);
    ASSERT_EQ(WaveFileWrite(b.get(), Patch.data(), 8), 8);
    ASSERT_EQ(WaveFileClose(b.get()), WAVEERR_NONE);
    auto Again = Parse(Name);
    ASSERT_TRUE(Again);
    EXPECT_EQ(Again->TotalSamples, 17);
    EXPECT_EQ(WaveFormatText(Again->Format()), "44.100 kHz, 16 Bit, Stereo");
    const Bytes File = ReadFileBytes(Name);
    EXPECT_EQ(Le32At(File, 4), File.size() - 8);
    if (FactFirst) {
      EXPECT_EQ(Le32At(File, 20), 17u);  // the fact value in front of the data
      const std::string Text(File.begin(), File.end());
      EXPECT_EQ(Text.find("fact", 20), std::string::npos);
    }
  }
}

TEST_F(WaveFileIo, CompressedFormatKeepsOnlyTheExtraBytesItHas) {
  const std::string Name = Dir.File("ima.wav");
  Bytes Fmt = FmtBody(0x11, 1, 22050, 11100, 256, 4, false);
  PutLe(Fmt, 500, 2);  // claims 500 extra bytes
  PutLe(Fmt, 505, 2);  // but carries two
  WriteFileBytes(Name, Riff({Chunk("fmt ", Fmt), Chunk("data", Pattern(512))}));
  auto b = Parse(Name);
  ASSERT_TRUE(b);
  EXPECT_EQ(b->Format()->cbSize, 2);
  EXPECT_EQ(WaveFormatSize(b->Format()), 20u);
  EXPECT_EQ(WaveFormatTagName(b->Format()), "IMA ADPCM");
  EXPECT_EQ(b->DataBytes, 512);
}

TEST_F(WaveFileIo, SeekClampsToTheLastFrame) {
  const std::string Name = Dir.File("seek.wav");
  const Bytes Audio = Pattern(1000);
  Record(Name, Cd, Audio);
  auto b = Parse(Name);
  ASSERT_EQ(WaveFileReopen(b.get()), WAVEERR_NONE);
  std::uint8_t Frame[8];
  ASSERT_EQ(WaveFileSeek(b.get(), 250), WAVEERR_NONE);
  EXPECT_EQ(b->Position, 249);
  EXPECT_EQ(b->BytesLeft, 4);
  EXPECT_EQ(WaveFileRead(b.get(), Frame, 8), 4);
  EXPECT_EQ(0, std::memcmp(Frame, Audio.data() + 996, 4));
  EXPECT_EQ(WaveFileRead(b.get(), Frame, 8), 0);
  ASSERT_EQ(WaveFileSeek(b.get(), -5), WAVEERR_NONE);
  EXPECT_EQ(b->Position, 0);
  ASSERT_EQ(WaveFileSeek(b.get(), 10), WAVEERR_NONE);
  EXPECT_EQ(WaveFileRead(b.get(), Frame, 8), 8);
  EXPECT_EQ(0, std::memcmp(Frame, Audio.data() + 40, 8));
  EXPECT_EQ(b->Position, 12);
  EXPECT_EQ(WaveFileSetBuffer(b.get(), -1), WAVEERR_BADFORMAT);
  EXPECT_EQ(WaveFileClose(b.get()), WAVEERR_NONE);
  EXPECT_EQ(WaveFileSetBuffer(b.get(), 8192), WAVEERR_BADFORMAT);  // not open
  EXPECT_EQ(WaveFileRead(b.get(), Frame, 8), -1);                  // closed
  EXPECT_EQ(WaveFileWrite(b.get(), Frame, 8), -1);
}

TEST_F(WaveFileIo, ClosingUnwrittenFileChangesNothing) {
  const std::string Name = Dir.File("same.wav");
  WriteFileBytes(
      Name, Riff({PcmFmt(1, 8000, 16), Chunk("data", Pattern(200)), Chunk("junk", Pattern(9))}));
  const Bytes Before = ReadFileBytes(Name);
  auto b = Parse(Name);
  ASSERT_TRUE(b);
  EXPECT_EQ(ReadAll(b.get()).size(), 200u);
  EXPECT_EQ(WaveFileClose(b.get()), WAVEERR_NONE);
  EXPECT_EQ(ReadFileBytes(Name), Before);
}

TEST_F(WaveFileIo, UpdateInPlaceRewritesSizesAndKeepsMetadata) {
  const std::string Name = Dir.File("update.wav");
  const Bytes Info = {'I', 'N', 'F', 'O', 'I', 'C', 'M', 'T', 6, 0, 0, 0, 'h', 'e',
                      'l', 'l', 'o', 0,   'I', 'X', 'Y', 'Z', 1, 0, 0, 0, 'q', 0};
  Bytes Disp = {1, 0, 0, 0, 'n', 'o', 't', 'e', 0};
  // An unfinalised file with metadata in front of its data and trailing junk.
  WriteFileBytes(Name, Riff({PcmFmt(2, 44100, 16), Chunk("LIST", Info), Chunk("DISP", Disp),
                             Chunk("data", Pattern(800), 0)},
                            0));
  auto b = Parse(Name);
  ASSERT_TRUE(b);
  ASSERT_EQ(b->TotalSamples, 200);
  ASSERT_EQ(WaveFileReopen(b.get()), WAVEERR_NONE);
  ASSERT_EQ(WaveFileSeek(b.get(), 100), WAVEERR_NONE);
  const Bytes Patch(8, 0xEE);
  ASSERT_EQ(WaveFileWrite(b.get(), Patch.data(), 8), 8);
  EXPECT_EQ(b->Position, 102);
  ASSERT_EQ(WaveFileClose(b.get()), WAVEERR_NONE);

  const Bytes File = ReadFileBytes(Name);
  EXPECT_EQ(Le32At(File, 4), File.size() - 8);
  auto Again = Parse(Name);
  ASSERT_TRUE(Again);
  EXPECT_EQ(Again->TotalSamples, 200);
  Bytes Expected = Pattern(800);
  std::fill(Expected.begin() + 400, Expected.begin() + 408, 0xEE);
  EXPECT_EQ(ReadAll(Again.get()), Expected);
  std::string Comment;
  WaveFileGetInfo(Again.get(), 3, Comment);
  EXPECT_EQ(Comment, "hello");
  ASSERT_EQ(Again->DispList.size(), 1u);
  EXPECT_EQ(Again->DispList[0].Body(), (Bytes{'n', 'o', 't', 'e', 0}));
}

// Chunks after the data that the layer does not read (a recording's dropout
// markers: "cue " and a "LIST" "adtl") survive an update with a new title, in
// front of which they stood.
TEST_F(WaveFileIo, AnUpdateKeepsTheChunksItDoesNotRead) {
  const std::string Name = Dir.File("marked.wav");
  Record(Name, PcmFormat(16, 2, 44100), Pattern(4000));
  std::string Error;
  ASSERT_TRUE(AppendCueMarkers(Name, {{100, "dropout 1.00 s"}, {700, "dropout ?"}}, Error))
      << Error;
  auto b = Parse(Name);
  ASSERT_TRUE(b);
  ASSERT_EQ(b->OtherChunks.size(), 2u);
  ASSERT_EQ(WaveFileReopen(b.get()), WAVEERR_NONE);
  WaveFileSetInfo(b.get(), InfoTagIndex(mmioFOURCC('I', 'N', 'A', 'M')), "A title");
  ASSERT_EQ(WaveFileTouchMetadata(b.get()), WAVEERR_NONE);
  ASSERT_EQ(WaveFileClose(b.get()), WAVEERR_NONE);

  TWaveScan Scan;
  ASSERT_TRUE(ScanWaveFile(Name, Scan, Error)) << Error;
  ASSERT_EQ(Scan.Markers.size(), 2u);
  EXPECT_EQ(Scan.Markers[0].Frame, 100u);
  EXPECT_EQ(Scan.Markers[1].Label, "dropout ?");
  EXPECT_EQ(Scan.Info.Text(InfoTagIndex(mmioFOURCC('I', 'N', 'A', 'M'))), "A title");
  auto Again = Parse(Name);
  ASSERT_TRUE(Again);
  EXPECT_EQ(ReadAll(Again.get()), Pattern(4000));
  const Bytes File = ReadFileBytes(Name);
  EXPECT_EQ(Le32At(File, 4), File.size() - 8);
}

// Two INFO lists: later ones override earlier ones tag by tag, each text is read
// from its own list (a text without its zero ends with its sub-chunk), and an
// update writes back exactly those texts.
TEST_F(WaveFileIo, TwoInfoListsMergeAndAnUpdateWritesBackWhatWasRead) {
  const std::string Name = Dir.File("two-lists.wav");
  auto Sub = [](const char* Id4, const std::string& Text) {
    Bytes b = Chunk(Id4, Bytes(Text.begin(), Text.end()));
    return b;
  };
  auto List = [](const std::vector<Bytes>& Subs) {
    Bytes Body = Id("INFO");
    for (const Bytes& c : Subs) Body.insert(Body.end(), c.begin(), c.end());
    return Chunk("LIST", Body);
  };
  WriteFileBytes(Name, Riff({PcmFmt(2, 44100, 16),
                             List({Sub("INAM", std::string("Side A\0", 7)),
                                   Sub("IART", "Band")}),  // no terminating zero
                             List({Sub("ICMT", std::string("first pressing\0", 15)),
                                   Sub("IART", std::string("The Band\0", 9))}),
                             Chunk("data", Pattern(800))}));
  auto Texts = [](TWaveFileBlock* b) {
    std::map<int, std::string> t;
    for (int Tag : {1, 3, 14}) WaveFileGetInfo(b, Tag, t[Tag]);
    return t;
  };
  const std::map<int, std::string> Want = {{1, "The Band"}, {3, "first pressing"}, {14, "Side A"}};
  auto b = Parse(Name);
  ASSERT_TRUE(b);
  EXPECT_EQ(Texts(b.get()), Want);
  ASSERT_EQ(WaveFileReopen(b.get()), WAVEERR_NONE);
  ASSERT_EQ(WaveFileSeek(b.get(), 0), WAVEERR_NONE);
  ASSERT_EQ(WaveFileWrite(b.get(), Pattern(4).data(), 4), 4);
  ASSERT_EQ(WaveFileClose(b.get()), WAVEERR_NONE);
  auto Again = Parse(Name);
  ASSERT_TRUE(Again);
  EXPECT_EQ(Texts(Again.get()), Want);
}

TEST_F(WaveFileIo, InfoListIsWrittenAfterFactInTableOrder) {
  // The tags carry the RIFF INFO list's own descriptions.
  EXPECT_STREQ(kInfoTags[14].Description, "Stores the title of the subject of the file.");
  EXPECT_STREQ(kInfoTags[22].Description,
               "Identifies the technician who digitized the subject file.");
  const std::string Name = Dir.File("tagged.wav");
  BlockPtr b(WaveFileFromFormat(&Cd));
  ASSERT_EQ(WaveFileCreate(b.get(), Name), WAVEERR_NONE);
  EXPECT_EQ(WaveFileSetInfo(b.get(), 14, "Side A"), INFOERR_NONE);  // INAM
  EXPECT_EQ(WaveFileSetInfo(b.get(), 1, "Band"), INFOERR_NONE);     // IART
  EXPECT_EQ(WaveFileSetInfo(b.get(), 99, "x"), INFOERR_NOARGUMENT);
  EXPECT_EQ(WaveFileSetInfo(nullptr, 1, "x"), INFOERR_NOARGUMENT);
  const Bytes Audio = Pattern(16);
  ASSERT_EQ(WaveFileWrite(b.get(), Audio.data(), 16), 16);
  ASSERT_EQ(WaveFileClose(b.get()), WAVEERR_NONE);

  const Bytes File = ReadFileBytes(Name);
  Bytes Tail(File.begin() + 46 + 16 + 12, File.end());
  EXPECT_EQ(Tail, Chunk("LIST", {'I', 'N', 'F', 'O', 'I', 'A', 'R', 'T', 5,   0,   0, 0,
                                 'B', 'a', 'n', 'd', 0,   0,   'I', 'N', 'A', 'M', 7, 0,
                                 0,   0,   'S', 'i', 'd', 'e', ' ', 'A', 0,   0}));
  EXPECT_EQ(Le32At(File, 4), File.size() - 8);
  auto Back = Parse(Name);
  std::string Title;
  WaveFileGetInfo(Back.get(), 14, Title);
  EXPECT_EQ(Title, "Side A");
  EXPECT_EQ(Back->DataBytes, 16);
}

TEST_F(WaveFileIo, FullDiskLeavesAConsistentFile) {
  const Bytes Piece = Pattern(4096);
  // With a large file buffer the audio first fails to reach the disk while the
  // sizes are brought up to date: that too is a failed write.
  for (const std::int32_t Buffer : {0, 1 << 19}) {
    const std::string Name = Dir.File("full" + std::to_string(Buffer) + ".wav");
    BlockPtr b(WaveFileFromFormat(&Cd));
    ASSERT_EQ(WaveFileCreate(b.get(), Name), WAVEERR_NONE);
    if (Buffer) {
      ASSERT_EQ(WaveFileSetBuffer(b.get(), Buffer), WAVEERR_NONE);
    }
    {
      FileSizeLimit Limit(50000);
      std::int32_t Written = 1;
      for (int i = 0; i < 300 && Written > 0; ++i)
        Written = WaveFileWrite(b.get(), Piece.data(), static_cast<std::int32_t>(Piece.size()));
      EXPECT_EQ(Written, 0) << Buffer;
      EXPECT_LE(b->DataBytes + 46, 50000) << Buffer;
      EXPECT_EQ(b->DataBytes % 4, 0);
      WaveFileClose(b.get());  // the fact chunk may not fit any more
    }
    const Bytes File = ReadFileBytes(Name);
    EXPECT_EQ(Le32At(File, 4), File.size() - 8) << Buffer;
    EXPECT_EQ(Le32At(File, 42), static_cast<std::uint32_t>(b->DataBytes)) << Buffer;
    auto Back = Parse(Name);
    ASSERT_TRUE(Back);
    EXPECT_EQ(Back->TotalSamples, b->TotalSamples);
    const Bytes Audio = ReadAll(Back.get());
    ASSERT_EQ(Audio.size(), static_cast<size_t>(b->DataBytes));
    for (size_t i = 0; i < Audio.size(); ++i) ASSERT_EQ(Audio[i], Piece[i % Piece.size()]) << i;
  }
}

TEST_F(WaveFileIo, WritingStopsBeforeOffsetsLeave32Bits) {
  // A sparse file whose data reaches just below the limit.
  const std::string Name = Dir.File("huge.wav");
  Bytes Head = Riff({PcmFmt(2, 44100, 16), Chunk("data", {}, 0)}, 0);
  WriteFileBytes(Name, Head);
  std::filesystem::resize_file(Name, static_cast<std::uintmax_t>(kMaxWaveFileBytes - 1000));
  auto b = Parse(Name);
  ASSERT_TRUE(b);
  ASSERT_EQ(WaveFileReopen(b.get()), WAVEERR_NONE);
  ASSERT_EQ(WaveFileSeek(b.get(), b->EndSample), WAVEERR_NONE);
  const Bytes Piece(4096, 1);
  // From the last frame on, only the whole frames that fit under the limit.
  EXPECT_EQ(WaveFileWrite(b.get(), Piece.data(), 4096), 1004);
  EXPECT_EQ(WaveFileWrite(b.get(), Piece.data(), 4096), 0);
  EXPECT_EQ(WaveFileClose(b.get()), WAVEERR_NONE);
  EXPECT_TRUE(WaveFileIsWave(Name));
}

TEST_F(WaveFileIo, NameChecks) {
  const std::string Name = Dir.File("n.wav");
  EXPECT_FALSE(WaveFileExists(Name));
  EXPECT_TRUE(WaveFileNameValid(Name));
  EXPECT_FALSE(WaveFileNameValid(""));
  Record(Name, Cd, Pattern(4));
  EXPECT_TRUE(WaveFileExists(Name));
  EXPECT_TRUE(WaveFileIsWave(Name));
  EXPECT_TRUE(WaveFileDelete(Name));
  EXPECT_FALSE(WaveFileExists(Name));
  EXPECT_FALSE(WaveFileDelete(Name));
}

TEST_F(WaveFileIo, FailedCreateLeavesNoFile) {
  BlockPtr b(WaveFileFromFormat(&Cd));
  EXPECT_EQ(WaveFileCreate(b.get(), Dir.File("no/such/folder.wav")), WAVEERR_IO);
  EXPECT_EQ(WaveFileCreate(b.get(), ""), WAVEERR_NOARGUMENT);
  EXPECT_EQ(WaveFileCreate(nullptr, Dir.File("x.wav")), WAVEERR_NOARGUMENT);
  EXPECT_EQ(WaveFileFromFormat(nullptr), nullptr);
  // A full disk while the header is written: the partial file is removed.
  FileSizeLimit Limit(10);
  EXPECT_EQ(WaveFileCreate(b.get(), Dir.File("tiny.wav")), WAVEERR_IO);
  EXPECT_FALSE(WaveFileExists(Dir.File("tiny.wav")));
}

}  // namespace
}  // namespace velmar

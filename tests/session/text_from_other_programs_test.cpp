// Cue sheets and titles written by other programs: UTF-8 with a byte order
// mark, UTF-16 with one, Windows-1252, CR-only line ends, lowercase keywords,
// TITLE after INDEX, trailing junk, errors on the line at fault, and the
// exact frames a sheet of ours keeps.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "session/cue_sheet.h"
#include "wavefile/text_encoding.h"

namespace velmar {
namespace {

std::string Utf16Le(const std::u16string& Text) {
  std::string Out = "\xFF\xFE";
  for (const char16_t c : Text) {
    Out += static_cast<char>(c & 0xFF);
    Out += static_cast<char>(c >> 8);
  }
  return Out;
}

TEST(TextFromOtherPrograms, EveryEncodingReadsAsUtf8) {
  EXPECT_EQ(TextAsUtf8("\xEF\xBB\xBFOne"), "One");
  EXPECT_EQ(TextAsUtf8(Utf16Le(u"Caf\u00e9 \u266b")), "Caf\xc3\xa9 \xe2\x99\xab");
  EXPECT_EQ(TextAsUtf8("Caf\xe9 \x93quoted\x94 \x80"),
            "Caf\xc3\xa9 \xe2\x80\x9cquoted\xe2\x80\x9d \xe2\x82\xac");
  EXPECT_EQ(TextAsUtf8("Mot\xc3\xb6rhead"), "Mot\xc3\xb6rhead");  // UTF-8 stays
  EXPECT_FALSE(IsUtf8("\xc0\xaf"));                              // an overlong form
  EXPECT_FALSE(IsUtf8("ab\xe2\x82"));                            // cut short
}

TEST(TextFromOtherPrograms, CueSheetsAsOtherProgramsWriteThem) {
  const std::string Sheet =
      "file \"side.wav\" wave\r"
      "  track 01 audio\r"
      "    index 01 00:00:00\r"
      "    title \"Caf\xe9\"\r"
      "  TRACK 02 AUDIO\r"
      "    PERFORMER \"Someone\"\r"
      "    INDEX 01 00:10:00\r";
  std::vector<TCueTrack> Tracks;
  std::string Error, File;
  ASSERT_TRUE(ParseCueSheet(Sheet, 44100, Tracks, Error, &File)) << Error;
  ASSERT_EQ(Tracks.size(), 2u);
  EXPECT_EQ(Tracks[0].Title, "Caf\xc3\xa9");  // after its INDEX, in Windows-1252
  EXPECT_EQ(Tracks[1].Start, 441000);
  EXPECT_EQ(File, "side.wav");

  std::u16string Wide = u"FILE \"x.wav\" WAVE\n TRACK 01 AUDIO\n  TITLE \"\u00c9tude\"\n  INDEX 01 00:00:00\n";
  ASSERT_TRUE(ParseCueSheet(Utf16Le(Wide), 44100, Tracks, Error)) << Error;
  EXPECT_EQ(Tracks[0].Title, "\xc3\x89tude");

  // Faults are said on their own line.
  EXPECT_FALSE(ParseCueSheet("FILE \"s.wav\" WAVE\n TRACK 01 AUDIO\n  INDEX 01 00:26:22 junk\n",
                             44100, Tracks, Error));
  EXPECT_EQ(Error, "line 3: not an INDEX nn mm:ss:ff line");
  EXPECT_FALSE(ParseCueSheet("FILE \"s.wav\" WAVE\n TRACK 01 AUDIO\n TRACK 02 AUDIO\n"
                             "  INDEX 01 00:01:00\n",
                             44100, Tracks, Error));
  EXPECT_EQ(Error, "line 2: this track has no INDEX 01");

  // A sheet of ours gives its tracks' exact frames at the side's rate.
  const std::string Ours = CueSheetText("side.wav", {{"A", 0}, {"B", 1234567}}, 96000);
  int Rate = 0;
  ASSERT_TRUE(ParseCueSheet(Ours, 44100, Tracks, Error, nullptr, &Rate)) << Error;
  EXPECT_EQ(Rate, 96000);
  EXPECT_EQ(Tracks[1].Exact, 1234567);
  EXPECT_EQ(Tracks[1].Start, 567420);  // its INDEX (965/75 s) at 44.1 kHz
}

}  // namespace
}  // namespace velmar

// The skin as the program embeds it: the holder form loads all four lists, and
// each bitmap has the size and depth the windows were laid out for.
#include "app/form_audio_graphics.h"

#include <gtest/gtest.h>

#include "controls/bitmap_coder.h"

namespace velmar {
namespace {

TEST(FormAudioGraphics, LoadsTheEmbeddedSkinWithTheDesignedSizes) {
  TFormAudioGraphics Skin;
  EXPECT_EQ(Skin.windowTitle(), "Should not be viewed");
  EXPECT_FALSE(Skin.isVisible());
  struct Item {
    int w, h, Bits;
  };
  const Item Record[12] = {{65, 28, 24}, {41, 41, 24}, {66, 67, 24},  {41, 41, 24},
                           {66, 28, 24}, {30, 30, 24}, {58, 28, 24},  {7, 21, 8},
                           {7, 21, 8},   {21, 7, 24},  {108, 11, 24}, {32, 16, 4}};
  ASSERT_EQ(Skin.FRecordButtons.Count(), 12);
  for (int i = 0; i < 12; ++i) {
    const TBitmap& b = Skin.FRecordButtons.Bitmaps(i);
    EXPECT_EQ(b.Width(), Record[i].w) << i;
    EXPECT_EQ(b.Height(), Record[i].h) << i;
    EXPECT_EQ(b.BitsPerPixel(), Record[i].Bits) << i;
  }
  // Record, stop and eject sit on white, the colour the window leaves out.
  for (int i : {0, 4, 6}) {
    const TBitmap& b = Skin.FRecordButtons.Bitmaps(i);
    EXPECT_EQ(b.Pixel(0, 0), 0xFFFFFFu) << i;
    EXPECT_EQ(b.Pixel(b.Width() - 1, b.Height() - 1), 0xFFFFFFu) << i;
    EXPECT_NE(b.Pixel(b.Width() / 2, b.Height() / 2), 0xFFFFFFu) << i;
  }
  ASSERT_EQ(Skin.FButtons.Count(), 14);
  for (int i = 0; i < 14; ++i) {
    const TBitmap& b = Skin.FButtons.Bitmaps(i);
    EXPECT_EQ(SaveBitmapToBMP(b).size(), 8154u);  // one piece: one chunk each
    EXPECT_LE(SaveBitmapToBMP(b).size(), kBitmapPieceSize);
  }
  ASSERT_EQ(Skin.FBackGrounds.Count(), 3);
  const int Heights[3] = {150, 252, 252};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(Skin.FBackGrounds.Bitmaps(i).Width(), 1);
    EXPECT_EQ(Skin.FBackGrounds.Bitmaps(i).Height(), Heights[i]);
    EXPECT_EQ(Skin.FBackGrounds.Bitmaps(i).BitsPerPixel(), 32);
  }
  ASSERT_EQ(Skin.FSplitButtons.Count(), 10);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(Skin.FSplitButtons.Bitmaps(i).Width(), 41);
}

}  // namespace
}  // namespace velmar

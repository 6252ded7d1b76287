// The skin as the program embeds it: the holder form loads all four lists, and
// each bitmap has the size and depth the windows were laid out for; every
// state of the skinned controls reads (disabled looks keep their symbols and
// the radio its selection, pressed caps stay inside their buttons).
#include "app/form_audio_graphics.h"

#include <gtest/gtest.h>

#include "app/skin_look.h"
#include "controls/bitmap_button.h"
#include "controls/bitmap_coder.h"
#include "controls/bitmap_image.h"
#include "controls/bitmap_radio_button.h"

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
  // Each list holds its pictures, then their disabled looks of the same sizes.
  ASSERT_EQ(Skin.FRecordButtons.Count(), 24);
  for (int i = 0; i < 12; ++i) {
    const TBitmap& b = Skin.FRecordButtons.Bitmaps(i);
    EXPECT_EQ(b.Width(), Record[i].w) << i;
    EXPECT_EQ(b.Height(), Record[i].h) << i;
    EXPECT_EQ(b.BitsPerPixel(), Record[i].Bits) << i;
    const TBitmap& d = Skin.FRecordButtons.Bitmaps(SkinDisabledIndex(Skin.FRecordButtons, i));
    EXPECT_EQ(d.Width(), b.Width()) << i;
    EXPECT_EQ(d.Height(), b.Height()) << i;
  }
  // Record, stop and eject sit on white, the colour the window leaves out.
  for (int i : {0, 4, 6}) {
    const TBitmap& b = Skin.FRecordButtons.Bitmaps(i);
    EXPECT_EQ(b.Pixel(0, 0), 0xFFFFFFu) << i;
    EXPECT_EQ(b.Pixel(b.Width() - 1, b.Height() - 1), 0xFFFFFFu) << i;
    EXPECT_NE(b.Pixel(b.Width() / 2, b.Height() / 2), 0xFFFFFFu) << i;
  }
  ASSERT_EQ(Skin.FButtons.Count(), 28);
  for (int i = 0; i < 28; ++i) {
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
  ASSERT_EQ(Skin.FSplitButtons.Count(), 20);
  for (int i = 0; i < 20; ++i) EXPECT_EQ(Skin.FSplitButtons.Bitmaps(i).Width(), 41);
}

// The spread of grey levels over the middle half of a picture: a symbol on
// its cap spreads wide, a blank disc or box hardly at all.
int Spread(const QImage& Image) {
  int Low = 255, High = 0;
  for (int y = Image.height() / 4; y < Image.height() * 3 / 4; ++y)
    for (int x = Image.width() / 4; x < Image.width() * 3 / 4; ++x) {
      Low = std::min(Low, qGray(Image.pixel(x, y)));
      High = std::max(High, qGray(Image.pixel(x, y)));
    }
  return High - Low;
}

TEST(FormAudioGraphics, EveryStateOfTheSkinnedControlsReads) {
  TFormAudioGraphics Skin;
  QWidget Panel;
  Panel.resize(200, 100);
  Panel.setStyleSheet("background: #2b3034");
  // The window's transport buttons (list item, button size) and a dialog button.
  struct Use {
    TMMBitmapList& List;
    int Index;
    QSize Size;
  };
  const Use Uses[] = {{Skin.FRecordButtons, 3, {50, 50}}, {Skin.FRecordButtons, 2, {70, 70}},
                      {Skin.FRecordButtons, 1, {50, 50}}, {Skin.FRecordButtons, 4, {64, 28}},
                      {Skin.FRecordButtons, 6, {60, 28}}, {Skin.FRecordButtons, 0, {63, 28}},
                      {Skin.FButtons, 0, {108, 25}},      {Skin.FButtons, 12, {108, 25}}};
  for (const Use& u : Uses) {
    SCOPED_TRACE(u.Index);
    TMMBitmapButton* Button = SkinButton(&Panel, u.List, u.Index, QRect(QPoint(), u.Size));
    Button->SetTransparentColor(clWhite);
    const QImage Enabled = Button->grab().toImage();
    Button->setEnabled(false);
    const QImage Disabled = Button->grab().toImage();
    EXPECT_NE(Enabled, Disabled);
    EXPECT_GT(Spread(Disabled), 40) << "the disabled look lost its symbol";
    EXPECT_LT(Spread(Disabled), Spread(Enabled));
    // The pressed picture (one pixel right and down) keeps the cap inside.
    const QImage Glyph = BitmapToImage(u.List.Bitmaps(u.Index));
    QRect Cap;
    for (int y = 0; y < Glyph.height(); ++y)
      for (int x = 0; x < Glyph.width(); ++x)
        if ((Glyph.pixel(x, y) & 0xFFFFFF) != 0xFFFFFF) Cap |= QRect(x, y, 1, 1);
    const QPoint At((u.Size.width() - Glyph.width()) / 2 + 1,
                    (u.Size.height() - Glyph.height()) / 2 + 1);
    EXPECT_TRUE(QRect(QPoint(), u.Size).contains(Cap.translated(At)))
        << Cap.translated(At).right() << "," << Cap.translated(At).bottom();
    delete Button;
  }
  // A disabled Auto Track radio still shows whether it is selected.
  QImage Looks[2][2];  // [enabled][checked]
  for (int Enabled = 0; Enabled < 2; ++Enabled)
    for (int Checked = 0; Checked < 2; ++Checked) {
      TMMBitmapRadioButton Radio(&Panel);
      Radio.setGeometry(0, 0, 17, 15);
      Radio.SetBitmapList(&Skin.FRecordButtons);
      Radio.SetBitmapIndex(11);
      Radio.SetDisabledBitmapIndex(SkinDisabledIndex(Skin.FRecordButtons, 11));
      Radio.SetNumGlyphs(2);
      Radio.SetChecked(Checked);
      Radio.setEnabled(Enabled);
      Looks[Enabled][Checked] = Radio.grab().toImage();
    }
  EXPECT_NE(Looks[0][0], Looks[0][1]);
  EXPECT_NE(Looks[0][1], Looks[1][1]);
}

}  // namespace
}  // namespace velmar

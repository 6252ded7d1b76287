// The skinned controls driven as a user drives them (QtTest mouse input on
// the offscreen platform), checked by state and by the pixels they draw.
#include <gtest/gtest.h>

#include <QApplication>
#include <QPainter>
#include <QtTest/QTest>

#include "controls/bitmap_button.h"
#include "controls/bitmap_image.h"
#include "controls/bitmap_radio_button.h"
#include "controls/bitmap_slider.h"
#include "controls/caption_bar.h"
#include "controls/form_styler.h"
#include "controls/panel_fill.h"

namespace velmar {
namespace {

// A single-colour glyph on a white background (white is the key).
QImage Glyph(int w, int h, QColor Ink) {
  QImage Image(w, h, QImage::Format_RGB32);
  Image.fill(Qt::white);
  QPainter(&Image).fillRect(2, 2, w - 4, h - 4, Ink);
  return Image;
}

struct Rig {
  QWidget Window;
  TMMBitmapList List;
  Rig() {
    Window.resize(300, 120);
    QPalette Palette;
    Palette.setColor(QPalette::Window, QColor(0, 0, 80));
    Window.setPalette(Palette);
    Window.setAutoFillBackground(true);
  }
  int Add(const QImage& Image, int Bits = 24) { return List.Add(ImageToBitmap(Image, Bits)); }
  void Show() {
    Window.show();
    QApplication::processEvents();
  }
  QRgb PixelOf(QWidget& Control, int x, int y) {
    return Control.grab().toImage().pixel(x, y) & 0xFFFFFF;
  }
};

TEST(BitmapButton, GlyphsFollowStateAndMouse) {
  Rig R;
  const int Red = R.Add(Glyph(16, 16, Qt::red));
  QImage Strip(64, 16, QImage::Format_RGB32);
  Strip.fill(Qt::white);
  R.Add(Strip);
  R.Add(QImage(96, 16, QImage::Format_RGB32));
  TMMBitmapButton Button(&R.Window);
  Button.setGeometry(10, 10, 40, 40);
  Button.SetBitmapIndex(-5);
  EXPECT_EQ(Button.BitmapIndex(), -1);
  Button.SetBitmapList(&R.List);
  // Single-glyph strips as wide as 4 and 6 glyphs count as 4.
  for (int Index : {1, 2}) {
    Button.SetNumGlyphs(1);
    Button.SetBitmapIndex(Index);
    EXPECT_EQ(Button.NumGlyphs(), 4);
  }
  Button.SetNumGlyphs(1);
  Button.SetBitmapIndex(Red);
  R.Show();
  // bsExplorer at rest shows the grey copy (red weighted 11), the colour under
  // the mouse; the centre of a 40 x 40 button is the glyph's (8, 8).
  const int g = 11 * 255 / 100;
  EXPECT_EQ(R.PixelOf(Button, 20, 20), qRgb(g, g, g) & 0xFFFFFF);
  EXPECT_EQ(R.PixelOf(Button, 2, 20), 0x000050u);  // white left out: the window shows
  QTest::mouseMove(&Button, QPoint(20, 20));
  QEnterEvent Enter(QPointF(20, 20), QPointF(20, 20), QPointF(20, 20));
  QApplication::sendEvent(&Button, &Enter);
  EXPECT_TRUE(Button.MouseOver());
  EXPECT_EQ(R.PixelOf(Button, 20, 20), 0xFF0000u);
  // Disabled with one glyph: the embossed copy, the ink in the shadow colour.
  Button.setEnabled(false);
  EXPECT_EQ(Button.GlyphIndex(), 2);
  EXPECT_EQ(R.PixelOf(Button, 20, 20), ToQColor(clBtnShadow).rgb() & 0xFFFFFF);
}

TEST(BitmapButton, PressReleaseSwitchAndClick) {
  Rig R;
  R.Add(Glyph(16, 16, Qt::green));
  TMMBitmapButton Button(&R.Window);
  Button.setGeometry(10, 10, 40, 40);
  Button.SetBitmapList(&R.List);
  Button.SetBitmapIndex(0);
  Button.SetSwitch(true);
  int Clicks = 0;
  Button.OnClick = [&](TObject*) { ++Clicks; };
  R.Show();
  // Pressed inside, released outside: no click, Down unchanged.
  QTest::mousePress(&Button, Qt::LeftButton, {}, QPoint(20, 20));
  EXPECT_TRUE(Button.Pressed());
  QTest::mouseMove(&Button, QPoint(60, 60));
  QMouseEvent Move(QEvent::MouseMove, QPointF(60, 60), QPointF(60, 60), Qt::NoButton,
                   Qt::LeftButton, {});
  QApplication::sendEvent(&Button, &Move);
  EXPECT_FALSE(Button.Pressed());
  QTest::mouseRelease(&Button, Qt::LeftButton, {}, QPoint(60, 60));
  EXPECT_EQ(Clicks, 0);
  EXPECT_FALSE(Button.Down());
  // Clicked inside: latched down, and a click; again: released, another click.
  QTest::mouseClick(&Button, Qt::LeftButton, {}, QPoint(20, 20));
  EXPECT_TRUE(Button.Down());
  QTest::mouseClick(&Button, Qt::LeftButton, {}, QPoint(20, 20));
  EXPECT_FALSE(Button.Down());
  EXPECT_EQ(Clicks, 2);
  // The right button does nothing unless allowed; disabled buttons ignore all.
  QTest::mouseClick(&Button, Qt::RightButton, {}, QPoint(20, 20));
  EXPECT_EQ(Clicks, 2);
  Button.SetAllowRightMouse(true);
  QTest::mouseClick(&Button, Qt::RightButton, {}, QPoint(20, 20));
  EXPECT_EQ(Clicks, 3);
  Button.setEnabled(false);
  QTest::mouseClick(&Button, Qt::LeftButton, {}, QPoint(20, 20));
  EXPECT_EQ(Clicks, 3);
}

// The recorder's noise gate: logarithmic 0..100, thumb 21 x 7, 78 x 9 in the
// window; 125 wide the travel is 100 pixels, one thumb step per pixel.
struct NoiseGate : Rig {
  TMMBitmapSlider Slider{&Window};
  int Changes = 0, Tracks = 0, Ends = 0;
  explicit NoiseGate(int Width = 78) {
    const int Track = Add(Glyph(108, 11, Qt::darkGreen));
    const int Thumb = Add(Glyph(21, 7, Qt::yellow));
    Slider.setGeometry(20, 20, Width, 9);
    Slider.SetBitmapList(&List);
    Slider.SetBitmapIndex(Track);
    Slider.SetBitmapThumbIndex(Thumb);
    Slider.SetTransparentColor(clWhite);
    Slider.SetMaxValue(100);
    Slider.SetLogarithmic(true);
    Slider.OnChange = [this](TObject*) { ++Changes; };
    Slider.OnTrack = [this](TObject*) { ++Tracks; };
    Slider.OnTrackEnd = [this](TObject*) { ++Ends; };
    Show();
  }
  // Drags the thumb by Pixels along the track.
  void Drag(int Pixels) {
    const QPoint Start = Slider.ThumbRect().center();
    QTest::mousePress(&Slider, Qt::LeftButton, {}, Start);
    QMouseEvent Move(QEvent::MouseMove, QPointF(Start.x() + Pixels, Start.y()), QPointF(),
                     Qt::NoButton, Qt::LeftButton, {});
    QApplication::sendEvent(&Slider, &Move);
    QTest::mouseRelease(&Slider, Qt::LeftButton, {}, Start + QPoint(Pixels, 0));
  }
};

TEST(BitmapSlider, LogarithmicScaleBothWays) {
  NoiseGate G(125);
  const int Read[][2] = {{0, 0},   {1, 6},   {10, 8},  {20, 11}, {30, 14}, {40, 19},
                         {50, 25}, {60, 33}, {70, 44}, {80, 58}, {90, 76}, {100, 100}};
  for (const auto& [Thumb, Position] : Read) {
    G.Slider.SetPosition(0);
    G.Drag(Thumb);
    EXPECT_EQ(G.Slider.ThumbValue(), Thumb);
    EXPECT_EQ(G.Slider.Position(), Position) << "thumb " << Thumb;
  }
  EXPECT_EQ(G.Ends, 12);
  const int Write[][2] = {{25, 50}, {50, 75}, {75, 90}, {10, 17},
                          {7, 4},   {3, 0},   {6, 0},   {100, 100}};
  for (const auto& [Position, Thumb] : Write) {
    G.Slider.SetPosition(Position);
    EXPECT_EQ(G.Slider.ThumbValue(), Thumb) << Position;
  }
  G.Slider.SetPosition(3);
  EXPECT_EQ(G.Slider.Position(), 0);
  // A new scale span keeps the value, not the thumb's place.
  G.Slider.SetPosition(25);
  G.Slider.SetSensitivity(-48);
  EXPECT_EQ(G.Slider.Position(), 25);
  EXPECT_EQ(G.Slider.ThumbValue(), 75);
  G.Slider.SetSensitivity(-200);
  EXPECT_EQ(G.Slider.Sensitivity(), -96);
  // In the window's size the thumb at 50 sits at (28, 1).
  NoiseGate Window;
  Window.Slider.SetPosition(25);
  EXPECT_EQ(Window.Slider.ThumbRect(), QRect(28, 1, 21, 7));
}

TEST(BitmapSlider, MouseJumpsDragsAndReports) {
  NoiseGate G(125);
  G.Drag(0);
  EXPECT_EQ(G.Tracks, 1);  // the press
  EXPECT_EQ(G.Ends, 1);
  EXPECT_EQ(G.Changes, 0);
  G.Drag(1);  // one step to the right of 0
  EXPECT_EQ(G.Slider.Position(), 6);
  EXPECT_EQ(G.Tracks, 3);
  EXPECT_EQ(G.Changes, 1);
  EXPECT_FALSE(G.Slider.Dragging());

  // A linear 0..10 slider, 200 wide with a 20-pixel thumb: a click at x = 100 gives 5.
  Rig R;
  R.Add(Glyph(20, 7, Qt::yellow));
  TMMBitmapSlider Linear(&R.Window);
  Linear.setGeometry(0, 0, 200, 20);
  Linear.SetBitmapList(&R.List);
  Linear.SetBitmapThumbIndex(0);
  R.Show();
  QTest::mouseClick(&Linear, Qt::LeftButton, {}, QPoint(100, 15));
  EXPECT_EQ(Linear.Position(), 5);
  // Clamped both ways; a range change keeps the value where it can.
  Linear.SetRange(2, 20);
  EXPECT_EQ(Linear.Position(), 5);
  Linear.SetPosition(25);
  EXPECT_EQ(Linear.Position(), 20);
  Linear.SetPosition(1);
  EXPECT_EQ(Linear.Position(), 2);
  // The thumb is drawn where it says it is, the key colour left out.
  Linear.SetPosition(20);
  const QImage Shot = Linear.grab().toImage();
  const QRect Thumb = Linear.ThumbRect();
  EXPECT_EQ(Shot.pixel(Thumb.center()) & 0xFFFFFF, 0xFFFF00u);
  EXPECT_EQ(Shot.pixel(Thumb.left(), Thumb.top()) & 0xFFFFFF, 0x000050u);
}

TEST(BitmapRadioButton, CheckingIsExclusiveAndGlyphsFollow) {
  Rig R;
  QImage Strip(32, 16, QImage::Format_RGB32);
  Strip.fill(Qt::white);
  QPainter(&Strip).fillRect(20, 4, 8, 8, Qt::green);
  R.Add(Strip, 4);
  TMMBitmapRadioButton On(&R.Window), Off(&R.Window);
  for (auto* Radio : {&On, &Off}) {
    Radio->SetBitmapList(&R.List);
    Radio->SetBitmapIndex(0);
    Radio->SetNumGlyphs(2);
  }
  On.setGeometry(10, 10, 17, 15);
  Off.setGeometry(10, 30, 17, 15);
  R.Show();
  QTest::mouseClick(&On, Qt::LeftButton, {}, QPoint(8, 7));
  EXPECT_TRUE(On.Checked());
  QTest::mouseClick(&Off, Qt::LeftButton, {}, QPoint(8, 7));
  EXPECT_TRUE(Off.Checked());
  EXPECT_FALSE(On.Checked());
  On.SetChecked(true);
  EXPECT_FALSE(Off.Checked());
  // The lit glyph shows when checked (glyph top: 15 / 2 - 8 - 1 = -2).
  EXPECT_EQ(R.PixelOf(On, 1 + 8, 6), 0x00FF00u);
  EXPECT_EQ(R.PixelOf(Off, 1 + 8, 6), 0x000050u);
  // Disabled with two glyphs: the last one.
  Off.setEnabled(false);
  EXPECT_EQ(Off.GlyphIndex(), 1);
}

TEST(PanelFill, TilesItsBitmapAndFallsBackToItsColour) {
  Rig R;
  QImage Strip(1, 4, QImage::Format_RGB32);
  for (int y = 0; y < 4; ++y) Strip.setPixel(0, y, qRgb(10 * y, 0, 0));
  R.Add(Strip, 32);
  TMMPanelFill Panel(&R.Window);
  Panel.Bevel().SetBevelOuter(TBevelCut::bvNone);
  Panel.setGeometry(0, 0, 50, 10);
  Panel.SetColor(clLime);
  R.Show();
  EXPECT_EQ(R.PixelOf(Panel, 25, 5), 0x00FF00u);
  Panel.SetBitmapList(&R.List);
  Panel.SetBitmapIndex(0);
  const QImage Shot = Panel.grab().toImage();
  for (int y : {0, 3, 6, 9}) EXPECT_EQ(qRed(Shot.pixel(37, y)), 10 * (y % 4)) << y;
  // A list that goes away leaves the panel on its colour.
  R.List.Clear();
  EXPECT_EQ(R.PixelOf(Panel, 25, 5), 0x00FF00u);
}

TEST(FormStyler, ComposesTheTitleDrawsTheBarAndFitsTheTexts) {
  QWidget Form;
  Form.resize(543, 348);
  {
    auto Styler = std::make_unique<TMMFormStyler>(&Form);
    EXPECT_THROW(TMMFormStyler Second(&Form), EMMError);
    QWidget Child(&Form);
    EXPECT_THROW(TMMFormStyler NotAForm(&Child), EMMError);
    Styler->CompanyText().SetCaption("Velmar");
    Styler->AppNameText().SetCaption("Audio Recorder");
    Styler->CaptionText().SetCaption("X");
    EXPECT_EQ(Form.windowTitle(), "Velmar Audio Recorder X");
    EXPECT_EQ(Styler->CaptionText().Caption(), "X");
    Styler->CompanyText().SetVisible(false);
    EXPECT_EQ(Form.windowTitle(), "Audio Recorder X");
    Styler->CompanyText().SetVisible(true);

    // Two bands in exactly the left and right colours.
    Styler->SetOptions(TMMGradientOptions::goAlways);
    Styler->SetNumColors(2);
    Styler->SetClrLeftActive(clRed);
    Styler->SetClrRightActive(clLime);
    Styler->SetNumColors(1);
    EXPECT_EQ(Styler->NumColors(), 2);
    TMMCaptionBar& Bar = *Styler->CaptionBar();
    QImage Image(543, Bar.height(), QImage::Format_RGB32);
    {
      QPainter Canvas(&Image);
      Bar.PaintBar(Canvas, Image.rect(), true);
    }
    EXPECT_EQ(Image.pixel(0, Bar.height() - 1) & 0xFFFFFF, 0xFF0000u);
    EXPECT_EQ(Image.pixel(271, Bar.height() - 1) & 0xFFFFFF, 0xFF0000u);
    EXPECT_EQ(Image.pixel(272, Bar.height() - 1) & 0xFFFFFF, 0x00FF00u);
    EXPECT_EQ(Image.pixel(542, Bar.height() - 1) & 0xFFFFFF, 0x00FF00u);

    // Wide: all three texts; narrow: only the caption.
    EXPECT_EQ(Bar.FittingTexts(QRect(0, 0, 543, Bar.height())), 7u);
    EXPECT_EQ(Bar.FittingTexts(QRect(0, 0, 150, Bar.height())), 4u);
    // The bar sits over the form's top margin.
    EXPECT_EQ(Form.contentsMargins().top(), Bar.height());
  }
  // Gone: the window keeps its own caption as its title, and no margin.
  EXPECT_EQ(Form.windowTitle(), "X");
  EXPECT_EQ(Form.contentsMargins().top(), 0);
}

}  // namespace
}  // namespace velmar

namespace velmar {
namespace {

// Where the colours of a picture lie: the bounding box of the pixels of Rgb.
QRect BoxOf(const QImage& Image, QRgb Rgb) {
  QRect Box;
  for (int y = 0; y < Image.height(); ++y)
    for (int x = 0; x < Image.width(); ++x)
      if ((Image.pixel(x, y) & 0xFFFFFF) == (Rgb & 0xFFFFFF)) Box |= QRect(x, y, 1, 1);
  return Box;
}

TEST(BitmapButton, PlacesTheCaptionOppositeTheGlyphAndShiftsBothWhilePressed) {
  Rig R;
  R.Add(Glyph(16, 16, Qt::green));
  TMMBitmapButton Button(&R.Window);
  Button.setGeometry(0, 0, 90, 90);
  Button.SetBitmapList(&R.List);
  Button.SetBitmapIndex(0);
  Button.SetButtonStyle(TMMButtonStyle::bsNone);
  Button.SetCaption("WW");
  Button.SetFontColor(clRed);
  QFont Font("DejaVu Sans");
  Font.setPixelSize(12);
  Font.setStyleStrategy(QFont::NoAntialias);
  Button.setFont(Font);
  R.Show();
  using A = TMMTextAlign;
  struct Case {
    A Align;
    int Dx, Dy;  // where the caption lies from the glyph: -1 before, 0 level, 1 after
  };
  const Case Cases[] = {{A::ttaTop, 0, -1},      {A::ttaBottom, 0, 1},
                        {A::ttaLeft, -1, 0},     {A::ttaRight, 1, 0},
                        {A::ttaTopLeft, -1, -1}, {A::ttaBottomRight, 1, 1},
                        {A::ttaTopRight, 1, -1}, {A::ttaBottomLeft, -1, 1}};
  for (const Case& c : Cases) {
    Button.SetTextAlign(c.Align);
    const QImage Shot = Button.grab().toImage();
    const QRect G = BoxOf(Shot, qRgb(0, 255, 0)), T = BoxOf(Shot, qRgb(255, 0, 0));
    ASSERT_FALSE(G.isEmpty() || T.isEmpty()) << static_cast<int>(c.Align);
    const int Dx = T.right() < G.left() ? -1 : T.left() > G.right() ? 1 : 0;
    const int Dy = T.bottom() < G.top() ? -1 : T.top() > G.bottom() ? 1 : 0;
    EXPECT_EQ(Dy, c.Dy) << static_cast<int>(c.Align);
    if (c.Align == A::ttaLeft || c.Align == A::ttaRight) {
      EXPECT_EQ(Dx, c.Dx) << static_cast<int>(c.Align);
    } else if (c.Dx != 0) {
      // Corner captions keep to their side of the button.
      // (the letters' own side bearing may add a pixel)
      EXPECT_NEAR(c.Dx < 0 ? T.left() : 89 - T.right(), Button.Spacing(), 1)
          << static_cast<int>(c.Align);
    }
  }
  // Pressed, glyph and caption move by the down indents; without ShowPressed they stay.
  Button.SetTextAlign(A::ttaCenter);
  const QRect Rest = BoxOf(Button.grab().toImage(), qRgb(0, 255, 0));
  Button.SetDownIndentHoriz(2);
  Button.SetDownIndentVert(3);
  Button.SetDown(true);
  EXPECT_EQ(BoxOf(Button.grab().toImage(), qRgb(0, 255, 0)), Rest.translated(2, 3));
  Button.SetShowPressed(false);
  EXPECT_EQ(BoxOf(Button.grab().toImage(), qRgb(0, 255, 0)), Rest);
}

TEST(BitmapButton, FramesFollowTheStyle) {
  Rig R;
  TMMBitmapButton Button(&R.Window);
  Button.setGeometry(0, 0, 30, 30);
  Button.SetTransparent(false);
  Button.SetColor(clBtnFace);
  R.Show();
  auto Corners = [&] {
    const QImage Shot = Button.grab().toImage();
    return std::pair<QRgb, QRgb>{Shot.pixel(0, 0) & 0xFFFFFF, Shot.pixel(29, 29) & 0xFFFFFF};
  };
  const QRgb Light = ToQColor(clBtnHighlight).rgb() & 0xFFFFFF,
             Shadow = ToQColor(clBtnShadow).rgb() & 0xFFFFFF,
             Face = ToQColor(clBtnFace).rgb() & 0xFFFFFF;
  Button.SetButtonStyle(TMMButtonStyle::bsLight);
  EXPECT_EQ(Corners(), std::make_pair(Light, Shadow));
  Button.SetDown(true);  // pressed: the other way round
  EXPECT_EQ(Corners(), std::make_pair(Shadow, Light));
  Button.SetDown(false);
  // bsExplorer frames only under the mouse; bsNone never.
  Button.SetButtonStyle(TMMButtonStyle::bsExplorer);
  QEvent Leave(QEvent::Leave);  // wherever the pointer was when the window showed
  QApplication::sendEvent(&Button, &Leave);
  EXPECT_EQ(Corners(), std::make_pair(Face, Face));
  QEnterEvent Enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
  QApplication::sendEvent(&Button, &Enter);
  EXPECT_EQ(Corners(), std::make_pair(Light, Shadow));
  Button.SetButtonStyle(TMMButtonStyle::bsNone);
  EXPECT_EQ(Corners(), std::make_pair(Face, Face));
}

TEST(BitmapSlider, VerticalAndReversedSlidersMeasureFromTheirZeroEnd) {
  Rig R;
  // A thumb strip of two glyphs, 10 x 10 each: yellow, then cyan.
  QImage Strip = Glyph(20, 10, Qt::yellow);
  QPainter(&Strip).fillRect(12, 2, 6, 6, Qt::cyan);
  R.Add(Strip);
  TMMBitmapSlider Slider(&R.Window);
  Slider.setGeometry(0, 0, 30, 114);
  Slider.SetBitmapList(&R.List);
  Slider.SetBitmapThumbIndex(0);
  Slider.SetNumThumbGlyphs(2);
  Slider.SetOrientation(TMMOrientation::orVertical);
  Slider.SetRange(0, 100);
  R.Show();
  // Bottom is zero: travel 114 - 10 - 4 = 100 pixels, one per step.
  Slider.SetPosition(0);
  EXPECT_EQ(Slider.ThumbRect(), QRect(10, 102, 10, 10));
  Slider.SetPosition(100);
  EXPECT_EQ(Slider.ThumbRect().top(), 2);
  Slider.SetZeroPosition(TMMZeroPosition::zpTopRight);
  EXPECT_EQ(Slider.ThumbRect().top(), 102);
  // A click jumps: the click's place less half a thumb, over height less a thumb.
  EXPECT_EQ(Slider.ValueFromPoint(15, 5 + 52), 50);
  Slider.SetZeroPosition(TMMZeroPosition::zpBottomLeft);
  EXPECT_EQ(Slider.ValueFromPoint(15, 5 + 26), 75);
  // Dragging up on a bottom-zero slider raises the value.
  Slider.SetPosition(10);
  const QPoint Start = Slider.ThumbRect().center();
  QTest::mousePress(&Slider, Qt::LeftButton, {}, Start);
  QMouseEvent Move(QEvent::MouseMove, QPointF(Start.x(), Start.y() - 30), QPointF(), Qt::NoButton,
                   Qt::LeftButton, {});
  QApplication::sendEvent(&Slider, &Move);
  QTest::mouseRelease(&Slider, Qt::LeftButton, {}, Start - QPoint(0, 30));
  EXPECT_EQ(Slider.Position(), 40);
  // Disabled with two thumb glyphs: the second.
  EXPECT_FALSE(BoxOf(Slider.grab().toImage(), qRgb(255, 255, 0)).isEmpty());
  EXPECT_TRUE(BoxOf(Slider.grab().toImage(), qRgb(0, 255, 255)).isEmpty());
  Slider.setEnabled(false);
  EXPECT_FALSE(BoxOf(Slider.grab().toImage(), qRgb(0, 255, 255)).isEmpty());
}

TEST(FormStyler, TheBarsButtonsWorkAndAFrameComesBackWhenTheWindowCannotMove) {
  QWidget Form;
  Form.resize(400, 200);
  TMMFormStyler Styler(&Form);
  Form.show();
  QApplication::processEvents();
  EXPECT_TRUE(Styler.Frameless());
  EXPECT_TRUE(Form.windowFlags() & Qt::FramelessWindowHint);
  TMMCaptionBar& Bar = *Styler.CaptionBar();
  EXPECT_EQ(Bar.width(), 400);
  Form.resize(500, 200);
  QApplication::processEvents();
  EXPECT_EQ(Bar.width(), 500);
  // Maximise and back, through the bar's button.
  const QPoint Max = Bar.ButtonRect(TMMCaptionBar::btMaximize).center();
  QTest::mouseClick(&Bar, Qt::LeftButton, {}, Max);
  EXPECT_TRUE(Form.isMaximized());
  QTest::mouseClick(&Bar, Qt::LeftButton, {}, Bar.ButtonRect(TMMCaptionBar::btMaximize).center());
  EXPECT_FALSE(Form.isMaximized());
  // A press that slides off the button does nothing.
  QTest::mousePress(&Bar, Qt::LeftButton, {}, Bar.ButtonRect(TMMCaptionBar::btClose).center());
  QTest::mouseRelease(&Bar, Qt::LeftButton, {}, QPoint(5, 5));
  EXPECT_TRUE(Form.isVisible());
  // The offscreen platform moves no windows: a press on the bar brings the frame back.
  QTest::mousePress(&Bar, Qt::LeftButton, {}, QPoint(200, Bar.height() / 2));
  QTest::mouseRelease(&Bar, Qt::LeftButton, {}, QPoint(200, Bar.height() / 2));
  EXPECT_FALSE(Styler.Frameless());
  EXPECT_FALSE(Form.windowFlags() & Qt::FramelessWindowHint);
  EXPECT_TRUE(Form.isVisible());
  EXPECT_TRUE(Bar.ButtonRect(TMMCaptionBar::btClose).isNull());  // the frame has its own
}

TEST(FormStyler, TheBarsCloseButtonClosesTheWindow) {
  QWidget Form;
  Form.resize(300, 100);
  TMMFormStyler Styler(&Form);
  Form.show();
  QApplication::processEvents();
  TMMCaptionBar& Bar = *Styler.CaptionBar();
  QTest::mouseClick(&Bar, Qt::LeftButton, {}, Bar.ButtonRect(TMMCaptionBar::btClose).center());
  EXPECT_FALSE(Form.isVisible());
}

}  // namespace
}  // namespace velmar

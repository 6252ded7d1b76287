// Draws the recorder's skin with QPainter and writes the four bitmap lists as
// list streams into the folder given on the command line. Each list holds its
// pictures, then the disabled look of each in the same order (the second half):
//   record_buttons.mbl  transport buttons, slider, radio strip (plain)
//   buttons.mbl         dialog buttons (compressed)
//   backgrounds.mbl     panel and dialog background strips (plain)
//   split_buttons.mbl   the split buttons (plain)
// Run by the build; the program embeds the files and loads them at start.
#include <QApplication>
#include <QFont>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>

#include "controls/bitmap_image.h"
#include "controls/bitmap_list.h"
#include "tools/skin_palette.h"

using namespace velmar;

namespace {

// A transparent canvas to draw on with anti-aliasing.
QImage Canvas(int w, int h) {
  QImage Image(w, h, QImage::Format_ARGB32_Premultiplied);
  Image.fill(Qt::transparent);
  return Image;
}

// Flattens a drawing for colour-key transparency: untouched pixels become the
// key (white), the rest is composed over Matte, the colour the picture will
// sit on, so that anti-aliased edges carry no white fringe.
QImage Flatten(const QImage& Drawing, QColor Matte) {
  QImage Out(Drawing.size(), QImage::Format_RGB32);
  Out.fill(Matte);
  QPainter p(&Out);
  p.drawImage(0, 0, Drawing);
  p.end();
  for (int y = 0; y < Drawing.height(); ++y)
    for (int x = 0; x < Drawing.width(); ++x)
      if (qAlpha(Drawing.pixel(x, y)) == 0)
        Out.setPixel(x, y, kKey.rgb());
      else if ((Out.pixel(x, y) & 0xFFFFFF) == 0xFFFFFF)
        Out.setPixel(x, y, qRgb(254, 254, 254));
  return Out;
}

// The disabled look of a flattened picture: the same cap and symbol, greyed
// and with less contrast, so that the symbol still reads but nothing looks lit.
QImage Dimmed(const QImage& Flat) {
  QImage Out = Flat.convertToFormat(QImage::Format_RGB32);
  for (int y = 0; y < Out.height(); ++y) {
    auto* Line = reinterpret_cast<QRgb*>(Out.scanLine(y));
    for (int x = 0; x < Out.width(); ++x) {
      if ((Line[x] & 0xFFFFFF) == (kKey.rgb() & 0xFFFFFF)) continue;
      const int Grey = qGray(Line[x]);
      auto Channel = [&](int c) { return 0x30 + ((3 * Grey + c) / 4 - 0x30) * 9 / 20; };
      Line[x] = qRgb(Channel(qRed(Line[x])), Channel(qGreen(Line[x])), Channel(qBlue(Line[x])));
    }
  }
  return Out;
}

QFont Font(int Pixels, bool Bold) {
  QFont f("DejaVu Sans");
  f.setPixelSize(Pixels);
  f.setBold(Bold);
  f.setHintingPreference(QFont::PreferFullHinting);
  return f;
}

// A key cap: rounded plate with a dark rim, a lit top edge and a soft body.
void Plate(QPainter& p, QRectF R, qreal Radius) {
  p.setPen(QPen(kRim, 1));
  QLinearGradient Body(R.topLeft(), R.bottomLeft());
  Body.setColorAt(0, kPlateTop);
  Body.setColorAt(1, kPlateBottom);
  p.setBrush(Body);
  p.drawRoundedRect(R.adjusted(0.5, 0.5, -0.5, -0.5), Radius, Radius);
  p.setPen(QPen(QColor(255, 255, 255, 38), 1));
  p.setBrush(Qt::NoBrush);
  p.drawRoundedRect(R.adjusted(1.5, 1.5, -1.5, -1.5), Radius - 1, Radius - 1);
}

// A round cap with a bevelled ring.
void RoundCap(QPainter& p, QRectF R) {
  QLinearGradient Ring(R.topLeft(), R.bottomLeft());
  Ring.setColorAt(0, QColor(0x5a, 0x61, 0x68));
  Ring.setColorAt(1, QColor(0x14, 0x16, 0x18));
  p.setPen(QPen(kRim, 1));
  p.setBrush(Ring);
  p.drawEllipse(R.adjusted(0.5, 0.5, -0.5, -0.5));
  const qreal Inset = R.width() * 0.09;
  QLinearGradient Body(R.topLeft(), R.bottomLeft());
  Body.setColorAt(0, kPlateTop);
  Body.setColorAt(1, kPlateBottom);
  p.setPen(Qt::NoPen);
  p.setBrush(Body);
  p.drawEllipse(R.adjusted(Inset, Inset, -Inset, -Inset));
}

QPainterPath Triangle(QPointF a, QPointF b, QPointF c) {
  QPainterPath Path(a);
  Path.lineTo(b);
  Path.lineTo(c);
  Path.closeSubpath();
  return Path;
}

void Symbol(QPainter& p, const QPainterPath& Path, QColor Color) {
  p.setPen(Qt::NoPen);
  p.setBrush(Color);
  p.drawPath(Path);
}

// A bar-shaped key cap Inset pixels in from both sides and one pixel short of
// the bottom, so that the pressed picture (one pixel right and down) keeps its
// rim inside the button.
QImage TransportBar(int w, int h, int Inset, const std::function<void(QPainter&, QRectF)>& Draw) {
  QImage Image = Canvas(w, h);
  QPainter p(&Image);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF Cap(Inset, 0, w - 2 * Inset, h - 1);
  Plate(p, Cap, 5);
  Draw(p, Cap);
  p.end();
  return Flatten(Image, kPanelMid);
}

QImage RoundButton(int w, int h, const std::function<void(QPainter&, QRectF)>& Draw) {
  QImage Image = Canvas(w, h);
  QPainter p(&Image);
  p.setRenderHint(QPainter::Antialiasing);
  const qreal d = std::min(w, h) - 1;
  const QRectF R((w - d) / 2, (h - d) / 2, d, d);
  RoundCap(p, R);
  Draw(p, R);
  p.end();
  return Flatten(Image, kPanelMid);
}

// Skip-to-start / skip-to-end: a bar and two triangles.
QPainterPath SkipSymbol(QRectF R, bool Forward) {
  const qreal s = R.width() * 0.15, cx = R.center().x(), cy = R.center().y();
  QPainterPath Path;
  Path.addPath(Triangle({cx - 2 * s, cy - s}, {cx, cy}, {cx - 2 * s, cy + s}));
  Path.addPath(Triangle({cx - 0.1 * s, cy - s}, {cx + 1.9 * s, cy}, {cx - 0.1 * s, cy + s}));
  Path.addRect(QRectF(cx + 1.9 * s, cy - s, 0.45 * s, 2 * s));
  if (Forward) return Path;
  QTransform Mirror;
  Mirror.translate(2 * cx, 0).scale(-1, 1);
  return Mirror.map(Path);
}

TBitmap RecordButton(int Index) {
  switch (Index) {
    case 0:  // eject
      return ImageToBitmap(
          // 65 pixels for a 63-pixel button: the cap is two pixels in on each side.
          TransportBar(65, 28, 2,
                       [](QPainter& p, QRectF R) {
                         const qreal cx = R.center().x();
                         Symbol(p, Triangle({cx - 9, 15}, {cx, 6}, {cx + 9, 15}), kSymbol);
                         Symbol(
                             p,
                             [&] {
                               QPainterPath b;
                               b.addRoundedRect(QRectF(cx - 9, 18, 18, 3.5), 1, 1);
                               return b;
                             }(),
                             kSymbol);
                       }),
          24);
    case 1:  // next
    case 3:  // previous
      return ImageToBitmap(RoundButton(41, 41,
                                       [Index](QPainter& p, QRectF R) {
                                         Symbol(p, SkipSymbol(R, Index == 1), kSymbol);
                                       }),
                           24);
    case 2:  // play
      return ImageToBitmap(
          RoundButton(66, 67,
                      [](QPainter& p, QRectF R) {
                        QRadialGradient Glow(R.center(), R.width() * 0.36);
                        Glow.setColorAt(0, QColor(0x9c, 0xff, 0x3a, 60));
                        Glow.setColorAt(1, QColor(0x9c, 0xff, 0x3a, 0));
                        p.setBrush(Glow);
                        p.setPen(Qt::NoPen);
                        p.drawEllipse(R.center(), R.width() * 0.36, R.width() * 0.36);
                        const qreal cx = R.center().x() + 2.5, cy = R.center().y(),
                                    s = R.width() * 0.17;
                        Symbol(p,
                               Triangle({cx - s, cy - 1.15 * s}, {cx + 1.2 * s, cy},
                                        {cx - s, cy + 1.15 * s}),
                               kLime);
                      }),
          24);
    case 4:  // record
      // 66 pixels for a 64-pixel button: the cap is two pixels in on each side.
      return ImageToBitmap(TransportBar(66, 28, 2,
                                        [](QPainter& p, QRectF R) {
                                          QRadialGradient Dot(QPointF(19, 12), 7);
                                          Dot.setColorAt(0, kRecordLight);
                                          Dot.setColorAt(1, kRecord);
                                          p.setBrush(Dot);
                                          p.setPen(QPen(QColor(0x5a, 0x0c, 0x0a), 1));
                                          p.drawEllipse(QPointF(20, R.center().y()), 6, 6);
                                          p.setFont(Font(10, true));
                                          p.setPen(kSymbol);
                                          p.drawText(QRectF(29, 0, 31, R.height()),
                                                     Qt::AlignVCenter | Qt::AlignLeft, "REC");
                                        }),
                           24);
    case 5:  // pause
      return ImageToBitmap(RoundButton(30, 30,
                                       [](QPainter& p, QRectF R) {
                                         const qreal cx = R.center().x(), cy = R.center().y();
                                         Symbol(
                                             p,
                                             [&] {
                                               QPainterPath b;
                                               b.addRect(QRectF(cx - 5, cy - 6, 3.5, 12));
                                               b.addRect(QRectF(cx + 1.5, cy - 6, 3.5, 12));
                                               return b;
                                             }(),
                                             kSymbol);
                                       }),
                           24);
    case 6:  // stop
      return ImageToBitmap(
          TransportBar(58, 28, 0,
                       [](QPainter& p, QRectF R) {
                         Symbol(
                             p,
                             [&] {
                               QPainterPath b;
                               b.addRoundedRect(QRectF(R.center().x() - 6.5, 7, 13, 13), 1.5, 1.5);
                               return b;
                             }(),
                             kSymbol);
                       }),
          24);
    case 7:    // signal lamp, off
    case 8: {  // signal lamp, on
      QImage Image = Canvas(7, 21);
      QPainter p(&Image);
      p.setRenderHint(QPainter::Antialiasing);
      p.setPen(QPen(kRim, 1));
      p.setBrush(Index == 8 ? kLime : kLampOff);
      p.drawRoundedRect(QRectF(0.5, 0.5, 6, 20), 2.5, 2.5);
      p.end();
      return ImageToBitmap(Flatten(Image, kPanelMid), 8);
    }
    case 9: {  // slider thumb
      QImage Image = Canvas(21, 7);
      QPainter p(&Image);
      p.setRenderHint(QPainter::Antialiasing);
      QLinearGradient Body(0, 0, 0, 7);
      Body.setColorAt(0, QColor(0xe8, 0xec, 0xef));
      Body.setColorAt(1, QColor(0x9a, 0xa1, 0xa8));
      p.setPen(QPen(kRim, 1));
      p.setBrush(Body);
      p.drawRoundedRect(QRectF(0.5, 0.5, 20, 6), 3, 3);
      p.setPen(QPen(kGreen, 1));
      p.drawLine(QPointF(10.5, 1.5), QPointF(10.5, 5.5));
      p.end();
      return ImageToBitmap(Flatten(Image, kPanelMid), 24);
    }
    case 10: {  // slider track: a groove that reads well at any clipped length
      QImage Image = Canvas(108, 11);
      QPainter p(&Image);
      p.fillRect(QRect(0, 3, 108, 1), QColor(0x0c, 0x0d, 0x0e));
      p.fillRect(QRect(0, 4, 108, 2), QColor(0x1b, 0x3a, 0x16));
      p.fillRect(QRect(0, 6, 108, 1), QColor(0x4f, 0x56, 0x5c));
      p.end();
      return ImageToBitmap(Flatten(Image, kPanelMid), 24);
    }
    default: {  // 11: radio strip, off and on, 16 colours
      QImage Image = Canvas(32, 16);
      QPainter p(&Image);
      p.setRenderHint(QPainter::Antialiasing);
      for (int g = 0; g < 2; ++g) {
        const QPointF c(g * 16 + 8, 9);
        p.setPen(QPen(kRim, 1));
        p.setBrush(QColor(0x2a, 0x2e, 0x32));
        p.drawEllipse(c, 5.5, 5.5);
        p.setPen(Qt::NoPen);
        p.setBrush(g ? kLime : kLampOff);
        p.drawEllipse(c, 3, 3);
      }
      p.end();
      return ImageToBitmap(Flatten(Image, kPanelMid), 4);
    }
  }
}

TBitmap DialogButton(int Index) {
  static const char* const Captions[14] = {"OK",    "Cancel",  "Help",       "Yes",    "No",
                                           "Apply", "Close",   "Browse",     "Record", "Play",
                                           "Stop",  "Devices", "New Folder", "About"};
  QImage Image = Canvas(108, 25);
  QPainter p(&Image);
  p.setRenderHint(QPainter::Antialiasing);
  Plate(p, QRectF(0, 0, 107, 24), 4);  // a pixel short: room for the pressed shift
  // An accent lamp left of the caption: lit lime for OK and Yes; unlit, dark
  // red for Cancel and No and dark green for the rest.
  const QColor Lamp = (Index == 0 || Index == 3)   ? kLime
                      : (Index == 1 || Index == 4) ? kRecordOff
                                                   : kLampOff;
  p.setPen(Qt::NoPen);
  p.setBrush(Lamp);
  p.drawRoundedRect(QRectF(9, 9, 3, 6), 1.5, 1.5);
  p.setFont(Font(12, true));
  p.setPen(kSymbol);
  p.drawText(QRectF(14, 0, 88, 24), Qt::AlignCenter, Captions[Index]);
  p.end();
  return ImageToBitmap(Flatten(Image, kDialog), 24);
}

TBitmap Strip(int Height, QColor Top, QColor Bottom, bool Lines) {
  QImage Image(1, Height, QImage::Format_ARGB32);
  for (int y = 0; y < Height; ++y) {
    const float f = static_cast<float>(y) / static_cast<float>(Height - 1);
    QColor c = QColor::fromRgbF(Top.redF() + (Bottom.redF() - Top.redF()) * f,
                                Top.greenF() + (Bottom.greenF() - Top.greenF()) * f,
                                Top.blueF() + (Bottom.blueF() - Top.blueF()) * f);
    if (Lines && y == 0) c = QColor(0x5c, 0x63, 0x6a);
    if (Lines && y == 1) c = QColor(0x0e, 0x10, 0x11);
    Image.setPixel(0, y, c.rgba());
  }
  return ImageToBitmap(Image, 32);
}

TBitmap SplitButton(int Index) {
  return ImageToBitmap(RoundButton(41, 41,
                                   [Index](QPainter& p, QRectF R) {
                                     p.setFont(Font(15, true));
                                     p.setPen(Index == 0 ? kLime : kSymbol);
                                     p.drawText(R, Qt::AlignCenter, QString::number(Index));
                                   }),
                       24);
}

bool Write(TMMBitmapList& List, const std::string& Path) {
  std::ofstream Out(Path, std::ios::binary | std::ios::trunc);
  List.SaveToStream(Out);
  Out.close();
  return static_cast<bool>(Out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: velmar-skin-generator OUTPUT-FOLDER\n");
    return 2;
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication App(argc, argv);
  const std::string Folder = argv[1];
  TMMBitmapList RecordButtons, Buttons, BackGrounds, SplitButtons;
  auto WithDisabled = [](TMMBitmapList& List, int Count, const std::function<TBitmap(int)>& Make) {
    for (int i = 0; i < Count; ++i) List.Add(Make(i));
    for (int i = 0; i < Count; ++i) {
      const TBitmap& b = List.Bitmaps(i);
      List.Add(ImageToBitmap(Dimmed(BitmapToImage(b)), b.BitsPerPixel()));
    }
  };
  WithDisabled(RecordButtons, 12, RecordButton);
  Buttons.SetCompressed(true);
  WithDisabled(Buttons, 14, DialogButton);
  BackGrounds.Add(Strip(150, kPanelTop, kPanelBottom, true));
  BackGrounds.Add(Strip(252, kDialog.lighter(125), kDialog.darker(130), false));
  BackGrounds.Add(Strip(252, QColor(0x16, 0x18, 0x1a), QColor(0x0c, 0x0d, 0x0e), false));
  WithDisabled(SplitButtons, 10, SplitButton);
  const bool Ok = Write(RecordButtons, Folder + "/record_buttons.mbl") &&
                  Write(Buttons, Folder + "/buttons.mbl") &&
                  Write(BackGrounds, Folder + "/backgrounds.mbl") &&
                  Write(SplitButtons, Folder + "/split_buttons.mbl");
  if (!Ok) {
    std::fprintf(stderr, "velmar-skin-generator: cannot write into %s\n", Folder.c_str());
    return 1;
  }
  return 0;
}

// Draws the recorder's application icon: one design written as a scalable SVG
// and painted into PNGs of the sizes desktops ask for, into an icon theme
// folder ("hicolor" layout) given on the command line:
//   scalable/apps/velmar-recorder.svg, NxN/apps/velmar-recorder.png
// Run by the build; installed with the programs.
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <cstdio>
#include <fstream>
#include <string>

#include "tools/skin_palette.h"

using namespace velmar;

namespace {

// The design on a 256 x 256 canvas: a dark key cap, a black display with two
// level bars, a red record lamp.
struct TBar {
  QRectF Box;
  QColor Color;
};
const QRectF kCap(8, 8, 240, 240), kScreen(36, 36, 184, 84);
const TBar kBars[] = {
    {{50, 52, 124, 18}, kLime}, {{174, 52, 32, 18}, kRecord}, {{50, 86, 96, 18}, kLime}};
const QPointF kLamp(128, 178);
constexpr double kLampRadius = 42, kRadius = 44;

std::string Hex(QColor c) {
  char Text[8];
  std::snprintf(Text, sizeof Text, "#%02x%02x%02x", c.red(), c.green(), c.blue());
  return Text;
}

std::string Svg() {
  auto Rect = [](const QRectF& r, const std::string& Rest) {
    return "  <rect x=\"" + std::to_string(int(r.x())) + "\" y=\"" + std::to_string(int(r.y())) +
           "\" width=\"" + std::to_string(int(r.width())) + "\" height=\"" +
           std::to_string(int(r.height())) + "\" " + Rest + "/>\n";
  };
  std::string s =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"256\" height=\"256\" "
      "viewBox=\"0 0 256 256\">\n"
      "  <defs>\n"
      "    <linearGradient id=\"cap\" x1=\"0\" y1=\"0\" x2=\"0\" y2=\"1\">\n"
      "      <stop offset=\"0\" stop-color=\"" +
      Hex(kPanelTop) +
      "\"/>\n"
      "      <stop offset=\"1\" stop-color=\"" +
      Hex(kPanelBottom) +
      "\"/>\n"
      "    </linearGradient>\n"
      "  </defs>\n";
  s += Rect(kCap, "rx=\"" + std::to_string(int(kRadius)) + "\" fill=\"url(#cap)\" stroke=\"" +
                      Hex(kRim) + "\" stroke-width=\"4\"");
  s += Rect(kScreen, "rx=\"10\" fill=\"#000000\"");
  for (const TBar& b : kBars) s += Rect(b.Box, "rx=\"3\" fill=\"" + Hex(b.Color) + "\"");
  s += "  <circle cx=\"" + std::to_string(int(kLamp.x())) + "\" cy=\"" +
       std::to_string(int(kLamp.y())) + "\" r=\"" + std::to_string(int(kLampRadius)) +
       "\" fill=\"" + Hex(kRecord) + "\" stroke=\"#5a0c0a\" stroke-width=\"4\"/>\n";
  s += "  <circle cx=\"114\" cy=\"164\" r=\"14\" fill=\"" + Hex(kRecordLight) +
       "\" fill-opacity=\"0.7\"/>\n</svg>\n";
  return s;
}

QImage Png(int Size) {
  QImage Image(Size, Size, QImage::Format_ARGB32_Premultiplied);
  Image.fill(Qt::transparent);
  QPainter p(&Image);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(Size / 256.0, Size / 256.0);
  QLinearGradient Cap(0, 8, 0, 248);
  Cap.setColorAt(0, kPanelTop);
  Cap.setColorAt(1, kPanelBottom);
  p.setPen(QPen(kRim, 4));
  p.setBrush(Cap);
  p.drawRoundedRect(kCap, kRadius, kRadius);
  p.setPen(Qt::NoPen);
  p.setBrush(Qt::black);
  p.drawRoundedRect(kScreen, 10, 10);
  for (const TBar& b : kBars) {
    p.setBrush(b.Color);
    p.drawRoundedRect(b.Box, 3, 3);
  }
  p.setPen(QPen(QColor(0x5a, 0x0c, 0x0a), 4));
  p.setBrush(kRecord);
  p.drawEllipse(kLamp, kLampRadius, kLampRadius);
  p.setPen(Qt::NoPen);
  QColor Light = kRecordLight;
  Light.setAlphaF(0.7f);
  p.setBrush(Light);
  p.drawEllipse(QPointF(114, 164), 14, 14);
  return Image;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: velmar-icon-generator ICON-THEME-FOLDER\n");
    return 2;
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication App(argc, argv);
  const QString Folder = argv[1];
  bool Ok = QDir().mkpath(Folder + "/scalable/apps");
  std::ofstream(QString(Folder + "/scalable/apps/velmar-recorder.svg").toStdString()) << Svg();
  for (int Size : {16, 24, 32, 48, 64, 128, 256}) {
    const QString Dir = QString("%1/%2x%2/apps").arg(Folder).arg(Size);
    Ok = Ok && QDir().mkpath(Dir) && Png(Size).save(Dir + "/velmar-recorder.png");
  }
  if (!Ok) {
    std::fprintf(stderr, "velmar-icon-generator: cannot write into %s\n", argv[1]);
    return 1;
  }
  return 0;
}

#include "app/peak_readout.h"

#include <QMouseEvent>
#include <QPainter>

#include "app/skin_look.h"

namespace velmar {

namespace {

constexpr int kLampWidth = 10;
const QColor kFigure(0x9c, 0xff, 0x3a);  // the panel's lime
const QColor kLit(0xff, 0x30, 0x20);
const QColor kUnlit(0x3a, 0x12, 0x10);

}  // namespace

TPeakReadout::TPeakReadout(TPeakHold& Hold, QWidget* Parent) : QWidget(Parent), FHold(Hold) {
  setFont(LabelFont(true));
  setCursor(Qt::PointingHandCursor);
  setToolTip("The highest peak since Rec in dBFS, and the clip lamp: lit at a full-scale "
             "sample. Click to start over.");
}

void TPeakReadout::SetRows(int LeftTop, int RightTop, int Height) {
  FTop = {LeftTop, RightTop};
  FHeight = Height;
  update();
}

QString TPeakReadout::Figure(int Channel) const {
  const int Peak = FPeak[Channel];
  if (Peak <= 0) return "-inf";
  return QString::number(PeakDb(Peak), 'f', 1);
}

void TPeakReadout::Refresh() {
  bool Changed = false;
  for (int c = 0; c < 2; ++c) {
    const int Peak = FHold.Peak(c);
    const bool Lit = FHold.Clipped(c);
    Changed = Changed || Peak != FPeak[c] || Lit != FLit[c];
    FPeak[c] = Peak;
    FLit[c] = Lit;
  }
  if (Changed) update();
}

void TPeakReadout::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const QFontMetrics Metrics(font());
  for (int c = 0; c < 2; ++c) {
    // The figure centred on the bar's row, right-aligned before the lamp.
    const int Middle = FTop[c] + FHeight / 2;
    const QRect Text(0, Middle - Metrics.height() / 2, width() - kLampWidth - 4, Metrics.height());
    p.setPen(kFigure);
    p.drawText(Text, Qt::AlignRight | Qt::AlignVCenter, Figure(c));
    p.fillRect(QRect(width() - kLampWidth, FTop[c], kLampWidth, FHeight), FLit[c] ? kLit : kUnlit);
  }
}

void TPeakReadout::mousePressEvent(QMouseEvent* Event) {
  // The row nearer the click.
  const int y = static_cast<int>(Event->position().y());
  const int Channel =
      std::abs(y - (FTop[0] + FHeight / 2)) <= std::abs(y - (FTop[1] + FHeight / 2)) ? 0 : 1;
  FHold.ResetChannel(Channel);
  Refresh();
}

}  // namespace velmar

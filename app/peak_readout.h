// TPeakReadout: beside the level meters, each channel's highest peak since
// Rec (or since monitoring began) in dBFS, and its clip lamp, which lights at
// a full-scale sample and stays lit until clicked or until the next Rec. A
// click on a channel's row starts its peak and lamp over.
//
// Reads a TPeakHold that the window feeds (the monitoring input's thread or
// the recording's deliveries); Refresh, on the main thread, repaints only what
// changed. Owned by its Qt parent; the hold outlives it.
#pragma once

#include <QWidget>
#include <array>

#include "session/clip_watch.h"

namespace velmar {

class TPeakReadout : public QWidget {
 public:
  TPeakReadout(TPeakHold& Hold, QWidget* Parent);

  // Takes in the hold's figures; repaints when one changed.
  void Refresh();
  // The row of each channel: the level bar's top and height.
  void SetRows(int LeftTop, int RightTop, int Height);

  // What it shows: "-12.3", "-inf" (nothing yet), and whether a lamp is lit.
  QString Figure(int Channel) const;
  bool Lit(int Channel) const { return FLit[Channel]; }

 protected:
  void paintEvent(QPaintEvent* Event) override;
  void mousePressEvent(QMouseEvent* Event) override;

 private:
  TPeakHold& FHold;
  std::array<int, 2> FPeak{-1, -1};
  std::array<bool, 2> FLit{};
  std::array<int, 2> FTop{0, 16};
  int FHeight = 9;
};

}  // namespace velmar

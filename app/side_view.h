// TSideView: a side's waveform over a stretch of its frames, each channel in
// a lane of its own, under a time ruler, with the track marks (a line and the
// number and title of the track it starts), the tracks' own labelled places
// (dropouts), the selected mark and the cursor.
// The review shows the whole side in one and a few seconds around a mark in
// another; at its deepest the zoomed view draws single samples.
//
// The mouse: a press near a mark selects it and a drag moves it (told on
// release, snapped to the quiet unless Shift is held); a press elsewhere sets
// the cursor; the wheel asks to zoom around the pointer, sideways or with
// Shift to pan. The time under the pointer shows on the ruler. The view only
// tells; the review edits.
//
// Refers to the review's peaks, audio and edit, which outlive it. Main thread.
#pragma once

#include <QWidget>
#include <cstdint>
#include <functional>
#include <vector>

#include "session/side_peaks.h"

namespace velmar {

class TSideAudio;
class TSideClicks;
class TSideEdit;

// A frame's time in the side: minutes and seconds, with milliseconds when Fine.
QString SideTimeText(std::int64_t Frame, bool Fine);

class TSideView : public QWidget {
 public:
  TSideView(const TSidePeaks& Peaks, const TSideAudio& Audio, const TSideEdit& Edit,
            QWidget* Parent = nullptr);

  // Frames [From, To) fill the width.
  void SetRange(std::int64_t From, std::int64_t To);
  std::int64_t From() const { return FFrom; }
  std::int64_t To() const { return FTo; }
  void SetCursor(std::int64_t Frame);
  std::int64_t Cursor() const { return FCursor; }
  void SetSelected(int Mark);
  // The side's clicks to show (null: none), and the one selected (-1: none):
  // a tick over each lane in a wide view, the span shaded in a close one;
  // dropped repairs grey.
  // A wide view shows them as a thin lane of their density over the waveform
  // instead, so that a thousand of them leave the music readable.
  void SetClicks(const TSideClicks* Clicks, int Selected);
  // The waveform's height: samples drawn Times as large (1 .. kMaxGain),
  // so that a click in hiss or its repair can be seen; louder ones reach the
  // lane's edge.
  void SetGain(int Times);
  int Gain() const { return FGain; }
  static constexpr int kMaxGain = 256;
  void SetColors(QColor Wave, QColor Back);

  // The frame under x and the x of a frame.
  std::int64_t FrameAt(double x) const;
  double XOf(std::int64_t Frame) const;
  // The lowest and highest sample under each pixel column, as drawn (a column
  // narrower than a frame shows that frame).
  std::vector<TPeak> Columns() const;

  std::function<void(std::int64_t Frame)> OnCursor;
  std::function<void(int Mark)> OnSelect;
  std::function<void(int Mark, std::int64_t To, bool Snap)> OnMove;
  std::function<void(int Steps, std::int64_t At)> OnZoom;  // steps > 0: closer
  std::function<void(std::int64_t Frames)> OnPan;          // > 0: later in the side

  static constexpr int kRulerHeight = 16;
  static constexpr int kLabelHeight = 14;
  static constexpr int kClickLane = 5;                    // under the labels, above the lanes
  static constexpr double kLaneFramesPerPixel = 44100 / 20.0;  // wider than 50 ms a pixel

 protected:
  void paintEvent(QPaintEvent*) override;
  void mousePressEvent(QMouseEvent* Event) override;
  void mouseMoveEvent(QMouseEvent* Event) override;
  void mouseReleaseEvent(QMouseEvent* Event) override;
  void wheelEvent(QWheelEvent* Event) override;
  void leaveEvent(QEvent* Event) override;

 private:
  void PaintRuler(class QPainter& p);
  void PaintWave(QPainter& p, QRect Lane, int Channel, const std::vector<TPeak>& Columns);
  void PaintSamples(QPainter& p, QRect Lane, int Channel);
  void PaintMarks(QPainter& p);
  void PaintMarkers(QPainter& p);
  void PaintClicks(QPainter& p, int Top, int Lane);
  void PaintClickLane(QPainter& p, int Top, std::size_t First);
  void PaintLeftOut(QPainter& p, int Top);
  void PaintPointerTime(QPainter& p);
  double FramesPerPixel() const;
  int MarkNear(double x) const;

  const TSidePeaks& FPeaks;
  const TSideAudio& FAudio;
  const TSideEdit& FEdit;
  std::int64_t FFrom = 0, FTo = 1, FCursor = 0;
  int FSelected = -1;
  const TSideClicks* FClicks = nullptr;
  int FSelectedClick = -1;
  int FDragged = -1;  // the mark being dragged, and where it would go
  std::int64_t FDragTo = 0;
  double FPointer = -1;  // x of the pointer over the view, or -1
  QColor FWave{0, 255, 0}, FBack{0, 0, 0};
  int FGain = 1;
};

}  // namespace velmar

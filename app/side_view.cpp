#include "app/side_view.h"

#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "app/skin_look.h"
#include "session/side_audio.h"
#include "session/side_clicks.h"
#include "session/side_edit.h"

namespace velmar {

namespace {

constexpr double kRate = 44100;
const QColor kMark(255, 200, 0), kSelected(255, 80, 80), kMarker(255, 60, 200), kClick(255, 140, 0),
    kCursor(255, 255, 255), kRuler(170, 170, 170);

}  // namespace

QString SideTimeText(std::int64_t Frame, bool Fine) {
  const std::int64_t Ms = Frame * 1000 / static_cast<std::int64_t>(kRate), s = Ms / 1000;
  QString Text = QString("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QChar('0'));
  if (Fine) Text += QString(".%1").arg(Ms % 1000, 3, 10, QChar('0'));
  return Text;
}

TSideView::TSideView(const TSidePeaks& Peaks, const TSideAudio& Audio, const TSideEdit& Edit,
                     QWidget* Parent)
    : QWidget(Parent), FPeaks(Peaks), FAudio(Audio), FEdit(Edit) {
  setMinimumHeight(80);
  setMouseTracking(true);  // the time under the pointer
  setFocusPolicy(Qt::ClickFocus);
}

void TSideView::SetRange(std::int64_t From, std::int64_t To) {
  FFrom = From;
  FTo = std::max(To, From + 1);
  update();
}

void TSideView::SetCursor(std::int64_t Frame) {
  FCursor = Frame;
  update();
}

void TSideView::SetSelected(int Mark) {
  FSelected = Mark;
  update();
}

void TSideView::SetColors(QColor Wave, QColor Back) {
  FWave = Wave;
  FBack = Back;
  update();
}

double TSideView::FramesPerPixel() const {
  return static_cast<double>(FTo - FFrom) / std::max(width(), 1);
}

std::int64_t TSideView::FrameAt(double x) const {
  return FFrom + std::llround(x * FramesPerPixel());
}

double TSideView::XOf(std::int64_t Frame) const {
  return static_cast<double>(Frame - FFrom) / FramesPerPixel();
}

std::vector<TPeak> TSideView::Columns() const {
  const int Width = std::max(width(), 1);
  if (FramesPerPixel() >= TSidePeaks::kBucketFrames) return FPeaks.Columns(FFrom, FTo, Width);
  // Closer than the peaks' buckets: from the audio itself.
  std::vector<std::int16_t> Frames(static_cast<std::size_t>(2 * (FTo - FFrom)));
  FAudio.Read(FFrom, Frames.data(), FTo - FFrom);
  std::vector<TPeak> Result(static_cast<std::size_t>(Width));
  for (int c = 0; c < Width; ++c) {
    const auto First = static_cast<std::size_t>(c * FramesPerPixel());
    const auto Last = std::max(First + 1, static_cast<std::size_t>((c + 1) * FramesPerPixel()));
    Result[static_cast<std::size_t>(c)] =
        TSidePeaks::Of(Frames.data() + 2 * First, std::min(Last, Frames.size() / 2) - First);
  }
  return Result;
}

void TSideView::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), FBack);
  PaintRuler(p);
  const int Top = kRulerHeight + kLabelHeight;
  const int Lane = (height() - Top) / 2;
  const QRect Left(0, Top, width(), Lane), Right(0, Top + Lane, width(), Lane);
  if (FramesPerPixel() < 1) {
    PaintSamples(p, Left, 0);
    PaintSamples(p, Right, 1);
  } else {
    const std::vector<TPeak> c = Columns();
    PaintWave(p, Left, 0, c);
    PaintWave(p, Right, 1, c);
  }
  p.setPen(QColor(60, 60, 60));
  p.drawLine(0, Top + Lane, width(), Top + Lane);
  PaintLeftOut(p, Top);
  PaintClicks(p, Top, Lane);
  PaintMarkers(p);
  PaintMarks(p);
  const double x = XOf(FCursor);
  if (x >= 0 && x < width()) {
    p.setPen(kCursor);
    p.drawLine(QPointF(x, kRulerHeight), QPointF(x, height()));
  }
  PaintPointerTime(p);
}

void TSideView::PaintLeftOut(QPainter& p, int Top) {
  // Audio left out of the set: dimmed, as a thing that will not be written.
  for (std::size_t t = 0; t < FEdit.Tracks(); ++t) {
    if (!FEdit.LeftOut(t)) continue;
    const double x0 = std::max(XOf(FEdit.TrackStart(t)), 0.0);
    const double x1 = std::min(XOf(FEdit.TrackEnd(t)), static_cast<double>(width()));
    if (x1 <= x0) continue;
    p.fillRect(QRectF(x0, Top, x1 - x0, height() - Top), QColor(0, 0, 0, 170));
    p.fillRect(QRectF(x0, Top, x1 - x0, height() - Top), QBrush(QColor(90, 90, 90), Qt::BDiagPattern));
  }
}

void TSideView::SetGain(int Times) {
  FGain = std::clamp(Times, 1, kMaxGain);
  update();
}

void TSideView::PaintPointerTime(QPainter& p) {
  if (FPointer < 0 || FPointer >= width()) return;
  p.setFont(LabelFont(false));
  const QString Text = SideTimeText(std::clamp<std::int64_t>(FrameAt(FPointer), 0, FEdit.Frames()),
                                    FramesPerPixel() < 44.1 * 20);
  const QFontMetrics Metrics(p.font());
  const int w = Metrics.horizontalAdvance(Text) + 6;
  const QRectF Box(std::min(FPointer + 6, static_cast<double>(width() - w)), 0, w,
                   kRulerHeight - 1);
  p.fillRect(Box, QColor(60, 60, 60));
  p.setPen(kCursor);
  p.drawText(Box, Qt::AlignCenter, Text);
}

void TSideView::leaveEvent(QEvent*) {
  FPointer = -1;
  update();
}

void TSideView::PaintRuler(QPainter& p) {
  p.setFont(LabelFont(false));
  p.setPen(kRuler);
  p.drawLine(0, kRulerHeight - 1, width(), kRulerHeight - 1);
  // The closest ticks that leave room for their times.
  static const std::int64_t kSteps[] = {1,     2,     5,      10,     20,     50,     100,
                                        200,   500,   1000,   2000,   5000,   10000,  15000,
                                        30000, 60000, 120000, 300000, 600000, 900000, 1800000};
  const double MsPerPixel = FramesPerPixel() * 1000 / kRate;
  std::int64_t Step = kSteps[std::size(kSteps) - 1];
  for (const std::int64_t s : kSteps)
    if (static_cast<double>(s) / MsPerPixel >= 80) {
      Step = s;
      break;
    }
  const auto FromMs = static_cast<std::int64_t>(static_cast<double>(FFrom) * 1000 / kRate);
  for (std::int64_t Ms = (FromMs / Step) * Step;; Ms += Step) {
    // The tick's frame rounded up, so that its text names it.
    const std::int64_t Frame = (Ms * static_cast<std::int64_t>(kRate) + 999) / 1000;
    const double x = XOf(Frame);
    if (x >= width()) break;
    if (x < 0) continue;
    p.drawLine(QPointF(x, kRulerHeight - 5), QPointF(x, kRulerHeight - 1));
    p.drawText(QPointF(x + 2, kRulerHeight - 5), SideTimeText(Frame, Step < 1000));
  }
}

void TSideView::PaintWave(QPainter& p, QRect Lane, int Channel, const std::vector<TPeak>& Columns) {
  const double Middle = Lane.center().y(), Half = Lane.height() / 2.0 - 1;
  // Louder than the lane at this gain: drawn to its edge.
  auto Y = [&](int Sample) {
    return Middle - std::clamp(Sample * FGain * Half / 32768, -Half, Half);
  };
  p.setPen(FWave);
  for (std::size_t c = 0; c < Columns.size(); ++c) {
    const double Low = Y(Columns[c].Min[Channel]);
    const double High = Y(Columns[c].Max[Channel]);
    const auto x = static_cast<double>(c) + 0.5;
    p.drawLine(QPointF(x, High), QPointF(x, std::max(Low, High + 1)));
  }
}

void TSideView::PaintSamples(QPainter& p, QRect Lane, int Channel) {
  // Every sample where it lies, joined; dots once they stand apart.
  const std::int64_t First = std::max<std::int64_t>(FFrom - 1, 0);
  const std::int64_t Count = FTo + 1 - First;
  std::vector<std::int16_t> Frames(static_cast<std::size_t>(2 * Count));
  FAudio.Read(First, Frames.data(), Count);
  const double Middle = Lane.center().y(), Half = Lane.height() / 2.0 - 1;
  QPolygonF Line;
  for (std::int64_t f = 0; f < Count; ++f)
    Line << QPointF(XOf(First + f),
                    Middle - std::clamp(Frames[static_cast<std::size_t>(2 * f + Channel)] * FGain *
                                            Half / 32768,
                                        -Half, Half));
  p.setPen(QColor(FWave).darker(160));
  p.drawLine(QPointF(0, Middle), QPointF(width(), Middle));
  p.setPen(FWave);
  p.drawPolyline(Line);
  if (FramesPerPixel() < 0.25)
    for (const QPointF& At : Line) p.fillRect(QRectF(At.x() - 1.5, At.y() - 1.5, 3, 3), FWave);
}

void TSideView::SetClicks(const TSideClicks* Clicks, int Selected) {
  FClicks = Clicks;
  FSelectedClick = Selected;
  update();
}

void TSideView::PaintClicks(QPainter& p, int Top, int Lane) {
  if (!FClicks) return;
  const std::vector<TClick>& Clicks = FClicks->Clicks();
  const auto First = std::lower_bound(Clicks.begin(), Clicks.end(), FFrom - 44100,
                                      [](const TClick& c, std::int64_t f) { return c.Frame < f; });
  if (FramesPerPixel() >= kLaneFramesPerPixel) {
    PaintClickLane(p, Top, static_cast<std::size_t>(First - Clicks.begin()));
    return;
  }
  for (auto c = First; c != Clicks.end() && c->Frame < FTo; ++c) {
    const auto i = static_cast<std::size_t>(c - Clicks.begin());
    const bool Selected = static_cast<int>(i) == FSelectedClick;
    const QColor Colour = Selected              ? kSelected
                          : FClicks->Dropped(i) ? QColor(150, 150, 150)
                                                : kClick;
    const double x0 = XOf(c->Frame), x1 = XOf(c->Frame + c->Length);
    const int y = Top + c->Channel * Lane;
    if (x1 - x0 >= 3) {
      QColor Shade = Colour;
      Shade.setAlpha(90);
      p.fillRect(QRectF(x0, y, x1 - x0, Lane), Shade);
    } else {
      p.setPen(QPen(Colour, Selected ? 3 : 2));
      p.drawLine(QPointF(x0, y), QPointF(x0, y + std::max(8, Lane / 2)));
    }
  }
}

void TSideView::PaintClickLane(QPainter& p, int Top, std::size_t First) {
  // A wide view holds hundreds of clicks: ticks over the waveform would hide
  // it, so a thin lane above it shows how many lie under each column (the
  // more, the brighter; dropped repairs not counted), the selected one a tick.
  const std::vector<TClick>& Clicks = FClicks->Clicks();
  std::vector<int> Count(static_cast<std::size_t>(std::max(width(), 0)), 0);
  for (std::size_t i = First; i < Clicks.size() && Clicks[i].Frame < FTo; ++i) {
    const auto x = static_cast<long>(XOf(Clicks[i].Frame));
    if (x < 0 || x >= width() || FClicks->Dropped(i)) continue;
    ++Count[static_cast<std::size_t>(x)];
  }
  const int y = Top - kClickLane;
  p.fillRect(QRect(0, y, width(), kClickLane), QColor(30, 30, 30));
  for (int x = 0; x < width(); ++x) {
    const int n = Count[static_cast<std::size_t>(x)];
    if (n == 0) continue;
    QColor Shade = kClick;
    Shade.setAlpha(std::min(255, 90 + 55 * n));
    p.fillRect(QRect(x, y, 1, kClickLane), Shade);
  }
  if (FSelectedClick >= 0 && static_cast<std::size_t>(FSelectedClick) < Clicks.size()) {
    const double x = XOf(Clicks[static_cast<std::size_t>(FSelectedClick)].Frame);
    p.setPen(QPen(kSelected, 2));
    p.drawLine(QPointF(x, y), QPointF(x, height()));
  }
}

void TSideView::PaintMarkers(QPainter& p) {
  // The tracks' own places (dropouts and clips while recording): a dotted line in a
  // colour of their own, flagged at the foot, the label beside the flag where
  // there is room; they are not track marks and cannot be dragged.
  p.setFont(LabelFont(false));
  const QFontMetrics Metrics(p.font());
  for (const TSideMarker& m : FAudio.Markers()) {
    const double x = XOf(m.Frame);
    if (x < 0 || x >= width()) continue;
    p.setPen(QPen(kMarker, 1, Qt::DotLine));
    p.drawLine(QPointF(x, kRulerHeight + kLabelHeight), QPointF(x, height()));
    const QString Label = QString::fromStdString(m.Label);
    const int Room = FramesPerPixel() < 2000 ? Metrics.horizontalAdvance(Label) + 4 : 6;
    const QRectF Flag(x, height() - kLabelHeight, Room, kLabelHeight - 1);
    p.fillRect(Flag, kMarker);
    if (Room > 6) {
      p.setPen(Qt::black);
      p.drawText(Flag, Qt::AlignCenter, Label);
    }
  }
}

void TSideView::PaintMarks(QPainter& p) {
  p.setFont(LabelFont(true));
  const QFontMetrics Metrics(p.font());
  int Number = 0;  // as Apply numbers the kept tracks
  for (std::size_t t = 0; t < FEdit.Tracks(); ++t) {
    if (!FEdit.LeftOut(t)) ++Number;
    // The first track starts at no mark: its index -1 is neither dragged nor selected.
    const int Mark = static_cast<int>(t) - 1;
    const bool Dragged = Mark >= 0 && Mark == FDragged, Selected = Mark >= 0 && Mark == FSelected;
    const std::int64_t At = Dragged ? FDragTo : FEdit.TrackStart(t);
    const double x = XOf(At);
    if (x >= width() || XOf(FEdit.TrackEnd(t)) < 0) continue;
    const QColor Color = Selected ? kSelected : kMark;
    if (Mark >= 0) {
      p.setPen(QPen(Color, Selected ? 2 : 1, Dragged ? Qt::DashLine : Qt::SolidLine));
      p.drawLine(QPointF(x, kRulerHeight), QPointF(x, height()));
    }
    // The track's number and title beside its start, kept in sight while
    // any of the track is.
    QString Label = FEdit.LeftOut(t) ? QString("out") : QString::number(Number);
    if (!FEdit.Titles()[t].empty()) Label += " " + QString::fromStdString(FEdit.Titles()[t]);
    const double Room = XOf(FEdit.TrackEnd(t)) - std::max(x, 0.0) - 6;
    Label = Metrics.elidedText(Label, Qt::ElideRight, static_cast<int>(std::max(Room, 12.0)));
    const QRectF Box(std::max(x, 0.0) + 2, kRulerHeight, Metrics.horizontalAdvance(Label) + 4,
                     kLabelHeight - 1);
    p.fillRect(Box, Color);
    p.setPen(Qt::black);
    p.drawText(Box, Qt::AlignCenter, Label);
  }
}

int TSideView::MarkNear(double x) const {
  int Best = -1;
  double Distance = 5;
  for (std::size_t m = 0; m < FEdit.Marks().size(); ++m) {
    const double d = std::abs(XOf(FEdit.Marks()[m]) - x);
    if (d <= Distance) {
      Distance = d;
      Best = static_cast<int>(m);
    }
  }
  return Best;
}

void TSideView::mousePressEvent(QMouseEvent* Event) {
  if (Event->button() != Qt::LeftButton) return;
  const double x = Event->position().x();
  const int Mark = MarkNear(x);
  if (Mark >= 0) {
    FDragged = Mark;
    FDragTo = FEdit.Marks()[static_cast<std::size_t>(Mark)];
    if (OnSelect) OnSelect(Mark);
  } else if (OnCursor) {
    OnCursor(std::clamp<std::int64_t>(FrameAt(x), 0, FEdit.Frames()));
  }
}

void TSideView::mouseMoveEvent(QMouseEvent* Event) {
  FPointer = Event->position().x();
  update();
  if (FDragged < 0) return;
  FDragTo = std::clamp<std::int64_t>(FrameAt(Event->position().x()), 0, FEdit.Frames());
  update();
}

void TSideView::mouseReleaseEvent(QMouseEvent* Event) {
  if (FDragged < 0 || Event->button() != Qt::LeftButton) return;
  const int Mark = FDragged;
  FDragged = -1;
  update();
  if (FDragTo != FEdit.Marks()[static_cast<std::size_t>(Mark)] && OnMove)
    OnMove(Mark, FDragTo, !(Event->modifiers() & Qt::ShiftModifier));
}

void TSideView::wheelEvent(QWheelEvent* Event) {
  // Up and down zoom around the pointer; sideways (or with Shift) pans.
  const QPoint Delta = Event->angleDelta();
  const bool Sideways = Delta.x() != 0 || (Event->modifiers() & Qt::ShiftModifier);
  const int Steps = (Sideways ? (Delta.x() != 0 ? Delta.x() : Delta.y()) : Delta.y()) / 120;
  if (Steps == 0) return;
  if (Sideways) {
    if (OnPan) OnPan(-Steps * (FTo - FFrom) / 8);
  } else if (OnZoom) {
    OnZoom(Steps, FrameAt(Event->position().x()));
  }
}

}  // namespace velmar

#include "controls/caption_bar.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QStyle>
#include <QWindow>

#include "controls/form_styler.h"
#include "stream/arith.h"

namespace velmar {

namespace {

constexpr int kIconSize = 16;
constexpr int kGripWidth = 4;

struct TText {
  const TMMCompanyText* Text;
  QString Caption;
  int Width;
};

}  // namespace

TMMCaptionBar::TMMCaptionBar(TMMFormStyler* Styler, QWidget* Form)
    : QWidget(Form), FStyler(Styler) {
  setAttribute(Qt::WA_OpaquePaintEvent);
}

int TMMCaptionBar::PreferredHeight() const {
  const QFontMetrics Metrics(TMMFormStyler::SystemCaptionFont());
  return std::max(24, Metrics.height() + 10);
}

bool TMMCaptionBar::Shows(TButton Button) const {
  if (!FButtonsVisible) return false;
  const Qt::WindowFlags Flags = window()->windowFlags();
  switch (Button) {
    case btMinimize:
      return !(Flags & Qt::CustomizeWindowHint) || (Flags & Qt::WindowMinimizeButtonHint);
    case btMaximize:
      return !(Flags & Qt::CustomizeWindowHint) || (Flags & Qt::WindowMaximizeButtonHint);
    default:
      return !(Flags & Qt::CustomizeWindowHint) || (Flags & Qt::WindowCloseButtonHint);
  }
}

QRect TMMCaptionBar::ButtonRect(TButton Button) const {
  // From the right: close, maximise, minimise, each a square of the bar's height.
  const int h = height(), Side = h - 4;
  int Right = width() - 2;
  for (int b = btClose; b >= btMinimize; --b) {
    if (!Shows(static_cast<TButton>(b))) continue;
    const QRect R(Right - Side, 2, Side, Side);
    if (b == Button) return R;
    Right -= Side + 2;
  }
  return {};
}

void TMMCaptionBar::SetButtonsVisible(bool Value) {
  FButtonsVisible = Value;
  update();
}

QRect TMMCaptionBar::TextArea(const QRect& R) const {
  int Right = R.right();
  for (int b = btMinimize; b < btCount; ++b) {
    const QRect Button = ButtonRect(static_cast<TButton>(b));
    if (!Button.isNull()) Right = std::min(Right, Button.left() - 2);
  }
  const int Left = R.left() + 4 + kIconSize + 2;
  return QRect(QPoint(Left, R.top()), QPoint(std::max(Left, Right), R.bottom()));
}

unsigned TMMCaptionBar::FittingTexts(const QRect& R) const {
  const int Area = TextArea(R).width();
  auto Width = [](const TMMCompanyText& t) {
    if (!t.Visible()) return 0;
    const QString Caption = t.Caption();
    return Caption.isEmpty() ? 0 : QFontMetrics(t.Font()).horizontalAdvance(Caption) + 3;
  };
  const int c = Width(FStyler->CompanyText()), a = Width(FStyler->AppNameText()),
            t = Width(FStyler->CaptionText());
  if (c + a + t <= Area) return 7;
  if (a + t <= Area) return 6;
  return 4;
}

void TMMCaptionBar::PaintBar(QPainter& Canvas, const QRect& R, bool Active) const {
  const TMMGradientOptions Options = FStyler->Options();
  const int Depth = screen() ? screen()->depth() : 24;
  const bool Gradient = Options == TMMGradientOptions::goAlways ||
                        (Options == TMMGradientOptions::goActive && Active) ||
                        (Options == TMMGradientOptions::goSmart && Depth > (Active ? 7 : 8));
  if (Gradient) {
    const std::uint32_t From =
        ColorToRGB(Active ? FStyler->ClrLeftActive() : FStyler->ClrLeftInActive());
    const std::uint32_t To =
        ColorToRGB(Active ? FStyler->ClrRightActive() : FStyler->ClrRightInActive());
    const int N = FStyler->NumColors(), w = R.width();
    auto Channel = [&](int Shift, int i) {
      const int a = static_cast<int>((From >> Shift) & 0xFF),
                b = static_cast<int>((To >> Shift) & 0xFF);
      return a + MulDivRound(i, b - a, N - 1);
    };
    for (int i = 0; i < N; ++i) {
      const int x0 = R.left() + MulDivRound(i, w, N), x1 = R.left() + MulDivRound(i + 1, w, N);
      Canvas.fillRect(QRect(x0, R.top(), x1 - x0, R.height()),
                      QColor(Channel(16, i), Channel(8, i), Channel(0, i)));
    }
  } else {
    Canvas.fillRect(R, ToQColor(Active ? clActiveCaption : clInactiveCaption));
  }

  // The icon: the form's, else the application's, else the platform's.
  QIcon Icon = window()->windowIcon();
  if (Icon.isNull()) Icon = QApplication::windowIcon();
  if (Icon.isNull()) Icon = style()->standardIcon(QStyle::SP_DesktopIcon);
  Icon.paint(&Canvas,
             QRect(R.left() + 4, R.top() + (R.height() - kIconSize) / 2, kIconSize, kIconSize));

  // The buttons in the bar's own colours: a face a shade off the bar under
  // them, a rim and the symbol in the caption text's colour.
  const QColor Under =
      Gradient ? ToQColor(Active ? FStyler->ClrRightActive() : FStyler->ClrRightInActive())
               : ToQColor(Active ? clActiveCaption : clInactiveCaption);
  const QColor Ink = ToQColor(Active ? FStyler->CaptionText().ColorActive()
                                     : FStyler->CaptionText().ColorInactive());
  for (int b = btMinimize; b < btCount; ++b) {
    const QRect Button = ButtonRect(static_cast<TButton>(b)).translated(R.topLeft());
    if (Button.isNull()) continue;
    const bool Restore = b == btMaximize && window()->isMaximized();
    PaintButton(Canvas, Button, static_cast<TButton>(b), Restore, b == FPressed, Under, Ink);
  }

  // The texts: all three when they fit, else name and caption, else the caption.
  const unsigned Shown = FittingTexts(R);
  const QRect Area = TextArea(R);
  const TMMCompanyText* Texts[3] = {&FStyler->CompanyText(), &FStyler->AppNameText(),
                                    &FStyler->CaptionText()};
  std::vector<TText> Line;
  int Total = 0;
  for (int i = 0; i < 3; ++i) {
    if (!(Shown & (1u << i)) || !Texts[i]->Visible()) continue;
    const QString Caption = Texts[i]->Caption();
    if (Caption.isEmpty() && i < 2) continue;
    const int Width = QFontMetrics(Texts[i]->Font()).horizontalAdvance(Caption) + 3;
    Line.push_back({Texts[i], Caption, Width});
    Total += Width;
  }
  int x = Area.left();
  if (Total <= Area.width()) {
    if (FStyler->Alignment() == Qt::AlignRight) x = Area.right() - Total;
    if (FStyler->Alignment() == Qt::AlignHCenter) x = Area.left() + (Area.width() - Total) / 2;
  }
  Canvas.save();
  Canvas.setClipRect(Area);
  for (const TText& t : Line) {
    x += 3;
    const QRect Box(x, Area.top(), std::max(0, Area.right() - x), Area.height());
    Canvas.setFont(t.Text->Font());
    Canvas.setPen(ToQColor(Active ? t.Text->ColorActive() : t.Text->ColorInactive()));
    Canvas.drawText(Box, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                    Canvas.fontMetrics().elidedText(t.Caption, Qt::ElideRight, Box.width()));
    x += t.Width - 3;
  }
  Canvas.restore();
}

void TMMCaptionBar::PaintButton(QPainter& Canvas, const QRect& Box, TButton Button, bool Restore,
                                bool Pressed, QColor Under, QColor Ink) {
  QColor Face = Under.lightness() < 128 ? Under.lighter(150) : Under.darker(115);
  if (Under.lightness() < 20) Face = QColor(0x3a, 0x3a, 0x3a);  // black has no lighter shade
  if (Pressed) Face = Face.darker(140);
  QColor Rim = Ink;
  Rim.setAlpha(110);
  Canvas.save();
  Canvas.setRenderHint(QPainter::Antialiasing);
  Canvas.setPen(QPen(Rim, 1));
  Canvas.setBrush(Face);
  Canvas.drawRoundedRect(QRectF(Box).adjusted(0.5, 0.5, -0.5, -0.5), 2, 2);
  const qreal Side = Box.height(), Pen = std::max<qreal>(1.5, Side / 10);
  const QRectF Mark = QRectF(Box)
                          .adjusted(Side * 0.3, Side * 0.3, -Side * 0.3, -Side * 0.3)
                          .translated(Pressed ? 1 : 0, Pressed ? 1 : 0);
  Canvas.setPen(QPen(Ink, Pen, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin));
  Canvas.setBrush(Qt::NoBrush);
  switch (Button) {
    case btMinimize:
      Canvas.drawLine(QPointF(Mark.left(), Mark.bottom()), Mark.bottomRight());
      break;
    case btMaximize:
      if (Restore) {
        const qreal d = Mark.width() / 3;
        Canvas.drawRect(Mark.adjusted(d, 0, 0, -d));
        Canvas.setBrush(Face);
        Canvas.drawRect(Mark.adjusted(0, d, -d, 0));
      } else {
        Canvas.drawRect(Mark);
      }
      break;
    default:
      Canvas.drawLine(Mark.topLeft(), Mark.bottomRight());
      Canvas.drawLine(Mark.topRight(), Mark.bottomLeft());
  }
  Canvas.restore();
}

void TMMCaptionBar::paintEvent(QPaintEvent*) {
  QPainter Canvas(this);
  PaintBar(Canvas, rect(), FStyler->Active());
}

void TMMCaptionBar::mousePressEvent(QMouseEvent* Event) {
  if (Event->button() != Qt::LeftButton) return;
  const QPoint P = Event->position().toPoint();
  for (int b = btMinimize; b < btCount; ++b) {
    if (ButtonRect(static_cast<TButton>(b)).contains(P)) {
      FPressed = b;
      update();
      return;
    }
  }
  // The window system moves the window; one that cannot gets its frame back.
  QWindow* Handle = window()->windowHandle();
  if (FStyler->Frameless() && (!Handle || !Handle->startSystemMove())) FStyler->UseSystemFrame();
}

void TMMCaptionBar::mouseReleaseEvent(QMouseEvent* Event) {
  const int Pressed = FPressed;
  FPressed = -1;
  update();
  if (Pressed < 0 ||
      !ButtonRect(static_cast<TButton>(Pressed)).contains(Event->position().toPoint()))
    return;
  switch (Pressed) {
    case btMinimize:
      window()->showMinimized();
      break;
    case btMaximize:
      ToggleMaximized();
      break;
    default:
      window()->close();
  }
}

void TMMCaptionBar::mouseDoubleClickEvent(QMouseEvent* Event) {
  if (Event->button() == Qt::LeftButton && Shows(btMaximize)) ToggleMaximized();
}

void TMMCaptionBar::ToggleMaximized() {
  if (window()->isMaximized())
    window()->showNormal();
  else
    window()->showMaximized();
}

TMMSizeGrip::TMMSizeGrip(Qt::Edges Edges, QWidget* Form) : QWidget(Form), FEdges(Edges) {
  const bool Horizontal = Edges & (Qt::LeftEdge | Qt::RightEdge);
  const bool Vertical = Edges & (Qt::TopEdge | Qt::BottomEdge);
  if (Horizontal && Vertical)
    setCursor(Edges == (Qt::TopEdge | Qt::LeftEdge) || Edges == (Qt::BottomEdge | Qt::RightEdge)
                  ? Qt::SizeFDiagCursor
                  : Qt::SizeBDiagCursor);
  else
    setCursor(Horizontal ? Qt::SizeHorCursor : Qt::SizeVerCursor);
  Place();
}

void TMMSizeGrip::Place() {
  const QWidget* Form = parentWidget();
  const int W = Form->width(), H = Form->height(), g = kGripWidth;
  const int x = FEdges & Qt::LeftEdge ? 0 : FEdges & Qt::RightEdge ? W - g : g;
  const int y = FEdges & Qt::TopEdge ? 0 : FEdges & Qt::BottomEdge ? H - g : g;
  const int w = FEdges & (Qt::LeftEdge | Qt::RightEdge) ? g : W - 2 * g;
  const int h = FEdges & (Qt::TopEdge | Qt::BottomEdge) ? g : H - 2 * g;
  setGeometry(x, y, w, h);
  raise();
}

void TMMSizeGrip::mousePressEvent(QMouseEvent* Event) {
  if (Event->button() != Qt::LeftButton) return;
  if (QWindow* Handle = window()->windowHandle()) Handle->startSystemResize(FEdges);
}

}  // namespace velmar

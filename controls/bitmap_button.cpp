#include "controls/bitmap_button.h"

#include <QMouseEvent>
#include <QPainter>
#include <QShortcutEvent>
#include <algorithm>

#include "controls/bitmap_image.h"

namespace velmar {

namespace {

bool HoverStyle(TMMButtonStyle Style) {
  return Style == TMMButtonStyle::bsExplorer || Style == TMMButtonStyle::bsHighLight;
}

// Grey level with red weighted 11 and blue 30.
QImage GreyCopy(const QImage& Glyph) {
  QImage Grey = Glyph.convertToFormat(QImage::Format_RGB32);
  for (int y = 0; y < Grey.height(); ++y) {
    auto* Line = reinterpret_cast<QRgb*>(Grey.scanLine(y));
    for (int x = 0; x < Grey.width(); ++x) {
      const int g = (11 * qRed(Line[x]) + 59 * qGreen(Line[x]) + 30 * qBlue(Line[x])) / 100;
      Line[x] = qRgb(g, g, g);
    }
  }
  return Grey;
}

// White and the top-left colour are background, everything else ink: the ink
// drawn in the highlight colour one pixel right and down, then in the shadow
// colour in place. The background is the glyph's own bottom-left colour (the
// one the transparent draw leaves out) rather than the button face, so that a
// disabled button shows its embossed shape on whatever lies beneath instead
// of a grey box.
QImage EmbossedCopy(const QImage& Glyph) {
  QImage Out(Glyph.size(), QImage::Format_RGB32);
  if (Glyph.isNull()) return Out;
  Out.fill(Glyph.pixel(0, Glyph.height() - 1));
  const QRgb Corner = Glyph.pixel(0, 0) & 0xFFFFFF;
  auto Ink = [&](int x, int y) {
    const QRgb c = Glyph.pixel(x, y) & 0xFFFFFF;
    return c != 0xFFFFFF && c != Corner;
  };
  const QRgb Light = ToQColor(clBtnHighlight).rgb(), Shadow = ToQColor(clBtnShadow).rgb();
  for (int y = 0; y < Glyph.height(); ++y)
    for (int x = 0; x < Glyph.width(); ++x)
      if (Ink(x, y) && x + 1 < Out.width() && y + 1 < Out.height())
        Out.setPixel(x + 1, y + 1, Light);
  for (int y = 0; y < Glyph.height(); ++y)
    for (int x = 0; x < Glyph.width(); ++x)
      if (Ink(x, y)) Out.setPixel(x, y, Shadow);
  return Out;
}

}  // namespace

TMMBitmapButton::TMMBitmapButton(QWidget* Parent) : TMMCustomBitmapListControl(Parent) {
  resize(40, 40);
  SetTransparent(true);
  SetColor(clWindow);
}

void TMMBitmapButton::SetNumGlyphs(int Value) {
  Value = std::max(Value, 1);
  if (Value == FNumGlyphs) return;
  FNumGlyphs = Value;
  BuildStrip(false);
  update();
}

void TMMBitmapButton::SetButtonStyle(TMMButtonStyle Value) {
  if (Value == FButtonStyle) return;
  FButtonStyle = Value;
  BuildStrip(false);
  update();
}

void TMMBitmapButton::SetCaption(const QString& Value) {
  if (Value == FCaption) return;
  FCaption = Value;
  SetAccelerator(FCaption);
  update();
}

void TMMBitmapButton::SetFontColor(TColor Value) {
  FFontColor = Value, update();
}
void TMMBitmapButton::SetTextAlign(TMMTextAlign Value) {
  FTextAlign = Value, update();
}
void TMMBitmapButton::SetSpacing(int Value) {
  FSpacing = Value, update();
}
void TMMBitmapButton::SetWordWrap(bool Value) {
  FWordWrap = Value, update();
}
void TMMBitmapButton::SetBorderWidth(int Value) {
  FBorderWidth = std::max(Value, 0), update();
}
void TMMBitmapButton::SetShowDisabled(bool Value) {
  FShowDisabled = Value, update();
}
void TMMBitmapButton::SetShowPressed(bool Value) {
  FShowPressed = Value, update();
}
void TMMBitmapButton::SetDownIndentHoriz(int Value) {
  FDownIndentHoriz = std::max(Value, 0), update();
}
void TMMBitmapButton::SetDownIndentVert(int Value) {
  FDownIndentVert = std::max(Value, 0), update();
}

void TMMBitmapButton::SetAutoSize(bool Value) {
  if (Value == FAutoSize) return;
  FAutoSize = Value;
  BuildStrip(false);
  update();
}

void TMMBitmapButton::SetAutoGray(bool Value) {
  if (Value == FAutoGray) return;
  FAutoGray = Value;
  BuildStrip(false);
  update();
}

void TMMBitmapButton::SetDown(bool Value) {
  FDown = Value;
  FPressed = Value;
  repaint();
}

void TMMBitmapButton::BitmapChanged() {
  const bool ListOrIndex = BitmapList() != FLastList || BitmapIndex() != FLastIndex;
  FLastList = BitmapList();
  FLastIndex = BitmapIndex();
  BuildStrip(ListOrIndex);
  TMMCustomBitmapListControl::BitmapChanged();
}

void TMMBitmapButton::BuildStrip(bool ListOrIndexChanged) {
  const TBitmap* Bitmap = CurrentBitmap();
  if (!Bitmap || Bitmap->Empty()) {
    FStrip = QImage();
    FStripGlyphs = 0;
    return;
  }
  const int w = Bitmap->Width(), h = Bitmap->Height();
  if (ListOrIndexChanged && FNumGlyphs == 1 && w % h == 0) FNumGlyphs = std::min(w / h, 4);
  const int gw = w / FNumGlyphs;
  if (FAutoSize && gw > 0) resize(gw, h);
  const QImage Source = BitmapToImage(*Bitmap);
  if (FNumGlyphs > 1 && !(HoverStyle(FButtonStyle) && FAutoGray)) {
    FStrip = Source;
    FStripGlyphs = FNumGlyphs;
    return;
  }
  FStripGlyphs = FNumGlyphs + 2;
  FStrip = QImage(gw * FStripGlyphs, h, QImage::Format_RGB32);
  FStrip.fill(Qt::black);
  QPainter p(&FStrip);
  p.drawImage(0, 0, Source, 0, 0, gw * FNumGlyphs, h);
  const QImage Glyph0 = Source.copy(0, 0, gw, h);
  p.drawImage(gw * FNumGlyphs, 0, GreyCopy(Glyph0));
  // A skin that draws its own disabled look (a full-colour key cap embosses
  // into a blank disc) gives it; otherwise the glyph is embossed.
  const TBitmap* Disabled = DisabledBitmap();
  p.drawImage(gw * (FNumGlyphs + 1), 0,
              Disabled ? BitmapToImage(*Disabled).copy(0, 0, gw, h) : EmbossedCopy(Glyph0));
}

int TMMBitmapButton::GlyphIndex() const {
  int Index = -1;
  if (OnGetGlyphIndex) OnGetGlyphIndex(const_cast<TMMBitmapButton*>(this), FPressed, Index);
  if (Index != -1) return Index;
  const bool Enabled = isEnabled();
  Index = 0;
  switch (FNumGlyphs) {
    case 2:
      if (!Enabled) Index = 1;
      break;
    case 3:
      if (!Enabled)
        Index = 1;
      else if (FPressed)
        Index = 2;
      break;
    case 4:
      if (!Enabled)
        Index = 1;
      else if (FDown)
        Index = 3;
      else if (FPressed)
        Index = 2;
      break;
    default:
      break;
  }
  if (HoverStyle(FButtonStyle) && Enabled && !FDown && !FMouseOver && FShowDisabled) {
    if (FAutoGray)
      Index = FNumGlyphs;
    else if (FNumGlyphs > 1)
      Index = 1;
  }
  if (!Enabled && FNumGlyphs == 1) Index = 2;
  return Index;
}

void TMMBitmapButton::PaintFrame(QPainter& Canvas) {
  const int W = width(), H = height();
  QRect R = rect();
  const bool Clear = Transparent();
  switch (FButtonStyle) {
    case TMMButtonStyle::bsRegular:
      if (!Clear) Canvas.fillRect(R, ToQColor(Color()));
      Canvas.setPen(Qt::black);
      Canvas.drawRect(1, 1, W - 2, H - 2);
      break;
    case TMMButtonStyle::bsIndent: {
      if (!Clear) Canvas.fillRect(R, ToQColor(Color()));
      Canvas.setPen(ToQColor(clBtnShadow));
      Canvas.drawRect(0, 0, W - 2, H - 2);
      QRect Inner(1, 1, W - 1, H - 1);
      Frame3D(Canvas, Inner, clBtnHighlight, clBtnHighlight, 1);
      break;
    }
    default:
      if (!Clear) Canvas.fillRect(R, ToQColor(Color()));
  }
  const int B = FBorderWidth;
  if (FPressed && FButtonStyle != TMMButtonStyle::bsNone) {
    switch (FButtonStyle) {
      case TMMButtonStyle::bsRegular:
      case TMMButtonStyle::bsIndent:
        if (FShowPressed) {
          Frame3D(Canvas, R, clBlack, clBtnHighlight, B);
          Frame3D(Canvas, R, clBtnShadow, clBtnFace, B);
        }
        break;
      case TMMButtonStyle::bsLight:
        Frame3D(Canvas, R, clBtnShadow, clBtnHighlight, 1);
        break;
      case TMMButtonStyle::bsDark:
        Frame3D(Canvas, R, clBtnDkShadow, clBtnFace, 1);
        break;
      case TMMButtonStyle::bsMono:
        Frame3D(Canvas, R, clBtnDkShadow, clBtnHighlight, 1);
        break;
      case TMMButtonStyle::bsExplorer:
        if (FMouseOver || FDown) {
          if (FShowPressed)
            Frame3D(Canvas, R, clBtnShadow, clBtnHighlight, B);
          else
            Frame3D(Canvas, R, clBtnHighlight, clBtnShadow, B);
        }
        break;
      default:
        break;
    }
    return;
  }
  switch (FButtonStyle) {
    case TMMButtonStyle::bsRegular:
      Frame3D(Canvas, R, clBtnHighlight, clBlack, B);
      Frame3D(Canvas, R, clBtnFace, clBtnShadow, B);
      break;
    case TMMButtonStyle::bsIndent:
      Frame3D(Canvas, R, clBtnShadow, clBtnHighlight, B);
      break;
    case TMMButtonStyle::bsLight:
      Frame3D(Canvas, R, clBtnHighlight, clBtnShadow, 1);
      break;
    case TMMButtonStyle::bsDark:
      Frame3D(Canvas, R, clBtnFace, clBtnDkShadow, 1);
      break;
    case TMMButtonStyle::bsMono:
      Frame3D(Canvas, R, clBtnHighlight, clBtnDkShadow, 1);
      break;
    case TMMButtonStyle::bsExplorer:
      if (FMouseOver) Frame3D(Canvas, R, clBtnHighlight, clBtnShadow, B);
      break;
    default:
      break;
  }
}

QSize TMMBitmapButton::CaptionSize(const QFontMetrics& Metrics) const {
  if (FCaption.isEmpty()) return {0, 0};
  const int Flags = Qt::TextShowMnemonic | (FWordWrap ? Qt::TextWordWrap : Qt::TextSingleLine);
  const QRect Box = Metrics.boundingRect(QRect(0, 0, width(), height()), Flags, FCaption);
  return {std::min(Box.width(), width()), Box.height()};
}

QRect TMMBitmapButton::Paint(QPainter& Canvas) {
  Canvas.setClipRect(rect());
  PaintFrame(Canvas);
  const int W = width(), H = height();
  const TBitmap* Bitmap = CurrentBitmap();
  int gw = 0, gh = 0;
  if (Bitmap && !FStrip.isNull()) {
    gw = FNumGlyphs > 0 ? Bitmap->Width() / FNumGlyphs : Bitmap->Width();
    if (gw == 0) gw = Bitmap->Width();
    gh = Bitmap->Height();
  }
  using A = TMMTextAlign;
  int Top, Left;
  switch (FTextAlign) {
    case A::ttaBottomRight:
    case A::ttaBottom:
    case A::ttaBottomLeft:
      Top = FSpacing;
      break;
    case A::ttaTopLeft:
    case A::ttaTop:
    case A::ttaTopRight:
      Top = H - gh - FSpacing;
      break;
    default:
      Top = (H - gh) / 2;
  }
  switch (FTextAlign) {
    case A::ttaLeft:
      Left = W - gw - FSpacing;
      break;
    case A::ttaRight:
      Left = FSpacing;
      break;
    default:
      Left = (W - gw) / 2;
  }
  const bool Shift = FPressed && FShowPressed;
  const QPoint Indent = Shift ? QPoint(FDownIndentHoriz, FDownIndentVert) : QPoint();
  const QRect G(Left, Top, gw, gh);
  if (gw > 0) {
    const int Index = std::clamp(GlyphIndex(), 0, FStripGlyphs - 1);
    const std::int64_t Key =
        Transparent() ? KeyOf(GetTransparentColor())
                      : static_cast<std::int64_t>(FStrip.pixel(Index * gw, gh - 1) & 0xFFFFFF);
    DrawTransparent(Canvas, G.topLeft() + Indent, FStrip, QRect(Index * gw, 0, gw, gh), Key);
  }
  if (!FCaption.isEmpty()) {
    Canvas.setFont(font());
    const QSize T = CaptionSize(Canvas.fontMetrics());
    const int tw = T.width(), th = T.height();
    int tx, ty;
    switch (FTextAlign) {
      case A::ttaTopLeft:
      case A::ttaBottomLeft:
      case A::ttaLeft:
        tx = FSpacing;
        break;
      case A::ttaTopRight:
      case A::ttaRight:
      case A::ttaBottomRight:
        tx = W - tw - FSpacing;
        break;
      default:
        tx = W / 2 - tw / 2;
    }
    switch (FTextAlign) {
      case A::ttaTopLeft:
      case A::ttaTop:
      case A::ttaTopRight:
        ty = G.top() - th - FSpacing;
        break;
      case A::ttaBottomRight:
      case A::ttaBottom:
      case A::ttaBottomLeft:
        ty = G.top() + gh + FSpacing;
        break;
      default:
        ty = H / 2 - th / 2;
    }
    const QRect Box = QRect(tx, ty, tw, th).translated(Indent);
    const int Flags = Qt::AlignCenter | Qt::TextShowMnemonic | Qt::TextDontClip |
                      (FWordWrap ? Qt::TextWordWrap : Qt::TextSingleLine);
    const QString Text = FWordWrap ? FCaption
                                   : Canvas.fontMetrics().elidedText(FCaption, Qt::ElideRight, W,
                                                                     Qt::TextShowMnemonic);
    Canvas.setPen(CaptionColor(ToQColor(FFontColor), isEnabled()));
    Canvas.drawText(Box, Flags, Text);
  }
  return rect();
}

bool TMMBitmapButton::Handles(Qt::MouseButton Button) const {
  return Button == Qt::LeftButton || (FAllowRightMouse && Button == Qt::RightButton);
}

void TMMBitmapButton::mousePressEvent(QMouseEvent* Event) {
  const QPoint P = Event->position().toPoint();
  if (OnMouseDown) OnMouseDown(this, Event->button(), Event->modifiers(), P.x(), P.y());
  if (!Handles(Event->button()) || !isEnabled() || FTracking) return;
  // Qt grabs the mouse for the widget a press lands in until the release.
  FTracking = true;
  if (rect().contains(P)) {
    FPressed = true;
    repaint();
  }
}

void TMMBitmapButton::mouseMoveEvent(QMouseEvent* Event) {
  const QPoint P = Event->position().toPoint();
  if (OnMouseMove) OnMouseMove(this, Event->modifiers(), P.x(), P.y());
  if (!FTracking || FDown) return;
  const bool Inside = rect().contains(P);
  if (Inside != FPressed) {
    FPressed = Inside;
    repaint();
  }
}

void TMMBitmapButton::mouseReleaseEvent(QMouseEvent* Event) {
  const QPoint P = Event->position().toPoint();
  if (OnMouseUp) OnMouseUp(this, Event->button(), Event->modifiers(), P.x(), P.y());
  if (!Handles(Event->button()) || !FTracking || !isEnabled()) return;
  FTracking = false;
  const bool Inside = rect().contains(P);
  if (!FDown) FPressed = false;
  FMouseOver = Inside;
  if (FSwitch && Inside)
    SetDown(!FDown);
  else
    repaint();
  if (Inside) Click();
}

void TMMBitmapButton::enterEvent(QEnterEvent*) {
  if (!isEnabled() || FDown) return;
  FMouseOver = true;
  if (HoverStyle(FButtonStyle)) repaint();
  if (OnMouseEnter) OnMouseEnter(this);
}

void TMMBitmapButton::leaveEvent(QEvent*) {
  if (!isEnabled() || FDown) return;
  FMouseOver = false;
  if (HoverStyle(FButtonStyle)) repaint();
  if (OnMouseExit) OnMouseExit(this);
}

void TMMBitmapButton::changeEvent(QEvent* Event) {
  if (Event->type() == QEvent::EnabledChange && !isEnabled()) {
    FPressed = false;
    FTracking = false;
    FMouseOver = false;
  }
  if (Event->type() == QEvent::EnabledChange) update();
  TMMCustomBitmapListControl::changeEvent(Event);
}

void TMMBitmapButton::Click() {
  if (OnClick) OnClick(this);
}

}  // namespace velmar

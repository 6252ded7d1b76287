// TMMDIBCanvas: an off-screen pixel buffer (a QImage) of Width x Height pixels
// at 8 or 24 bits per pixel, with the palette flags and the optional background
// bitmap of the design. The pixels are held as 32-bit RGB whatever the depth:
// the depth is what the control asked for, and the pixels are the same.
//
// TMMDIBGraphicControl: a graphic control that draws through its canvas. A
// descendant draws into the canvas in DrawCanvas. DrawNow takes the control's
// new state at once and shows it with the next display frame: the picture is
// drawn once for the screen, however many states came in between (a display fed
// a thousand times a second is drawn sixty times), and at once for whoever
// reads the canvas. A paint event from the window system shows the last picture.
//
// Main thread only.
#pragma once

#include <QImage>

#include "controls/graphic_control.h"

namespace velmar {

class TMMDIBCanvas {
 public:
  TMMDIBCanvas();

  int Width() const { return FImage.width(); }
  int Height() const { return FImage.height(); }
  // Both at least 1; the content is undefined afterwards.
  void SetSize(int Width, int Height);
  int BitsPerPixel() const { return FBitsPerPixel; }
  // 8 or 24; anything else raises EMMDIBError "Bitlength not supported yet".
  void SetBitsPerPixel(int Value);
  bool PaletteRealize() const { return FPaletteRealize; }
  void SetPaletteRealize(bool Value) { FPaletteRealize = Value; }
  bool PaletteMapped() const { return FPaletteMapped; }
  void SetPaletteMapped(bool Value) { FPaletteMapped = Value; }
  const QImage& BackGroundBitmap() const { return FBackGround; }
  void SetBackGroundBitmap(const QImage& Value) { FBackGround = Value; }
  bool StretchBackGround() const { return FStretchBackGround; }
  void SetStretchBackGround(bool Value) { FStretchBackGround = Value; }

  void FillRect(const QRect& R, TColor Color);
  // Copies all of Source (of the same size) into this canvas.
  void CopyFrom(const TMMDIBCanvas& Source);
  // Copies the rectangle R of Source (of the same size) to the same place here.
  void CopyRect(const TMMDIBCanvas& Source, const QRect& R);
  // Sets every second pixel of every second row of R, starting at its corner.
  void DotRect(const QRect& R, TColor Color);
  void DrawTo(QPainter& Target, const QPoint& At) const;

  QImage& Image() { return FImage; }
  const QImage& Image() const { return FImage; }

 private:
  QImage FImage;
  QImage FBackGround;
  int FBitsPerPixel = 8;
  bool FPaletteRealize = false;
  bool FPaletteMapped = false;
  bool FStretchBackGround = true;
};

class TMMDIBGraphicControl : public TMMGraphicControl {
 public:
  explicit TMMDIBGraphicControl(QWidget* Parent = nullptr);

  // The canvas with the newest state drawn.
  TMMDIBCanvas& Canvas();
  const TMMDIBCanvas& Canvas() const;
  int Tag2() const { return FTag2; }
  void SetTag2(int Value) { FTag2 = Value; }
  int BitsPerPixel() const { return FCanvas.BitsPerPixel(); }
  virtual void SetBitsPerPixel(int Value);
  bool PaletteRealize() const { return FCanvas.PaletteRealize(); }
  void SetPaletteRealize(bool Value) { FCanvas.SetPaletteRealize(Value); }
  bool PaletteMapped() const { return FCanvas.PaletteMapped(); }
  void SetPaletteMapped(bool Value) { FCanvas.SetPaletteMapped(Value); }

  // The state changed: drawn when shown (next display frame) or read.
  void DrawNow();
  // Only Part of the canvas changes: drawn as DrawNow, and only that part
  // goes to the screen.
  void DrawNow(const QRect& Part);

 protected:
  // Draws the control's picture into the canvas (sized to the inner rectangle).
  virtual void DrawCanvas() {}
  QRect Paint(QPainter& Canvas) override;

 private:
  void Render();

  TMMDIBCanvas FCanvas;
  int FTag2 = 0;
  bool FPending = true;  // a state not drawn into the canvas yet
};

}  // namespace velmar

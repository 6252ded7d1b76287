// TMMCaptionBar: the caption strip a TMMFormStyler puts at the top of its
// form: the gradient, the icon, the three texts and the window buttons; a
// press moves the window through the window system, a double click maximises
// or restores. TMMSizeGrip: the invisible edges and corners of a frameless
// form that resize it through the window system.
//
// Children of the form, owned by it; driven by the styler. Main thread only.
#pragma once

#include <QWidget>
#include <array>

namespace velmar {

class TMMFormStyler;

class TMMCaptionBar : public QWidget {
 public:
  enum TButton { btMinimize, btMaximize, btClose, btCount };

  TMMCaptionBar(TMMFormStyler* Styler, QWidget* Form);

  // Draws the bar into R in the given state (the gallery and the tests use it
  // to show both states).
  void PaintBar(QPainter& Canvas, const QRect& R, bool Active) const;
  // One window button in Box: a face a shade off Under, the symbol in Ink.
  static void PaintButton(QPainter& Canvas, const QRect& Box, TButton Button, bool Restore,
                          bool Pressed, QColor Under, QColor Ink);
  // The area the texts go into, between the icon and the buttons.
  QRect TextArea(const QRect& R) const;
  // Which texts the bar shows for the width of R: bit 0 company, 1 name, 2 caption.
  unsigned FittingTexts(const QRect& R) const;
  QRect ButtonRect(TButton Button) const;
  void SetButtonsVisible(bool Value);
  // The bar's height for the current caption font.
  int PreferredHeight() const;

 protected:
  void paintEvent(QPaintEvent* Event) override;
  void mousePressEvent(QMouseEvent* Event) override;
  void mouseReleaseEvent(QMouseEvent* Event) override;
  void mouseDoubleClickEvent(QMouseEvent* Event) override;

 private:
  bool Shows(TButton Button) const;
  void ToggleMaximized();

  TMMFormStyler* FStyler;
  bool FButtonsVisible = true;
  int FPressed = -1;
};

class TMMSizeGrip : public QWidget {
 public:
  TMMSizeGrip(Qt::Edges Edges, QWidget* Form);
  // Places the grip along its edges of the form.
  void Place();

 protected:
  void mousePressEvent(QMouseEvent* Event) override;

 private:
  Qt::Edges FEdges;
};

}  // namespace velmar

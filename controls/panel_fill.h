// TMMPanel: a windowed panel that draws a TMMBevel instead of the platform's
// panel borders, lays its children inside the bevel and can show a caption.
// TMMPanelFill: a panel whose background is a bitmap of a TMMBitmapList tiled
// from the top-left corner (or whatever OnFillPanel paints), Color without one.
//
// Owns its bevel; refers to the list without owning it. Main thread only.
#pragma once

#include <QWidget>
#include <functional>
#include <memory>

#include "controls/bevel.h"
#include "controls/bitmap_list.h"

namespace velmar {

using TMMFillPanel = std::function<void(TObject* Sender, QPainter& Canvas, const QRect& R)>;

class TMMPanel : public QWidget, public TObject {
 public:
  explicit TMMPanel(QWidget* Parent = nullptr);
  ~TMMPanel() override;

  TMMBevel& Bevel() { return *FBevel; }
  Qt::Alignment Alignment() const { return FAlignment; }
  void SetAlignment(Qt::Alignment Value);
  const QString& Caption() const { return FCaption; }
  void SetCaption(const QString& Value);
  TColor Color() const { return FColor; }
  void SetColor(TColor Value);
  TColor FontColor() const { return FFontColor; }
  void SetFontColor(TColor Value);

 protected:
  void paintEvent(QPaintEvent* Event) override;
  // Fills the inside; the default fills with Color.
  virtual void FillClient(QPainter& Canvas, const QRect& R);
  // Whether the bevel's border band is left to the fill.
  virtual bool FillsBevel() const { return false; }

 private:
  std::unique_ptr<TMMBevel> FBevel;
  Qt::Alignment FAlignment = Qt::AlignHCenter;
  QString FCaption;
  TColor FColor = clBtnFace;
  TColor FFontColor = clWindowText;
};

class TMMPanelFill : public TMMPanel {
 public:
  explicit TMMPanelFill(QWidget* Parent = nullptr) : TMMPanel(Parent) {}

  TMMBitmapList* BitmapList() const { return FLink.List(); }
  void SetBitmapList(TMMBitmapList* Value);
  int BitmapIndex() const { return FBitmapIndex; }
  void SetBitmapIndex(int Value);
  bool FillBevel() const { return FFillBevel; }
  void SetFillBevel(bool Value);

  TMMFillPanel OnFillPanel;

 protected:
  void FillClient(QPainter& Canvas, const QRect& R) override;
  bool FillsBevel() const override { return FFillBevel; }

 private:
  TMMBitmapListLink FLink{[this] { update(); }};
  int FBitmapIndex = -1;
  bool FFillBevel = true;
};

}  // namespace velmar

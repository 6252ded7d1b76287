#include "app/skin_look.h"

#include <QLabel>

#include "controls/bitmap_image.h"

namespace velmar {

QFont LabelFont(bool Bold) {
  QFont Font("DejaVu Sans");
  Font.setPixelSize(10);
  Font.setBold(Bold);
  return Font;
}

void UseDarkLook(QWidget* Widget) {
  QPalette p = Widget->palette();
  const QColor Window(0x2a, 0x2e, 0x33), Text(0xdc, 0xe1, 0xe5);
  p.setColor(QPalette::Window, Window);
  p.setColor(QPalette::WindowText, Text);
  p.setColor(QPalette::Base, Qt::black);
  p.setColor(QPalette::AlternateBase, QColor(0x10, 0x12, 0x14));
  p.setColor(QPalette::Text, QColor(0x00, 0xff, 0x00));
  p.setColor(QPalette::Button, QColor(0x3a, 0x40, 0x46));
  p.setColor(QPalette::ButtonText, Text);
  p.setColor(QPalette::Highlight, QColor(0x3f, 0xa5, 0x35));
  p.setColor(QPalette::HighlightedText, Qt::black);
  p.setColor(QPalette::ToolTipBase, Qt::black);
  p.setColor(QPalette::ToolTipText, QColor(0x9c, 0xff, 0x3a));
  // What cannot be used now looks it: dim text on a flatter button.
  const QColor Dim(0x6c, 0x72, 0x78);
  for (const auto Role : {QPalette::WindowText, QPalette::ButtonText, QPalette::Text})
    p.setColor(QPalette::Disabled, Role, Dim);
  p.setColor(QPalette::Disabled, QPalette::Button, Window);
  Widget->setPalette(p);
}

void UseLimeOnBlack(QWidget* Widget) {
  QPalette p = Widget->palette();
  p.setColor(QPalette::Base, Qt::black);
  p.setColor(QPalette::Window, Qt::black);
  p.setColor(QPalette::Text, QColor(0x00, 0xff, 0x00));
  p.setColor(QPalette::WindowText, QColor(0x00, 0xff, 0x00));
  p.setColor(QPalette::ButtonText, QColor(0x00, 0xff, 0x00));
  p.setColor(QPalette::Button, Qt::black);
  Widget->setPalette(p);
  QFont Font = Widget->font();
  Font.setBold(true);
  Widget->setFont(Font);
}

QImage SkinImage(TMMBitmapList& List, int Index) {
  if (Index < 0 || Index >= List.Count()) return {};
  return BitmapToImage(List.Bitmaps(Index));
}

void SetTextColor(QWidget* Widget, QColor Color) {
  QPalette p = Widget->palette();
  p.setColor(QPalette::WindowText, Color);
  Widget->setPalette(p);
}

QLabel* SkinLabel(QWidget* Parent, const QString& Caption, QPoint At, bool Bold) {
  auto* Label = new QLabel(Caption, Parent);
  Label->setFont(LabelFont(Bold));
  SetTextColor(Label, QColor(0xdc, 0xe1, 0xe5));
  Label->move(At);
  Label->adjustSize();
  return Label;
}

int SkinDisabledIndex(const TMMBitmapList& List, int Index) {
  return Index + List.Count() / 2;
}

TMMBitmapButton* SkinButton(QWidget* Parent, TMMBitmapList& List, int Index, QRect Geometry) {
  auto* Button = new TMMBitmapButton(Parent);
  Button->setGeometry(Geometry);
  Button->SetButtonStyle(TMMButtonStyle::bsNone);
  Button->SetBitmapList(&List);
  Button->SetBitmapIndex(Index);
  Button->SetDisabledBitmapIndex(SkinDisabledIndex(List, Index));
  Button->setCursor(Qt::PointingHandCursor);
  return Button;
}

TMMBitmapSlider* SkinSlider(QWidget* Parent, TMMBitmapList& List, QRect Geometry) {
  auto* Slider = new TMMBitmapSlider(Parent);
  Slider->setGeometry(Geometry);
  Slider->SetBitmapList(&List);
  Slider->SetBitmapIndex(10);
  Slider->SetBitmapThumbIndex(9);
  Slider->SetTransparentColor(clWhite);
  Slider->SetHandCursor(true);
  return Slider;
}

}  // namespace velmar

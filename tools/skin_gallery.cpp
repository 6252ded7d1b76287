// Renders every skinned control in every state on one page, at 100 % and at
// 200 %, into a PNG for people to review:
//   velmar-skin-gallery OUTPUT.png
// The 200 % page is written next to it (OUTPUT-200.png).
#include <QApplication>
#include <QEnterEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QRegularExpression>
#include <cstdio>
#include <memory>
#include <vector>

#include "app/form_audio_graphics.h"
#include "app/skin_look.h"
#include "controls/bitmap_button.h"
#include "controls/bitmap_radio_button.h"
#include "controls/bitmap_slider.h"
#include "controls/caption_bar.h"
#include "controls/form_styler.h"
#include "controls/panel_fill.h"
#include "tools/skin_palette.h"

using namespace velmar;

namespace {

enum class TState { Rest, Hover, Pressed, Disabled, Down };
const char* const kStateNames[] = {"rest", "hover", "pressed", "disabled", "down"};

void Put(TState State, QWidget* Control) {
  const QPointF Inside(Control->width() / 2.0, Control->height() / 2.0);
  switch (State) {
    case TState::Hover: {
      QEnterEvent Enter(Inside, Inside, Inside);
      QApplication::sendEvent(Control, &Enter);
      break;
    }
    case TState::Pressed: {
      QEnterEvent Enter(Inside, Inside, Inside);
      QApplication::sendEvent(Control, &Enter);
      QMouseEvent Press(QEvent::MouseButtonPress, Inside, Inside, Qt::LeftButton, Qt::LeftButton,
                        Qt::NoModifier);
      QApplication::sendEvent(Control, &Press);
      break;
    }
    case TState::Disabled:
      Control->setEnabled(false);
      break;
    case TState::Down:
      if (auto* Button = dynamic_cast<TMMBitmapButton*>(Control)) Button->SetDown(true);
      if (auto* Radio = dynamic_cast<TMMBitmapRadioButton*>(Control)) Radio->SetChecked(true);
      break;
    default:
      break;
  }
}

QLabel* Text(QWidget* Parent, const QString& Caption, int x, int y, int Pixels = 11,
             bool Bold = false) {
  auto* Label = new QLabel(Caption, Parent);
  QFont Font("DejaVu Sans");
  Font.setPixelSize(Pixels);
  Font.setBold(Bold);
  Label->setFont(Font);
  QPalette Light = Label->palette();
  Light.setColor(QPalette::WindowText, QColor(0xd8, 0xdd, 0xe2));
  Label->setPalette(Light);
  Label->move(x, y);
  Label->adjustSize();
  return Label;
}

TMMPanelFill* Panel(QWidget* Parent, TFormAudioGraphics& Skin, int Index, QRect Geometry) {
  auto* Fill = new TMMPanelFill(Parent);
  Fill->Bevel().SetBevelOuter(TBevelCut::bvNone);
  Fill->SetBitmapList(&Skin.FBackGrounds);
  Fill->SetBitmapIndex(Index);
  Fill->setGeometry(Geometry);
  return Fill;
}

TMMBitmapButton* Transport(QWidget* Parent, TFormAudioGraphics& Skin, int Index, QRect Geometry) {
  TMMBitmapButton* Button = SkinButton(Parent, Skin.FRecordButtons, Index, Geometry);
  if (Index == 0 || Index == 4 || Index == 6) Button->SetTransparentColor(clWhite);
  return Button;
}

TMMBitmapSlider* Slider(QWidget* Parent, TFormAudioGraphics& Skin, QRect Geometry) {
  return SkinSlider(Parent, Skin.FRecordButtons, Geometry);
}

// The transport and the split controls as the main window places them.
void ControlPanel(QWidget* Page, TFormAudioGraphics& Skin, int Top) {
  TMMPanelFill* Fill = Panel(Page, Skin, 0, QRect(10, Top, 543, 150));
  Transport(Fill, Skin, 3, QRect(28, 24, 50, 50));
  Transport(Fill, Skin, 2, QRect(83, 8, 70, 70));
  Transport(Fill, Skin, 1, QRect(158, 24, 50, 50));
  Transport(Fill, Skin, 4, QRect(26, 83, 64, 28));
  Transport(Fill, Skin, 6, QRect(89, 83, 60, 28));
  Transport(Fill, Skin, 0, QRect(148, 83, 63, 28));
  auto* Display = new TMMPanelFill(Fill);
  Display->SetColor(clBlack);
  Display->setGeometry(224, 7, 297, 42);
  const char* Names[] = {"Noise Gate", "Time Gate", "Min Track Length"};
  const int Ys[] = {61, 78, 96};
  for (int i = 0; i < 3; ++i) {
    Text(Fill, Names[i], 225, Ys[i], 11, true);
    TMMBitmapSlider* Slide = Slider(Fill, Skin, QRect(336, Ys[i] + 3, 78, i == 0 ? 9 : 10));
    if (i == 0) {
      Slide->SetMaxValue(100);
      Slide->SetLogarithmic(true);
      Slide->SetPosition(25);
    } else if (i == 1) {
      Slide->SetRange(2, 20);
      Slide->SetPosition(8);
    } else {
      Slide->SetRange(1, 180);
      Slide->SetPosition(7);
    }
  }
  Text(Fill, "Auto", 451, 55, 11, true);
  Text(Fill, "Track", 481, 55, 11, true);
  Text(Fill, "On", 465, 77, 11, true);
  Text(Fill, "Off", 464, 94, 11, true);
  for (int i = 0; i < 2; ++i) {
    auto* Radio = new TMMBitmapRadioButton(Fill);
    Radio->setGeometry(490, 78 + 17 * i, 17, 15);
    Radio->SetBitmapList(&Skin.FRecordButtons);
    Radio->SetBitmapIndex(11);
    Radio->SetDisabledBitmapIndex(SkinDisabledIndex(Skin.FRecordButtons, 11));
    Radio->SetNumGlyphs(2);
    Radio->SetChecked(i == 0);
  }
  Text(Fill, "Output Folder:", 17, 124, 11, true);
  Text(Fill, "/home/user/Recordings", 105, 124, 11, false);
}

void StateRows(QWidget* Page, TFormAudioGraphics& Skin, int Top) {
  TMMPanelFill* Fill = Panel(Page, Skin, 0, QRect(10, Top, 543, 150 * 2 + 40));
  const int Buttons[] = {3, 2, 1, 4, 6, 0, 5, 7, 8};
  const QSize Sizes[] = {{50, 50}, {70, 70}, {50, 50}, {64, 28}, {60, 28},
                         {63, 28}, {34, 34}, {9, 23},  {9, 23}};
  for (int s = 0; s < 5; ++s) Text(Fill, kStateNames[s], 6, 12 + s * 66 + 28);
  for (int s = 0; s < 5; ++s) {
    int x = 70;
    for (int b = 0; b < 9; ++b) {
      TMMBitmapButton* Button =
          Transport(Fill, Skin, Buttons[b],
                    QRect(QPoint(x, 8 + s * 66 + (70 - Sizes[b].height()) / 2), Sizes[b]));
      Put(static_cast<TState>(s), Button);
      x += Sizes[b].width() + 6;
    }
  }
}

void DialogRows(QWidget* Page, TFormAudioGraphics& Skin, int Top) {
  TMMPanelFill* Fill = Panel(Page, Skin, 1, QRect(10, Top, 543, 252));
  TMMPanelFill* Inner = Panel(Fill, Skin, 2, QRect(8, 8, 527, 120));
  for (int i = 0; i < 14; ++i) {
    SkinButton(Inner, Skin.FButtons, i, QRect(8 + (i % 4) * 128, 8 + (i / 4) * 28, 108, 25));
  }
  for (int s = 0; s < 4; ++s) {
    Text(Fill, kStateNames[s], 12, 140 + s * 27 + 5);
    for (int i = 0; i < 3; ++i) {
      auto* Button = new TMMBitmapButton(Fill);
      Button->setGeometry(80 + i * 116, 138 + s * 27, 108, 25);
      Button->SetBitmapList(&Skin.FButtons);
      Button->SetBitmapIndex(i);
      Button->SetDisabledBitmapIndex(SkinDisabledIndex(Skin.FButtons, i));
      Button->SetButtonStyle(TMMButtonStyle::bsExplorer);
      Button->SetAutoGray(false);
      Put(static_cast<TState>(s), Button);
    }
  }
}

void SliderRows(QWidget* Page, TFormAudioGraphics& Skin, int Top) {
  TMMPanelFill* Fill = Panel(Page, Skin, 0, QRect(10, Top, 543, 150));
  const int Positions[] = {0, 10, 25, 50, 100};
  for (int i = 0; i < 5; ++i) {
    Text(Fill, QString("Noise Gate %1").arg(Positions[i]), 10 + (i % 3) * 175, 10 + (i / 3) * 30);
    TMMBitmapSlider* Slide =
        Slider(Fill, Skin, QRect(100 + (i % 3) * 175, 13 + (i / 3) * 30, 78, 9));
    Slide->SetMaxValue(100);
    Slide->SetLogarithmic(true);
    Slide->SetPosition(Positions[i]);
  }
  TMMBitmapSlider* Disabled = Slider(Fill, Skin, QRect(450, 43, 78, 10));
  Disabled->setEnabled(false);
  Text(Fill, "disabled", 380, 40);
  TMMBitmapSlider* Wide = Slider(Fill, Skin, QRect(100, 75, 200, 10));
  Wide->SetPosition(7);
  Text(Fill, "tiled track", 10, 72);
  const char* Radio[] = {"Off", "On", "Disabled, off", "Disabled, on", "On, hover"};
  for (int i = 0; i < 5; ++i) {
    // Each in a holder of its own: checking one would uncheck its siblings.
    auto* Holder = new QWidget(Fill);
    Holder->setGeometry(12 + i * 106, 110, 104, 17);
    auto* Button = new TMMBitmapRadioButton(Holder);
    Button->setGeometry(0, 0, 104, 17);
    Button->SetBitmapList(&Skin.FRecordButtons);
    Button->SetBitmapIndex(11);
    Button->SetDisabledBitmapIndex(SkinDisabledIndex(Skin.FRecordButtons, 11));
    Button->SetNumGlyphs(2);
    Button->SetCaption(Radio[i]);
    Button->FontInactive().SetColor(RGBToColor(kSymbol.rgb()));
    Button->FontActive().SetColor(RGBToColor(kLime.rgb()));
    Button->SetAllowMouseOver(true);
    if (i == 1 || i == 3 || i == 4) Button->SetChecked(true);
    if (i == 2 || i == 3) Button->setEnabled(false);
    if (i == 4) Put(TState::Hover, Button);
  }
}

// Caption bars, active and inactive, wide and narrow, drawn by real stylers.
void CaptionRows(QWidget* Page, std::vector<std::unique_ptr<QWidget>>& Forms,
                 std::vector<std::unique_ptr<TMMFormStyler>>& Stylers, int Top) {
  int y = Top;
  for (int Width : {543, 240}) {
    auto Form = std::make_unique<QWidget>();
    Form->resize(Width, 60);
    auto* Styler = Stylers.emplace_back(std::make_unique<TMMFormStyler>(Form.get())).get();
    Styler->CompanyText().SetCaption("Velmar");
    QFont Company("DejaVu Sans");
    Company.setPixelSize(11);
    Company.setBold(true);
    Styler->CompanyText().SetFont(Company);
    Styler->AppNameText().SetCaption("Audio Recorder");
    Styler->AppNameText().SetFontKind(TMMFontKind::fkSystemB);
    QFont Own("DejaVu Sans");
    Own.setPixelSize(11);
    Styler->CaptionText().SetFont(Own);
    Styler->CaptionText().SetCaption("Velmar Audio Recorder ");
    for (bool Active : {true, false}) {
      auto* Bar = new QLabel(Page);
      const QSize Size(Width, Styler->CaptionBar()->PreferredHeight());
      QImage Image(Size, QImage::Format_RGB32);
      QPainter Canvas(&Image);
      Styler->CaptionBar()->resize(Size);
      Styler->CaptionBar()->PaintBar(Canvas, QRect(QPoint(), Size), Active);
      Canvas.end();
      Bar->setPixmap(QPixmap::fromImage(Image));
      Bar->setGeometry(10, y, Size.width(), Size.height());
      Text(Page, Active ? "active" : "inactive", Width + 20, y + 5);
      y += Size.height() + 6;
    }
    Forms.push_back(std::move(Form));
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: velmar-skin-gallery OUTPUT.png\n");
    return 2;
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication App(argc, argv);
  TFormAudioGraphics Skin;
  QWidget Page;
  QPalette Dark = Page.palette();
  Dark.setColor(QPalette::Window, QColor(0x10, 0x12, 0x14));
  Page.setPalette(Dark);
  Page.setAutoFillBackground(true);
  std::vector<std::unique_ptr<QWidget>> Forms;
  std::vector<std::unique_ptr<TMMFormStyler>> Stylers;
  int y = 8;
  Text(&Page, "Control panel", 10, y, 13, true);
  ControlPanel(&Page, Skin, y += 20);
  Text(&Page, "Transport buttons by state", 10, y += 160, 13, true);
  StateRows(&Page, Skin, y += 20);
  Text(&Page, "Dialog buttons (all 14, then OK, Cancel, Help by state)", 10, y += 350, 13, true);
  DialogRows(&Page, Skin, y += 20);
  Text(&Page, "Sliders and radio buttons", 10, y += 262, 13, true);
  SliderRows(&Page, Skin, y += 20);
  Text(&Page, "Caption bar", 10, y += 160, 13, true);
  CaptionRows(&Page, Forms, Stylers, y += 20);
  Page.resize(640, y + 130);
  Page.show();
  App.processEvents();

  const QString Path = QString::fromLocal8Bit(argv[1]);
  bool Ok = Page.grab().save(Path);
  QImage Double(Page.size() * 2, QImage::Format_RGB32);
  Double.setDevicePixelRatio(2);
  Page.render(&Double);
  QString Path2 = Path;
  Path2.replace(QRegularExpression("\\.png$"), "-200.png");
  Ok = Double.save(Path2) && Ok;
  if (!Ok) {
    std::fprintf(stderr, "velmar-skin-gallery: cannot write %s\n", argv[1]);
    return 1;
  }
  std::printf("%s\n%s\n", qPrintable(Path), qPrintable(Path2));
  return 0;
}

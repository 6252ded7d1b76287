#include "controls/form_styler.h"

#include <QEvent>
#include <QFontDatabase>
#include <QWindow>
#include <algorithm>
#include <vector>

#include "controls/caption_bar.h"
#include "stream/errors.h"

namespace velmar {

namespace {

// Every styler alive, so that a form gets at most one.
std::vector<TMMFormStyler*>& Stylers() {
  static std::vector<TMMFormStyler*> List;
  return List;
}

}  // namespace

void TMMCompanyText::SetCaption(const QString& Value) {
  const QString Own = FStyler->CaptionText().Caption();
  FCaption = Value;
  FStyler->ComposeTitle(Own);
}

void TMMCompanyText::SetVisible(bool Value) {
  const QString Own = FStyler->CaptionText().Caption();
  FVisible = Value;
  FStyler->ComposeTitle(Own);
}

void TMMCompanyText::SetColorActive(TColor Value) {
  FColorActive = Value;
  FStyler->Repaint();
}

void TMMCompanyText::SetColorInactive(TColor Value) {
  FColorInactive = Value;
  FStyler->Repaint();
}

QFont TMMCompanyText::Font() const {
  QFont System = TMMFormStyler::SystemCaptionFont();
  switch (FFontKind) {
    case TMMFontKind::fkCustom:
      return FFont;
    case TMMFontKind::fkSystemI:
      System.setItalic(true);
      return System;
    case TMMFontKind::fkSystemB:
      System.setBold(true);
      return System;
    case TMMFontKind::fkSystemBI:
      System.setItalic(true);
      System.setBold(true);
      return System;
    case TMMFontKind::fkAutoHeight: {
      // The own font, sized so that its ascent matches the caption font's.
      QFont Own = FFont;
      const int Target = QFontMetrics(System).ascent();
      for (int Pixels = 4; Pixels < 200; ++Pixels) {
        Own.setPixelSize(Pixels);
        if (QFontMetrics(Own).ascent() >= Target) break;
      }
      return Own;
    }
    default:
      return System;
  }
}

void TMMCompanyText::SetFont(const QFont& Value) {
  FFont = Value;
  if (FFontKind != TMMFontKind::fkAutoHeight) FFontKind = TMMFontKind::fkCustom;
  FStyler->Repaint();
}

void TMMCompanyText::SetFontKind(TMMFontKind Value) {
  FFontKind = Value;
  FStyler->Repaint();
}

QString TMMCaptionText::Caption() const {
  const QWidget* Form = FStyler->Form();
  if (!Form) return {};
  QString Title = Form->windowTitle();
  for (const TMMCompanyText* Text : {static_cast<const TMMCompanyText*>(&FStyler->CompanyText()),
                                     static_cast<const TMMCompanyText*>(&FStyler->AppNameText())}) {
    if (!Text->Visible()) continue;
    const QString Own = Text->Caption();
    const qsizetype At = Title.indexOf(Own);
    if (At < 0) continue;
    Title.remove(0, At + Own.size());
    if (Title.startsWith(' ')) Title.remove(0, 1);
  }
  return Title;
}

void TMMCaptionText::SetCaption(const QString& Value) {
  FStyler->ComposeTitle(Value);
}

TMMFormStyler::TMMFormStyler(QWidget* Form) : FForm(Form) {
  if (!Form || !Form->isWindow()) throw EMMError("Owner must be a Form");
  for (const TMMFormStyler* Other : Stylers())
    if (Other->FForm == Form) throw EMMError("Only one FormStyler is allowed per Form");
  Stylers().push_back(this);
  FBar = new TMMCaptionBar(this, Form);
  const int h = FBar->PreferredHeight();
  FBar->setGeometry(0, 0, Form->width(), h);
  QMargins Margins = Form->contentsMargins();
  Margins.setTop(Margins.top() + h);
  Form->setContentsMargins(Margins);
  const bool WasVisible = Form->isVisible();
  Form->setWindowFlag(Qt::FramelessWindowHint, true);
  FFrameless = true;
  for (Qt::Edges Edges :
       {Qt::Edges(Qt::LeftEdge), Qt::Edges(Qt::RightEdge), Qt::Edges(Qt::TopEdge),
        Qt::Edges(Qt::BottomEdge), Qt::TopEdge | Qt::LeftEdge, Qt::TopEdge | Qt::RightEdge,
        Qt::BottomEdge | Qt::LeftEdge, Qt::BottomEdge | Qt::RightEdge})
    FGrips.emplace_back(new TMMSizeGrip(Edges, Form));
  if (WasVisible) Form->show();
  Form->installEventFilter(this);
  FBar->show();
}

TMMFormStyler::~TMMFormStyler() {
  Stylers().erase(std::find(Stylers().begin(), Stylers().end(), this));
  if (!FForm) return;  // the form is going: it takes its children along
  FForm->removeEventFilter(this);
  FForm->setWindowTitle(FCaptionText.Caption());
  QMargins Margins = FForm->contentsMargins();
  Margins.setTop(std::max(0, Margins.top() - FBar->height()));
  FForm->setContentsMargins(Margins);
  for (auto& Grip : FGrips) delete Grip;
  delete FBar;
}

void TMMFormStyler::SetNumColors(int Value) {
  FNumColors = std::clamp(Value, 2, 236);
  Repaint();
}

void TMMFormStyler::UseSystemFrame() {
  if (!FFrameless || !FForm) return;
  FFrameless = false;
  for (auto& Grip : FGrips) Grip->hide();
  FBar->SetButtonsVisible(false);
  const bool WasVisible = FForm->isVisible();
  FForm->setWindowFlag(Qt::FramelessWindowHint, false);
  if (WasVisible) FForm->show();
}

bool TMMFormStyler::Active() const {
  return (FForm && FForm->isActiveWindow()) || FReportedActive;
}

QFont TMMFormStyler::SystemCaptionFont() {
  return QFontDatabase::systemFont(QFontDatabase::TitleFont);
}

void TMMFormStyler::ComposeTitle(const QString& Caption) {
  if (!FForm) return;
  const bool Company = FCompanyText.Visible(), Name = FAppNameText.Visible(),
             Own = FCaptionText.Visible();
  QString Title;
  if (Company) Title += FCompanyText.Caption();
  if (Company && !FCompanyText.Caption().isEmpty() && (Name || Own)) Title += ' ';
  if (Name) Title += FAppNameText.Caption();
  if (Name && !FAppNameText.Caption().isEmpty() && Own) Title += ' ';
  if (Own) Title += Caption;
  FForm->setUpdatesEnabled(false);
  FForm->setWindowTitle(Title);
  FForm->setUpdatesEnabled(true);
  Repaint();
}

void TMMFormStyler::Repaint() {
  if (FBar) FBar->update();
}

bool TMMFormStyler::eventFilter(QObject* Watched, QEvent* Event) {
  if (Watched != FForm) return false;
  switch (Event->type()) {
    case QEvent::Resize:
      FBar->setGeometry(0, 0, FForm->width(), FBar->height());
      FBar->raise();
      for (auto& Grip : FGrips) Grip->Place();
      break;
    case QEvent::ActivationChange:
      FReportedActive = FForm->isActiveWindow();
      Repaint();
      break;
    case QEvent::WindowTitleChange:
    case QEvent::WindowStateChange:
    case QEvent::WindowIconChange:
    case QEvent::FontChange:
    case QEvent::PaletteChange:
      Repaint();
      break;
    default:
      break;
  }
  return false;
}

}  // namespace velmar

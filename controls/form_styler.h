// TMMFormStyler: gives a top-level window the styled caption bar: a gradient
// of NumColors bands from the left to the right colour of the active or
// inactive state, with up to three texts (company, application name, the
// window's own caption) in their own fonts and colours, and the composed
// window title "company name caption" for the taskbar.
//
// The window system draws no custom frames here, so the bar is a strip at the
// top of a frameless window (TMMCaptionBar) with the icon and the minimise,
// maximise/restore and close buttons, moving and resizing through the window
// system. When the window system cannot move a frameless window the normal
// frame comes back and the bar stays drawn inside.
//
// At most one per form. Owned by the form's class (a member, so that it goes
// before the form's widgets do); puts the bar and the edge grips into the
// form and takes them out again. Main thread only.
#pragma once

#include <QFont>
#include <QObject>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <string>
#include <vector>

#include "controls/colors.h"
#include "platform/component.h"

namespace velmar {

class TMMCaptionBar;
class TMMSizeGrip;
class TMMFormStyler;

enum class TMMFontKind { fkCustom, fkSystem, fkSystemI, fkSystemB, fkSystemBI, fkAutoHeight };
enum class TMMGradientOptions { goAlways, goNever, goActive, goSmart };

class TMMCompanyText : public TPersistent {
 public:
  explicit TMMCompanyText(TMMFormStyler* Styler) : FStyler(Styler) {}

  virtual QString Caption() const { return FCaption; }
  virtual void SetCaption(const QString& Value);
  TColor ColorActive() const { return FColorActive; }
  void SetColorActive(TColor Value);
  TColor ColorInactive() const { return FColorInactive; }
  void SetColorInactive(TColor Value);
  // The font drawn with (the system caption font for the system kinds).
  QFont Font() const;
  // Switches to fkCustom unless the kind is fkAutoHeight.
  void SetFont(const QFont& Value);
  TMMFontKind FontKind() const { return FFontKind; }
  void SetFontKind(TMMFontKind Value);
  bool Visible() const { return FVisible; }
  void SetVisible(bool Value);

 protected:
  TMMFormStyler* FStyler;
  QString FCaption;

 private:
  TColor FColorActive = clCaptionText;
  TColor FColorInactive = clInactiveCaptionText;
  QFont FFont;
  TMMFontKind FFontKind = TMMFontKind::fkSystem;
  bool FVisible = true;
};

class TMMAppNameText : public TMMCompanyText {
 public:
  using TMMCompanyText::TMMCompanyText;
};

// The window's own caption: read back from the window title.
class TMMCaptionText : public TMMCompanyText {
 public:
  using TMMCompanyText::TMMCompanyText;
  QString Caption() const override;
  void SetCaption(const QString& Value) override;
};

class TMMFormStyler : public QObject, public TObject {
 public:
  // Form must be a top-level window without a styler ("Owner must be a Form",
  // "Only one FormStyler is allowed per Form" otherwise).
  explicit TMMFormStyler(QWidget* Form);
  ~TMMFormStyler() override;

  QWidget* Form() const { return FForm; }
  TMMCompanyText& CompanyText() { return FCompanyText; }
  TMMAppNameText& AppNameText() { return FAppNameText; }
  TMMCaptionText& CaptionText() { return FCaptionText; }
  TColor ClrLeftActive() const { return FClrLeftActive; }
  void SetClrLeftActive(TColor Value) { FClrLeftActive = Value, Repaint(); }
  TColor ClrLeftInActive() const { return FClrLeftInActive; }
  void SetClrLeftInActive(TColor Value) { FClrLeftInActive = Value, Repaint(); }
  TColor ClrRightActive() const { return FClrRightActive; }
  void SetClrRightActive(TColor Value) { FClrRightActive = Value, Repaint(); }
  TColor ClrRightInActive() const { return FClrRightInActive; }
  void SetClrRightInActive(TColor Value) { FClrRightInActive = Value, Repaint(); }
  Qt::AlignmentFlag Alignment() const { return FAlignment; }
  void SetAlignment(Qt::AlignmentFlag Value) { FAlignment = Value, Repaint(); }
  TMMGradientOptions Options() const { return FOptions; }
  void SetOptions(TMMGradientOptions Value) { FOptions = Value, Repaint(); }
  int NumColors() const { return FNumColors; }
  // Clamped to 2..236.
  void SetNumColors(int Value);

  // The bar at the top of the form (its height is the form's top margin).
  TMMCaptionBar* CaptionBar() const { return FBar; }
  // Whether the form runs without the window system's frame.
  bool Frameless() const { return FFrameless; }
  // Gives the form its normal frame back (the bar stays, without buttons).
  void UseSystemFrame();

  // Whether the bar shows the active colours.
  bool Active() const;
  // The system caption font (the platform's title font).
  static QFont SystemCaptionFont();

  // For the texts: compose the title from the texts, with Caption as the
  // form's own caption; repaint the bar.
  void ComposeTitle(const QString& Caption);
  void Repaint();

 protected:
  bool eventFilter(QObject* Watched, QEvent* Event) override;

 private:
  QPointer<QWidget> FForm;
  TMMCaptionBar* FBar = nullptr;
  std::vector<TMMSizeGrip*> FGrips;
  TMMCompanyText FCompanyText{this};
  TMMAppNameText FAppNameText{this};
  TMMCaptionText FCaptionText{this};
  TColor FClrLeftActive = clBlack;
  TColor FClrLeftInActive = clBlack;
  TColor FClrRightActive = clActiveCaption;
  TColor FClrRightInActive = clInactiveCaption;
  Qt::AlignmentFlag FAlignment = Qt::AlignLeft;
  TMMGradientOptions FOptions = TMMGradientOptions::goSmart;
  int FNumColors = 64;
  bool FFrameless = false;
  bool FReportedActive = false;
};

}  // namespace velmar

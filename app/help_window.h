// THelpWindow: the program's help, HTML pages shipped inside the program,
// shown by topic keyword ("MainForm", "FAQ", "Devices", "Review") or by help
// context, with Back, Forward and Contents over the page.
//
// Owned by the main window; shown without blocking it. Main thread only.
#pragma once

#include <QDialog>
#include <QTextBrowser>

namespace velmar {

class THelpWindow : public QDialog {
 public:
  explicit THelpWindow(QWidget* Parent = nullptr);

  // Shows the page of a keyword or a help context; unknown ones show the main page.
  void ShowKeyword(const QString& Keyword);
  void ShowContext(int Context);
  // The page a keyword or context shows ("qrc:/help/main.html").
  static QString PageOf(const QString& Keyword);
  static QString PageOf(int Context);
  QUrl Current() const { return FBrowser->source(); }
  QTextBrowser* Browser() const { return FBrowser; }
  QAction *Back, *Forward;

 private:
  void Show(const QString& Page);
  QTextBrowser* FBrowser;
};

}  // namespace velmar

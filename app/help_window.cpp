#include "app/help_window.h"

#include <QAction>
#include <QFile>
#include <QToolBar>
#include <QVBoxLayout>
#include <map>

#include "app/skin_look.h"

namespace velmar {

THelpWindow::THelpWindow(QWidget* Parent) : QDialog(Parent) {
  setWindowTitle("Velmar Audio Recorder Help");
  resize(620, 560);
  UseDarkLook(this);
  FBrowser = new QTextBrowser(this);
  FBrowser->setOpenLinks(true);
  // The pages' colours: the program's dark look, lime headings and links.
  QPalette Dark = FBrowser->palette();
  Dark.setColor(QPalette::Base, QColor(0x10, 0x12, 0x14));
  Dark.setColor(QPalette::Text, QColor(0xdc, 0xe1, 0xe5));
  Dark.setColor(QPalette::Link, QColor(0x9c, 0xff, 0x3a));
  FBrowser->setPalette(Dark);
  QFile Style(":/help/style.css");
  if (Style.open(QIODevice::ReadOnly))
    FBrowser->document()->setDefaultStyleSheet(QString::fromUtf8(Style.readAll()));
  // Back and Forward as a browser has them, with their keys in sight.
  auto* Bar = new QToolBar(this);
  Back = Bar->addAction("Back (Alt+Left)", FBrowser, &QTextBrowser::backward);
  Back->setShortcut(QKeySequence::Back);
  Forward = Bar->addAction("Forward (Alt+Right)", FBrowser, &QTextBrowser::forward);
  Forward->setShortcut(QKeySequence::Forward);
  Bar->addAction("Contents", this, [this] { FBrowser->setSource(QUrl(PageOf("MainForm"))); });
  Back->setEnabled(false);
  Forward->setEnabled(false);
  connect(FBrowser, &QTextBrowser::backwardAvailable, Back, &QAction::setEnabled);
  connect(FBrowser, &QTextBrowser::forwardAvailable, Forward, &QAction::setEnabled);
  auto* Layout = new QVBoxLayout(this);
  Layout->setContentsMargins(0, 0, 0, 0);
  Layout->setSpacing(0);
  Layout->addWidget(Bar);
  Layout->addWidget(FBrowser);
}

QString THelpWindow::PageOf(const QString& Keyword) {
  static const std::map<QString, QString> Pages = {
      {"MainForm", "main"}, {"FAQ", "faq"}, {"Devices", "devices"}, {"Review", "review"}};
  const auto Found = Pages.find(Keyword);
  return "qrc:/help/" + (Found == Pages.end() ? QString("main") : Found->second) + ".html";
}

QString THelpWindow::PageOf(int Context) {
  static const std::map<int, QString> Pages = {
      {3000, "main"},    {3300, "panel"},   {3400, "file"}, {3410, "input"}, {3420, "helpmenu"},
      {3430, "view"},    {3440, "options"}, {3450, "mp3"},  {3460, "review"}, {10000, "faq"}};
  const auto Found = Pages.find(Context);
  return "qrc:/help/" + (Found == Pages.end() ? QString("main") : Found->second) + ".html";
}

void THelpWindow::ShowKeyword(const QString& Keyword) {
  Show(PageOf(Keyword));
}

void THelpWindow::ShowContext(int Context) {
  Show(PageOf(Context));
}

void THelpWindow::Show(const QString& Page) {
  FBrowser->setSource(QUrl(Page));
  show();
  raise();
  activateWindow();
}

}  // namespace velmar

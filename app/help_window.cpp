#include "app/help_window.h"

#include <QFile>
#include <QVBoxLayout>
#include <map>

namespace velmar {

THelpWindow::THelpWindow(QWidget* Parent) : QDialog(Parent) {
  setWindowTitle("Velmar Audio Recorder Help");
  resize(520, 420);
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
  auto* Layout = new QVBoxLayout(this);
  Layout->setContentsMargins(0, 0, 0, 0);
  Layout->addWidget(FBrowser);
}

QString THelpWindow::PageOf(const QString& Keyword) {
  static const std::map<QString, QString> Pages = {
      {"MainForm", "main"}, {"FAQ", "faq"}, {"Devices", "devices"}};
  const auto Found = Pages.find(Keyword);
  return "qrc:/help/" + (Found == Pages.end() ? QString("main") : Found->second) + ".html";
}

QString THelpWindow::PageOf(int Context) {
  static const std::map<int, QString> Pages = {{3000, "main"},  {3300, "panel"},    {3400, "file"},
                                               {3410, "input"}, {3420, "helpmenu"}, {10000, "faq"}};
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

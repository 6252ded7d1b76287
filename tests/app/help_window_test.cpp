// The help as a user reaches it: F1 over an item of each menu opens that
// menu's page; every page's links and pictures are there; Back (Alt+Left)
// and Forward go through the pages seen; the help stays usable beside the
// review, which blocks the main window.
#include <gtest/gtest.h>

#include <QImage>
#include <QRegularExpression>
#include <QTextBrowser>

#include "app/form_review.h"
#include "app/help_window.h"
#include "tests/app/window_rig.h"
#include "tests/support/fluid_music.h"
#include "tests/support/wait_until.h"

namespace velmar {
namespace {

using test::WaitUntil;

// The item of Menu with this text ('&' left out).
QAction* Item(QMenu* Menu, const QString& Text) {
  for (QAction* a : Menu->actions())
    if (a->text().remove('&') == Text) return a;
  return nullptr;
}

TEST(HelpWindow, F1OverEachMenuOpensItsPageAndEveryLinkAndPictureIsThere) {
  WindowRig R;
  R.Install(Programme{{{1.0, true}}});
  TFormAudioRecorderMain& W = R.Open();
  const std::vector<std::tuple<QString, QString, QString>> Cases = {
      {"File", "Review Tracks", "file.html"},     {"Input", "Monitor Levels", "input.html"},
      {"MP3", "Convert Files to FLAC", "mp3.html"}, {"View", "Messages", "view.html"},
      {"Options", "Start on Sound", "options.html"}, {"Options", "End of Side", "options.html"},
      {"Help", "FAQ", "faq.html"}};
  for (const auto& [MenuName, ItemName, Page] : Cases) {
    QMenu* Menu = nullptr;
    for (QAction* a : W.MainMenu->actions())
      if (a->text().remove('&') == MenuName) Menu = a->menu();
    ASSERT_TRUE(Menu) << MenuName.toStdString();
    Menu->popup(W.mapToGlobal(QPoint(0, 0)));
    ASSERT_TRUE(WaitUntil([&] { return Menu->isVisible(); }));
    QAction* Action = Item(Menu, ItemName);
    ASSERT_TRUE(Action) << ItemName.toStdString();
    Menu->setActiveAction(Action);
    QTest::keyClick(Menu, Qt::Key_F1);
    Menu->hide();
    EXPECT_EQ(test::TWindowSeam::Help(W)->Current().fileName(), Page) << ItemName.toStdString();
    EXPECT_TRUE(test::TWindowSeam::Help(W)->isVisible());
  }
  // Every page: its links lead to pages that are there, its pictures load.
  const QRegularExpression Href("href=\"([^\"#]+)\""), Src("src=\"([^\"]+)\"");
  int Pictures = 0;
  for (const char* Page : {"main", "panel", "file", "input", "mp3", "view", "options", "review",
                              "helpmenu", "faq", "devices"}) {
    QFile File(QString(":/help/") + Page + ".html");
    ASSERT_TRUE(File.open(QIODevice::ReadOnly)) << Page;
    const QString Html = QString::fromUtf8(File.readAll());
    for (auto m = Href.globalMatch(Html); m.hasNext();)
      EXPECT_TRUE(QFile::exists(":/help/" + m.next().captured(1))) << Page;
    for (auto m = Src.globalMatch(Html); m.hasNext(); ++Pictures)
      EXPECT_FALSE(QImage(":/help/" + m.next().captured(1)).isNull()) << Page;
  }
  EXPECT_GE(Pictures, 2);
  // Back and Forward through the pages seen, by their keys.
  THelpWindow& H = *test::TWindowSeam::Help(W);
  H.ShowKeyword("MainForm");
  H.Browser()->setSource(QUrl("qrc:/help/review.html"));
  ASSERT_TRUE(WaitUntil([&] { return QApplication::activeWindow() == &H; }));
  QTest::keyClick(&H, Qt::Key_Left, Qt::AltModifier);
  EXPECT_EQ(H.Current().fileName(), "main.html");
  EXPECT_TRUE(H.Forward->isEnabled());
  QTest::keyClick(&H, Qt::Key_Right, Qt::AltModifier);
  EXPECT_EQ(H.Current().fileName(), "review.html");
  Photograph(H, "help-review");
  H.ShowKeyword("MainForm");
  Photograph(H, "help-guide");
}

// The review blocks the main window and its family while it is open; its F1
// opens the review's page in a help outside that family.
TEST(HelpWindow, TheReviewsHelpCanBeReadWhileTheReviewIsOpen) {
  WindowRig R;
  R.Install(Programme{{{1.0, true}}});
  TFormAudioRecorderMain& W = R.Open();
  fs::create_directories(R.Dir.File("side"));
  const std::string Track = R.Dir.File("side/Track01.wav");
  test::WriteFileBytes(Track, test::CdWav(Bytes(4 * 44100, 0)));
  W.ChooseTracks = [&] { return std::vector<std::string>{Track}; };
  W.miReviewClick();
  ASSERT_TRUE(test::TWindowSeam::Review(W));
  TFormReview& V = *test::TWindowSeam::Review(W);
  ASSERT_TRUE(WaitUntil([&] { return V.Ready() && !V.Busy(); }));
  V.activateWindow();
  ASSERT_TRUE(WaitUntil([&] { return QApplication::activeWindow() == &V; }));
  QTest::keyClick(&V, Qt::Key_F1);
  THelpWindow& H = *test::TWindowSeam::Help(W);
  ASSERT_TRUE(WaitUntil([&] { return H.isVisible(); }));
  EXPECT_EQ(H.Current().fileName(), "review.html");
  // A window of its own, outside the family that the review blocks.
  EXPECT_TRUE(H.isWindow());
  EXPECT_FALSE(W.isAncestorOf(&H));
  Photograph(H, "help-beside-review");
}

}  // namespace
}  // namespace velmar

#include "app/form_review.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QScreen>
#include <QScrollArea>
#include <QShortcut>
#include <QStandardPaths>
#include <QVBoxLayout>
#include <algorithm>
#include <filesystem>

#include "app/listing_dialog.h"
#include "app/recorder_application.h"
#include "app/skin_look.h"
#include "session/listing_cuts.h"
#include "session/side_apply.h"
#include "session/track_files.h"
#include "session/track_listing.h"

namespace velmar {

namespace {

constexpr std::int64_t kRate = 44100;
constexpr std::int64_t kSnap = kRate / 20;           // a dragged mark snaps within 50 ms
constexpr std::int64_t kAroundMark = kRate * 3 / 2;  // played either side of a mark

// Where the side's peaks are kept between openings.
std::string PeaksFolder() {
  return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation).toStdString() +
         "/velmar-recorder/peaks";
}

}  // namespace

TFormReview::TFormReview(std::vector<std::string> Tracks, const TTrackSettings& Rule,
                         TMMDeviceId Output, QColor Wave, QColor Back, QWidget* Parent)
    : QWidget(Parent, Qt::Window), FTracks(std::move(Tracks)), FRule(Rule) {
  setWindowTitle("Velmar Audio Recorder - Review");
  UseDarkLook(this);
  // A rewrite of the folder that a crash left is finished first; the tracks
  // are the side in the order of their numbers.
  if (!FTracks.empty()) {
    const std::filesystem::path Folder = std::filesystem::path(FTracks.front()).parent_path();
    FRecovered = RecoverRewrites(Folder.empty() ? "." : Folder.string());
  }
  OrderByTrackNumber(FTracks);
  resize(QSize(900, 600).boundedTo(screen()->availableSize()));
  // Everything but the answer scrolls when the screen is small (a large
  // scale), so that Apply and Cancel are always in sight.
  auto* Outer = new QVBoxLayout(this);
  Outer->setContentsMargins(0, 0, 0, 6);
  Outer->setSpacing(4);
  auto* Scroll = new QScrollArea(this);
  Scroll->setWidgetResizable(true);
  Scroll->setFrameShape(QFrame::NoFrame);
  auto* Body = new QWidget(Scroll);
  Scroll->setWidget(Body);
  Outer->addWidget(Scroll, 1);
  auto* Layout = new QVBoxLayout(Body);
  Layout->setContentsMargins(6, 6, 6, 0);
  Layout->setSpacing(4);

  auto* Buttons = new QHBoxLayout;
  btDelete = AddButton(Buttons, "Delete Mark", &TFormReview::DeleteMark, Qt::Key_Delete);
  btAdd = AddButton(Buttons, "Add Mark", &TFormReview::AddMark, Qt::Key_Insert);
  btSplit = new QPushButton("Split into", this);
  connect(btSplit, &QPushButton::clicked, this, [this] { SplitInto(SplitCount->value()); });
  Buttons->addWidget(btSplit);
  SplitCount = new QSpinBox(this);
  SplitCount->setRange(1, 999);
  SplitCount->setSuffix(" tracks");
  Buttons->addWidget(SplitCount);
  btUndo = AddButton(Buttons, "Undo", &TFormReview::Undo, QKeySequence::Undo);
  btRedo = AddButton(Buttons, "Redo", &TFormReview::Redo, QKeySequence(Qt::CTRL | Qt::Key_Y));
  new QShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), this, [this] { Redo(); });
  btPlay = AddButton(Buttons, "Play", &TFormReview::PlayFromCursor, Qt::Key_Space);
  btPlay->setToolTip("Play from the cursor, or pause (Space)");
  btPlayMark = AddButton(Buttons, "Play Mark", &TFormReview::PlayAroundMark, Qt::Key_P);
  btStop = AddButton(Buttons, "Stop", &TFormReview::StopPlaying, Qt::Key_S);
  new QShortcut(Qt::Key_Plus, this, [this] { Zoom(1); });
  new QShortcut(Qt::Key_Equal, this, [this] { Zoom(1); });
  new QShortcut(Qt::Key_Minus, this, [this] { Zoom(-1); });
  // The waveform's height: Ctrl+Up and Ctrl+Down (a click in hiss, its repair).
  new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Up), this, [this] { Magnify(2); });
  new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Down), this, [this] { Magnify(-2); });
  new QShortcut(Qt::Key_F1, this, [this] {
    if (OnHelp) OnHelp();
  });
  new QShortcut(Qt::Key_N, this, [this] { GoToMarker(1); });
  new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_N), this, [this] { GoToMarker(-1); });
  Buttons->addStretch();
  Layout->addLayout(Buttons);

  Overview = new TSideView(FPeaks, FAudio, FEdit, this);
  Overview->setMinimumHeight(70);
  Overview->setMaximumHeight(130);
  Zoomed = new TSideView(FPeaks, FAudio, FEdit, this);
  Zoomed->setMinimumHeight(100);
  for (TSideView* View : {Overview, Zoomed}) {
    View->SetColors(Wave, Back);
    View->OnCursor = [this](std::int64_t f) { SetCursor(f); };
    View->OnSelect = [this](int m) { SelectMark(m); };
    View->OnMove = [this](int m, std::int64_t To, bool Snap) { MoveMark(m, To, Snap); };
    View->hide();  // until the side has been read
  }
  Zoomed->OnZoom = [this](int Steps, std::int64_t At) { Zoom(Steps, At); };
  Zoomed->OnPan = [this](std::int64_t Frames) { Pan(Frames); };
  Layout->addWidget(Overview, 1);
  Layout->addWidget(Zoomed, 2);

  List = new QTableWidget(0, 4, this);
  List->setHorizontalHeaderLabels({"#", "Start", "Length", "Title"});
  List->verticalHeader()->hide();
  List->verticalHeader()->setDefaultSectionSize(19);
  List->horizontalHeader()->setStretchLastSection(true);
  List->setColumnWidth(0, 30);
  List->setColumnWidth(1, 80);
  List->setColumnWidth(2, 80);
  List->setSelectionBehavior(QAbstractItemView::SelectRows);
  List->setSelectionMode(QAbstractItemView::SingleSelection);
  List->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                        QAbstractItemView::AnyKeyPressed);
  List->setMinimumHeight(80);
  UseLimeOnBlack(List);
  // Lines pasted into the list are titles, one per track.
  auto* Paste = new QShortcut(QKeySequence::Paste, List, [this] { PasteTitles(); });
  Paste->setContext(Qt::WidgetShortcut);
  connect(List, &QTableWidget::itemChanged, this, &TFormReview::TitleEdited);
  connect(List, &QTableWidget::currentCellChanged, this, [this](int Row) {
    if (FRefreshing || Row < 0) return;
    if (Row == 0) {
      SetCursor(0);
    } else {
      SelectMark(Row - 1);
    }
  });
  auto* ClickRow = new QHBoxLayout;
  btFindClicks = AddButton(ClickRow, "Find Clicks", &TFormReview::FindClicks, Qt::Key_K);
  btFindClicks->setToolTip(
      "Find the record's clicks over the whole side (K); C and Shift+C go to them");
  btPlayClick = AddButton(ClickRow, "Play Click", &TFormReview::PlayAroundClick, Qt::Key_B);
  btPlayClick->setToolTip(
      "Play the 3 s around the selected click (B); A switches between repaired "
      "and as recorded, also while it plays");
  btDropClick = AddButton(ClickRow, "Drop Repair", &TFormReview::DropClick, Qt::Key_D);
  btDropClick->setToolTip("Leave the selected click as recorded, or repair it again (D)");
  btLeaveOut = AddButton(ClickRow, "Leave Out", &TFormReview::LeaveOut, Qt::Key_O);
  btLeaveOut->setToolTip(
      "Take the selected track out of the set, or back into it (O); its audio stays in "
      "Originals");
  btTrimEnds = AddButton(ClickRow, "Trim Ends", &TFormReview::TrimEnds, Qt::Key_T);
  btTrimEnds->setToolTip(
      "Leave out the quiet before the side's sound and after it (T); it stays in Originals");
  btListing = AddButton(ClickRow, "Track Listing...", &TFormReview::TrackListing, Qt::Key_L);
  btListing->setToolTip(
      "Name the tracks and place the marks from the side's track listing (L): pasted, a cue "
      "sheet, or a MusicBrainz release");
  new QShortcut(Qt::Key_C, this, [this] { GoToClick(1); });
  new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_C), this, [this] { GoToClick(-1); });
  new QShortcut(Qt::Key_A, this, [this] { SwitchHeard(); });
  KeepOriginals = new QCheckBox("Keep the recorded tracks in Originals", this);
  KeepOriginals->setChecked(true);
  KeepOriginals->setToolTip(
      "A repair changes samples: Apply keeps the tracks as recorded in the "
      "folder Originals beside them");
  ClickRow->addWidget(KeepOriginals);
  ClickRow->addStretch();
  Layout->addLayout(ClickRow);

  auto* ListRow = new QHBoxLayout;
  ListRow->addWidget(List, 1);
  AlbumFields = new TAlbumPanel(this);
  AlbumFields->setMaximumWidth(330);
  for (std::size_t i = 0; i < FTracks.size(); ++i) {
    FOldTags.push_back(TrackTags(FTracks[i]));
    if (i > 0) FOldTags.back().Cover = TCover();
  }
  if (!FOldTags.empty()) {
    // Tracks of several artists (a compilation) show no artist, and keep theirs.
    TTrackTags Shown = FOldTags.front();
    for (const TTrackTags& t : FOldTags)
      if (t.Artist != Shown.Artist) Shown.Artist.clear();
    AlbumFields->Show(Shown);
    bool Follow = true;
    for (std::size_t i = 0; i < FOldTags.size(); ++i)
      Follow &= FOldTags[i].Track == static_cast<int>(i + 1) &&
                FOldTags[i].TrackTotal == static_cast<int>(FOldTags.size());
    AlbumFields->SetNumbersStale(!Follow);
  }
  AlbumFields->OnChanged = [this] { Refresh(); };
  AlbumFields->OnSay = [this](const QString& Text) { Say(Text); };
  ListRow->addWidget(AlbumFields);
  Layout->addLayout(ListRow, 1);

  Progress = new QProgressBar(this);
  Progress->setRange(0, 1000);
  Progress->hide();
  Outer->addWidget(Progress);
  // The side's count and length, the status line, and the window's answer:
  // Apply or Cancel.
  auto* Bottom = new QHBoxLayout;
  Bottom->setContentsMargins(6, 0, 6, 0);
  FSideText = new QLabel(this);
  FSideText->setFont(LabelFont(true));
  FSideText->setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Preferred);  // never cut
  Bottom->addWidget(FSideText);
  FStatus = new QLabel(this);
  FStatus->setFont(LabelFont(false));
  FStatus->setWordWrap(true);
  FStatus->setMinimumWidth(120);
  Bottom->addWidget(FStatus, 1);
  btApply =
      AddButton(Bottom, "Apply", &TFormReview::Apply, QKeySequence(Qt::CTRL | Qt::Key_Return));
  new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Enter), this, [this] { Apply(); });
  new QShortcut(QKeySequence::Save, this, [this] { Apply(); });
  btCancel = AddButton(Bottom, "Cancel", &TFormReview::Cancel, Qt::Key_Escape);
  Outer->addLayout(Bottom);

  FPollTimer.setInterval(50);
  connect(&FPollTimer, &QTimer::timeout, this, &TFormReview::Poll);

  std::string Error;
  if (!FAudio.Open(FTracks, Error)) {
    Say(QString::fromStdString(FRecovered + (FRecovered.empty() ? "" : " ") +
                               "The tracks cannot be reviewed: " + Error));
    FReady = true;
    Refresh();
    return;
  }
  FPlayback = std::make_unique<TSidePlayback>(FAudio, Output);
  FPlayback->OnStop = [this] { Refresh(); };
  Run(
      "Reading the side",
      [this](std::string& Why) {
        return FPeaks.Scan(
            FTracks, PeaksFolder(), FCancel,
            [this](std::int64_t Done, std::int64_t Total) {
              FDone = Done;
              FTotal = Total;
            },
            Why);
      },
      [this](bool Ok, const std::string& Why) { Scanned(Ok, Why); });
}

TFormReview::~TFormReview() {
  FCancel = true;
  if (FWorker.joinable()) FWorker.join();
  FPlayback.reset();
}

QPushButton* TFormReview::AddButton(QLayout* Row, const QString& Caption,
                                    void (TFormReview::*Handler)(), const QKeySequence& Key) {
  auto* Button = new QPushButton(Caption, this);
  Button->setFocusPolicy(Qt::NoFocus);
  connect(Button, &QPushButton::clicked, this, [this, Handler] { (this->*Handler)(); });
  // The key acts at once (a button's own shortcut clicks a moment later);
  // the command itself refuses what the disabled button would.
  if (!Key.isEmpty()) {
    new QShortcut(Key, this, [this, Handler] { (this->*Handler)(); });
    Button->setToolTip(Caption + " (" + Key.toString(QKeySequence::NativeText) + ")");
  }
  Row->addWidget(Button);
  return Button;
}

void TFormReview::Run(const QString& What, std::function<bool(std::string& Error)> Work,
                      std::function<void(bool Ok, const std::string& Error)> Done) {
  FCancel = false;
  FFinished = false;
  FDone = 0;
  FTotal = 1;
  FJobDone = std::move(Done);
  Progress->setFormat(What + " %p%");
  Progress->setValue(0);
  Progress->show();
  FWorker = std::thread([this, Work = std::move(Work)] {
    std::string Error;
    FJobOk = Work(Error);
    FJobError = Error;
    FFinished = true;
  });
  FPollTimer.start();
  Refresh();
}

void TFormReview::Poll() {
  if (FWorker.joinable()) {
    Progress->setValue(static_cast<int>(1000 * FDone / std::max<std::int64_t>(FTotal, 1)));
    if (!FFinished) return;
    FWorker.join();
    Progress->hide();
    const auto Done = std::move(FJobDone);
    FJobDone = nullptr;
    Done(FJobOk, FJobError);
    if (FWorker.joinable()) return;  // Done started the next job
  }
  if (FPlayback && FPlayback->Playing()) {
    FCursor = FPlayback->Frame();
    Overview->SetCursor(FCursor);
    Zoomed->SetCursor(FCursor);
    // The zoomed view turns its page as the playing passes its end.
    if (FCursor < Zoomed->From() || FCursor >= Zoomed->To()) {
      FZoomCentre = FCursor + (Zoomed->To() - Zoomed->From()) / 2;
      ShowZoom();
    }
  } else {
    FPollTimer.stop();
  }
  Refresh();
}

void TFormReview::Scanned(bool Ok, const std::string& Error) {
  FReady = true;
  if (!Ok) {
    Say(QString::fromStdString("The side cannot be read: " + Error));
    Refresh();
    return;
  }
  std::vector<std::string> Titles;
  for (const std::string& t : FTracks) Titles.push_back(TrackTitle(t));
  FEdit.Reset(FPeaks.TrackFrames(), std::move(Titles));
  SplitCount->setValue(static_cast<int>(FEdit.Tracks()));
  Overview->SetRange(0, FEdit.Frames());
  Overview->show();
  Zoomed->show();
  SelectMark(FEdit.Marks().empty() ? -1 : 0);
  // The quiet gaps, found once by the recorder's rule: for Split into, and to
  // tell the tracks of only noise and the lead-in and run-out.
  auto Found = std::make_shared<TSideGaps>();
  Run(
      "Finding the quiet gaps",
      [this, Found](std::string& Why) {
        FTotal = FAudio.Frames();
        if (FindSideGaps(FAudio, FRule, FCancel, FDone, *Found)) return true;
        Why = "cancelled";
        return false;
      },
      [this, Found](bool Whole, const std::string&) {
        if (Whole) FGaps = std::move(*Found);
        FGapsFound = Whole;
        SayWhatTheQuietTells();
      });
}

void TFormReview::SayWhatTheQuietTells() {
  QString Text = QString::fromStdString(FRecovered + (FRecovered.empty() ? "" : " "));
  const std::vector<std::size_t> Noise = NoiseOnlyTracks(FEdit, FGaps.Gaps);
  const TSoundSpan Span = SoundSpan(FGaps.Gaps, FEdit.Frames());
  if (!Noise.empty()) {
    QStringList Numbers;
    for (const std::size_t t : Noise) Numbers << QString::number(t + 1);
    Text += QString("%1 %2 only the input's noise: Leave Out (O) takes a track out of the set. ")
                .arg(Noise.size() == 1 ? "Track " + Numbers.front()
                                       : "Tracks " + Numbers.join(", "))
                .arg(Noise.size() == 1 ? "holds" : "hold");
  }
  if (Span.Trims(FEdit.Frames()))
    Text += QString("The side has %1 of quiet before its sound and %2 after: Trim Ends (T) leaves "
                    "them out. ")
                .arg(SideTimeText(Span.From, true))
                .arg(SideTimeText(FEdit.Frames() - Span.To, true));
  if (!Noise.empty() || Span.Trims(FEdit.Frames())) {
    Text += "What is left out stays in Originals.";
  } else {
    Text +=
        "Drag a mark to move it (Shift: without snapping to the quiet); type titles in the list "
        "or paste them there as lines.";
  }
  Say(Text);
}

void TFormReview::LeaveOut() {
  if (!Editable()) return;
  const std::size_t Track = SelectedTrack();
  if (!FEdit.LeaveOut(Track, !FEdit.LeftOut(Track))) {
    if (!FEdit.LeftOut(Track)) Say("The last track of the set cannot be left out.");
    return;
  }
  Say(FEdit.LeftOut(Track)
          ? QString("Track %1 is left out of the set; Apply keeps its audio in Originals.")
                .arg(Track + 1)
          : QString("Track %1 is in the set again.").arg(Track + 1));
  Refresh();
}

void TFormReview::TrackListing() {
  if (!Editable() || !FGapsFound) return;
  auto* Dialog =
      new TListingDialog(this, AlbumFields->Artist->text(), AlbumFields->AlbumName->text());
  Dialog->setAttribute(Qt::WA_DeleteOnClose);
  connect(Dialog, &QDialog::accepted, this,
          [this, Dialog] { UseListing(Dialog->ListingText(), Dialog->SideText()); });
  Dialog->open();
}

bool TFormReview::UseListing(const std::string& Text, const std::string& Side) {
  if (!Editable() || !FGapsFound) return false;
  TListing Listing;
  std::string Error;
  if (!ParseListing(Text, Side, Listing, Error)) {
    Say(QString::fromStdString("The listing cannot be used: " + Error + "."));
    return false;
  }
  std::vector<std::int64_t> Ms;
  for (const TListedTrack& t : Listing.Tracks) Ms.push_back(t.Ms);
  const TListingPlan Plan = PlaceListing(FGaps.Gaps, FEdit.Frames(), Ms, kRate);
  if (Plan.Cuts.size() + 1 < Listing.Tracks.size()) {
    Say(QString("Only %1 of the listing's %2 tracks can be placed: too few quiet gaps for a "
                "listing without lengths, or too little sound. Nothing was changed.")
            .arg(Plan.Cuts.size() + 1)
            .arg(Listing.Tracks.size()));
    return false;
  }
  // One edit for the marks and the ends, one for the titles: Undo takes back each.
  std::vector<std::int64_t> Marks;
  for (const TListingCut& c : Plan.Cuts) Marks.push_back(c.Frame);
  FEdit.SetMarks(Marks);
  FEdit.LeaveOutEnds(Plan.From, Plan.To);
  std::vector<std::string> Titles;
  for (const TListedTrack& t : Listing.Tracks) Titles.push_back(t.Title);
  FEdit.SetTitles(FEdit.LeftOut(0) ? 1 : 0, Titles);
  // The album's fields the listing gives, as if typed; the tracks numbered.
  const auto Put = [](QLineEdit* Edit, const std::string& Value) {
    if (!Value.empty()) Edit->setText(QString::fromStdString(Value));
  };
  Put(AlbumFields->Artist, Listing.Artist);
  Put(AlbumFields->AlbumName, Listing.Album);
  Put(AlbumFields->Date, Listing.Date);
  AlbumFields->Numbers->setChecked(true);
  // What the placing could not find is said, its mark selected.
  FSelected = -1;
  QString Said = QString("%1 tracks placed from the listing%2")
                     .arg(Listing.Tracks.size())
                     .arg(Listing.Side ? QString(" (side %1)").arg(Listing.Side) : QString());
  if (std::abs(Plan.Speed - 1) >= 0.002)
    Said += QString("; the side's sound runs %1 % %2")
                .arg(std::abs(Plan.Speed - 1) * 100, 0, 'f', 1)
                .arg(Plan.Speed > 1 ? "longer" : "shorter");
  for (std::size_t i = 0; i < Plan.Cuts.size(); ++i) {
    if (Plan.Cuts[i].InGap) continue;
    const bool First = FSelected < 0;
    if (First)
      FSelected = static_cast<int>(
          std::find(FEdit.Marks().begin(), FEdit.Marks().end(), Plan.Cuts[i].Frame) -
          FEdit.Marks().begin());
    Said += QString(
                ". No quiet gap near the end of \"%1\": its mark stands where the listed "
                "length ends, %2%3")
                .arg(QString::fromStdString(Listing.Tracks[i].Title))
                .arg(SideTimeText(Plan.Cuts[i].Frame, true))
                .arg(First ? " (selected)" : "");
  }
  Say(Said + ".");
  SelectMark(FSelected);  // the zoomed view shows it
  return true;
}

void TFormReview::TrimEnds() {
  if (!Editable()) return;
  const TSoundSpan Span = SoundSpan(FGaps.Gaps, FEdit.Frames());
  if (!Span.Trims(FEdit.Frames()) || !FEdit.LeaveOutEnds(Span.From, Span.To)) {
    Say("The side has no quiet at its ends to leave out.");
    return;
  }
  FSelected = -1;
  Say(QString("The lead-in and the run-out are left out: the set runs from %1 to %2; Apply keeps "
              "them in Originals.")
          .arg(SideTimeText(Span.From, true))
          .arg(SideTimeText(Span.To, true)));
  Refresh();
}

std::size_t TFormReview::SelectedTrack() const {
  const int Row = List->currentRow();
  return Row >= 0 && Row < static_cast<int>(FEdit.Tracks()) ? static_cast<std::size_t>(Row)
                                                             : TrackAt(FCursor);
}

void TFormReview::Refresh() {
  FRefreshing = true;
  if (FSelected >= static_cast<int>(FEdit.Marks().size())) FSelected = -1;
  const bool Idle = Editable();
  const bool Playing = FPlayback && FPlayback->Playing();
  btDelete->setEnabled(Idle && FSelected >= 0);
  btAdd->setEnabled(Idle);
  btSplit->setEnabled(Idle);
  SplitCount->setEnabled(Idle);
  btUndo->setEnabled(Idle && FEdit.CanUndo());
  btRedo->setEnabled(Idle && FEdit.CanRedo());
  btPlay->setEnabled(Idle);
  btPlayMark->setEnabled(Idle && FSelected >= 0);
  btStop->setEnabled(Playing);
  if (FClick >= static_cast<int>(FClicks.Clicks().size())) FClick = -1;
  btFindClicks->setEnabled(Idle);
  btPlayClick->setEnabled(Idle && FClick >= 0);
  btDropClick->setEnabled(Idle && FClick >= 0);
  btDropClick->setText(FClick >= 0 && FClicks.Dropped(static_cast<std::size_t>(FClick))
                           ? "Repair Again"
                           : "Drop Repair");
  // What is left out is kept in Originals whatever the box says.
  KeepOriginals->setEnabled(Idle && FClicks.Kept() > 0 && !FEdit.AnyLeftOut());
  if (FEdit.AnyLeftOut()) KeepOriginals->setChecked(true);
  const bool Known = FGapsFound && FEdit.Frames() > 0;
  btLeaveOut->setEnabled(Idle && Known);
  btLeaveOut->setText(Known && FEdit.LeftOut(SelectedTrack()) ? "Take Back" : "Leave Out");
  btTrimEnds->setEnabled(Idle && Known && SoundSpan(FGaps.Gaps, FEdit.Frames()).Trims(FEdit.Frames()));
  btListing->setEnabled(Idle && Known);
  for (TSideView* View : {Overview, Zoomed})
    View->SetClicks(FClicks.Found() ? &FClicks : nullptr, FClick);
  btApply->setEnabled(Idle && Changed());
  btCancel->setEnabled(!FApplying);
  List->setEnabled(Idle);

  const auto Tracks = static_cast<int>(FEdit.Tracks());
  if (FEdit.Frames() > 0) {
    const auto Kept = static_cast<int>(FEdit.KeptTracks());
    FSideText->setText(QString("%1 tracks%2, %3")
                           .arg(Kept)
                           .arg(Kept < Tracks ? QString(", %1 left out").arg(Tracks - Kept)
                                              : QString())
                           .arg(SideTimeText(FEdit.Frames(), false)));
    if (!SplitCount->hasFocus()) SplitCount->setValue(Tracks);
  }
  List->setRowCount(FEdit.Frames() > 0 ? Tracks : 0);
  // Kept tracks are numbered as Apply numbers them; one left out says so.
  int Number = 0;
  for (int t = 0; t < List->rowCount(); ++t) {
    const auto i = static_cast<std::size_t>(t);
    const bool Left = FEdit.LeftOut(i);
    const QString Cells[4] = {Left ? QString("out") : QString::number(++Number),
                              SideTimeText(FEdit.TrackStart(i), true),
                              SideTimeText(FEdit.TrackEnd(i) - FEdit.TrackStart(i), true),
                              QString::fromStdString(FEdit.Titles()[i])};
    for (int c = 0; c < 4; ++c) {
      QTableWidgetItem* Item = List->item(t, c);
      if (!Item) {
        Item = new QTableWidgetItem;
        if (c < 3) Item->setFlags(Item->flags() & ~Qt::ItemIsEditable);
        List->setItem(t, c, Item);
      }
      if (Item->text() != Cells[c]) Item->setText(Cells[c]);
      const QBrush Ink = Left ? QBrush(Qt::gray) : QBrush();
      if (Item->foreground() != Ink) Item->setForeground(Ink);
    }
  }

  const int Row = FSelected >= 0 ? FSelected + 1 : static_cast<int>(TrackAt(FCursor));
  // The list follows the selection, unless a title is being typed in it.
  const QWidget* Focus = QApplication::focusWidget();
  if (List->currentRow() != Row && Row < List->rowCount() && !(Focus && List->isAncestorOf(Focus)))
    List->setCurrentCell(Row, 3);
  Overview->SetSelected(FSelected);
  Overview->SetCursor(FCursor);
  Overview->update();
  ShowZoom();
  FRefreshing = false;
}

void TFormReview::ShowZoom() {
  const std::int64_t Frames = FEdit.Frames();
  const std::int64_t Half = std::min(FZoomHalf, std::max<std::int64_t>(Frames / 2, 1));
  const std::int64_t From =
      std::clamp<std::int64_t>(FZoomCentre - Half, 0, std::max<std::int64_t>(Frames - 2 * Half, 0));
  Zoomed->SetRange(From, From + 2 * Half);
  Zoomed->SetSelected(FSelected);
  Zoomed->SetCursor(FCursor);
}

bool TFormReview::Changed() const {
  return FEdit.Changed() || AlbumFields->Changed() || FClicks.Kept() > 0;
}

void TFormReview::FindClicks() {
  if (!Editable()) return;
  StopPlaying();
  Run(
      "Finding clicks",
      [this](std::string& Why) {
        FTotal = FAudio.Frames();
        if (FClicks.Find(FAudio, FCancel, FDone)) return true;
        Why = "stopped";
        return false;
      },
      [this](bool Ok, const std::string&) {
        FClick = -1;
        Refresh();
        if (!Ok) return;
        Say(FClicks.Clicks().empty()
                ? QString("No clicks found.")
                : QString(
                      "%1 clicks found, to be repaired on Apply: C and Shift+C go to them, B "
                      "plays one, A switches between repaired and as recorded, D drops a repair.")
                      .arg(FClicks.Clicks().size()));
      });
}

void TFormReview::GoToClick(int Step) {
  if (!Editable() || FClicks.Clicks().empty()) {
    if (Editable()) Say(FClicks.Found() ? "No clicks were found." : "Find Clicks (K) first.");
    return;
  }
  const std::vector<TClick>& All = FClicks.Clicks();
  const std::int64_t From = FClick >= 0 ? All[static_cast<std::size_t>(FClick)].Frame : FCursor;
  int Next = FClicks.Next(From, Step);
  if (Next < 0) Next = Step > 0 ? 0 : static_cast<int>(All.size()) - 1;  // round again
  FClick = Next;
  const TClick& c = All[static_cast<std::size_t>(Next)];
  FZoomHalf = std::min<std::int64_t>(FZoomHalf, kRate / 20);  // close enough to see its span
  SetCursor(c.Frame - kAroundMark);
  FZoomCentre = c.Frame;
  ShowZoom();
  Refresh();
  Say(QString("Click %1 of %2 at %3, channel %4, %5 ms, %6 dB above the music%7 (B plays it)")
          .arg(Next + 1)
          .arg(All.size())
          .arg(SideTimeText(c.Frame, true))
          .arg(c.Channel + 1)
          .arg(1000.0 * c.Length / kRate, 0, 'f', 2)
          .arg(c.SizeDb, 0, 'f', 0)
          .arg(FClicks.Dropped(static_cast<std::size_t>(Next)) ? ", left as recorded" : ""));
}

void TFormReview::PlayAroundClick() {
  if (!Editable() || FClick < 0 || !FPlayback) return;
  const TClick& c = FClicks.Clicks()[static_cast<std::size_t>(FClick)];
  const std::int64_t From = std::max<std::int64_t>(0, c.Frame - kAroundMark);
  const std::int64_t To = std::min(FAudio.Frames(), c.Frame + kAroundMark);
  FPlayback->SetAlternative(From, FClicks.Repaired(FAudio, From, To));
  FPlayback->UseAlternative(FHearRepaired);
  std::string Error;
  if (!FPlayback->Play(From, To, Error) && !Error.empty())
    Say(QString::fromStdString("The output cannot play: " + Error));
  FPollTimer.start();
  Refresh();
}

void TFormReview::SwitchHeard() {
  if (FClick < 0) return;
  FHearRepaired = !FHearRepaired;
  if (FPlayback) FPlayback->UseAlternative(FHearRepaired);
  Say(FHearRepaired ? "Hearing the click repaired (A: as recorded)."
                    : "Hearing the click as recorded (A: repaired).");
}

void TFormReview::DropClick() {
  if (!Editable() || FClick < 0) return;
  FClicks.Toggle(static_cast<std::size_t>(FClick));
  Say(FClicks.Dropped(static_cast<std::size_t>(FClick))
          ? "This click stays as recorded (D repairs it again)."
          : "This click is repaired on Apply.");
  Refresh();
}

std::size_t TFormReview::TrackAt(std::int64_t Frame) const {
  const auto& Marks = FEdit.Marks();
  return static_cast<std::size_t>(std::upper_bound(Marks.begin(), Marks.end(), Frame) -
                                  Marks.begin());
}

void TFormReview::Say(const QString& Text) {
  FStatus->setText(Text);
}

void TFormReview::SelectMark(int Mark) {
  FSelected = Mark;
  if (Mark >= 0) FZoomCentre = FEdit.Marks()[static_cast<std::size_t>(Mark)];
  Refresh();
}

void TFormReview::SetCursor(std::int64_t Frame) {
  FCursor = std::clamp<std::int64_t>(Frame, 0, FEdit.Frames());
  FSelected = -1;
  // The zoomed view follows the cursor when it leaves it.
  if (FCursor < Zoomed->From() || FCursor >= Zoomed->To()) FZoomCentre = FCursor;
  Refresh();
}

void TFormReview::GoToMarker(int Step) {
  const auto& Markers = FAudio.Markers();
  if (Markers.empty()) {
    Say("The tracks keep no marks (dropouts or clipped samples).");
    return;
  }
  const int Count = static_cast<int>(Markers.size());
  FMarker = FMarker < 0 ? (Step > 0 ? 0 : Count - 1) : (FMarker + Step + Count) % Count;
  const TSideMarker& m = Markers[static_cast<std::size_t>(FMarker)];
  SetCursor(m.Frame - 3 * 44100 / 2);
  FZoomCentre = m.Frame;
  ShowZoom();
  Say(QString("%1 of %2: %3 at %4 (Space plays from 1.5 s before it; N goes on)")
          .arg(FMarker + 1)
          .arg(Count)
          .arg(QString::fromStdString(m.Label))
          .arg(SideTimeText(m.Frame, true)));
}

void TFormReview::MoveMark(int Mark, std::int64_t To, bool Snap) {
  if (!Editable()) return;
  if (Snap) {
    const std::int64_t First = std::max<std::int64_t>(To - kSnap, 0);
    const std::int64_t Last = std::min(To + kSnap + 1, FEdit.Frames());
    if (Last > First) {
      std::vector<std::int16_t> Frames(static_cast<std::size_t>(2 * (Last - First)));
      FAudio.Read(First, Frames.data(), Last - First);
      To = First + static_cast<std::int64_t>(QuietestFrame(Frames.data(), Frames.size() / 2,
                                                           static_cast<std::size_t>(To - First)));
    }
  }
  if (!FEdit.MoveMark(static_cast<std::size_t>(Mark), To))
    Say("A mark stays between its neighbours, at least 10 ms from them and from the side's ends.");
  FSelected = Mark;
  FZoomCentre = FEdit.Marks()[static_cast<std::size_t>(Mark)];
  Refresh();
}

void TFormReview::DeleteMark() {
  if (!Editable() || FSelected < 0 || !FEdit.DeleteMark(static_cast<std::size_t>(FSelected)))
    return;
  FCursor = FZoomCentre;
  FSelected = -1;
  Refresh();
}

void TFormReview::AddMark() {
  if (!Editable()) return;
  if (!FEdit.AddMark(FCursor)) {
    Say("A new mark needs at least 10 ms from the others and from the side's ends.");
    return;
  }
  const auto& Marks = FEdit.Marks();
  SelectMark(static_cast<int>(std::find(Marks.begin(), Marks.end(), FCursor) - Marks.begin()));
}

void TFormReview::SplitInto(int Tracks) {
  if (!Editable() || !FGapsFound) return;
  const std::vector<std::int64_t> Cuts =
      CutsForTracks(FGaps.Gaps, FEdit.Frames(), Tracks, FRule.MinSec * kRate);
  if (static_cast<int>(Cuts.size()) + 1 < Tracks) {
    // Nothing changes; the gate that would find them is said.
    const int Gate = FGaps.Finder->GateFor(Tracks, FRule.MinSec * kRate);
    Say(QString("%1 tracks need %2 quiet gaps of the side; it has %3 (with tracks of at least %4 "
                "s). %5")
            .arg(Tracks)
            .arg(Tracks - 1)
            .arg(Cuts.size())
            .arg(FRule.MinSec)
            .arg(Gate > 0 ? QString("A noise gate of %1 (%2) finds them.")
                                .arg(Gate)
                                .arg(QString::fromStdString(NoiseGateText(Gate, FRule.TimeGate)))
                          : QString("No noise gate finds them; a shorter minimum length may.")));
    return;
  }
  Say(QString("Split into %1 tracks at the longest quiet gaps.").arg(Tracks));
  FEdit.SetMarks(Cuts);
  FSelected = -1;
  Refresh();
}

void TFormReview::Undo() {
  if (!Editable()) return;
  const std::vector<std::int64_t> Before = FEdit.Marks();
  if (FEdit.Undo()) SelectChanged(Before);
}

void TFormReview::Redo() {
  if (!Editable()) return;
  const std::vector<std::int64_t> Before = FEdit.Marks();
  if (FEdit.Redo()) SelectChanged(Before);
}

void TFormReview::SelectChanged(const std::vector<std::int64_t>& Before) {
  // The mark the undone or redone edit touched: the first that differs.
  const auto& Now = FEdit.Marks();
  std::size_t i = 0;
  while (i < Now.size() && i < Before.size() && Now[i] == Before[i]) ++i;
  if (Now == Before)
    Refresh();  // a title: the selection stays
  else
    SelectMark(i < Now.size() ? static_cast<int>(i) : -1);
}

void TFormReview::PlayFromCursor() {
  if (!Editable()) return;
  if (FPlayback && FPlayback->Playing()) {  // a pause: the cursor stays where it was
    FCursor = FPlayback->Frame();
    StopPlaying();
    return;
  }
  std::string Error;
  if (FPlayback && !FPlayback->Play(FCursor, FEdit.Frames(), Error) && !Error.empty())
    Say(QString::fromStdString("The output cannot play: " + Error));
  FPollTimer.start();
  Refresh();
}

void TFormReview::PlayAroundMark() {
  if (!Editable() || FSelected < 0 || !FPlayback) return;
  const std::int64_t Mark = FEdit.Marks()[static_cast<std::size_t>(FSelected)];
  std::string Error;
  if (!FPlayback->Play(Mark - kAroundMark, Mark + kAroundMark, Error) && !Error.empty())
    Say(QString::fromStdString("The output cannot play: " + Error));
  FPollTimer.start();
  Refresh();
}

void TFormReview::StopPlaying() {
  if (FPlayback) FPlayback->Stop();
  Refresh();
}

void TFormReview::PasteTitles() {
  if (!Editable()) return;
  QStringList Lines = QApplication::clipboard()->text().split('\n');
  while (!Lines.isEmpty() && Lines.back().trimmed().isEmpty()) Lines.pop_back();
  std::vector<std::string> Titles;
  for (const QString& Line : Lines) Titles.push_back(Line.trimmed().toStdString());
  FEdit.SetTitles(static_cast<std::size_t>(std::max(List->currentRow(), 0)), Titles);
  Refresh();
}

void TFormReview::TitleEdited(QTableWidgetItem* Item) {
  if (FRefreshing || Item->column() != 3) return;
  FEdit.SetTitle(static_cast<std::size_t>(Item->row()), Item->text().trimmed().toStdString());
  // Not from within the list's own signal: the refresh rewrites its items.
  QTimer::singleShot(0, this, [this] { Refresh(); });
}

void TFormReview::Zoom(int Steps, std::int64_t At) {
  const std::int64_t Deepest = std::max(Zoomed->width() / 16, 8);  // 8 pixels a sample
  const std::int64_t Was = FZoomHalf;
  for (; Steps > 0; --Steps) FZoomHalf = std::max(FZoomHalf / 2, Deepest);
  for (; Steps < 0; ++Steps) FZoomHalf = std::min(FZoomHalf * 2, 60 * kRate);
  // The frame At stays where it is on the screen.
  if (At >= 0 && Was > 0) {
    const double Share =
        static_cast<double>(At - Zoomed->From()) / (2.0 * static_cast<double>(Was));
    FZoomCentre = At - std::llround(Share * 2.0 * static_cast<double>(FZoomHalf)) + FZoomHalf;
  }
  ShowZoom();
}

void TFormReview::Magnify(int Factor) {
  const int Gain = Factor > 0 ? Zoomed->Gain() * Factor : Zoomed->Gain() / -Factor;
  for (TSideView* View : {Overview, Zoomed}) View->SetGain(Gain);
  Say(Zoomed->Gain() == 1 ? QString("The waveform at its true height.")
                          : QString("The waveform %1 times as high (%2 dB): Ctrl+Down lowers it.")
                                .arg(Zoomed->Gain())
                                .arg(std::lround(20 * std::log10(Zoomed->Gain()))));
}

void TFormReview::Pan(std::int64_t Frames) {
  FZoomCentre = std::clamp<std::int64_t>(
      Zoomed->From() + (Zoomed->To() - Zoomed->From()) / 2 + Frames, 0, FEdit.Frames());
  ShowZoom();
}

void TFormReview::Apply() {
  if (!Editable() || !Changed()) return;
  StopPlaying();
  const std::string Folder = std::filesystem::path(FTracks.front()).parent_path().string();
  TTrackTags Album;
  QString Wrong;
  if (!AlbumFields->Album(Album, Wrong)) {
    Say(Wrong);
    return;
  }
  const std::vector<TTrackFile> New =
      PlanSideTracks(FEdit, FPeaks.TrackFrames(), FOldTags, Album, AlbumFields->Numbered());
  std::vector<std::string> Paths;
  for (const TTrackFile& t : New)
    if (!t.LeftOut) Paths.push_back((std::filesystem::path(Folder) / t.Name).string());
  TSideApply Plan;
  Plan.Tracks = FTracks;
  Plan.Stamps = FPeaks.Stamps();
  Plan.Frames = FPeaks.TrackFrames();
  Plan.Folder = Folder;
  Plan.New = New;
  if (FClicks.Kept() > 0) Plan.Repair = FClicks.Options();
  Plan.MarksChanged = FEdit.MarksChanged();
  Plan.LeftOut = FEdit.AnyLeftOut();
  Plan.KeepOriginals = KeepOriginals->isChecked();
  FApplying = true;
  Run(
      "Writing the tracks",
      [this, Plan = std::move(Plan), Total = FEdit.Frames()](std::string& Why) {
        FTotal = Total;
        return ApplySide(Plan, [this](std::int64_t Done) { FDone = Done; }, Why);
      },
      [this, Paths](bool Ok, const std::string& Why) {
        FApplying = false;
        if (!Ok) {
          Say(QString::fromStdString("The tracks were not written: " + Why));
          return;
        }
        FApplied = true;
        if (OnApplied) OnApplied(Paths);
        close();
      });
}

void TFormReview::closeEvent(QCloseEvent* Event) {
  if (FApplying) {
    Say("The tracks are being written; the window closes when they are.");
    Event->ignore();
    return;
  }
  // Edits not applied are not dropped without a word, unless the program is
  // ending (a logout, a signal), which cannot wait for an answer.
  if (Changed() && !FApplied && !FDiscard && !TRecorderApplication::Ending()) {
    Event->ignore();
    AskAboutEdits();
    return;
  }
  FCancel = true;
  if (FWorker.joinable()) FWorker.join();
  FJobDone = nullptr;
  FPollTimer.stop();
  StopPlaying();
  Event->accept();
}

void TFormReview::AskAboutEdits() {
  if (FQuestion) return;
  FQuestion = new QMessageBox(
      QMessageBox::Question, windowTitle(), "The changes to the tracks are not applied.",
      QMessageBox::Apply | QMessageBox::Discard | QMessageBox::Cancel, this);
  FQuestion->setInformativeText("Apply them, discard them, or go on reviewing?");
  FQuestion->setDefaultButton(QMessageBox::Apply);
  FQuestion->setAttribute(Qt::WA_DeleteOnClose);
  connect(FQuestion, &QMessageBox::finished, this, [this](int Answer) {
    FQuestion = nullptr;
    if (Answer == QMessageBox::Apply) {
      Apply();
    } else if (Answer == QMessageBox::Discard) {
      FDiscard = true;
      close();
    }
  });
  FQuestion->open();
}

}  // namespace velmar

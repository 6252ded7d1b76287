#include "app/form_audio_recorder_main.h"

#include <fcntl.h>
#include <stdio.h>

#include <cstdio>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QColorDialog>
#include <QDir>
#include <QDropEvent>
#include <QEventLoop>
#include <QFileDialog>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMimeData>
#include <QScreen>
#include <QSocketNotifier>
#include <QUrl>
#include <QVBoxLayout>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <filesystem>

#include "app/form_audio_graphics.h"
#include "app/form_devices.h"
#include "app/form_edit.h"
#include "app/form_output_destination.h"
#include "app/form_review.h"
#include "app/help_window.h"
#include "app/messages_window.h"
#include "app/peak_readout.h"
#include "app/recorder_settings.h"
#include "app/skin_look.h"
#include "app/status_text.h"
#include "mp3/encoder_registry.h"
#include "platform/registry/registry.h"
#include "platform/registry/settings_store.h"
#include "platform/wave/wave_backend.h"
#include "session/gate_from_noise.h"
#include "session/staged_files.h"
#include "stream/errors.h"
#include "stream/time_conversions.h"
#include "wavefile/wave_repair.h"
#include "wavefile/wave_scan.h"

namespace velmar {

namespace {

constexpr int kPanelHeight = 150;
constexpr int kRowHeight = 19;
// The End of Side choices: seconds of silence (0: at the minimum length, -1: never).
constexpr int kSideEnds[] = {0, 30, 60, 120, -1};
// Seconds a recording waits for an input that went away (0: it ends at once).
constexpr int kInputWaits[] = {0, 60, 300, 1800, 7200};
constexpr int kDefaultInputWait = 300;

// A recording format as a menu choice's value, and back.
int FormatChoice(const WAVEFORMATEX& f) {
  return f.wBitsPerSample * 1000000 + static_cast<int>(f.nSamplesPerSec);
}
const WAVEFORMATEX& ChosenFormat(int Choice) {
  for (const WAVEFORMATEX& f : RecordingFormats())
    if (FormatChoice(f) == Choice) return f;
  return CdFormat();
}

// Renames Old to New unless New exists (a rename must never replace a track).
bool RenameNoReplace(const std::string& Old, const std::string& New) {
  if (::renameat2(AT_FDCWD, Old.c_str(), AT_FDCWD, New.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // A file system without the no-replace flag: check, then rename.
  std::error_code e;
  if (std::filesystem::exists(New, e)) return false;
  std::filesystem::rename(Old, New, e);
  return !e;
}

}  // namespace

TFormAudioRecorderMain::TFormAudioRecorderMain(TFormAudioGraphics& Skin, QWidget* Parent)
    : QWidget(Parent), FSkin(Skin) {
  QPalette Black = palette();
  Black.setColor(QPalette::Window, Qt::black);
  setPalette(Black);
  setAutoFillBackground(true);
  setMinimumSize(543, 348);

  // The caption bar: company, application name and the window's caption.
  QFont Small = LabelFont(false);
  QFont SmallBold = LabelFont(true);
  FStyler.CompanyText().SetCaption("Velmar");
  FStyler.CompanyText().SetFont(SmallBold);
  FStyler.AppNameText().SetCaption("Audio Recorder");
  FStyler.AppNameText().SetFontKind(TMMFontKind::fkSystemB);
  FStyler.CaptionText().SetFont(Small);
  FStyler.CaptionText().SetCaption("Velmar Audio Recorder ");

  auto* Layout = new QVBoxLayout(this);
  Layout->setContentsMargins(0, 0, 0, 0);
  Layout->setSpacing(0);
  MainMenu = new QMenuBar(this);
  UseDarkLook(MainMenu);
  Layout->setMenuBar(MainMenu);
  Grid = new QTableWidget(this);
  Layout->addWidget(Grid, 1);
  PanelButtons = new TMMPanelFill(this);
  PanelButtons->setFixedHeight(kPanelHeight);
  Layout->addWidget(PanelButtons);

  ChooseColor = [this](TColor Initial) -> std::optional<TColor> {
    const QColor c = QColorDialog::getColor(ToQColor(Initial), this);
    if (!c.isValid()) return std::nullopt;
    return RGBToColor(c.rgb() & 0xFFFFFF);
  };
  ChooseTracks = [this] {
    std::vector<std::string> Files;
    for (const QString& f : QFileDialog::getOpenFileNames(this, "Review Tracks", GetOutputFolder(),
                                                          "WAV files (*.wav *.WAV)"))
      Files.push_back(f.toStdString());
    return Files;
  };
  BuildMenus();
  BuildPanel();
  FormCreate();
}

TFormAudioRecorderMain::~TFormAudioRecorderMain() {
  Timer.SetEnabled(false);
  // The monitoring input delivers into the connector on its own thread: it
  // stops and that thread is joined before the connector or anything it
  // feeds is destroyed. Then the engine goes before the controls it feeds.
  WaveIn.Close();
  Connector.SetInput(nullptr);
}

QAction* TFormAudioRecorderMain::AddItem(QMenu* Menu, const QString& Caption, int Context,
                                         void (TFormAudioRecorderMain::*Handler)(),
                                         const QKeySequence& Shortcut) {
  QAction* Action = Menu->addAction(Caption);
  if (!Shortcut.isEmpty()) {
    Action->setShortcut(Shortcut);
    Action->setShortcutContext(Qt::WindowShortcut);
  }
  if (Handler) connect(Action, &QAction::triggered, this, [this, Handler] { (this->*Handler)(); });
  if (Context) FHelpContexts[Action] = Context;
  return Action;
}

void TFormAudioRecorderMain::BuildMenus() {
  miFile = MainMenu->addMenu("File");
  AddItem(miFile, "&New", 3400, &TFormAudioRecorderMain::miNewClick);
  AddItem(miFile, "&Destination", 3400, &TFormAudioRecorderMain::miDestinationClick);
  AddItem(miFile, "&Review Tracks", 3400, &TFormAudioRecorderMain::miReviewClick,
          QKeySequence(Qt::CTRL | Qt::Key_R));
  AddItem(miFile, "&Add Tracks...", 3400, &TFormAudioRecorderMain::miAddTracksClick,
          QKeySequence(Qt::CTRL | Qt::Key_O));
  AddItem(miFile, "Remove from &List", 3400, &TFormAudioRecorderMain::miRemoveFromListClick);
  AddItem(miFile, "E&xit", 3400, &TFormAudioRecorderMain::miExitClick);
  miInput = MainMenu->addMenu("&Input");
  AddItem(miInput, "P&revious", 3410, &TFormAudioRecorderMain::sbPreviousClick);
  AddItem(miInput, "&Play", 3410, &TFormAudioRecorderMain::sbPlayClick);
  AddItem(miInput, "&Next", 3410, &TFormAudioRecorderMain::sbNextClick);
  AddItem(miInput, "Record/Split", 3410, &TFormAudioRecorderMain::sbRecordClick,
          QKeySequence(Qt::Key_F12));
  AddItem(miInput, "Stop", 3410, &TFormAudioRecorderMain::sbStopClick, QKeySequence(Qt::Key_F10));
  miInput->addSeparator();
  miMonitorLevels =
      AddItem(miInput, "&Monitor Levels", 3410, &TFormAudioRecorderMain::miMonitorLevelsClick);
  miMonitorLevels->setCheckable(true);
  miMonitorLevels->setChecked(true);
  miMP3 = MainMenu->addMenu("MP3");
  AddItem(miMP3, "Convert Files to MP3", 3450, &TFormAudioRecorderMain::miMP3EncoderClick);
  AddItem(miMP3, "Convert Files to FLAC", 3450, &TFormAudioRecorderMain::miFlacEncoderClick);
  miView = MainMenu->addMenu("&View");
  AddItem(miView, "&Messages", 3430, &TFormAudioRecorderMain::miMessagesClick,
          QKeySequence(Qt::CTRL | Qt::Key_M));
  miOptions = MainMenu->addMenu("&Options");
  AddItem(miOptions, "&Background color", 3440, &TFormAudioRecorderMain::miColorsClick);
  AddItem(miOptions, "&Text color", 3440, &TFormAudioRecorderMain::miTextcolorClick);
  AddItem(miOptions, "&Devices", 3440, &TFormAudioRecorderMain::miInputDeviceClick);
  AddItem(miOptions, "Set &Noise Gate from Input", 3440,
          &TFormAudioRecorderMain::miGateFromInputClick);
  miStartOnSound = AddItem(miOptions, "&Start on Sound", 3440, nullptr);
  miStartOnSound->setCheckable(true);
  miSideEnd = miOptions->addMenu("&End of Side");
  FHelpContexts[miSideEnd->menuAction()] = 3440;
  UseDarkLook(miSideEnd);
  for (const int Seconds : kSideEnds)
    AddChoice(miSideEnd, Seconds,
              Seconds == 0  ? QString("When a Track Is Silent at the Minimum Length")
              : Seconds < 0 ? QString("Never: Every Silence Starts the Next Track")
                            : QString("After %1 s of Silence").arg(Seconds));
  Choose(miSideEnd, 0);
  miInputWait = miOptions->addMenu("When the &Input Goes");
  FHelpContexts[miInputWait->menuAction()] = 3440;
  UseDarkLook(miInputWait);
  for (const int Seconds : kInputWaits)
    AddChoice(miInputWait, Seconds,
              Seconds == 0     ? QString("End the Recording")
              : Seconds < 3600 ? QString("Wait %1 min for It to Come Back").arg(Seconds / 60)
                               : QString("Wait %1 h for It to Come Back").arg(Seconds / 3600));
  Choose(miInputWait, kDefaultInputWait);
  miRecordingFormat = miOptions->addMenu("Recording &Format");
  FHelpContexts[miRecordingFormat->menuAction()] = 3440;
  UseDarkLook(miRecordingFormat);
  for (const WAVEFORMATEX& f : RecordingFormats())
    AddChoice(miRecordingFormat, FormatChoice(f),
              QString(FormatChoice(f) == FormatChoice(CdFormat()) ? "CD: %1" : "%1")
                  .arg(QString::fromStdString(RecordingFormatText(f))));
  Choose(miRecordingFormat, FormatChoice(CdFormat()));
  connect(miRecordingFormat, &QMenu::triggered, this, [this] { UseChosenFormat(); });
  miHelp = MainMenu->addMenu("&Help");
  AddItem(miHelp, "&About", 3420, &TFormAudioRecorderMain::miAboutClick);
  AddItem(miHelp, "&FAQ", 10000, &TFormAudioRecorderMain::miFAQClick);
  AddItem(miHelp, "&Index", 3420, &TFormAudioRecorderMain::miIndexClick);
  for (QMenu* Menu : {miFile, miInput, miMP3, miView, miOptions, miHelp}) {
    UseDarkLook(Menu);
    Menu->installEventFilter(this);  // F1 over a menu item
  }
  // F1 anywhere in the window: the page of what has the focus or the mouse.
  auto* Help = new QAction(this);
  Help->setShortcut(QKeySequence(Qt::Key_F1));
  Help->setShortcutContext(Qt::WindowShortcut);
  connect(Help, &QAction::triggered, this, [this] { FHelp->ShowContext(HelpContext()); });
  addAction(Help);
}

void TFormAudioRecorderMain::BuildPanel() {
  PanelButtons->Bevel().SetBevelOuter(TBevelCut::bvNone);
  PanelButtons->SetBitmapList(&FSkin.FBackGrounds);
  PanelButtons->SetBitmapIndex(0);
  auto Transport = [this](int Index, QRect Geometry, bool White, const char* Hint) {
    TMMBitmapButton* Button = SkinButton(PanelButtons, FSkin.FRecordButtons, Index, Geometry);
    if (White) Button->SetTransparentColor(clWhite);
    if (Hint) Button->setToolTip(Hint);
    return Button;
  };
  sbPrevious = Transport(
      3, {28, 24, 50, 50}, false,
      "Press this button to move to the previous track in the track list. Not available for the "
      "first track.");
  sbPlay = Transport(2, {83, 8, 70, 70}, false,
                     "This button playes the selectef track in the track list.");
  sbNext = Transport(
      1, {158, 24, 50, 50}, false,
      "Press this button to move to the next track in the track list. Not available for the last "
      "track.");
  sbRecord = Transport(4, {26, 83, 64, 28}, true,
                       "This button records the selectef track in the track list.");
  sbStop = Transport(6, {89, 83, 60, 28}, true, nullptr);
  sbEject = Transport(0, {148, 83, 63, 28}, true, nullptr);
  sbPrevious->OnClick = [this](TObject*) { sbPreviousClick(); };
  sbPlay->OnClick = [this](TObject*) { sbPlayClick(); };
  sbNext->OnClick = [this](TObject*) { sbNextClick(); };
  sbRecord->OnClick = [this](TObject*) { sbRecordClick(); };
  sbStop->OnClick = [this](TObject*) { sbStopClick(); };
  sbEject->OnClick = [this](TObject*) { miDestinationClick(); };

  PanelDisplay = new TMMPanelFill(PanelButtons);
  PanelDisplay->setGeometry(224, 7, 297, 42);
  PanelDisplay->SetColor(clBlack);
  // Sunk into the dark panel: the bevels in the panel's own shades.
  PanelDisplay->Bevel().SetOuterLightColor(RGBToColor(0x4f565c));
  PanelDisplay->Bevel().SetOuterShadowColor(RGBToColor(0x0e1011));
  levelLeft = new TMMLevel(PanelDisplay);
  levelRight = new TMMLevel(PanelDisplay);
  int y = 8;
  for (auto [Level, Channel] :
       {std::pair{levelLeft, TMMChannel::chLeft}, std::pair{levelRight, TMMChannel::chRight}}) {
    Level->setGeometry(9, y, 280, 9);
    Level->SetChannel(Channel);
    Level->SetMode(TMMMode::mStereo);
    Level->SetBitLength(TMMBits::b16Bit);
    Level->SetBar1Color(clLime);
    Level->SetBar2Color(clLime);
    Level->Bevel().SetOuterLightColor(RGBToColor(0x1b3a16));
    Level->Bevel().SetOuterShadowColor(RGBToColor(0x0c0d0e));
    y += 16;
  }
  // The bars leave room for the peak figures and the clip lamps.
  levelLeft->setGeometry(9, 8, 226, 9);
  levelRight->setGeometry(9, 24, 226, 9);
  Peaks = new TPeakReadout(FPeaks, PanelDisplay);
  Peaks->setGeometry(237, 4, 54, 34);
  Peaks->SetRows(4, 20, 9);

  auto Slider = [this](QRect Geometry) {
    return SkinSlider(PanelButtons, FSkin.FRecordButtons, Geometry);
  };
  lblNoiseGate = SkinLabel(PanelButtons, "Noise Gate", {225, 61});
  NoiseGate = Slider({336, 64, 78, 9});
  NoiseGate->SetMaxValue(100);
  NoiseGate->SetPosition(25);
  NoiseGate->SetLogarithmic(true);
  NoiseGate->OnChange = [this](TObject*) { NoiseGateChange(); };
  SkinLabel(PanelButtons, "Time Gate", {225, 78});
  WhideGate = Slider({336, 81, 78, 10});
  WhideGate->SetRange(2, 20);
  WhideGate->SetPosition(8);
  WhideGate->OnChange = [this](TObject*) { WhideGateChange(); };
  lblWhideGateStr = SkinLabel(PanelButtons, "", {419, 77});
  SkinLabel(PanelButtons, "Min Track Length", {225, 96});
  MinSec = Slider({336, 99, 78, 10});
  MinSec->SetRange(1, 180);
  MinSec->SetPosition(7);
  MinSec->OnChange = [this](TObject*) { MinSecChange(); };
  lblMinSecStr = SkinLabel(PanelButtons, "", {419, 95});
  SkinLabel(PanelButtons, "Auto", {451, 55});
  SkinLabel(PanelButtons, "Track", {481, 55});
  SkinLabel(PanelButtons, "On", {465, 77});
  SkinLabel(PanelButtons, "Off", {464, 94});
  rbAutoOn = new TMMBitmapRadioButton(PanelButtons);
  rbAutoOff = new TMMBitmapRadioButton(PanelButtons);
  y = 78;
  for (auto* Radio : {rbAutoOn, rbAutoOff}) {
    Radio->setGeometry(490, y, 17, 15);
    Radio->SetBitmapList(&FSkin.FRecordButtons);
    Radio->SetBitmapIndex(11);
    Radio->SetDisabledBitmapIndex(SkinDisabledIndex(FSkin.FRecordButtons, 11));
    Radio->SetNumGlyphs(2);
    Radio->setCursor(Qt::PointingHandCursor);
    y += 17;
  }
  rbAutoOff->SetChecked(true);
  rbAutoOn->OnClick = [this](TObject*) { rbAutoOff->SetChecked(!rbAutoOn->Checked()); };
  rbAutoOff->OnClick = [this](TObject*) { rbAutoOn->SetChecked(!rbAutoOff->Checked()); };
  SkinLabel(PanelButtons, "Output Folder:", {17, 124});
  lblOutputFolder = SkinLabel(PanelButtons, "", {105, 124}, false);
  SetTextColor(lblOutputFolder, QColor(0x9c, 0xff, 0x3a));
  lblTimeLeft = new QLabel(PanelButtons);
  lblTimeLeft->setFont(LabelFont(false));
  SetTextColor(lblTimeLeft, QColor(0x9c, 0xff, 0x3a));
  lblTimeLeft->setGeometry(300, 124, 225, 13);
  lblTimeLeft->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  // Why a track did not start, in one line under the folder.
  FStatus = new QLabel(PanelButtons);
  FStatus->setFont(LabelFont(false));
  SetTextColor(FStatus, QColor(0xff, 0xb0, 0x40));
  FStatus->setGeometry(17, 136, 500, 13);
  FStatus->installEventFilter(this);  // a click shows every message, whole
}

void TFormAudioRecorderMain::FormCreate() {
  if (!RegValueExists(kSettingsRoot, kSettingsKey, "MaxMinSec"))
    WriteRegValue(kSettingsRoot, kSettingsKey, "MaxMinSec", 180);
  FOutputDestination = new TFormOutputDestination(FSkin, this);
  FOutputDestination->OnHelp = [this] { FHelp->ShowKeyword("MainForm"); };
  FEditForm = new TFormEdit(FSkin, this);
  // A window of its own, outside this one's family: a modal dialog or the
  // review blocks its family, and its help must stay readable beside it.
  FHelp = std::make_unique<THelpWindow>();
  FHelp->setAttribute(Qt::WA_QuitOnClose, false);
  FMessages = new TMessagesWindow(this);
  FPlaying = false;
  WhideGateChange();
  MinSecChange();
  FAppDir = QDir::currentPath();
  SetOutputFolder(FAppDir);
  LoadSettings();
  // A saved folder that cannot be made any more (a drive unplugged, a folder
  // typed wrong) is not kept: the tracks go into the start folder, said.
  QString FolderNote;
  {
    const std::string Saved = GetOutputFolder().toStdString();
    std::error_code e;
    if (!std::filesystem::is_directory(Saved, e) &&
        !std::filesystem::create_directories(Saved, e) && e) {
      FolderNote =
          QString("The output folder %1 cannot be made (%2); tracks go into %3")
              .arg(QString::fromStdString(Saved), QString::fromStdString(e.message()), FAppDir);
      SetOutputFolder(FAppDir);
    }
  }
  lblOutputFolder->setText(GetOutputFolder());

  WaveIn.SetCallBackMode(TMMCBMode::cmThread);
  UseRecordingFormat(WaveIn, Session.Options().Format);
  WaveIn.OnBufferReady = [this](TObject*, PWaveHdr h) {
    FPeaks.Take(reinterpret_cast<const std::uint8_t*>(h->wh.lpData), h->wh.dwBytesRecorded,
                BitsOf(WaveIn.BitLength()) / 8);
    if (FGateListener.Take(reinterpret_cast<const std::uint8_t*>(h->wh.lpData),
                           h->wh.dwBytesRecorded))
      QMetaObject::invokeMethod(
          this, [this] { GateHeard(); }, Qt::QueuedConnection);
  };
  Connector.SetLevel1(levelLeft);
  Connector.SetLevel2(levelRight);
  TMMConnector::SetEnterIdle(false);
  Connector.SetInput(&WaveIn);

  // The session records 8096-byte buffers (what the track rule measures) in
  // cmWindow mode, writing over a row's track as designed (not only new files).
  WaveRecorder.SetNumBuffers(10);
  // Buffers come in pairs: half the wake-ups of the device's and the main
  // thread (each one a picture of the meters, which show the peaks of both).
  // A stop still takes in every sample recorded before it.
  WaveRecorder.SetBatch(2);
  WaveRecorder.SetTimeFormat(TMMTimeFormats::tfMillisecond);
  WaveRecorder.Wave()->SetTimeFormat(TMMTimeFormats::tfMillisecond);
  Session.Options().Device = 0;
  Session.Options().CreateNew = false;

  WavePlayer.SetBufferSize(2048);
  WavePlayer.SetNumBuffers(10);
  WavePlayer.SetDeviceID(0);
  WavePlayer.SetTimeFormat(TMMTimeFormats::tfMillisecond);
  WavePlayer.Wave()->SetTimeFormat(TMMTimeFormats::tfMillisecond);
  WavePlayer.SetCallBackMode(TMMCBMode::cmWindow);
  WavePlayer.OnStop = [this](TObject*) { WavePlayerStop(); };
  // The peak figures follow the input four times a second, while one runs.
  FPeakRefresh = new QTimer(this);
  FPeakRefresh->setInterval(250);
  connect(FPeakRefresh, &QTimer::timeout, this, [this] {
    Peaks->Refresh();
    if (!(WaveIn.State() & wisStarted) && !(WaveRecorder.State() & wisStarted))
      FPeakRefresh->stop();
  });
  FOutputWatch = new QTimer(this);
  FOutputWatch->setInterval(250);
  connect(FOutputWatch, &QTimer::timeout, this, [this] { WatchOutput(); });

  // Enabled only while a track records (the recording starts it): idle, it
  // would wake the program for nothing. The time and size cells change four
  // times a second: each change repaints the list, which costs more than a
  // picture of the meters.
  Timer.SetEnabled(false);
  Timer.SetInterval(250);
  Timer.SetOnTimer([this](TObject*) { TimerTimer(); });

  SetupGrid();
  SetRecordFormat();
  resize(543, 348);
  if (const QScreen* Screen = QGuiApplication::primaryScreen())
    move(Screen->availableGeometry().center() - rect().center());
  FormResize();
  FRecording = false;
  EnableMenus(true);
  // A rewrite of the output folder's tracks that a crash interrupted is
  // finished, and tracks that a crash left are mended; both are said.
  const QString Recovered =
      QString::fromStdString(RecoverRewrites(GetOutputFolder().toStdString()));
  const std::vector<std::string> Mended = RepairCrashedTracks(GetOutputFolder().toStdString());
  if (!Mended.empty()) {
    QStringList Names;
    for (const std::string& Name : Mended) Names << QString::fromStdString(Name);
    ShowStatus((Recovered.isEmpty() ? "" : Recovered + " ") +
               "Mended tracks left by a crash: " + Names.join(", "));
  } else if (!Recovered.isEmpty()) {
    ShowStatus(Recovered);
  } else if (!FolderNote.isEmpty()) {
    ShowStatus(FolderNote);
  } else {
    ShowInputNote();
  }
  StartMonitoring();
}

void TFormAudioRecorderMain::StartMonitoring() {
  if (!miMonitorLevels->isChecked() || FRecording || (WaveRecorder.State() & wisStarted) ||
      (WaveIn.State() & wisStarted))
    return;
  try {
    Connector.SetInput(&WaveIn);
    WaveIn.Start();
  } catch (const std::exception& e) {
    ShowStatus("The input cannot be monitored: " + QString::fromStdString(e.what()).simplified());
    return;
  }
  StartPeakRefresh();
}

void TFormAudioRecorderMain::StartPeakRefresh() {
  Peaks->Refresh();
  FPeakRefresh->start();
}

void TFormAudioRecorderMain::miMonitorLevelsClick() {
  if (miMonitorLevels->isChecked()) {
    FPeaks.Reset();
    StartMonitoring();
    return;
  }
  // Listening for the noise gate keeps the input until it is done.
  if (FGateListen != 0 || !(WaveIn.State() & wisStarted)) return;
  WaveIn.Stop();
  WaveIn.Close();
  levelLeft->ResetData();
  levelRight->ResetData();
}

void TFormAudioRecorderMain::AddChoice(QMenu* Menu, int Value, const QString& Text) {
  auto* Group = Menu->findChild<QActionGroup*>();
  if (!Group) Group = new QActionGroup(Menu);
  QAction* Choice = Menu->addAction(Text);
  Choice->setCheckable(true);
  Choice->setData(Value);
  Group->addAction(Choice);
}

int TFormAudioRecorderMain::Chosen(const QMenu* Menu) {
  for (const QAction* Choice : Menu->actions())
    if (Choice->isChecked()) return Choice->data().toInt();
  return 0;
}

void TFormAudioRecorderMain::Choose(QMenu* Menu, int Value) {
  for (QAction* Choice : Menu->actions())
    if (Choice->data().toInt() == Value) Choice->setChecked(true);
}

void TFormAudioRecorderMain::SetupGrid() {
  Grid->setColumnCount(4);
  Grid->setRowCount(1);
  Grid->horizontalHeader()->hide();
  Grid->verticalHeader()->hide();
  Grid->verticalHeader()->setDefaultSectionSize(kRowHeight);
  Grid->verticalHeader()->setMinimumSectionSize(kRowHeight);
  Grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
  Grid->setSelectionBehavior(QAbstractItemView::SelectRows);
  Grid->setSelectionMode(QAbstractItemView::SingleSelection);
  Grid->setFocusPolicy(Qt::StrongFocus);
  Grid->setFrameShape(QFrame::NoFrame);
  Grid->viewport()->setAcceptDrops(true);
  Grid->viewport()->installEventFilter(this);
  QFont Bold = LabelFont(true);
  Grid->setFont(Bold);
  const char* Headings[4] = {"Nb", "Track Name", "Time", "Size (kB)"};
  for (int c = 0; c < 4; ++c) SetCell(c, 0, Headings[c]);
  SetRow(0);
  connect(Grid, &QTableWidget::cellPressed, this, [this](int, int) { EditTrackName(); });
  ApplyGridColors();
}

void TFormAudioRecorderMain::ApplyGridColors() {
  const QColor Text = ToQColor(FGridColor), Back = ToQColor(FGridBackGroundColor);
  const QColor Line =
      QColor::fromRgbF((Text.redF() + 3 * Back.redF()) / 4, (Text.greenF() + 3 * Back.greenF()) / 4,
                       (Text.blueF() + 3 * Back.blueF()) / 4);
  // The selected row: the text colour over a third of the way from the background.
  const QColor Selected =
      QColor::fromRgbF((Text.redF() + 2 * Back.redF()) / 3, (Text.greenF() + 2 * Back.greenF()) / 3,
                       (Text.blueF() + 2 * Back.blueF()) / 3);
  Grid->setStyleSheet(QString("QTableWidget { background: %1; color: %2; gridline-color: %3; "
                              "selection-background-color: %4; selection-color: %2; }")
                          .arg(Back.name(), Text.name(), Line.name(), Selected.name()));
}

void TFormAudioRecorderMain::SetRecordFormat() {
  UseRecordingFormat(WaveRecorder, Session.Options().Format);
}

void TFormAudioRecorderMain::UseChosenFormat() {
  const WAVEFORMATEX& f = ChosenFormat(Chosen(miRecordingFormat));
  if (FormatChoice(f) == FormatChoice(Session.Options().Format)) return;
  const bool Monitoring = WaveIn.State() & wisStarted;
  StopGateListening();
  WaveIn.Close();
  Session.Options().Format = f;
  UseRecordingFormat(WaveIn, f);
  SetRecordFormat();
  FPeaks.Reset();
  levelLeft->ResetData();
  levelRight->ResetData();
  ShowTimeLeft();
  const std::string Text = RecordingFormatText(f);
  if (WaveInRefusesFormat(WaveIn.DeviceID(), f))
    ShowStatus(QString::fromStdString("The input does not record " + Text + "; it gives " +
                                      FormatsTheInputGives(WaveIn.DeviceID())));
  else
    ShowStatus(QString::fromStdString("Recording format: " + Text));
  if (Monitoring) StartMonitoring();
}

int TFormAudioRecorderMain::Row() const {
  return Grid->currentRow() < 0 ? 0 : Grid->currentRow();
}

void TFormAudioRecorderMain::SetRow(int Row) {
  Grid->setCurrentCell(Row, Grid->currentColumn() < 0 ? 1 : Grid->currentColumn());
}

QString TFormAudioRecorderMain::Cell(int Column, int Row) const {
  const QTableWidgetItem* Item = Grid->item(Row, Column);
  return Item ? Item->text() : QString();
}

void TFormAudioRecorderMain::SetCell(int Column, int Row, const QString& Text) {
  if (QTableWidgetItem* Item = Grid->item(Row, Column)) {
    Item->setText(Text);
    return;
  }
  Grid->setItem(Row, Column, new QTableWidgetItem(Text));
}

void TFormAudioRecorderMain::ShowStatus(const QString& Text) {
  FStatus->setText(FStatus->fontMetrics().elidedText(Text, Qt::ElideRight, FStatus->width()));
  FStatus->setToolTip(Text.isEmpty() ? Text : Text + "\n(View > Messages keeps every message)");
  FStatusText = Text;
  if (FMessages) FMessages->Add(Text);
}

void TFormAudioRecorderMain::miMessagesClick() {
  FMessages->show();
  FMessages->raise();
  FMessages->activateWindow();
}

void TFormAudioRecorderMain::SetDemoReason(const QString& Why) {
  FDemoReason = Why;
  ShowInputNote();
}

QString TFormAudioRecorderMain::InputNote() const {
  if (WaveInDeviceName(std::max<TMMDeviceId>(Session.Options().Device, 0)) != "Demo signal")
    return {};
  return "The input is the built-in demo signal" +
         (FDemoReason.isEmpty() ? QString(" (chosen in Options > Devices)") : ": " + FDemoReason);
}

void TFormAudioRecorderMain::ShowInputNote() {
  const QString Note = InputNote();
  FStyler.CaptionText().SetCaption(Note.isEmpty() ? "Velmar Audio Recorder "
                                                  : "Velmar Audio Recorder (demo input) ");
  if (!Note.isEmpty() || StatusText().startsWith("The input is the built-in demo signal"))
    ShowStatus(Note);
}

QString TFormAudioRecorderMain::GetOutputFolder() {
  const QString Folder = FOutputDestination->GetFolder();
  lblOutputFolder->setText(Folder);
  lblOutputFolder->adjustSize();
  ShowTimeLeft();
  return Folder;
}

void TFormAudioRecorderMain::SetOutputFolder(const QString& Folder) {
  FOutputDestination->SetFolder(Folder);
  lblOutputFolder->setText(Folder);
  lblOutputFolder->adjustSize();
  ShowTimeLeft();
}

void TFormAudioRecorderMain::ShowTimeLeft(bool Now) {
  const auto t = std::chrono::steady_clock::now();
  if (!Now && t - FTimeLeftShownAt < std::chrono::seconds(1)) return;
  FTimeLeftShownAt = t;
  lblTimeLeft->setText(QString::fromStdString(
      RecordingTimeLeft(lblOutputFolder->text().toStdString(), Session.Options().Format)));
}

void TFormAudioRecorderMain::InputGone(const std::string& Text) {
  ShowStatus(Sentence(Text));
}

void TFormAudioRecorderMain::DiskTimeShort(const std::string& Text) {
  ShowTimeLeft();
  ShowStatus(Sentence(Text));
}

void TFormAudioRecorderMain::LoadSettings() {
  FOutputDestination->SetFolder(GetOutputFolder());
  FOutputDestination->LoadPath();
  try {
    auto Int = [](const char* Name, int Default) {
      return ReadRegValue(kSettingsRoot, kSettingsKey, Name, Default);
    };
    NoiseGate->SetPosition(Int("NoiseGate", NoiseGate->Position()));
    WhideGate->SetPosition(Int("WhideGate", WhideGate->Position()));
    MinSec->SetPosition(Int("MinSec", MinSec->Position()));
    WaveIn.SetDeviceID(Int("Input", WaveIn.DeviceID()));
    WaveOut.SetDeviceID(Int("Output", WaveOut.DeviceID()));
    rbAutoOn->SetChecked(
        ReadRegValue(kSettingsRoot, kSettingsKey, "AutoSplit", rbAutoOn->Checked()));
    rbAutoOff->SetChecked(!rbAutoOn->Checked());
    // Applied after the position: a saved position above the old maximum was clamped.
    MinSec->SetMaxValue(Int("MaxMinSec", 180));
    FGridColor = Int("GridColor", 65280);
    FGridBackGroundColor = Int("GridBackGroundColor", 0);
    ApplyGridColors();
    miMonitorLevels->setChecked(Int("MonitorLevels", 1) != 0);
    miStartOnSound->setChecked(Int("StartOnSound", 0) != 0);
    Choose(miSideEnd, Int("SideEnd", 0));
    Choose(miInputWait, Int("InputWait", kDefaultInputWait));
    const WAVEFORMATEX& Format = ChosenFormat(Int("RecordingFormat", FormatChoice(CdFormat())));
    Choose(miRecordingFormat, FormatChoice(Format));
    Session.Options().Format = Format;
    UseRecordingFormat(WaveIn, Format);
    SetRecordFormat();
  } catch (const std::exception& e) {
    // The rest of the block is skipped, as designed; it is said.
    ShowStatus("Some settings could not be read (" + QString::fromStdString(e.what()) +
               "): the rest are the defaults");
  }
}

void TFormAudioRecorderMain::SaveSettings() {
  bool Saved = FOutputDestination->SavePath();
  try {
    auto Int = [&Saved](const char* Name, int Value) {
      Saved &= WriteRegValue(kSettingsRoot, kSettingsKey, Name, Value);
    };
    Int("NoiseGate", NoiseGate->Position());
    Int("WhideGate", WhideGate->Position());
    Int("MinSec", MinSec->Position());
    Int("Input", WaveIn.DeviceID());
    Int("Output", WaveOut.DeviceID());
    Saved &= WriteRegValue(kSettingsRoot, kSettingsKey, "AutoSplit", rbAutoOn->Checked());
    Int("GridColor", FGridColor);
    Int("GridBackGroundColor", FGridBackGroundColor);
    Int("MonitorLevels", miMonitorLevels->isChecked() ? 1 : 0);
    Int("StartOnSound", miStartOnSound->isChecked() ? 1 : 0);
    Int("SideEnd", Chosen(miSideEnd));
    Int("InputWait", Chosen(miInputWait));
    Int("RecordingFormat", FormatChoice(Session.Options().Format));
  } catch (const std::exception&) {
    Saved = false;
  }
  // Said where it can be read after the window has gone, and in the window.
  if (!Saved) {
    std::fprintf(stderr, "velmar-recorder: the settings were not saved in %s\n",
                 RegistryFileName().c_str());
    ShowStatus("The settings were not saved in " + QString::fromStdString(RegistryFileName()));
  }
}

void TFormAudioRecorderMain::closeEvent(QCloseEvent* Event) {
  // The close message saves once, however the window is closed.
  if (!FSaved) {
    SaveSettings();
    FSaved = true;
  }
  Event->accept();
}

void TFormAudioRecorderMain::miExitClick() {
  close();
}

void TFormAudioRecorderMain::resizeEvent(QResizeEvent* Event) {
  QWidget::resizeEvent(Event);
  FormResize();
}

void TFormAudioRecorderMain::FormResize() {
  Grid->setColumnWidth(0, 25);
  Grid->setColumnWidth(1, std::max(0, width() - 180));
  Grid->setColumnWidth(2, 60);
  Grid->setColumnWidth(3, 60);
}

void TFormAudioRecorderMain::EnableMenus(bool Enabled) {
  for (QMenu* Menu : {miFile, miMP3, miOptions}) Menu->menuAction()->setEnabled(Enabled);
}

void TFormAudioRecorderMain::NoiseGateChange() {
  // The gate as the level a quiet stretch stays under, which the time gate sums.
  lblNoiseGate->setText(
      QString("Noise Gate %1 dB")
          .arg(std::lround(NoiseGateDb(NoiseGate->Position(), WhideGate->Position()))));
  lblNoiseGate->adjustSize();
}

void TFormAudioRecorderMain::WhideGateChange() {
  lblWhideGateStr->setText(QString::fromStdString(TimeGateLabel(WhideGate->Position())));
  lblWhideGateStr->adjustSize();
  NoiseGateChange();
}

void TFormAudioRecorderMain::MinSecChange() {
  lblMinSecStr->setText(QString::fromStdString(MinSecLabel(MinSec->Position())));
  lblMinSecStr->adjustSize();
}

void TFormAudioRecorderMain::sbRecordClick() {
  if (GetPlaying()) return;
  if (WaveRecorder.State() & wisStarted) {
    // A split by hand: the next track goes on from the next sample.
    Timer.SetEnabled(false);
    Session.SplitNow();
    if (WaveRecorder.State() & wisStarted) Timer.SetEnabled(true);
    return;
  }
  Grid->setEnabled(false);
  StopGateListening();
  WaveIn.Close();
  Connector.SetInput(&WaveRecorder);
  ShowStatus(InputNote());
  FPeaks.Reset();  // the figures and lamps of this recording
  StartPeakRefresh();
  StartNewTrack();
}

void TFormAudioRecorderMain::StartNewTrack() {
  Timer.SetEnabled(false);
  // The track goes into the row after the selected one; with none or the last
  // selected, after the highest track in the folder (an earlier sitting's
  // tracks stay). A file from before this start is never written over: the
  // session takes the next free number.
  Session.Options().Folder = GetOutputFolder().toStdString();
  Session.Options().FirstNumber = Row() == 0 || Row() == Grid->rowCount() - 1 ? 0 : Row() + 1;
  Session.Options().WaitForSound = miStartOnSound->isChecked();
  const int SideEnd = Chosen(miSideEnd);
  Session.Options().SideEndSeconds = std::max(SideEnd, 0);
  Session.Options().KeepGoing = SideEnd < 0;
  Session.Options().WaitForInputSeconds = Chosen(miInputWait);
  Session.Start();  // TrackStarted, or RecordingEnded saying why not
  // Once for each input: a sound server that resamples it.
  QString RateNote;
  if (WaveRecorder.State() & wisStarted && FRateNoted != Session.Options().Device) {
    FRateNoted = Session.Options().Device;
    RateNote =
        Sentence(WaveInRateNote(static_cast<std::uint32_t>(Session.Options().Device),
                                static_cast<int>(Session.Options().Format.nSamplesPerSec)));
    if (!RateNote.isEmpty()) ShowStatus(RateNote);
  }
  if (!Session.Waiting()) return;
  // No row until the sound comes; the input is watched meanwhile.
  ShowStatus(QString("Waiting for sound on %1...%2")
                 .arg(QString::fromStdString(WaveRecorder.ProductName()),
                      RateNote.isEmpty() ? QString() : " " + RateNote));
  Timer.SetEnabled(true);
  FRecording = true;
  EnableMenus(false);
}

TTrackSettings TFormAudioRecorderMain::RuleSettings(const TTrackSettings&) {
  return {NoiseGate->Position(), WhideGate->Position(), MinSec->Position(), rbAutoOn->Checked()};
}

void TFormAudioRecorderMain::ShowTrack(int Row, const QString& Name, int Ms) {
  SetCell(0, Row, QString::fromStdString(TrackNumberText(Row)));
  SetCell(1, Row, Name);
  SetCell(2, Row, QString::fromStdString(TimeToText(Ms)));
  SetCell(3, Row, QString::number(MsToKBytes(Ms, Session.Options().Format.nAvgBytesPerSec)));
}

void TFormAudioRecorderMain::TrackStarted(const TTrackInfo& Track) {
  if (const int Rows = Grid->rowCount(); Rows <= Track.Number) {
    Grid->setRowCount(Track.Number + 1);
    // The rows up to it list the folder's tracks from before.
    const QDir Folder(GetOutputFolder());
    for (int r = Rows; r < Track.Number; ++r) {
      const std::string Name = TrackFileName(r);
      TWaveScan Scan;
      std::string Error;
      if (ScanWaveFile(Folder.filePath(QString::fromStdString(Name)).toStdString(), Scan, Error))
        ShowTrack(r, QString::fromStdString(Name),
                  static_cast<int>(SamplesToTime64(Scan.Format(), Scan.Frames())));
    }
  }
  SetRow(Track.Number);
  ShowTrack(Track.Number, QString::fromStdString(TrackFileName(Track.Number)), 0);
  if (StatusText().startsWith("Waiting for sound")) ShowStatus(InputNote());
  Grid->setEnabled(false);
  Timer.SetEnabled(true);
  FRecording = true;
  EnableMenus(false);
}

void TFormAudioRecorderMain::TrackEnded(const TTrackInfo& Track, TTrackEnd Why,
                                        const TTrackInfo* Next) {
  // The row shows what the file holds, not the last refresh.
  SetCell(2, Track.Number, QString::fromStdString(TimeToText(Track.Ms)));
  SetCell(3, Track.Number, QString::number(Track.KBytes));
  if (Why == TTrackEnd::SizeLimit && Next)
    ShowStatus(QString("%1 reached the largest size of a WAV file; recording goes on in %2")
                   .arg(QString::fromStdString(TrackFileName(Track.Number)),
                        QString::fromStdString(TrackFileName(Next->Number))));
  else if (Track.ClippedSamples > 0)
    ShowStatus(Sentence(Track.ClipText()));
  else if (Track.OnlyNoise)
    ShowStatus(Sentence(Track.NoiseText()));
}

void TFormAudioRecorderMain::BufferTaken(const std::uint8_t* Data, std::uint32_t Bytes,
                                         const TTrackInfo&) {
  FPeaks.Take(Data, Bytes, Session.Options().Format.wBitsPerSample / 8);
}

void TFormAudioRecorderMain::DropoutFound(const TTrackInfo& Track, const TTrackDropout& Dropout) {
  const int Count = Session.Dropouts();
  ShowStatus(
      Sentence(Dropout.Text(TrackFileName(Track.Number))) +
      QString(" (%1 %2 in this recording)").arg(Count).arg(Count == 1 ? "dropout" : "dropouts"));
}

void TFormAudioRecorderMain::SleepNotHeldOff(const std::string& Why) {
  ShowStatus(Sentence("The machine may sleep while recording: " + Why));
}

void TFormAudioRecorderMain::RecordingEnded(TSessionEnd Why) {
  Timer.SetEnabled(false);
  ShowTimeLeft();
  QString Said = Sentence(Session.Message(true));
  // The recording's losses stay said after it ended.
  if (const std::string Lost = Session.DropoutSummary(); !Lost.empty())
    Said = (Said.isEmpty() ? QString() : Said + " ") + Sentence(Lost);
  if (Said.isEmpty()) Said = StatusText();  // what was said while recording stays
  // Then how the level was, for the next side.
  if (const std::string Level = Session.LevelNote(); !Level.empty())
    Said = (Said.isEmpty() ? QString() : Said + ". ") + Sentence(Level);
  if (!Said.isEmpty()) ShowStatus(Said);
  if (Why == TSessionEnd::Stopped) return;  // sbStopClick sets the state
  // Any other end leaves the window as Stop does: reviewing, playing and
  // choosing work at once. After an end the recording found itself (the
  // side's, the set length) the meters show the input again once the
  // recorder has let it go; after a lost input or a full disk they stay dark
  // until the next Stop, since the input may be gone.
  Grid->setEnabled(true);
  FRecording = false;
  EnableMenus(true);
  Connector.SetInput(&WaveIn);
  if (Why == TSessionEnd::TooShort || Why == TSessionEnd::Limit)
    QTimer::singleShot(0, this, [this] { StartMonitoring(); });
}

void TFormAudioRecorderMain::TimerTimer() {
  if (WaveRecorder.State() != (wisOpened | wisStarted)) return;  // not paused
  Session.CheckInput();  // a lost input ends the recording and says so
  if (WaveRecorder.State() != (wisOpened | wisStarted) || Session.Waiting()) return;
  // An input that stops delivering shows dark meters, not its last level.
  const auto Now = std::chrono::steady_clock::now();
  if (const std::int64_t Bytes = WaveRecorder.WaveIn().BytesRecorded(); Bytes != FBytesSeen) {
    FBytesSeen = Bytes;
    FBytesSeenAt = Now;
  } else if (Now - FBytesSeenAt > std::chrono::milliseconds(300)) {
    levelLeft->ResetData();
    levelRight->ResetData();
  }
  // What the track holds (with a start on sound, its pre-roll too).
  const std::int64_t Position = Session.Track().Ms;
  SetCell(2, Row(), QString::fromStdString(TimeToText(Position)));
  SetCell(3, Row(),
          QString::number(MsToKBytes(Position, Session.Options().Format.nAvgBytesPerSec)));
  ShowTimeLeft(false);
}

void TFormAudioRecorderMain::sbStopClick() {
  if (WaveRecorder.State() & wisStarted) {
    Timer.SetEnabled(false);
    Grid->setEnabled(true);
    Session.Stop();
    FRecording = false;
    FPlaying = false;
    StartMonitoring();
  } else if (WavePlayer.State() & wosStarted) {
    WavePlayer.Stop();
    Grid->setEnabled(true);
    FPlaying = false;
  }
  FRecording = false;
  EnableMenus(true);
}

void TFormAudioRecorderMain::sbPlayClick() {
  if (QWidget* Focus = QApplication::focusWidget(); Focus && isAncestorOf(Focus))
    Focus->clearFocus();
  if (FPlaying) {
    sbStopClick();
    FPlaying = false;
    sbPlayClick();
    return;
  }
  if ((WaveRecorder.State() & wisStarted) || Row() <= 0) return;
  const QString Path = QDir(GetOutputFolder()).filePath(Cell(1, Row()));
  if (!QFileInfo::exists(Path)) return;
  WavePlayer.LoadFile(Path.toStdString());
  WavePlayer.Play();
  // A track without audio does not play: nothing would end the playing state.
  if (!(WavePlayer.State() & wosStarted)) return;
  Grid->setEnabled(false);
  FPlaying = true;
  FOutputWatch->start();
}

void TFormAudioRecorderMain::sbNextClick() {
  if ((WaveRecorder.State() & wisStarted) || Row() == 0 || Grid->rowCount() < 2) return;
  const int Next = Row() == Grid->rowCount() - 1 ? 1 : Row() + 1;
  if (WavePlayer.State() & wosStarted) {
    WavePlayer.Stop();
    SetRow(Next);
    sbPlayClick();
    return;
  }
  SetRow(Next);
}

void TFormAudioRecorderMain::sbPreviousClick() {
  if ((WaveRecorder.State() & wisStarted) || Row() == 0 || Grid->rowCount() < 2) return;
  const int Previous = Row() == 1 ? Grid->rowCount() - 1 : Row() - 1;
  if (WavePlayer.State() & wosStarted) {
    WavePlayer.Stop();
    SetRow(Previous);
    sbPlayClick();
    return;
  }
  SetRow(Previous);
}

void TFormAudioRecorderMain::WavePlayerStop() {
  FOutputWatch->stop();
  FPlaying = false;
  Grid->setEnabled(true);
}

void TFormAudioRecorderMain::WatchOutput() {
  if (!WavePlayer.OutputStalled()) return;
  const QString At = QString::fromStdString(TimeToText(WavePlayer.GetPosition()));
  WavePlayer.Stop();
  WavePlayerStop();
  ShowStatus(QString("The output is gone (nothing played for 2 s): %1 stopped at %2")
                 .arg(Cell(1, Row()), At));
}

void TFormAudioRecorderMain::EditTrackName() {
  const int r = Row();
  if (r <= 0) return;
  const QPoint GridAt = Grid->mapToGlobal(QPoint(0, 0));
  FEditForm->move(Grid->columnWidth(0) + GridAt.x() + 4,
                  Grid->rowHeight(1) * (r + 1) + GridAt.y() + 20);
  const QString Old = Cell(1, r);
  FEditForm->SetText(Old);
  FEditForm->exec();
  const QString Result = FEditForm->GetTextWithExt("WAV");
  SetCell(1, r, Result);
  const QDir Folder(GetOutputFolder());
  if (Result != Old &&
      !RenameNoReplace(Folder.filePath(Old).toStdString(), Folder.filePath(Result).toStdString()))
    SetCell(1, r, Old);
}

void TFormAudioRecorderMain::miNewClick() {
  if (FRecording || FPlaying) return;
  Grid->setRowCount(1);
}

void TFormAudioRecorderMain::miReviewClick() {
  if (FRecording || FPlaying) return;
  const QDir Folder(GetOutputFolder());
  std::vector<std::string> Tracks;
  for (int r = 1; r < Grid->rowCount(); ++r)
    if (QFileInfo::exists(Folder.filePath(Cell(1, r))))
      Tracks.push_back(Folder.filePath(Cell(1, r)).toStdString());

  if (Tracks.empty()) Tracks = ChooseTracks();
  if (Tracks.empty()) return;
  if (FReview) FReview->close();
  FReview = new TFormReview(Tracks, RuleSettings({}), WaveOut.DeviceID(), ToQColor(FGridColor),
                            ToQColor(FGridBackGroundColor), this);
  FReview->setAttribute(Qt::WA_DeleteOnClose);
  // The grid stays as the side is until the review is done with it.
  FReview->setWindowModality(Qt::WindowModal);
  // The list shows what the review wrote, wherever its tracks came from, so
  // that the conversions take the album as it now is.
  FReview->OnHelp = [this] { FHelp->ShowKeyword("Review"); };
  FReview->OnApplied = [this](const std::vector<std::string>& Written) {
    Grid->setRowCount(1);
    ListTracks(Written);
    ShowStatus(QString("%1 tracks written in %2")
                   .arg(Written.size())
                   .arg(Written.empty()
                            ? GetOutputFolder()
                            : QFileInfo(QString::fromStdString(Written[0])).absolutePath()));
  };
  FReview->show();
  FReview->activateWindow();
}

void TFormAudioRecorderMain::ListTracks(const std::vector<std::string>& Files) {
  const QDir Folder(GetOutputFolder());
  for (const std::string& File : Files) {
    TWaveScan Scan;
    std::string Error;
    if (!ScanWaveFile(File, Scan, Error)) {
      // By its name: the status line is one line, and the reason must fit.
      ShowStatus(QFileInfo(QString::fromStdString(File)).fileName() +
                 QString::fromStdString(" is not a WAV file that can be listed: " + Error));
      continue;
    }
    // A track of the output folder by its name, any other by its path.
    const QFileInfo Info(QString::fromStdString(File));
    const QString Name =
        Info.absolutePath() == Folder.absolutePath() ? Info.fileName() : Info.absoluteFilePath();
    const int Row = Grid->rowCount();
    Grid->setRowCount(Row + 1);
    ShowTrack(Row, Name, static_cast<int>(SamplesToTime64(Scan.Format(), Scan.Frames())));
  }
  if (Grid->rowCount() > 1 && Row() == 0) SetRow(1);
}

void TFormAudioRecorderMain::miAddTracksClick() {
  if (FRecording || FPlaying) return;
  const QStringList Files = QFileDialog::getOpenFileNames(this, "Add Tracks", GetOutputFolder(),
                                                          "WAV files (*.wav *.WAV);;All files (*)");
  std::vector<std::string> Paths;
  for (const QString& f : Files) Paths.push_back(f.toStdString());
  ListTracks(Paths);
}

void TFormAudioRecorderMain::miRemoveFromListClick() {
  if (FRecording || FPlaying || Row() <= 0) return;
  // The file stays where it is; only the list forgets it.
  const int Was = Row();
  Grid->removeRow(Was);
  for (int r = 1; r < Grid->rowCount(); ++r)
    SetCell(0, r, QString::fromStdString(TrackNumberText(r)));
  if (Grid->rowCount() > 1) SetRow(std::min(Was, Grid->rowCount() - 1));
}

void TFormAudioRecorderMain::miDestinationClick() {
  try {
    // The dialog opens on the folder as it is, made or not: a folder that
    // cannot be made must not keep the user from choosing another.
    const QString Old = lblOutputFolder->text();
    FOutputDestination->SetFolder(Old);
    if (FOutputDestination->Execute())
      SetOutputFolder(FOutputDestination->GetFolder());
    else
      SetOutputFolder(Old);
  } catch (const std::exception&) {
    QMessageBox::critical(this, "Velmar Audio Recorder", "Unable to edit \"Output Foler\".");
  }
}

void TFormAudioRecorderMain::miInputDeviceClick() {
  TFormDevices Devices(FSkin, this);
  Devices.OnHelp = [this] { FHelp->ShowKeyword("Devices"); };
  if (FRecording || FPlaying) return;
  try {
    StopGateListening();
    WaveIn.Close();
    WaveRecorder.Stop();
    Devices.Execute(WaveIn, WaveOut);
    Session.Options().Device = WaveIn.DeviceID();
    ShowInputNote();
    WavePlayer.SetDeviceID(WaveOut.DeviceID());
    StartMonitoring();  // the input chosen
  } catch (const std::exception&) {
    QMessageBox::critical(
        this, "Velmar Audio Recorder",
        "Error while setting input/output device. Check if one or both devices you have chosen "
        "is busy");
  }
}

void TFormAudioRecorderMain::miGateFromInputClick() {
  if (FRecording || FPlaying || FGateListen != 0) return;
  FGateListener.Start(FGateListenBytes);
  try {
    if (!(WaveIn.State() & wisStarted)) WaveIn.Start();  // the meters show it too
  } catch (const std::exception& e) {
    FGateListener.Stop();
    ShowStatus("The input cannot be listened to: " + QString::fromStdString(e.what()).simplified());
    return;
  }
  const int Listen = ++FGateListens;
  FGateListen = Listen;
  ShowStatus("Listening to the input's noise for 3 s (nothing playing)...");
  // An input that delivers too little is said, not waited for.
  QTimer::singleShot(8000, this, [this, Listen] {
    if (FGateListen == Listen) GateHeard();
  });
}

void TFormAudioRecorderMain::StopGateListening() {
  FGateListen = 0;
  FGateListener.Stop();
}

void TFormAudioRecorderMain::GateHeard() {
  if (FGateListen == 0) return;
  FGateListen = 0;
  const int TimeGate = WhideGate->Position();
  std::size_t Got = 0;
  const WAVEFORMATEX& Format = Session.Options().Format;
  const TGateFromNoise g =
      FGateListener.Heard(TimeGate, RuleBufferBytes(Format.nSamplesPerSec, Format.nBlockAlign), Got,
                          Format.wBitsPerSample / 8);
  if (!g.Measured) {
    ShowStatus(QString("The input delivered %1 s of 3 s: the noise gate stays as it was")
                   .arg(static_cast<double>(Got) / Session.Options().Format.nAvgBytesPerSec, 0,
                        'f', 1));
  } else if (g.TooLoud) {
    ShowStatus(QString("The input's noise (%1 dBFS) is louder than the highest noise gate takes "
                       "for quiet: the gate stays as it was")
                   .arg(g.NoiseDb, 0, 'f', 1));
  } else {
    NoiseGate->SetPosition(g.Gate);
    ShowStatus(QString("Noise gate set to %1, 6 dB above the input's noise (%2)")
                   .arg(QString::fromStdString(NoiseGateText(g.Gate, TimeGate)))
                   .arg(std::isinf(g.NoiseDb) ? QString("digital silence")
                                              : QString::number(g.NoiseDb, 'f', 1) + " dBFS"));
  }
}

void TFormAudioRecorderMain::miColorsClick() {
  const std::optional<TColor> Chosen = ChooseColor(FGridBackGroundColor);
  if (!Chosen) return;
  if (*Chosen != FGridColor) FGridBackGroundColor = *Chosen;
  ApplyGridColors();
}

void TFormAudioRecorderMain::miTextcolorClick() {
  const std::optional<TColor> Chosen = ChooseColor(FGridColor);
  if (!Chosen) return;
  if (*Chosen != FGridBackGroundColor) FGridColor = *Chosen;
  ApplyGridColors();
}

void TFormAudioRecorderMain::miAboutClick() {
  QMessageBox About(this);
  About.setWindowTitle("About");
  About.setText("<b>Velmar Audio Recorder</b>");
  About.setInformativeText(
      "Records your sound card's input into numbered WAV tracks and splits them by itself when the "
      "input falls "
      "silent.\n\nVersion " VELMAR_VERSION);
  About.setIconPixmap(QPixmap::fromImage(SkinImage(FSkin.FRecordButtons, 2)));
  About.exec();
}

void TFormAudioRecorderMain::miIndexClick() {
  FHelp->ShowKeyword("MainForm");
}

void TFormAudioRecorderMain::miFAQClick() {
  FHelp->ShowKeyword("FAQ");
}

void TFormAudioRecorderMain::ConvertTracks(bool Flac) {
  try {
    std::vector<std::string> Files;
    for (int r = 1; r < Grid->rowCount(); ++r)
      Files.push_back(QDir(lblOutputFolder->text()).filePath(Cell(1, r)).toStdString());
    WriteEncoderFileList(Files);
    const std::string CommandLine = CommandLineFor(GetEncoderProgram());
    QString Error;
    // The design starts the program silently; a program that cannot start is said.
    if (!RunProgram(CommandLine, Error,
                    Flac ? std::vector<std::string>{"--flac"} : std::vector<std::string>{}))
      ShowStatus(QString("The %1 encoder %2 could not be started: %3")
                     .arg(Flac ? "FLAC" : "MP3", QString::fromStdString(CommandLine), Error));
    else
      ShowStatus({});
  } catch (const std::exception&) {
    QMessageBox::critical(this, "Velmar Audio Recorder",
                          "Can not save the file list to the registry!");
  }
}

bool TFormAudioRecorderMain::RunProgram(const std::string& CommandLine, QString& Error,
                                        const std::vector<std::string>& Arguments) {
  std::string Reason;
  TStartedProgram Program = StartProgram(ProgramFile(CommandLine), Reason, Arguments);
  if (Program.Pid < 0) {
    Error = QString::fromStdString(Reason);
    return false;
  }
  // The design blocks the window until the program ends; here the window
  // keeps painting but takes no input, and the loop wakes when it ends.
  setEnabled(false);
  if (Program.ExitFd >= 0) {
    QEventLoop Loop;
    QSocketNotifier Ended(Program.ExitFd, QSocketNotifier::Read);
    connect(&Ended, &QSocketNotifier::activated, &Loop, &QEventLoop::quit);
    Loop.exec();
  }
  ReapProgram(Program);
  setEnabled(true);
  return true;
}

int TFormAudioRecorderMain::HelpContext() const {
  for (QMenu* Menu : {miFile, miInput, miMP3, miView, miOptions, miHelp}) {
    if (!Menu->isVisible() || !Menu->activeAction()) continue;
    const auto Found = FHelpContexts.find(Menu->activeAction());
    return Found == FHelpContexts.end() ? 3000 : Found->second;
  }
  const QWidget* Focus = QApplication::focusWidget();
  if (Focus && PanelButtons->isAncestorOf(Focus)) return 3300;
  if (PanelButtons->underMouse()) return 3300;
  return 3000;
}

bool TFormAudioRecorderMain::eventFilter(QObject* Watched, QEvent* Event) {
  // WAV files dropped on the list join it.
  if (Watched == Grid->viewport() &&
      (Event->type() == QEvent::DragEnter || Event->type() == QEvent::Drop)) {
    auto* Drop = static_cast<QDropEvent*>(Event);
    if (!Drop->mimeData()->hasUrls() || FRecording || FPlaying) return false;
    Drop->acceptProposedAction();
    if (Event->type() == QEvent::Drop) {
      std::vector<std::string> Paths;
      for (const QUrl& Url : Drop->mimeData()->urls())
        if (Url.isLocalFile()) Paths.push_back(Url.toLocalFile().toStdString());
      ListTracks(Paths);
    }
    return true;
  }
  if (Watched == FStatus && Event->type() == QEvent::MouseButtonPress) {
    miMessagesClick();
    return true;
  }
  if (Event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(Event)->key() == Qt::Key_F1) {
    FHelp->ShowContext(HelpContext());
    return true;
  }
  return QWidget::eventFilter(Watched, Event);
}

}  // namespace velmar

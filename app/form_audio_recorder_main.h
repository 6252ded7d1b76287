// TFormAudioRecorderMain: the recorder's main window. The track list above,
// the control panel below (transport buttons, meters, gates, the split switch,
// the output folder), the menus, and the engine behind them: the monitoring
// input, the connector feeding the meters, the recorder with the track rule,
// the player and the display timer. The command handlers follow the design's
// names and order of steps. A recording is a TRecordingSession: the window
// asks it to start, split and stop, and shows what it reports (rows, cells,
// the status line); the session decides where tracks end and never stops the
// input between them.
//
// Owns its controls (Qt children), its engine components and its dialogs;
// refers to the skin holder, which outlives it. Everything runs on the main
// thread: the session's recorder and the player deliver there (cmWindow), the
// timer too; the monitoring input runs on its own thread and only feeds the
// connector.
#pragma once

#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QTableWidget>
#include <QTimer>
#include <QWidget>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "controls/bitmap_button.h"
#include "controls/bitmap_radio_button.h"
#include "controls/bitmap_slider.h"
#include "controls/connector.h"
#include "controls/form_styler.h"
#include "controls/level.h"
#include "controls/panel_fill.h"
#include "session/gate_from_noise.h"
#include "session/recording_session.h"
#include "stream/hi_timer.h"
#include "stream/wave_in.h"
#include "stream/wave_out.h"
#include "wavefile/wave_player.h"
#include "wavefile/wave_recorder.h"

namespace velmar {

class TFormAudioGraphics;
class TPeakReadout;
class TFormEdit;
class TFormOutputDestination;
class TFormReview;
class THelpWindow;
class TMessagesWindow;
namespace test {
struct TWindowSeam;
}

class TFormAudioRecorderMain : public QWidget, private TSessionEvents {
 public:
  // Builds the window on the skin and runs FormCreate (settings loaded).
  explicit TFormAudioRecorderMain(TFormAudioGraphics& Skin, QWidget* Parent = nullptr);
  ~TFormAudioRecorderMain() override;

  // Commands (Parts of the window's behaviour by name).
  void sbRecordClick();
  void sbStopClick();
  void sbPlayClick();
  void sbNextClick();
  void sbPreviousClick();
  void miNewClick();
  // File > "Review Tracks": the grid's tracks (or files chosen when it is
  // empty) in the review window; what it applies comes back into the grid.
  void miReviewClick();
  void miAddTracksClick();       // WAV files chosen in a dialog join the list
  void miRemoveFromListClick();  // the selected row leaves the list; its file stays
  void miDestinationClick();
  void miInputDeviceClick();
  // Options > "Set Noise Gate from Input": listens to 3 s of the input through
  // the monitoring input (started if it was not) and sets the noise gate 6 dB
  // above the loudest stretch of its noise (GateHeard, on the main thread).
  void miGateFromInputClick();
  // Input > "Monitor Levels" (saved; on at a first start): the meters and the
  // peak figures show the input while nothing records, from the window's start.
  void miMonitorLevelsClick();
  void miColorsClick();
  void miTextcolorClick();
  void miExitClick();
  void miAboutClick();
  void miIndexClick();
  void miMessagesClick();
  void miFAQClick();
  // MP3 > "Convert Files to MP3": every track's path into the encoder's
  // "FileList", then its program started and waited for (the window keeps
  // painting and refuses input meanwhile). "Convert Files to FLAC" hands the
  // tracks over the same way, with the program's --flac.
  void miMP3EncoderClick() { ConvertTracks(false); }
  void miFlacEncoderClick() { ConvertTracks(true); }
  void ConvertTracks(bool Flac);
  void EditTrackName();
  void LoadSettings();
  void SaveSettings();
  void FormResize();

  // The output folder (the folder dialog's field); also refreshes the label.
  QString GetOutputFolder();
  void SetOutputFolder(const QString& Folder);
  bool GetPlaying() const { return FPlaying; }
  bool Recording() const { return FRecording; }
  // The line that says what happened to a recording (empty when all is well).
  QString StatusText() const { return FStatusText; }
  // The input is the built-in demo signal because of Why (the default input
  // could not be opened): said in the status line and the caption.
  void SetDemoReason(const QString& Why);
  // The help page the F1 key would show now.
  int HelpContext() const;

  // How the colour commands ask for a colour: the platform's colour dialog;
  // tests answer for it. No value: the dialog was cancelled.
  std::function<std::optional<TColor>(TColor Initial)> ChooseColor;
  // How Review asks for WAV files when the grid has no tracks: the platform's
  // file dialog; tests answer for it. Empty: cancelled.
  std::function<std::vector<std::string>()> ChooseTracks;

  // The window's parts, by the design's names: what a user (and a test) acts on.
  QMenuBar* MainMenu;
  QMenu* miFile;
  QMenu* miInput;
  QMenu* miMP3;
  QMenu* miOptions;
  QMenu* miView;
  QMenu* miHelp;
  QTableWidget* Grid;
  TMMPanelFill* PanelButtons;
  TMMPanelFill* PanelDisplay;
  TMMBitmapButton* sbPrevious;
  TMMBitmapButton* sbPlay;
  TMMBitmapButton* sbNext;
  TMMBitmapButton* sbRecord;
  TMMBitmapButton* sbStop;
  TMMBitmapButton* sbEject;
  TMMLevel* levelLeft;
  TMMLevel* levelRight;
  TPeakReadout* Peaks;  // the peak figures and clip lamps beside the meters
  QAction* miMonitorLevels;
  // Options > "Start on Sound" (saved; off at first): Rec waits, with no
  // track, until the input passes the noise gate; the track keeps the second
  // before it.
  QAction* miStartOnSound;
  // Options > "End of Side": when silence ends a recording (saved as
  // "SideEnd": 0 a track silent at the minimum length, as designed; N, N s of
  // silence; -1 never, every silence starting the next track).
  QMenu* miSideEnd;
  QMenu* miInputWait;  // how long a recording waits for an input that went away
  // Options > "Recording Format" (saved as "RecordingFormat": bits * 1000000
  // + rate; the designed 16-bit 44.1 kHz by default).
  QMenu* miRecordingFormat;
  TMMBitmapSlider* NoiseGate;
  TMMBitmapSlider* WhideGate;
  TMMBitmapSlider* MinSec;
  QLabel* lblWhideGateStr;
  QLabel* lblNoiseGate;
  QLabel* lblMinSecStr;
  QLabel* lblOutputFolder;
  QLabel* lblTimeLeft;  // the recording time the folder's disk has room for
  TMMBitmapRadioButton* rbAutoOn;
  TMMBitmapRadioButton* rbAutoOff;

 protected:
  void closeEvent(QCloseEvent* Event) override;
  void resizeEvent(QResizeEvent* Event) override;
  bool eventFilter(QObject* Watched, QEvent* Event) override;

 private:
  // The tests reach the engine and the dialogs through one seam of their own
  // (tests/app/window_seam.h); nothing else outside sees them.
  friend struct test::TWindowSeam;

  void FormCreate();
  void BuildMenus();
  void BuildPanel();
  void SetupGrid();
  void SetRecordFormat();
  // The format chosen in Options: the session's, the monitor's and the
  // recorder's; the meters start again at it.
  void UseChosenFormat();
  void StartNewTrack();
  // The session's reports: a track's row, its final length, the ends.
  TTrackSettings RuleSettings(const TTrackSettings&) override;
  void TrackStarted(const TTrackInfo& Track) override;
  void TrackEnded(const TTrackInfo& Track, TTrackEnd Why, const TTrackInfo* Next) override;
  void RecordingEnded(TSessionEnd Why) override;
  // Each dropout is said at once, with the recording's count so far.
  void DropoutFound(const TTrackInfo& Track, const TTrackDropout& Dropout) override;
  void SleepNotHeldOff(const std::string& Why) override;
  void DiskTimeShort(const std::string& Text) override;
  void InputGone(const std::string& Text) override;
  // The time left on the output folder's disk, beside the folder; at most
  // once a second unless Now.
  void ShowTimeLeft(bool Now = true);
  void BufferTaken(const std::uint8_t* Data, std::uint32_t Bytes, const TTrackInfo&) override;
  // The monitoring input started when Monitor Levels is on and nothing else
  // has the input; a failure said. The peak figures follow while it runs.
  void StartMonitoring();
  void StartPeakRefresh();
  // The side-end choice as the session takes it.
  // A menu of exclusive choices, each a number: adds one, tells the checked
  // one's (0 when none), checks the one with Value.
  static void AddChoice(QMenu* Menu, int Value, const QString& Text);
  static int Chosen(const QMenu* Menu);
  static void Choose(QMenu* Menu, int Value);
  void WavePlayerStop();
  // While playing: an output that stopped moving ends the playback, said.
  void WatchOutput();
  void TimerTimer();
  void WhideGateChange();
  void NoiseGateChange();
  void MinSecChange();
  void EnableMenus(bool Enabled);
  void ApplyGridColors();
  void SetRow(int Row);
  int Row() const;
  QString Cell(int Column, int Row) const;
  void SetCell(int Column, int Row, const QString& Text);
  // A finished track's row: its number, name, length and size.
  void ShowTrack(int Row, const QString& Name, int Ms);
  // Appends Files to the list (those that are no readable WAV files are said).
  void ListTracks(const std::vector<std::string>& Files);
  void ShowStatus(const QString& Text);
  // What the status line says about the input when it is the demo signal
  // (empty otherwise); ShowInputNote also marks the caption.
  QString InputNote() const;
  void ShowInputNote();
  // Starts the program and runs the loop until it ends; false when it could not start.
  bool RunProgram(const std::string& CommandLine, QString& Error,
                  const std::vector<std::string>& Arguments = {});
  QAction* AddItem(QMenu* Menu, const QString& Caption, int Context,
                   void (TFormAudioRecorderMain::*Handler)(), const QKeySequence& Shortcut = {});

  TMMFormStyler FStyler{this};
  TFormOutputDestination* FOutputDestination;
  TFormEdit* FEditForm;
  std::unique_ptr<THelpWindow> FHelp;
  TMessagesWindow* FMessages = nullptr;  // every status message of this session, whole
  QString FStatusText;         // the status line's message, whole
  QPointer<TFormReview> FReview;  // while open; it deletes itself on close

  // Listening for the noise gate: the monitoring input's thread gives the
  // listener its audio while it is wanted; the main thread measures it when
  // 3 s are there. Before the input, which calls in until it is gone.
  TGateListener FGateListener;
  int FGateListen = 0;                   // main thread: the listening under way (0: none)
  int FGateListens = 0;                  // main thread: listenings so far
  void GateHeard();
  void StopGateListening();  // a recording or the devices take the input

  // The peaks the figures show, fed by whichever input runs. Before the
  // input, whose thread feeds it until it is gone.
  TPeakHold FPeaks;

  TMMWaveIn WaveIn;
  TMMWaveOut WaveOut;
  TMMConnector Connector;
  TRecordingSession Session{{}, *this};
  // Set Noise Gate from Input listens to 3 s of the input, in the recording's format.
  const std::size_t FGateListenBytes = 3 * std::size_t{Session.Options().Format.nAvgBytesPerSec};
  TMMWaveRecorder& WaveRecorder = Session.Recorder();  // the session's
  TMMWavePlayer WavePlayer;
  TMMHiTimer Timer;

  TFormAudioGraphics& FSkin;
  QLabel* FStatus;
  std::map<const QAction*, int> FHelpContexts;
  QString FAppDir;
  QString FDemoReason;
  QTimer* FOutputWatch;
  QTimer* FPeakRefresh;
  TColor FGridColor = clLime;
  TColor FGridBackGroundColor = clBlack;
  // The input's bytes at the last refresh, and when they last grew.
  std::int64_t FBytesSeen = -1;
  std::chrono::steady_clock::time_point FBytesSeenAt;
  std::chrono::steady_clock::time_point FTimeLeftShownAt;
  TMMDeviceId FRateNoted = -2;  // the input whose sound server's rate was said
  bool FRecording = false;
  bool FPlaying = false;
  bool FSaved = false;
};

}  // namespace velmar

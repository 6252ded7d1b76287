// TFormReview: a side's tracks reviewed as one side before they are final.
// The whole side's waveform with a mark at each split (its track's number and
// title), a zoomed view around the selected mark or the cursor, the tracks'
// list with a title column, the album's fields beside it, the record's
// clicks found and shown (each played repaired or as recorded, its repair
// dropped or kept; Apply repairs the kept ones), and the edits: drag a mark (snapped to
// the quietest point within 50 ms unless Shift is held), delete a mark (joining two tracks), add
// one at the cursor, split into N tracks at the longest quiet gaps, leave a track out of the set
// (one of only the input's noise is said at the start) or the quiet before and after the side's
// sound, undo and redo; play from the cursor or the 3 s around a mark. Apply writes the tracks anew (the audio joined stays the same,
// sample for sample) and tells the owner their names; Cancel leaves the files as they were.
//
// The waveform's scan, the search for quiet gaps and Apply run on a worker
// thread with a progress bar; the window stays responsive meanwhile. What
// the rules decide (the gaps, the tracks of noise, the new tracks' names and
// tags) is session/side_plan.h's, and how Apply writes them (checked unchanged,
// retagged, rewritten, originals kept) session/side_apply.h's; the window shows and asks.
//
// Owns its views, its playback and its worker; shown by the main window,
// which it tells through OnApplied. Main thread, apart from the worker's job,
// which touches only the peaks while it scans them, the clicks while it finds
// them and the progress counters; the gaps it finds are handed over when it
// has ended.
#pragma once

#include <QCheckBox>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTimer>
#include <QWidget>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/album_panel.h"
#include "app/side_playback.h"
#include "app/side_view.h"
#include "session/quiet_gaps.h"
#include "session/side_audio.h"
#include "session/side_clicks.h"
#include "session/side_edit.h"
#include "session/side_peaks.h"
#include "session/side_plan.h"
#include "session/track_rule.h"

namespace velmar {

class TFormReview : public QWidget {
 public:
  // The tracks of one side (paths, in order), the rule that finds quiet gaps,
  // the output device and the waveform's colours.
  TFormReview(std::vector<std::string> Tracks, const TTrackSettings& Rule, TMMDeviceId Output,
              QColor Wave, QColor Back, QWidget* Parent = nullptr);
  ~TFormReview() override;

  // The scan has ended (the side is shown, or Status says why not).
  bool Ready() const { return FReady; }
  // A job (scan, gap search, apply) is running.
  bool Busy() const { return FWorker.joinable(); }
  // The side is shown and no job runs: edits are taken.
  bool Editable() const { return FReady && !Busy() && FEdit.Frames() > 0; }
  QString StatusText() const { return FStatus->text(); }
  std::int64_t Cursor() const { return FCursor; }
  const TSideEdit& Edit() const { return FEdit; }
  const TSidePeaks& Peaks() const { return FPeaks; }

  // The commands, as the buttons and keys give them.
  void SelectMark(int Mark);
  void SetCursor(std::int64_t Frame);
  // The next (Step 1) or previous (-1) of the tracks' labelled places
  // (dropouts): shown in the zoomed view, the cursor 1.5 s before it, said.
  void GoToMarker(int Step);
  void MoveMark(int Mark, std::int64_t To, bool Snap);
  void DeleteMark();
  void AddMark();
  void SplitInto(int Tracks);
  // The selected track (the list's row, else the cursor's) left out of the
  // set, or taken back.
  void LeaveOut();
  // The quiet before the side's sound and after it left out.
  void TrimEnds();
  void Undo();
  void Redo();
  void PlayFromCursor();
  void PlayAroundMark();
  void StopPlaying();
  // Clicks: found over the whole side (on the worker); the next (Step 1) or
  // previous click selected and shown; the 3 s around it played repaired,
  // or as recorded once SwitchHeard has switched (also while playing); its
  // repair dropped, or kept again.
  void FindClicks();
  void GoToClick(int Step);
  void PlayAroundClick();
  void SwitchHeard();
  void DropClick();
  const TSideClicks& Clicks() const { return FClicks; }
  int SelectedClick() const { return FClick; }
  bool HearingRepaired() const { return FHearRepaired; }
  // Titles from the clipboard's lines, from the selected track on.
  void PasteTitles();
  // Track Listing...: a dialog for the listing, then UseListing with it.
  void TrackListing();
  // Places the marks from a listing's lengths (each in the quiet gap nearest
  // its place), leaves the lead-in and run-out out, takes its titles and
  // album fields; says what it did or why not (false: nothing changed).
  bool UseListing(const std::string& Text, const std::string& Side);
  // Closer (Steps > 0) or farther, keeping the frame At (-1: the middle) in place.
  void Zoom(int Steps, std::int64_t At = -1);
  // The waveform Factor times as high (> 0) or lower (< 0: divided), both views.
  void Magnify(int Factor);
  // Moves the zoomed view by Frames.
  void Pan(std::int64_t Frames);
  void Apply();
  // Closes; edits not applied are asked about first (Apply, Discard, or stay).
  void Cancel() { close(); }
  // The question about edits not applied, while it is open.
  QMessageBox* Question() const { return FQuestion; }

  // F1: the review's help page.
  std::function<void()> OnHelp;
  // After Apply: the side's new tracks (paths, in order).
  std::function<void(const std::vector<std::string>& Tracks)> OnApplied;

  TSideView* Overview;
  TSideView* Zoomed;
  QTableWidget* List;
  QProgressBar* Progress;
  QPushButton *btDelete, *btAdd, *btSplit, *btUndo, *btRedo, *btPlay, *btPlayMark, *btStop,
      *btApply, *btCancel;
  QSpinBox* SplitCount;
  QPushButton *btFindClicks, *btPlayClick, *btDropClick, *btLeaveOut, *btTrimEnds, *btListing;
  QCheckBox* KeepOriginals;  // a repair keeps the recorded tracks in "Originals"
  TAlbumPanel* AlbumFields;

 protected:
  void closeEvent(QCloseEvent* Event) override;

 private:
  // Runs Work on the worker thread with the progress bar showing What; Done
  // on the main thread once it has ended.
  void Run(const QString& What, std::function<bool(std::string& Error)> Work,
           std::function<void(bool Ok, const std::string& Error)> Done);
  void Poll();
  void Scanned(bool Ok, const std::string& Error);
  // The tracks of only noise and the quiet at the side's ends, once known.
  void SayWhatTheQuietTells();
  std::size_t SelectedTrack() const;
  void Refresh();
  void ShowZoom();
  void TitleEdited(QTableWidgetItem* Item);
  void Say(const QString& Text);
  void SelectChanged(const std::vector<std::int64_t>& Before);
  void AskAboutEdits();
  // Marks, titles or the album's fields differ from the files'.
  bool Changed() const;
  // The track that holds Frame.
  std::size_t TrackAt(std::int64_t Frame) const;
  QPushButton* AddButton(class QLayout* Row, const QString& Caption, void (TFormReview::*Handler)(),
                         const QKeySequence& Key);

  std::vector<std::string> FTracks;
  std::vector<TTrackTags> FOldTags;  // the tracks' tags as read (the first one's cover only)
  TTrackSettings FRule;
  TSidePeaks FPeaks;
  TSideAudio FAudio;
  TSideEdit FEdit;
  std::unique_ptr<TSidePlayback> FPlayback;
  TSideGaps FGaps;
  TSideClicks FClicks;
  int FClick = -1;  // the click selected
  bool FHearRepaired = true;
  bool FGapsFound = false;
  QLabel* FStatus;
  QLabel* FSideText;  // the side's tracks and length, as edited
  QMessageBox* FQuestion = nullptr;
  std::string FRecovered;  // what finishing an interrupted rewrite did
  QTimer FPollTimer;
  std::thread FWorker;
  std::atomic<bool> FCancel{false}, FFinished{false};
  std::atomic<std::int64_t> FDone{0}, FTotal{1};
  bool FJobOk = false;
  std::string FJobError;
  std::function<void(bool, const std::string&)> FJobDone;
  bool FReady = false;
  bool FApplying = false;
  bool FApplied = false;
  bool FDiscard = false;
  bool FRefreshing = false;
  int FSelected = -1;
  std::int64_t FCursor = 0;
  std::int64_t FZoomCentre = 0;
  int FMarker = -1;                    // the labelled place last gone to
  std::int64_t FZoomHalf = 3 * 44100;  // the zoomed view's frames either side
};

}  // namespace velmar

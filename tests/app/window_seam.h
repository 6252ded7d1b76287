// The tests' one way into the main window's engine and dialogs, which are
// private to it: what a test waits on (the recorder's position, the input's
// state, the session waiting for sound) and the dialogs it answers. Main
// thread only, like the window.
#pragma once

#include "app/form_audio_recorder_main.h"
#include "app/form_edit.h"
#include "app/form_output_destination.h"
#include "app/form_review.h"
#include "app/help_window.h"
#include "app/messages_window.h"

namespace velmar::test {

struct TWindowSeam {
  using W = TFormAudioRecorderMain;
  static TMMWaveRecorder& Recorder(W& w) { return w.WaveRecorder; }
  static TMMWaveIn& Input(W& w) { return w.WaveIn; }
  static TMMConnector& Meters(W& w) { return w.Connector; }  // what feeds the meters
  static TMMHiTimer& RowRefresh(W& w) { return w.Timer; }
  static const TRecordingSession& Session(W& w) { return w.Session; }
  static TMMFormStyler& Styler(W& w) { return w.FStyler; }
  static TFormReview* Review(W& w) { return w.FReview; }
  static THelpWindow* Help(W& w) { return w.FHelp.get(); }
  static TMessagesWindow* Messages(W& w) { return w.FMessages; }
  static TFormOutputDestination& Destination(W& w) { return *w.FOutputDestination; }
  static TFormEdit& Edit(W& w) { return *w.FEditForm; }
};

}  // namespace velmar::test

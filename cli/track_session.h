// velmar-rec's side of a recording session: it runs the session's loop (the
// input's buffers, Ctrl-C, the lost-input check), prints a line for each
// finished track and a live status line on a terminal, and says how the
// recording ended. The decisions are the session's.
//
// Threads: everything on the main thread; Run pumps its messages.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "session/recording_session.h"

namespace velmar::cli {

using velmar::TAudioReader;
using velmar::TSessionOptions;

class TTrackSession : private TSessionEvents {
 public:
  // Status: a live status line on stderr (a terminal).
  explicit TTrackSession(TSessionOptions Options, bool Status = false);

  // Records until the session ends: the track rule ends without a next track,
  // a limit is reached, Interrupt is set, the device fails or is lost, or an
  // error. Returns the exit status (0, or 2 after an error, which has been
  // printed).
  int Run(const std::atomic<bool>& Interrupt);

  // Splits what Read gives into tracks until its end. An interrupt finalises
  // the current track and says how far it got: status 2, as for errors.
  int Split(const TAudioReader& Read, const std::atomic<bool>& Interrupt);

  int TracksWritten() const { return FSession.TracksDone(); }

  // A dry run that only gathers each track's frames into Frames (no lines).
  void CollectInto(std::vector<std::int64_t>& Frames) { FCollect = &Frames; }

 private:
  void TrackEnded(const TTrackInfo& Track, TTrackEnd Why, const TTrackInfo* Next) override;
  void BufferTaken(const std::uint8_t* Data, std::uint32_t Bytes, const TTrackInfo& Track) override;
  void DropoutFound(const TTrackInfo& Track, const TTrackDropout& Dropout) override;
  void SleepNotHeldOff(const std::string& Why) override;
  void InputGone(const std::string& Text) override;
  void DiskTimeShort(const std::string& Text) override;
  int Result();
  void ClearStatus();
  // One line of its own, the status line cleared first.
  void Say(const std::string& Text);

  TRecordingSession FSession;
  const bool FStatus;
  double FLastStatus = 0;
  bool FStatusShown = false;
  std::int64_t FDoneMs = 0;  // a dry run: the tracks before this one
  std::vector<std::int64_t>* FCollect = nullptr;
};

}  // namespace velmar::cli

// TDropoutWatch: finds the audio a capture stream lost, and where, from what
// the stream delivers and a clock that runs on while the machine sleeps.
//
// A device delivers at its rate: what it has not delivered by a moment (the
// lead) is its latency, steady within a fragment or two, plus whatever was
// lost. The lead is read whenever a taking-in emptied the device. After an
// overrun or a suspension that the device reported, the lead's rise is the
// size of the loss. A rise the device did not report (a sound server's queue
// that overflowed while the program was stopped: the server keeps its oldest
// audio and drops the newest, and says nothing) counts once it has stayed
// for a second, so that a server that is only late is not taken for a loss.
//
// Where: the audio after a loss is what the device took in since the first
// taking-in after it (the device had room again from then on), so the loss
// lies that much before the end of what has been delivered.
//
// Threads: the capture stream's I/O thread only; the log it fills is read by
// any thread.
#pragma once

#include <cstdint>

#include "platform/wave/wave_backend.h"

namespace velmar {

class TDropoutWatch {
 public:
  TDropoutWatch(std::uint32_t Rate, std::int64_t BufferFrames, TDropoutLog& Log)
      : FRate(Rate), FBuffer(BufferFrames), FLog(Log) {}

  // The stream starts (again, after Stop) at Now (seconds): nothing delivered yet.
  void Start(double Now);
  // Frames were taken in at Now; the device had Avail frames before (it may
  // hold more than it says when it says its buffer is full).
  void Took(double Now, std::int64_t Frames, std::int64_t Avail);
  // The device reported an overrun or a suspension, recovered from at Now.
  void Reported(double Now, bool Suspended);
  // The device went away and was opened again at Now, Away seconds after it
  // last delivered: the absence is a loss of its own length, and the device
  // starts afresh (its first second in fits, as at Start).
  void Returned(double Now, double Away);
  // When frames were last taken in (or the stream started).
  double LastTake() const { return FLastTake; }

  // A rise of the lead that the device did not report counts from this size.
  static constexpr double kSilentLossSeconds = 0.5;
  // ... and once it has stayed this long.
  static constexpr double kConfirmSeconds = 1.0;

 private:
  struct TSuspect {
    std::int64_t AtFrame = 0;
    double Base = 0;  // the lead before it
    double Lead = 0;  // the least lead since
    double Away = 0;
    double Since = 0;
  };

  void Emit(std::int64_t AtFrame, double Lost, double Away, bool Suspended, bool Gone = false);

  const std::uint32_t FRate;
  const std::int64_t FBuffer;
  TDropoutLog& FLog;
  double FOrigin = 0;           // when the stream started
  std::int64_t FSettledAt = 0;  // delivered frames from which the lead is steady
  std::int64_t FDelivered = 0;  // frames taken in since then
  double FBase = 0;             // the steady lead, frames
  std::int64_t FDrainedAt = 0;  // delivered at the last moment the device was emptied
  double FLastTake = 0;         // when frames were last taken in
  double FCatchUpFrom = -1;     // the first taking-in since the device was last emptied
  double FAway = 0;             // the longest pause between takings-in since then
  bool FReported = false;       // an overrun or suspension waits for its size
  bool FReportedSuspended = false;
  bool FHaveSuspect = false;
  TSuspect FSuspect;
};

// Seconds on a clock that runs on while the machine sleeps.
double BootSeconds();

}  // namespace velmar

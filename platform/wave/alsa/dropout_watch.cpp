#include "platform/wave/alsa/dropout_watch.h"

#include <time.h>

#include <algorithm>
#include <cmath>

namespace velmar {

double BootSeconds() {
  timespec t{};
  clock_gettime(CLOCK_BOOTTIME, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

void TDropoutWatch::Start(double Now) {
  FOrigin = FLastTake = Now;
  FDelivered = FDrainedAt = 0;
  FSettledAt = FRate;
  FBase = 0;
  FReported = FHaveSuspect = false;
  FCatchUpFrom = -1;
  FAway = 0;
  FLog.Clear();
}

void TDropoutWatch::Reported(double Now, bool Suspended) {
  FReported = true;
  FReportedSuspended = Suspended;
  FAway = std::max(FAway, Now - FLastTake);
  // The device starts again empty: what it delivers from here is after the loss.
  FCatchUpFrom = Now;
  FLastTake = Now;
}

void TDropoutWatch::Returned(double Now, double Away) {
  Emit(FDelivered, Away * FRate, Away, false, true);
  FLastTake = Now;
  FDrainedAt = FDelivered;
  FSettledAt = FDelivered + FRate;
  FReported = FHaveSuspect = false;
  FCatchUpFrom = -1;
  FAway = 0;
}

void TDropoutWatch::Took(double Now, std::int64_t Frames, std::int64_t Avail) {
  if (FCatchUpFrom < 0) FCatchUpFrom = Now;
  FAway = std::max(FAway, Now - FLastTake);
  FLastTake = Now;
  FDelivered += Frames;
  // Emptied: it gave all it had, and had less than it can hold (one that says
  // its buffer is full may hold more behind it).
  if (Frames < Avail || Avail >= FBuffer * 3 / 4) return;
  const double Lead = (Now - FOrigin) * FRate - static_cast<double>(FDelivered);
  // The audio after a loss: what came since the catching-up began.
  const auto After = static_cast<std::int64_t>(std::llround((Now - FCatchUpFrom) * FRate));
  const std::int64_t At = std::clamp(FDelivered - After, FDrainedAt, FDelivered);
  const double Away = FAway;
  FDrainedAt = FDelivered;
  FCatchUpFrom = -1;
  FAway = 0;
  // A stream that starts comes in fits (a sound server starting to serve it):
  // the steady lead is what it is after its first second.
  if (FDelivered < FSettledAt) FBase = Lead;
  if (FReported) {
    FReported = false;
    FHaveSuspect = false;
    Emit(At, Lead - FBase, Away, FReportedSuspended);
    FBase = Lead;
    return;
  }
  const double Silent = kSilentLossSeconds * FRate;
  if (FHaveSuspect) {
    if (Lead - FSuspect.Base <= Silent) {
      FHaveSuspect = false;  // late, not lost: it came
      return;
    }
    // Held audio came faster than it plays: the loss lies after it. (A device
    // may say it holds little at first and give the rest after.)
    if (FSuspect.Lead - Lead > Silent / 2) {
      FSuspect.AtFrame = At;
      FSuspect.Since = Now;
    }
    FSuspect.Lead = std::min(FSuspect.Lead, Lead);
    if (Now - FSuspect.Since >= kConfirmSeconds) {
      FHaveSuspect = false;
      Emit(FSuspect.AtFrame, Lead - FSuspect.Base, FSuspect.Away, false);
      FBase = Lead;
    }
    return;
  }
  if (Lead - FBase > Silent) {
    FHaveSuspect = true;
    FSuspect = {At, FBase, Lead, Away, Now};
    return;
  }
  // The steady lead: down at once (the device delivered sooner), up slowly
  // (its clock is a little slower than ours).
  FBase = Lead < FBase ? Lead : FBase + (Lead - FBase) * 0.02;
}

void TDropoutWatch::Emit(std::int64_t AtFrame, double Lost, double Away, bool Suspended,
                         bool Gone) {
  FLog.Add({.AtFrame = AtFrame,
            .LostFrames = std::max<std::int64_t>(std::llround(Lost), 0),
            .AwaySeconds = Away,
            .Suspended = Suspended,
            .Gone = Gone});
}

}  // namespace velmar

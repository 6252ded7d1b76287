// Click repair: finds the short spikes that dust and scratches put on a
// record's music and fills each with what the music around it says was there.
//
// Each channel on its own: an autoregressive model fitted to the stretch
// around each block predicts every sample from the ones before it; a click
// is where the prediction error, filtered once more backwards to gather a
// spike's error at its own place, stands far above its typical size in that
// block (a robust measure, so the music's level does not matter). A run of
// such samples is a click when it is short (up to MaxSpanMs) and the music
// after it is about as predictable from what came before as the music before
// it was: a drum or a plucked string's attack is unpredictable too, but it
// starts something that goes on, and a click ends where it began. Each
// click's span is filled by least-squares autoregressive interpolation from
// the samples on both sides.
//
// A small streaming state: frames go in, repaired frames come out in order
// a little later (a block and the look-ahead). Not thread-safe; one thread.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "restore/ar_model.h"

namespace velmar {

struct TClick {
  std::int64_t Frame = 0;  // the span's first frame
  int Length = 0;          // frames
  int Channel = 0;
  double SizeDb = 0;  // the damage's peak above the RMS level of the 10 ms around
};

struct TClickOptions {
  // How readily a spike is taken for a click, 1 (only the largest) to 10;
  // 5 is the default, made to find clicks 10 dB above the music and leave
  // the music alone.
  double Strength = 5;
  double MaxSpanMs = 5;  // longer runs are the music's own
  // Asked about each click found, its size known, before it is repaired; a
  // click it refuses is left as recorded (and not listed). Empty: every click
  // is repaired.
  std::function<bool(const TClick&)> Accept;
};

class TClickRepair {
 public:
  TClickRepair(int Channels, int Rate, TClickOptions Options = {});

  // Takes Frames interleaved frames (full scale -1..1).
  void Add(const float* Frames, std::size_t Count);
  // No more frames: the rest is repaired and ready.
  void Finish();
  // Frames ready to take.
  std::size_t Ready() const { return static_cast<std::size_t>(FDone - FTaken); }
  // Copies up to Max ready frames (interleaved) into Out; the count.
  std::size_t Take(float* Out, std::size_t Max);

  // The clicks repaired so far, in the order they were found.
  const std::vector<TClick>& Clicks() const { return FClicks; }
  std::int64_t SamplesChanged() const { return FChanged; }

 private:
  void ProcessBlock(int Channel, std::int64_t Start, std::int64_t End);
  // Repairs [Start, End) of a channel when it is a click.
  void Repair(int Channel, std::int64_t Start, std::int64_t End);
  float* Samples(int Channel) { return FX[static_cast<std::size_t>(Channel)].data() - FBase; }

  int FChannels, FRate;
  TClickOptions FOptions;
  double FThreshold;                   // in robust standard deviations
  int FMaxSpan;                        // frames
  std::vector<std::vector<float>> FX;  // per channel, from frame FBase
  std::int64_t FBase = 0, FEnd = 0, FDone = 0, FTaken = 0;
  std::vector<TClick> FClicks;
  std::int64_t FChanged = 0;
  std::vector<double> FError, FBackward, FDetect, FSorted;  // scratch
  std::vector<double> FErrorTypical, FBackwardTypical, FDetectTypical, FOwn;
  std::vector<float> FWas;                  // a span as it was before its repair
  std::vector<double> FInterpolationModel;  // the one that fills a span
  std::vector<double> FBlockModel, FModel;  // the block's model; a span's
  TArScratch FScratch;                      // where the models are fitted
};

// Repairs the clicks of a whole buffer of interleaved frames in place; the
// clicks repaired, in the order of their frames.
std::vector<TClick> RepairClicks(std::vector<float>& Frames, int Channels, int Rate,
                                 const TClickOptions& Options = {});

}  // namespace velmar

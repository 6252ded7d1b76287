// TSidePlayback: plays a stretch of a side, [From, To), on an output device
// (the side's audio read as it goes: across tracks, from any frame). OnStop
// comes when the stretch has played or Stop was asked, on the main thread.
//
// Refers to the review's audio, which outlives it. Main thread only: the
// output delivers on the main thread (cmWindow), and so does the feed.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "stream/dsp_component.h"
#include "stream/wave_out.h"

namespace velmar {

class TSideAudio;

class TSidePlayback : public TMMDSPComponent {
 public:
  TSidePlayback(const TSideAudio& Audio, TMMDeviceId Device);
  ~TSidePlayback() override;

  // Plays [From, To) (stopping what plays); false when the device cannot.
  bool Play(std::int64_t From, std::int64_t To, std::string& Error);
  void Stop();
  bool Playing() const { return FOut.State() & wosStarted; }
  // The frame being heard while playing.
  std::int64_t Frame();
  // Another version of the frames from From on (a stretch with its clicks
  // repaired), heard instead of the side's own while Use is set; switching
  // takes effect with the next buffers (a fraction of a second).
  void SetAlternative(std::int64_t From, std::vector<std::int16_t> Frames);
  void UseAlternative(bool Use) { FUseAlternative = Use; }
  bool UsingAlternative() const { return FUseAlternative; }
  std::function<void()> OnStop;

  void BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) override;

 private:
  const TSideAudio& FAudio;
  TMMWaveOut FOut;
  std::int64_t FFrom = 0, FNext = 0, FTo = 0;
  std::int64_t FAlternativeFrom = 0;
  std::vector<std::int16_t> FAlternative;  // interleaved stereo
  bool FUseAlternative = false;
};

}  // namespace velmar

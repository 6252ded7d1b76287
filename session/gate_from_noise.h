// The noise gate that the input's own noise sets. Listened to while nothing
// plays (a record's run-in groove, a tape's hiss), the noise's loudest stretch
// of the time gate's buffers, as the track rule sums them, gives the gate just
// above it: the rule then takes that noise for quiet, and what is louder by
// the margin for sound.
//
// Audio is stereo, 16 or 24 bits (SampleBytes 2 or 3), measured in the rule's
// buffers at the recording's format.
// Threads: GateFromNoise is a plain function, called on any one thread;
// TGateListener is filled by the input's thread (see there).
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace velmar {

// How far above the noise the gate lies: 6 dB, twice its level.
inline constexpr double kGateMarginDb = 6.0;

struct TGateFromNoise {
  bool Measured = false;  // there were TimeGate buffers to measure
  int Gate = 0;           // the noise gate, 1..100 (velmar-rec's -n)
  // The loudest stretch as the average size of its samples, in dBFS (as the
  // gate's own label reads); -inf for digital silence.
  double NoiseDb = 0;
  bool TooLoud = false;  // above what the highest gate takes for quiet (Gate is 100)
};

// Pcm: Bytes of audio, cut into buffers of BufferBytes as the rule measures.
TGateFromNoise GateFromNoise(const std::uint8_t* Pcm, std::size_t Bytes, int TimeGate,
                             int BufferBytes, int SampleBytes = 2);

// Listening to the input for the gate: Start on the main thread wants Bytes
// of audio; the input's thread gives what it delivers to Take, which says
// when enough has come (once, so that the caller tells the main thread once);
// Heard on the main thread ends the listening and measures what came (less
// than wanted when the input delivered too little in time); Stop drops it.
class TGateListener {
 public:
  void Start(std::size_t Bytes);
  bool Take(const std::uint8_t* Data, std::size_t Bytes);
  TGateFromNoise Heard(int TimeGate, int BufferBytes, std::size_t& Got, int SampleBytes = 2);
  void Stop();

 private:
  std::mutex FLock;
  std::vector<std::uint8_t> FAudio;  // guarded by FLock
  std::size_t FWanted = 0;           // guarded by FLock; 0: not listening
};

}  // namespace velmar

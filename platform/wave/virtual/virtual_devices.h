// In-process wave devices for tests and for the built-in "Demo signal" input.
//
// A virtual capture device reads from a generator (a function of the stream's
// byte offset: silence, a tone, noise, a counter pattern, or any provider); a
// virtual playback device hands what it plays to a sink. Pacing is real time
// (bytes become available as the clock runs) or free running. A live source runs
// on while the device is closed or stopped (that audio is lost, as on a sound
// card, and a reader more than a second behind loses what it missed: an
// overrun, logged as a dropout); a file source pauses. Faults can be
// injected: open refused, a header that never comes back, short buffers, a
// device gone, a suspension.
// Installing and removing devices is for the main thread; the generators and
// sinks run on the devices' I/O threads.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/mmresult.h"
#include "platform/wave/wave_backend.h"

namespace velmar {

// Fills Count bytes at Dest with the stream's bytes from ByteOffset on, in the
// format the device was opened with.
using TSignalGenerator = std::function<void(std::uint8_t* Dest, std::uint32_t Count,
                                            std::uint64_t ByteOffset, const WAVEFORMATEX& Format)>;
// Receives the bytes a playback device plays.
using TPlaybackSink = std::function<void(const std::uint8_t* Data, std::uint32_t Count)>;

struct TVirtualDeviceSpec {
  std::string Name = "Virtual device";
  TSignalGenerator Generator;  // capture; silence when empty
  TPlaybackSink Sink;          // playback; discarded when empty
  bool RealTime = true;        // paced by the clock, or as fast as asked
  bool Live = true;            // runs on while closed or stopped
  std::uint32_t Formats = 0xFFF;
  std::uint16_t Channels = 2;
  // Capture: the widest samples and the highest rate the device gives.
  std::uint16_t MostBits = 24;
  std::uint32_t MostRate = 192000;
  // Faults.
  MMRESULT OpenError = MMSYSERR_NOERROR;  // e.g. MMSYSERR_ALLOCATED (busy)
  std::int64_t HoldHeader = -1;           // this header (0-based) never comes back
  std::uint32_t ShortBuffers = 0;         // headers return with at most this many bytes
  std::int64_t FailAfter = -1;            // the stream fails after this many bytes (a device gone)
  // A live capture device is suspended (the machine sleeps) after this many
  // bytes of a stream, for SuspendSeconds: that audio is lost, and the
  // stream says so, as a sound card's driver does, without knowing how much.
  std::int64_t SuspendAfter = -1;
  double SuspendSeconds = 0;
  bool OnDemand = false;  // capture: the next header only after the last came back (a file)
};

struct TVirtualDeviceState;

class TVirtualBackend : public TWaveBackend {
 public:
  // Adds a device; returns its index within this backend.
  int AddCapture(TVirtualDeviceSpec Spec);
  int AddPlayback(TVirtualDeviceSpec Spec);
  void Clear();

  int CaptureCount() override;
  TWaveDeviceCaps CaptureCaps(int Index) override;
  MMRESULT OpenCapture(int Index, const WAVEFORMATEX& Format, bool QueryOnly,
                       std::unique_ptr<TCaptureStream>& Stream) override;
  int PlaybackCount() override;
  TWaveDeviceCaps PlaybackCaps(int Index) override;
  MMRESULT OpenPlayback(int Index, const WAVEFORMATEX& Format, bool QueryOnly,
                        std::unique_ptr<TPlaybackStream>& Stream) override;

 private:
  std::mutex FLock;
  std::vector<std::shared_ptr<TVirtualDeviceState>> FCapture, FPlayback;
};

// A counter for 16-bit PCM: sample n (over all channels) holds n modulo 65536,
// little-endian.
TSignalGenerator CounterSignal();
// A sine of Frequency Hz at Amplitude (0..1) on every channel, 8 or 16 bit.
TSignalGenerator ToneSignal(double Frequency, double Amplitude);
// The built-in demo input for machines without a capture device: three sounds
// of ten seconds, each followed by two seconds of silence, then silence.
TSignalGenerator DemoSignal();

}  // namespace velmar

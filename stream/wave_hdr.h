// The buffer header that carries audio between stream components, and the
// buffer events. Its first part is the platform's WAVEHDR, so the same record can
// be queued to a wave device; the audio data follows the header in the same
// allocation (lpData = header address + sizeof(TMMWaveHdr)).
//
// The allocating device owns the header. A component that receives it in
// BufferReady or BufferLoad may change the data and dwBytesRecorded in place but
// must not keep the pointer: the device re-queues the buffer when the call returns.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/component.h"
#include "platform/wave/wave_header.h"

namespace velmar {

struct TMMWaveHdr {
  WAVEHDR wh;
  std::uint32_t Reserved;     // not used
  std::uint32_t SavedLength;  // output device: dwBytesRecorded kept while queued
  TMMWaveHdr* NextHdr;        // output device: the header played next
  std::uint32_t Looping;      // playback: all bits set when the device loops
  std::uint32_t LoopCount;    // playback: the device's loop count
  std::int32_t LoopsLeft;     // playback: loops left, carried from buffer to buffer
  std::uint32_t Looped;       // playback: all bits set by a source that wrapped
};

using PWaveHdr = TMMWaveHdr*;

// The value of a Boolean header field that is set.
inline constexpr std::uint32_t kHdrTrue = 0xFFFFFFFFu;

using TMMBufferEvent = std::function<void(TObject* Sender, PWaveHdr lpWaveHdr)>;
using TMMBufferLoadEvent =
    std::function<void(TObject* Sender, PWaveHdr lpWaveHdr, bool& MoreBuffers)>;

}  // namespace velmar

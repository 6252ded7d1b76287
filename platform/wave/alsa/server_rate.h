// Whether a sound server stands between an ALSA PCM and the sound card at
// another rate than the recording's: ALSA's pulse and pipewire plugins take
// any rate, and the server then resamples to its own (PipeWire's default
// graph runs at 48 kHz), which is not bit for bit. The server is asked with
// its own command-line client (pactl, which PulseAudio and PipeWire's pulse
// service both answer); without one nothing is said.
//
// Any thread; runs a short-lived program, so not on a real-time path.
#pragma once

#include <string>

namespace velmar {

// "the sound server records test.monitor at 48000 Hz, so ..." with how to
// avoid it; empty when Pcm is not a sound server's or its rate is Rate.
std::string ServerRateNote(const std::string& Pcm, int Rate);

}  // namespace velmar

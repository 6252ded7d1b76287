// Enumerations published by the stream components, and device numbers.
// The enumerations keep their value order: ordinals are stored in settings.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace velmar {

enum class TMMBits { b8Bit, b16Bit, b24Bit };       // bits = (ordinal + 1) * 8
enum class TMMMode { mMono, mStereo };              // channels = ordinal + 1
enum class TMMChannel { chBoth, chLeft, chRight };  // channel a display looks at
enum class TMMDecayMode { dmNone, dmStepUp, dmExponential, dmUniform };
enum class TMMTimeFormats { tfMillisecond, tfByte, tfSample };
enum class TMMCBMode { cmWindow, cmCallback, cmThread };  // how notifications arrive
enum class TMMFFTWindow {
  fwRectangular,
  fwHamming,
  fwHanning,
  fwBlackman,
  fwGaussian,
  fwWelch,
  fwParzen
};

template <typename E>
constexpr int Ord(E Value) {
  return static_cast<int>(Value);
}

constexpr int BitsOf(TMMBits Bits) {
  return (Ord(Bits) + 1) * 8;
}
constexpr int ChannelsOf(TMMMode Mode) {
  return Ord(Mode) + 1;
}

// 0 .. n-1 select the n-th device; MapperId the platform's wave mapper;
// InvalidId means no valid device is selected.
using TMMDeviceId = std::int32_t;
inline constexpr TMMDeviceId MapperId = -1;
inline constexpr TMMDeviceId InvalidId = -2;

// Text form of a device number: "MapperId", "InvalidId" or the plain number.
std::string DeviceIdToText(TMMDeviceId Id);
// Reads the identifiers without regard to case, anything else as a plain number;
// text that is neither raises std::invalid_argument.
TMMDeviceId TextToDeviceId(std::string_view Text);

}  // namespace velmar

#include "stream/time_conversions.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "stream/wave_format.h"

namespace velmar {
namespace {

WAVEFORMATEX Pcm(std::uint16_t Bits, std::uint16_t Channels, std::uint32_t Rate) {
  WAVEFORMATEX f{};
  return *BuildPCMFormat(&f, Bits, Channels, Rate);
}

TEST(TimeConversions, CdFormatFigures) {
  const WAVEFORMATEX f = Pcm(16, 2, 44100);  // block 4, 176400 bytes/s
  EXPECT_EQ(TimeToBytes(&f, 1), 176);
  EXPECT_EQ(TimeToBytes(&f, 3), 532);   // 529.2 rounds to 529, then up to the block
  EXPECT_EQ(BytesToTime(&f, 1000), 6);  // 5.67 rounds up
  EXPECT_EQ(SamplesToBytes(&f, 10), 40);
  EXPECT_EQ(BytesToSamples(&f, 2), 1);  // half a frame rounds away from zero
  EXPECT_EQ(BytesToSamples(&f, 176400), 44100);
  EXPECT_EQ(TimeToSamples(&f, 1), 44);
  EXPECT_EQ(SamplesToTime(&f, 22050), 500);
  EXPECT_EQ(SamplesToTime(&f, 22), 0);
  EXPECT_EQ(SamplesToTime(&f, 23), 1);  // 0.52 ms
}

TEST(TimeConversions, BytesAlwaysEndOnABlock) {
  const WAVEFORMATEX f = Pcm(16, 2, 22050);  // block 4, 88200 bytes/s
  for (int ms = 0; ms < 2000; ++ms) EXPECT_EQ(TimeToBytes(&f, ms) % 4, 0) << ms;
  for (int s = 0; s < 2000; ++s) EXPECT_EQ(SamplesToBytes(&f, s), 4 * s) << s;
}

TEST(TimeConversions, SixtyFourBitPositionsPassFourGigabytes) {
  const WAVEFORMATEX f = Pcm(16, 2, 44100);
  const std::int64_t ThirtyHours = 44100LL * 3600 * 30;
  EXPECT_EQ(SamplesToBytes64(&f, ThirtyHours), ThirtyHours * 4);
  EXPECT_EQ(SamplesToTime64(&f, ThirtyHours), 30LL * 3600 * 1000);
  EXPECT_EQ(SamplesToTime64(&f, 66150), 1500);
  EXPECT_EQ(SamplesToTime64(&f, 22), 0);  // 0.4988 ms
  // 8 kHz: 1 sample is 0.125 ms, 4 samples 0.5 ms -> halves to even
  const WAVEFORMATEX Phone = Pcm(8, 1, 8000);
  EXPECT_EQ(SamplesToTime64(&Phone, 4), 0);
  EXPECT_EQ(SamplesToTime64(&Phone, 12), 2);
}

TEST(TimeConversions, TimeFormatMapping) {
  const WAVEFORMATEX f = Pcm(16, 2, 44100);
  EXPECT_EQ(TimeFormatToBytes(&f, TMMTimeFormats::tfMillisecond, 3), 532);
  EXPECT_EQ(TimeFormatToBytes(&f, TMMTimeFormats::tfByte, 1001), 1001);
  EXPECT_EQ(TimeFormatToBytes(&f, TMMTimeFormats::tfSample, 10), 40);
  EXPECT_EQ(BytesToTimeFormat(&f, TMMTimeFormats::tfMillisecond, 1000), 6);
  EXPECT_EQ(BytesToTimeFormat(&f, TMMTimeFormats::tfByte, 1001), 1001);
  EXPECT_EQ(BytesToTimeFormat(&f, TMMTimeFormats::tfSample, 1000), 250);
  EXPECT_EQ(SamplesToTimeFormat64(&f, TMMTimeFormats::tfMillisecond, 44100), 1000);
  EXPECT_EQ(SamplesToTimeFormat64(&f, TMMTimeFormats::tfByte, 44100), 176400);
  EXPECT_EQ(SamplesToTimeFormat64(&f, TMMTimeFormats::tfSample, 44100), 44100);
}

TEST(TimeConversions, LimitsRoundDownToWholeFrames) {
  const WAVEFORMATEX f = Pcm(16, 2, 44100);
  EXPECT_EQ(LimitToBytes(&f, TMMTimeFormats::tfByte, 1001), 1000);
  EXPECT_EQ(LimitToBytes(&f, TMMTimeFormats::tfMillisecond, 3), 532);
  EXPECT_EQ(LimitToBytes(&f, TMMTimeFormats::tfSample, 3), 12);
}

TEST(TimeConversions, MissingOrBrokenFormatRaises) {
  EXPECT_THROW(TimeToBytes(nullptr, 1), std::invalid_argument);
  EXPECT_THROW(SamplesToTime64(nullptr, 1), std::invalid_argument);
  WAVEFORMATEX Broken = Pcm(16, 2, 44100);
  Broken.nBlockAlign = 0;
  EXPECT_THROW(TimeToBytes(&Broken, 1), std::domain_error);
  Broken = Pcm(16, 2, 44100);
  Broken.nAvgBytesPerSec = 0;
  EXPECT_THROW(BytesToTime(&Broken, 1), std::domain_error);
}

}  // namespace
}  // namespace velmar

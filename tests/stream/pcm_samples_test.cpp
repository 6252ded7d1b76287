#include "stream/pcm_samples.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "stream/wave_format.h"

namespace velmar {
namespace {

std::vector<std::uint8_t> Le16(std::initializer_list<int> Samples) {
  std::vector<std::uint8_t> Out;
  for (int s : Samples) {
    Out.push_back(static_cast<std::uint8_t>(s & 0xFF));
    Out.push_back(static_cast<std::uint8_t>((s >> 8) & 0xFF));
  }
  return Out;
}

TEST(ConvertBits, SixteenToEightTruncatesTowardZero) {
  const auto Src = Le16({0, -1, -256, -257, 255, 256, 32767, -32768});
  std::vector<std::uint8_t> Dst(8, 0xAA);
  EXPECT_EQ(ConvertBits(8, Dst.data(), 16, static_cast<std::uint32_t>(Src.size()), Src.data()), 8u);
  EXPECT_EQ(Dst, (std::vector<std::uint8_t>{128, 128, 127, 127, 128, 129, 255, 0}));
}

TEST(ConvertBits, SixteenToEightIgnoresATrailingOddByte) {
  auto Src = Le16({512});
  Src.push_back(0x7F);
  std::uint8_t Dst[2] = {0xAA, 0xAA};
  EXPECT_EQ(ConvertBits(8, Dst, 16, 3, Src.data()), 1u);
  EXPECT_EQ(Dst[0], 130);
  EXPECT_EQ(Dst[1], 0xAA);
}

TEST(ConvertBits, EightToSixteen) {
  const std::uint8_t Src[] = {0, 128, 255, 127};
  std::vector<std::uint8_t> Dst(8);
  EXPECT_EQ(ConvertBits(16, Dst.data(), 8, 4, Src), 8u);
  EXPECT_EQ(Dst, Le16({-32768, 0, 32512, -256}));
}

TEST(ConvertBits, EightToSixteenInPlace) {
  std::vector<std::uint8_t> Buffer = {0, 128, 255, 127, 0, 0, 0, 0};
  EXPECT_EQ(ConvertBits(16, Buffer.data(), 8, 4, Buffer.data()), 8u);
  EXPECT_EQ(Buffer, Le16({-32768, 0, 32512, -256}));
}

TEST(ConvertBits, EqualWidthsCopyAndOthersAreRefused) {
  const auto Src = Le16({1, -2, 3});
  std::vector<std::uint8_t> Dst(6);
  EXPECT_EQ(ConvertBits(16, Dst.data(), 16, 6, Src.data()), 6u);
  EXPECT_EQ(Dst, Src);
  EXPECT_EQ(ConvertBits(24, Dst.data(), 16, 6, Src.data()), 0u);
}

TEST(Silence, EightBitIsMidScaleSixteenBitIsZero) {
  WAVEFORMATEX f{};
  std::uint8_t Buffer[6];
  FillSilence(*BuildPCMFormat(&f, 8, 2, 22050), Buffer, sizeof Buffer);
  for (std::uint8_t b : Buffer) EXPECT_EQ(b, 128);
  FillSilence(*BuildPCMFormat(&f, 16, 2, 22050), Buffer, sizeof Buffer);
  for (std::uint8_t b : Buffer) EXPECT_EQ(b, 0);
}

// Every width's extremes and a value in between, as stored: decoded to the
// signed value and to full scale 1.0, encoded back to the same bytes; values
// past full scale are held at it; 8-bit samples are unsigned.
TEST(SampleCodec, EachWidthDecodesSignedAndEncodesBackTheSameBytes) {
  struct Case {
    int Bytes;
    std::vector<std::uint8_t> Stored;
    std::int32_t Value;
  };
  const Case Cases[] = {{1, {0x00}, -128},
                        {1, {0xFF}, 127},
                        {1, {0x80}, 0},
                        {2, {0x00, 0x80}, -32768},
                        {2, {0xFF, 0x7F}, 32767},
                        {2, {0xFE, 0xFF}, -2},
                        {3, {0x00, 0x00, 0x80}, -8388608},
                        {3, {0xFF, 0xFF, 0x7F}, 8388607},
                        {3, {0x01, 0x00, 0xFF}, -65535},
                        {4, {0x00, 0x00, 0x00, 0x80}, INT32_MIN},
                        {4, {0x10, 0x00, 0x00, 0x00}, 16}};
  for (const Case& c : Cases) {
    EXPECT_EQ(PcmSample(c.Stored.data(), c.Bytes), c.Value) << c.Bytes;
    if (c.Bytes == 4) continue;  // a float keeps 24 bits of a 32-bit sample
    const float v = SampleToFloat(c.Stored.data(), c.Bytes, false);
    EXPECT_FLOAT_EQ(v, static_cast<float>(c.Value) / static_cast<float>(1 << (8 * c.Bytes - 1)));
    std::vector<std::uint8_t> Back(static_cast<std::size_t>(c.Bytes));
    FloatToSample(Back.data(), c.Bytes, false, v);
    EXPECT_EQ(Back, c.Stored) << c.Bytes << " " << c.Value;
  }
  std::uint8_t p[3];
  FloatToSample(p, 3, false, 1.5f);
  EXPECT_EQ(PcmSample(p, 3), 8388607);
  FloatToSample(p, 3, false, -1.5f);
  EXPECT_EQ(PcmSample(p, 3), -8388608);
  std::uint8_t f[8];
  FloatToSample(f, 4, true, -0.25f);
  EXPECT_EQ(SampleToFloat(f, 4, true), -0.25f);
  FloatToSample(f, 8, true, 0.5f);
  EXPECT_EQ(SampleToFloat(f, 8, true), 0.5f);
}

}  // namespace
}  // namespace velmar

#include "stream/wave_format.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace velmar {
namespace {

WAVEFORMATEX Pcm(std::uint16_t Bits, std::uint16_t Channels, std::uint32_t Rate) {
  WAVEFORMATEX f{};
  return *BuildPCMFormat(&f, Bits, Channels, Rate);
}

WAVEFORMATEX WithTag(std::uint16_t Tag) {
  WAVEFORMATEX f = Pcm(16, 2, 44100);
  f.wFormatTag = Tag;
  return f;
}

TEST(WaveFormat, RecordIsPackedLittleEndian) {
  WAVEFORMATEX f = Pcm(16, 2, 44100);
  unsigned char Bytes[18];
  std::memcpy(Bytes, &f, sizeof Bytes);
  const unsigned char Expected[18] = {1,    0, 2, 0, 0x44, 0xAC, 0, 0, 0x10,
                                      0xB1, 2, 0, 4, 0,    16,   0, 0, 0};
  EXPECT_EQ(0, std::memcmp(Bytes, Expected, sizeof Bytes));
}

TEST(WaveFormat, BuildPCMFormat) {
  const WAVEFORMATEX Cd = Pcm(16, 2, 44100);
  EXPECT_EQ(Cd.nBlockAlign, 4);
  EXPECT_EQ(Cd.nAvgBytesPerSec, 176400u);
  EXPECT_EQ(Cd.cbSize, 0);
  const WAVEFORMATEX Phone = Pcm(8, 1, 8000);
  EXPECT_EQ(Phone.nBlockAlign, 1);
  EXPECT_EQ(Phone.nAvgBytesPerSec, 8000u);
  EXPECT_EQ(BitsFromFormat(Cd), TMMBits::b16Bit);
  EXPECT_EQ(ModeFromFormat(Cd), TMMMode::mStereo);
  EXPECT_EQ(BitsFromFormat(Phone), TMMBits::b8Bit);
  EXPECT_EQ(ModeFromFormat(Phone), TMMMode::mMono);
  // The block alignment is computed in 16 bits, as the format record holds it:
  // 5000 x 16 = 80000 wraps to 14464 before the shift.
  EXPECT_EQ(Pcm(16, 5000, 8000).nBlockAlign, 1808);
}

TEST(WaveFormat, IsValidPCMFormatBounds) {
  WAVEFORMATEX f = Pcm(16, 2, 4000);
  EXPECT_TRUE(IsValidPCMFormat(&f));
  f = Pcm(16, 2, 100000);
  EXPECT_TRUE(IsValidPCMFormat(&f));
  f = Pcm(16, 2, 3999);
  EXPECT_FALSE(IsValidPCMFormat(&f));
  f = Pcm(16, 2, 100001);
  EXPECT_FALSE(IsValidPCMFormat(&f));
  f = Pcm(24, 2, 96000);  // the high-resolution recording formats
  EXPECT_TRUE(IsValidPCMFormat(&f));
  f = Pcm(32, 2, 44100);
  EXPECT_FALSE(IsValidPCMFormat(&f));
  f = Pcm(16, 3, 44100);
  EXPECT_FALSE(IsValidPCMFormat(&f));
  f = WithTag(0x11);
  EXPECT_FALSE(IsValidPCMFormat(&f));
  EXPECT_FALSE(IsValidPCMFormat(nullptr));
}

TEST(WaveFormat, SizeAndCopies) {
  EXPECT_EQ(WaveFormatSize(nullptr), 0u);
  WAVEFORMATEX PcmWithExtra = Pcm(16, 2, 44100);
  PcmWithExtra.cbSize = 22;
  EXPECT_EQ(WaveFormatSize(&PcmWithExtra), 18u);

  WAVEFORMATEX* Copy = CopyWaveFormat(&PcmWithExtra);
  ASSERT_NE(Copy, nullptr);
  EXPECT_EQ(Copy->cbSize, 0);
  EXPECT_EQ(Copy->nAvgBytesPerSec, 176400u);
  FreeWaveFormat(Copy);
  EXPECT_EQ(Copy, nullptr);
  FreeWaveFormat(Copy);  // a null reference is left alone

  // A compressed format carries its extra bytes into the copy.
  std::vector<unsigned char> Block(18 + 2);
  WAVEFORMATEX Adpcm = WithTag(0x11);
  Adpcm.cbSize = 2;
  std::memcpy(Block.data(), &Adpcm, 18);
  Block[18] = 0xF9;
  Block[19] = 0x01;
  const auto* Source = reinterpret_cast<const WAVEFORMATEX*>(Block.data());
  EXPECT_EQ(WaveFormatSize(Source), 20u);
  WAVEFORMATEX* Compressed = CopyWaveFormat(Source);
  EXPECT_EQ(0, std::memcmp(Compressed, Block.data(), Block.size()));
  FreeWaveFormat(Compressed);

  EXPECT_EQ(CopyWaveFormat(nullptr), nullptr);
}

TEST(WaveFormat, TagNames) {
  const WAVEFORMATEX Mp3 = WithTag(0x0055), Ima = WithTag(0x0011), Odd = WithTag(0x1234),
                     Pcm1 = WithTag(0x0001), Ac2 = WithTag(0x0209), Dev = WithTag(0xFFFF),
                     Alaw = WithTag(0x0006), Olivetti = WithTag(0x1001);
  EXPECT_EQ(WaveFormatTagName(&Mp3), "MPEG Layer-3");
  EXPECT_EQ(WaveFormatTagName(&Ima), "IMA ADPCM");
  EXPECT_EQ(WaveFormatTagName(&Odd), "Unknown");
  EXPECT_EQ(WaveFormatTagName(&Pcm1), "PCM");
  EXPECT_EQ(WaveFormatTagName(&Ac2), "Dolby AC2");
  EXPECT_EQ(WaveFormatTagName(&Dev), "*DEVELOPMENT ONLY TAG*");
  EXPECT_EQ(WaveFormatTagName(&Alaw), "CCITT A-Law");
  EXPECT_EQ(WaveFormatTagName(&Olivetti), "Olivetti's ADPCM");
  EXPECT_EQ(WaveFormatTagName(nullptr), "Unknown");
}

TEST(WaveFormat, Text) {
  WAVEFORMATEX f = Pcm(16, 2, 44100);
  EXPECT_EQ(WaveFormatText(&f), "44.100 kHz, 16 Bit, Stereo");
  f = Pcm(8, 1, 8000);
  EXPECT_EQ(WaveFormatText(&f), "8.000 kHz, 8 Bit, Mono");
  f = Pcm(16, 1, 11025);
  EXPECT_EQ(WaveFormatText(&f), "11.025 kHz, 16 Bit, Mono");
  f = Pcm(16, 6, 48000);
  EXPECT_EQ(WaveFormatText(&f), "48.000 kHz, 16 Bit, 6 Channels");
  f = Pcm(16, 2, 100000);
  EXPECT_EQ(WaveFormatText(&f), "100.000 kHz, 16 Bit, Stereo");
  EXPECT_EQ(WaveFormatText(nullptr), "Unknown");

  // Compressed: the average bits per sample.
  WAVEFORMATEX Ima = WithTag(0x11);
  Ima.nChannels = 1;
  Ima.nSamplesPerSec = 22050;
  Ima.nAvgBytesPerSec = 11100;
  EXPECT_EQ(WaveFormatText(&Ima), "22.050 kHz, 4 Bit, Mono");

  // A damaged record without rate or channels is described, not divided by.
  WAVEFORMATEX Broken{};
  EXPECT_EQ(WaveFormatText(&Broken), "0.000 kHz, 0 Bit, 0 Channels");
}

}  // namespace
}  // namespace velmar

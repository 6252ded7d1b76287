// The codec manager: names and texts, suggestions and the one-stream limits,
// the stream header protocol, and each driver's conversions.
#include "platform/acm/acm_api.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "platform/acm/g711.h"
#include "platform/acm/ima_adpcm.h"

namespace velmar {
namespace {

using Bytes = std::vector<std::uint8_t>;

#pragma pack(push, 1)
struct Format {
  WAVEFORMATEX f{};
  std::uint8_t Extra[32]{};
};
#pragma pack(pop)

Format Pcm(std::uint16_t Bits, std::uint16_t Channels, std::uint32_t Rate) {
  Format x;
  x.f = {WAVE_FORMAT_PCM,
         Channels,
         Rate,
         Rate * Channels * Bits / 8u,
         static_cast<std::uint16_t>(Channels * Bits / 8),
         Bits,
         0};
  return x;
}

Format Suggested(const Format& Src, std::uint16_t Tag) {
  Format x;
  x.f.wFormatTag = Tag;
  EXPECT_EQ(acmFormatSuggest(&Src.f, &x.f, sizeof x, ACM_FORMATSUGGESTF_WFORMATTAG),
            MMSYSERR_NOERROR);
  return x;
}

bool Possible(const Format& s, const Format& d) {
  return acmStreamOpen(nullptr, &s.f, &d.f, ACM_STREAMOPENF_QUERY) == MMSYSERR_NOERROR;
}

// 16-bit samples of a sine, interleaved over Channels (the right one inverted).
Bytes Sine(std::size_t Frames, int Channels, double Hz, double Rate, double Level = 12000) {
  Bytes b;
  for (std::size_t i = 0; i < Frames; ++i) {
    for (int c = 0; c < Channels; ++c) {
      const auto v = static_cast<std::int16_t>(std::lround(
          (c ? -Level : Level) * std::sin(2 * M_PI * Hz * static_cast<double>(i) / Rate)));
      b.push_back(static_cast<std::uint8_t>(v));
      b.push_back(static_cast<std::uint8_t>(static_cast<std::uint16_t>(v) >> 8));
    }
  }
  return b;
}

std::vector<std::int16_t> Samples(const Bytes& b) {
  std::vector<std::int16_t> s(b.size() / 2);
  std::memcpy(s.data(), b.data(), s.size() * 2);
  return s;
}

// Runs In through a stream in pieces of Piece bytes, as a caller with fixed
// buffers does: block-aligned calls, unused bytes carried to the next call,
// then END calls until nothing more comes out.
Bytes Convert(const Format& s, const Format& d, const Bytes& In, std::uint32_t Piece) {
  HACMSTREAM h = 0;
  EXPECT_EQ(acmStreamOpen(&h, &s.f, &d.f, 0), MMSYSERR_NOERROR);
  std::uint32_t DstSize = 0;
  EXPECT_EQ(acmStreamSize(h, 2 * Piece, &DstSize, ACM_STREAMSIZEF_SOURCE), MMSYSERR_NOERROR);
  Bytes Src(2 * Piece), Dst(DstSize), Out;
  ACMSTREAMHEADER hdr{};
  hdr.cbStruct = sizeof hdr;
  hdr.pbSrc = Src.data();
  hdr.cbSrcLength = static_cast<std::uint32_t>(Src.size());
  hdr.pbDst = Dst.data();
  hdr.cbDstLength = DstSize;
  EXPECT_EQ(acmStreamPrepareHeader(h, &hdr), MMSYSERR_NOERROR);
  std::uint32_t Held = 0;
  std::size_t At = 0;
  for (bool End = false; !End;) {
    const std::size_t n = std::min<std::size_t>(Piece, In.size() - At);
    std::memcpy(Src.data() + Held, In.data() + At, n);
    At += n;
    End = At == In.size();
    hdr.cbSrcLength = static_cast<std::uint32_t>(Held + n);
    EXPECT_EQ(
        acmStreamConvert(h, &hdr, End ? ACM_STREAMCONVERTF_END : ACM_STREAMCONVERTF_BLOCKALIGN),
        MMSYSERR_NOERROR);
    EXPECT_TRUE(hdr.fdwStatus & ACMSTREAMHEADER_STATUSF_DONE);
    Out.insert(Out.end(), Dst.begin(), Dst.begin() + hdr.cbDstLengthUsed);
    Held = hdr.cbSrcLength - hdr.cbSrcLengthUsed;
    std::memmove(Src.data(), Src.data() + hdr.cbSrcLengthUsed, Held);
  }
  do {  // drain
    hdr.cbSrcLength = 0;
    EXPECT_EQ(acmStreamConvert(h, &hdr, ACM_STREAMCONVERTF_END), MMSYSERR_NOERROR);
    Out.insert(Out.end(), Dst.begin(), Dst.begin() + hdr.cbDstLengthUsed);
  } while (hdr.cbDstLengthUsed > 0);
  hdr.cbSrcLength = static_cast<std::uint32_t>(Src.size());
  EXPECT_EQ(acmStreamUnprepareHeader(h, &hdr), MMSYSERR_NOERROR);
  EXPECT_EQ(acmStreamClose(h), MMSYSERR_NOERROR);
  return Out;
}

TEST(CodecManager, ReportsVersionNamesAndTexts) {
  EXPECT_GE(acmGetVersion() >> 16, 0x0200u);
  ACMFORMATTAGDETAILS t{};
  t.cbStruct = sizeof t;
  for (auto [Tag, Name] :
       {std::pair{1u, "PCM"}, {0x11u, "IMA ADPCM"}, {6u, "CCITT A-Law"}, {7u, "CCITT mu-Law"}}) {
    t.dwFormatTag = Tag;
    ASSERT_EQ(acmFormatTagDetails(&t, ACM_FORMATTAGDETAILSF_FORMATTAG), MMSYSERR_NOERROR);
    EXPECT_STREQ(t.szFormatTag, Name);
  }
  t.dwFormatTag = 0x55;
  EXPECT_EQ(acmFormatTagDetails(&t, ACM_FORMATTAGDETAILSF_FORMATTAG), ACMERR_NOTPOSSIBLE);

  Format Cd = Pcm(16, 2, 44100);
  ACMFORMATDETAILS d{};
  d.cbStruct = sizeof d;
  d.dwFormatTag = 1;
  d.pwfx = &Cd.f;
  d.cbwfx = 18;
  ASSERT_EQ(acmFormatDetails(&d, ACM_FORMATDETAILSF_FORMAT), MMSYSERR_NOERROR);
  EXPECT_STREQ(d.szFormat, "44.100 kHz, 16 Bit, Stereo");
  Format Ima = Suggested(Pcm(16, 1, 8000), WAVE_FORMAT_IMA_ADPCM);
  d.dwFormatTag = 0x11;
  d.pwfx = &Ima.f;
  ASSERT_EQ(acmFormatDetails(&d, ACM_FORMATDETAILSF_FORMAT), MMSYSERR_NOERROR);
  EXPECT_STREQ(d.szFormat, "8.000 kHz, 4 Bit, Mono");
}

TEST(CodecManager, OneStreamChangesWidthOrLayoutNeverBoth) {
  const Format Cd = Pcm(16, 2, 44100);
  EXPECT_TRUE(Possible(Cd, Pcm(8, 2, 44100)));
  EXPECT_TRUE(Possible(Cd, Pcm(16, 1, 11025)));
  EXPECT_FALSE(Possible(Cd, Pcm(8, 1, 11025)));
  EXPECT_FALSE(Possible(Cd, Pcm(8, 1, 44100)));

  // Suggestions keep the fixed fields and take the rest from the source.
  Format m = Pcm(0, 1, 11025);
  ASSERT_EQ(acmFormatSuggest(&Cd.f, &m.f, sizeof m,
                             ACM_FORMATSUGGESTF_NCHANNELS | ACM_FORMATSUGGESTF_NSAMPLESPERSEC),
            MMSYSERR_NOERROR);
  EXPECT_EQ(m.f.wBitsPerSample, 16);
  EXPECT_EQ(m.f.nChannels, 1);
  EXPECT_EQ(m.f.nSamplesPerSec, 11025u);
  EXPECT_EQ(m.f.nAvgBytesPerSec, 22050u);
  m = Pcm(8, 1, 11025);
  EXPECT_EQ(acmFormatSuggest(&Cd.f, &m.f, sizeof m,
                             ACM_FORMATSUGGESTF_NCHANNELS | ACM_FORMATSUGGESTF_NSAMPLESPERSEC |
                                 ACM_FORMATSUGGESTF_WBITSPERSAMPLE),
            ACMERR_NOTPOSSIBLE);

  // Codecs decode to 16-bit PCM of their own layout, and encode only that.
  const Format Ima = Suggested(Cd, WAVE_FORMAT_IMA_ADPCM);
  EXPECT_EQ(Ima.f.nBlockAlign, 2048);
  EXPECT_EQ(Ima.f.cbSize, 2);
  EXPECT_EQ(Ima.Extra[0] | Ima.Extra[1] << 8, 2041);
  const Format Back = Suggested(Ima, WAVE_FORMAT_PCM);
  EXPECT_EQ(std::memcmp(&Back.f, &Cd.f, 16), 0);
  EXPECT_FALSE(Possible(Ima, Pcm(16, 1, 44100)));
  EXPECT_FALSE(Possible(Pcm(8, 2, 44100), Ima));
  const Format Alaw = Suggested(Pcm(16, 1, 8000), WAVE_FORMAT_ALAW);
  EXPECT_EQ(Alaw.f.wBitsPerSample, 8);
  EXPECT_EQ(Alaw.f.nAvgBytesPerSec, 8000u);
  EXPECT_TRUE(Possible(Alaw, Pcm(16, 1, 8000)));
  EXPECT_FALSE(Possible(Alaw, Pcm(8, 1, 8000)));
}

TEST(CodecManager, StreamHeadersFollowThePrepareProtocol) {
  const Format Cd = Pcm(16, 2, 44100), Half = Pcm(8, 2, 44100);
  HACMSTREAM h = 0;
  ASSERT_EQ(acmStreamOpen(&h, &Cd.f, &Half.f, 0), MMSYSERR_NOERROR);
  Bytes Src(64, 0), Dst(32);
  ACMSTREAMHEADER hdr{};
  hdr.cbStruct = sizeof hdr;
  hdr.pbSrc = Src.data();
  hdr.cbSrcLength = 64;
  hdr.pbDst = Dst.data();
  hdr.cbDstLength = 32;
  EXPECT_EQ(acmStreamConvert(h, &hdr, 0), ACMERR_UNPREPARED);
  ASSERT_EQ(acmStreamPrepareHeader(h, &hdr), MMSYSERR_NOERROR);
  hdr.cbSrcLength = 65;  // more than prepared
  EXPECT_EQ(acmStreamConvert(h, &hdr, 0), MMSYSERR_INVALPARAM);
  hdr.cbSrcLength = 62;  // whole frames only
  ASSERT_EQ(acmStreamConvert(h, &hdr, ACM_STREAMCONVERTF_BLOCKALIGN), MMSYSERR_NOERROR);
  EXPECT_EQ(hdr.cbSrcLengthUsed, 60u);
  EXPECT_EQ(hdr.cbDstLengthUsed, 30u);
  EXPECT_EQ(Dst[0], 128);
  EXPECT_EQ(acmStreamUnprepareHeader(h, &hdr), MMSYSERR_INVALPARAM);  // not as prepared
  hdr.cbSrcLength = 64;
  EXPECT_EQ(acmStreamUnprepareHeader(h, &hdr), MMSYSERR_NOERROR);
  EXPECT_EQ(acmStreamClose(h), MMSYSERR_NOERROR);
  EXPECT_EQ(acmStreamClose(h), MMSYSERR_INVALHANDLE);
  EXPECT_EQ(acmStreamReset(h), MMSYSERR_INVALHANDLE);
}

TEST(CodecManager, G711CodesSurviveARoundTrip) {
  for (int Code = 0; Code < 256; ++Code) {
    const auto c = static_cast<std::uint8_t>(Code);
    EXPECT_EQ(g711::LinearToAlaw(g711::AlawToLinear(c)), c) << Code;
    if (Code != 0x7F) {  // mu-law has two codes for 0; 0xFF is the one encoded
      EXPECT_EQ(g711::LinearToMulaw(g711::MulawToLinear(c)), c) << Code;
    }
  }
  EXPECT_EQ(g711::AlawToLinear(g711::LinearToAlaw(32767)), 32256);
  EXPECT_EQ(g711::AlawToLinear(g711::LinearToAlaw(-32768)), -32256);
  EXPECT_EQ(g711::MulawToLinear(g711::LinearToMulaw(32767)), 32124);
  EXPECT_EQ(g711::MulawToLinear(g711::LinearToMulaw(-32768)), -32124);
}

TEST(CodecManager, ImaRoundTripIsCloseAndIndependentOfPieceSizes) {
  for (int Channels : {1, 2}) {
    const Format In = Pcm(16, static_cast<std::uint16_t>(Channels), 22050);
    const Format Ima = Suggested(In, WAVE_FORMAT_IMA_ADPCM);
    const Bytes Audio = Sine(22050 + 77, Channels, 440, 22050);  // ends in a partial block
    const Bytes Encoded = Convert(In, Ima, Audio, 8192);
    EXPECT_EQ(Encoded.size() % Ima.f.nBlockAlign, 0u);
    EXPECT_EQ(Convert(In, Ima, Audio, 1001 * 2 * Channels), Encoded);
    const Bytes Decoded = Convert(Ima, In, Encoded, 3000);
    EXPECT_EQ(Convert(Ima, In, Encoded, Ima.f.nBlockAlign), Decoded);
    ASSERT_GE(Decoded.size(), Audio.size());
    const auto a = Samples(Audio), b = Samples(Decoded);
    double Noise = 0, Signal = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
      Signal += double(a[i]) * a[i];
      Noise += double(a[i] - b[i]) * (a[i] - b[i]);
    }
    EXPECT_GT(10 * std::log10(Signal / Noise), 30.0) << Channels;
  }
}

TEST(CodecManager, ImaDecoderSkipsDamagedBlocksAndDecodesATruncatedLastOne) {
  const Format Pcm16 = Pcm(16, 1, 8000);
  const Format Ima = Suggested(Pcm16, WAVE_FORMAT_IMA_ADPCM);  // 256-byte blocks, 505 samples
  Bytes Blocks(3 * 256, 0x31);
  for (int b = 0; b < 3; ++b) {
    Blocks[b * 256 + 0] = 0x10;  // first sample 16
    Blocks[b * 256 + 1] = 0;
    Blocks[b * 256 + 2] = 20;
    Blocks[b * 256 + 3] = 0;
  }
  Blocks[256 + 2] = 89;            // the middle block's step index is out of range
  Blocks.resize(2 * 256 + 4 + 9);  // the last block: its header and one whole group
  const auto s = Samples(Convert(Ima, Pcm16, Blocks, 4096));
  // The truncated block holds two whole groups of 8 codes and one byte more.
  ASSERT_EQ(s.size(), 505u + 1u + 16u);
  EXPECT_EQ(s[0], 16);
  EXPECT_EQ(s[505], 16);
  ima::Channel c{16, 20};
  for (int i = 0; i < 16; ++i) EXPECT_EQ(s[506 + i], ima::DecodeCode(c, i % 2 ? 3 : 1)) << i;
}

TEST(CodecManager, ResamplingKeepsLengthAndPitchAndIsRepeatable) {
  const Format Cd = Pcm(16, 2, 44100), Low = Pcm(16, 1, 11025);
  const Bytes Audio = Sine(44100, 2, 1000, 44100);
  const auto Out = Samples(Convert(Cd, Low, Audio, 8192));
  EXPECT_NEAR(static_cast<double>(Out.size()), 11025, 2);
  // Stereo with the right channel inverted averages to silence: use the left only.
  const auto Mono = Samples(Convert(Pcm(16, 1, 44100), Low, Sine(44100, 1, 1000, 44100), 5000));
  int Crossings = 0;
  for (std::size_t i = 1; i < Mono.size(); ++i) Crossings += (Mono[i - 1] < 0) != (Mono[i] < 0);
  EXPECT_NEAR(Crossings, 2000, 4);
  for (auto v : Out) EXPECT_LE(std::abs(v), 40);
  EXPECT_EQ(Samples(Convert(Pcm(16, 1, 44100), Low, Sine(44100, 1, 1000, 44100), 5000)), Mono);
}

}  // namespace
}  // namespace velmar

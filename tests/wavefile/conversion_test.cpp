// The conversion streams and the conversion stages: format questions, the
// intermediate-format search, carried input and draining, the stage properties,
// the push and pull paths, and the ADPCM stage's own decoders on outside data.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "platform/acm/ms_adpcm.h"
#include "stream/errors.h"
#include "stream/wave_format.h"
#include "tests/support/formats.h"
#include "tests/support/temp_dir.h"
#include "tests/wavefile/conversion_chain.h"
#include "tests/wavefile/wave_file_test_support.h"

namespace velmar {
namespace {

using namespace test;

// A format with room for extra bytes.
#pragma pack(push, 1)
struct Format {
  WAVEFORMATEX f{};
  std::uint8_t Extra[64]{};
};
#pragma pack(pop)

Format Ima(std::uint16_t Channels, std::uint32_t Rate) {
  Format x;
  x.f.wFormatTag = WAVE_FORMAT_IMA_ADPCM;
  const WAVEFORMATEX In = PcmFormat(16, Channels, Rate);
  EXPECT_EQ(acmFormatSuggest(&In, &x.f, sizeof x, ACM_FORMATSUGGESTF_WFORMATTAG), 0u);
  return x;
}

// The block format of tag 0x0002 with the standard coefficients.
Format BlockAdpcm(std::uint16_t Channels, std::uint16_t BlockAlign) {
  static const std::int16_t Coef[7][2] = {{256, 0}, {512, -256}, {0, 0},     {192, 64},
                                          {240, 0}, {460, -208}, {392, -232}};
  Format x;
  x.f = {0x0002, Channels, 22050, 0, BlockAlign, 4, 32};
  const auto Samples = static_cast<std::uint16_t>((BlockAlign - 7 * Channels) * 2 / Channels + 2);
  x.f.nAvgBytesPerSec = 22050u * BlockAlign / Samples;
  std::memcpy(x.Extra, &Samples, 2);
  const std::uint16_t Count = 7;
  std::memcpy(x.Extra + 2, &Count, 2);
  std::memcpy(x.Extra + 4, Coef, sizeof Coef);
  return x;
}

Bytes Sine(std::size_t Frames, int Channels, double Hz, double Rate) {
  Bytes b;
  for (std::size_t i = 0; i < Frames; ++i) {
    const auto v = static_cast<std::int16_t>(
        std::lround(10000 * std::sin(2 * M_PI * Hz * static_cast<double>(i) / Rate)));
    for (int c = 0; c < Channels; ++c) {
      b.push_back(static_cast<std::uint8_t>(v));
      b.push_back(static_cast<std::uint8_t>(static_cast<std::uint16_t>(v) >> 8));
    }
  }
  return b;
}

// Everything a conversion makes of In, fed in pieces of Piece bytes, drained.
Bytes ConvertAll(TACMConversion& c, const Bytes& In, std::size_t Piece) {
  Bytes Out;
  for (std::size_t At = 0; At < In.size(); At += Piece) {
    const std::size_t n = std::min(Piece, In.size() - At);
    std::memcpy(c.SourceBuffer, In.data() + At, n);
    const std::int32_t Got = ConvertChunk(c, static_cast<std::int32_t>(n));
    EXPECT_GE(Got, 0);
    Out.insert(Out.end(), c.OutputBuffer, c.OutputBuffer + std::max(Got, 0));
  }
  for (std::int32_t Got; (Got = FlushConversion(c, 0)) > 0;)
    Out.insert(Out.end(), c.OutputBuffer, c.OutputBuffer + Got);
  return Out;
}

TEST(ConversionStreams, AnswerFormatQuestions) {
  const WAVEFORMATEX Cd = CdFormat;
  WAVEFORMATEX Other = Cd;
  Other.cbSize = 7;
  Other.nAvgBytesPerSec = 1;
  EXPECT_FALSE(FormatsDiffer(&Cd, &Other));  // only tag, bits, channels and rate count
  EXPECT_FALSE(FormatsDiffer(&Cd, nullptr));
  Other.nSamplesPerSec = 48000;
  EXPECT_TRUE(FormatsDiffer(&Cd, &Other));

  EXPECT_EQ(std::memcmp(&Cd, &(const WAVEFORMATEX&)SuggestPCM(&Cd), 16), 0);
  const Format I = Ima(2, 44100);
  const WAVEFORMATEX Decoded = SuggestPCM(&I.f);
  EXPECT_EQ(std::memcmp(&Decoded, &Cd, 16), 0);
  const WAVEFORMATEX Mp3{0x55, 2, 44100, 16000, 1, 0, 0};
  EXPECT_EQ(SuggestPCM(&Mp3).wFormatTag, 0);
  EXPECT_FALSE(CanConvertFormats(&Mp3, &Cd, TMMConvertQuality::cqLow));
  EXPECT_FALSE(CanConvertFormats(nullptr, &Cd, TMMConvertQuality::cqLow));
  EXPECT_TRUE(CanConvertFormats(&Cd, &Cd, TMMConvertQuality::cqLow));

  std::string Tag, Text;
  EXPECT_FALSE(GetFormatNames(nullptr, Tag, Text));
  ASSERT_TRUE(GetFormatNames(&Cd, Tag, Text));
  EXPECT_EQ(Tag + " " + Text, "PCM 44.100 kHz, 16 Bit, Stereo");
  ASSERT_TRUE(GetFormatNames(&I.f, Tag, Text));
  EXPECT_EQ(Tag + " " + Text, "IMA ADPCM 44.100 kHz, 4 Bit, Stereo");
  ASSERT_TRUE(GetFormatNames(&Mp3, Tag, Text));  // the library's own names
  EXPECT_EQ(Tag, "MPEG Layer-3");
  EXPECT_EQ(Text, WaveFormatText(&Mp3));
}

TEST(ConversionStreams, ChangeChannelsAndRateFirstThenBits) {
  const WAVEFORMATEX Cd = CdFormat, Low = PcmFormat(8, 1, 11025);
  ASSERT_TRUE(CanConvertFormats(&Cd, &Low, TMMConvertQuality::cqLow));
  auto c = OpenConversion(&Cd, &Low, nullptr, TMMConvertQuality::cqLow, 8190);
  ASSERT_TRUE(c);
  EXPECT_EQ(c->ChunkSize, 8188);  // whole frames
  ASSERT_EQ(c->Stages.size(), 2u);
  EXPECT_EQ(c->Stages[1]->Source, c->Stages[0]->Destination.get());  // in place, stage to stage
  const Bytes Out = ConvertAll(*c, Sine(44100, 2, 500, 44100), 4000);
  EXPECT_NEAR(static_cast<double>(Out.size()), 11025, 2);
  int Crossings = 0;
  for (std::size_t i = 1; i < Out.size(); ++i) Crossings += (Out[i - 1] < 128) != (Out[i] < 128);
  EXPECT_NEAR(Crossings, 1000, 4);

  // Decoding goes through PCM of the source's own layout first.
  const Format I = Ima(2, 44100);
  auto d = OpenConversion(&I.f, &Low, nullptr, TMMConvertQuality::cqHigh, 8192);
  ASSERT_TRUE(d);
  EXPECT_EQ(d->Stages.size(), 3u);
  const WAVEFORMATEX Mp3{0x55, 2, 44100, 16000, 1, 0, 0};
  EXPECT_FALSE(OpenConversion(&Mp3, &Cd, nullptr, TMMConvertQuality::cqLow, 8192));
  EXPECT_FALSE(OpenConversion(&Cd, &Cd, nullptr, TMMConvertQuality::cqLow, 8192));  // no stage
}

TEST(ConversionStreams, CarryPartialBlocksAndStartAfreshAfterAReset) {
  const Format I = Ima(1, 8000);  // 256-byte blocks
  const WAVEFORMATEX Pcm = PcmFormat(16, 1, 8000);
  auto Encoder = OpenConversion(&Pcm, &I.f, nullptr, TMMConvertQuality::cqLow, 8192);
  ASSERT_TRUE(Encoder);
  const Bytes Encoded = ConvertAll(*Encoder, Sine(8000, 1, 300, 8000), 8192);
  ASSERT_EQ(Encoded.size() % 256, 0u);

  auto c = OpenConversion(&I.f, &Pcm, nullptr, TMMConvertQuality::cqLow, 8192);
  ASSERT_TRUE(c);
  std::memcpy(c->SourceBuffer, Encoded.data(), 300);
  EXPECT_EQ(ConvertChunk(*c, 300), 505 * 2);
  EXPECT_TRUE(c->InputPending);  // 44 bytes wait for the rest of their block
  std::memcpy(c->SourceBuffer, Encoded.data() + 300, 100);
  EXPECT_EQ(ConvertChunk(*c, 100), 0);
  EXPECT_TRUE(c->InputPending);
  ResetConversion(*c);
  EXPECT_FALSE(c->InputPending);
  const Bytes Whole = ConvertAll(*c, Encoded, 8192);
  EXPECT_EQ(ConvertAll(*c, Encoded, 777), Whole);
  EXPECT_EQ(Whole.size(), Encoded.size() / 256 * 505 * 2);
}

TEST(PCMConverter, PropertiesShapeTheTarget) {
  TSourceOnly Source;
  TMMPCMConverter c;
  Source.SetOutput(&c);
  const WAVEFORMATEX Cd = CdFormat;
  Source.SetPWaveFormat(&Cd);
  // AutoConvert with a PCM input: passed through as it is.
  EXPECT_FALSE(c.NeedsConversion());
  EXPECT_EQ(std::memcmp(c.PWaveFormat(), &Cd, 16), 0);

  c.SetAutoConvert(false);  // 8 bit, mono, 11025 Hz by default
  EXPECT_TRUE(c.NeedsConversion());
  EXPECT_TRUE(c.CanConvert());
  EXPECT_EQ(std::memcmp(c.PWaveFormat(), &(const WAVEFORMATEX&)PcmFormat(8, 1, 11025), 16), 0);
  c.SetRequired(rpBits);
  EXPECT_EQ(std::memcmp(c.PWaveFormat(), &(const WAVEFORMATEX&)PcmFormat(8, 2, 44100), 16), 0);

  c.SetSampleRate(96000);
  EXPECT_EQ(c.SampleRate(), 88200);
  c.SetSampleRate(4000);
  EXPECT_EQ(c.SampleRate(), 8000);
  c.SetMode(static_cast<TMMMode>(5));
  EXPECT_EQ(c.Mode(), TMMMode::mMono);

  c.SetEnabled(false);  // a disabled stage announces its input
  EXPECT_EQ(std::memcmp(c.PWaveFormat(), &Cd, 16), 0);
  EXPECT_FALSE(c.NeedsConversion());

  const WAVEFORMATEX Bad = PcmFormat(24, 2, 44100);
  try {
    c.SetPWaveFormat(&Bad);
    FAIL() << "no exception";
  } catch (const EMMConverterError& e) {
    EXPECT_STREQ(e.what(), "Invalid WaveFormat");
  }

  // A bit length out of range is ignored, as the other converters do: the
  // setters that follow keep working.
  const TMMBits Before = c.BitLength();
  c.SetBitLength(static_cast<TMMBits>(7));
  EXPECT_EQ(c.BitLength(), Before);
  EXPECT_NO_THROW(c.SetSampleRate(22050));
}

TEST(PCMConverter, AnUndecodableSourceFailsWhenTheChainOpens) {
  TDevice Source;
  TMMPCMConverter c;
  TPlain Sink;
  Source.SetOutput(&c);
  c.SetOutput(&Sink);
  const WAVEFORMATEX Mp3{0x55, 2, 44100, 16000, 1, 0, 0};
  Source.SetPWaveFormat(&Mp3);
  EXPECT_TRUE(c.NeedsConversion());
  EXPECT_FALSE(c.CanConvert());
  try {
    Source.Opened();
    FAIL() << "no exception";
  } catch (const EMMConverterError& e) {
    EXPECT_STREQ(e.what(), "Unable to convert to destination format");
  }
}

TEST(ACMConverter, PushedBuffersComeOutConvertedInPiecesOfTheBufferSize) {
  TDevice Source;
  TMMACMConverter c;
  TPlain Sink;
  Source.SetOutput(&c);
  c.SetOutput(&Sink);
  const WAVEFORMATEX Cd = CdFormat, Low = PcmFormat(16, 1, 11025);
  Source.SetPWaveFormat(&Cd);
  c.SetPWaveFormat(&Low);
  Source.SetBufferSize(1000);
  Bytes Got;
  std::uint32_t Largest = 0;
  Sink.OnBufferReady = [&](TObject*, PWaveHdr h) {
    Got.insert(Got.end(), h->wh.lpData, h->wh.lpData + h->wh.dwBytesRecorded);
    Largest = std::max(Largest, h->wh.dwBytesRecorded);
  };
  Source.Opened();
  Source.Started();
  const Bytes Audio = Sine(44100, 2, 500, 44100);
  for (std::size_t At = 0; At < Audio.size(); At += 10000) {
    Bytes Piece(Audio.begin() + static_cast<std::ptrdiff_t>(At),
                Audio.begin() + static_cast<std::ptrdiff_t>(std::min(At + 10000, Audio.size())));
    TMMWaveHdr h{};
    h.wh.lpData = reinterpret_cast<char*>(Piece.data());
    h.wh.dwBufferLength = h.wh.dwBytesRecorded = static_cast<std::uint32_t>(Piece.size());
    Source.BufferReady(&h);
  }
  EXPECT_EQ(Largest, static_cast<std::uint32_t>(c.BufferSize()));
  // All but what the resampler still holds.
  EXPECT_GT(Got.size(), 2 * 11025u - 2 * 1024u);
  EXPECT_LE(Got.size(), 2 * 11025u);
  Source.Stopped();
  Source.Closed();
}

struct Stages : ::testing::Test {
  TempDir Dir;
  std::string Name = Dir.File("in.wav");
};

TEST_F(Stages, ACompressedFilePullsThroughBothStagesInAnyPieceSize) {
  const Format I = Ima(2, 22050);
  const WAVEFORMATEX Pcm = PcmFormat(16, 2, 22050);
  auto Encoder = OpenConversion(&Pcm, &I.f, nullptr, TMMConvertQuality::cqLow, 8192);
  ASSERT_TRUE(Encoder);
  Record(Name, I.f, ConvertAll(*Encoder, Sine(22050, 2, 440, 22050), 8192));

  DecodeChain Chain(Name);
  EXPECT_FALSE(Chain.Adpcm.Enabled());  // the codec manager decodes this one
  Chain.Pcm.SetAutoConvert(false);
  Chain.Pcm.SetSampleRate(8000);
  const Bytes First = Chain.PullAll(1001);
  // 8-bit mono at 8000 Hz from 22050 Hz (blocks padded to whole ones).
  EXPECT_NEAR(static_cast<double>(First.size()), 8000 * 22 * 1017.0 / 22050, 8);
  // Down to single bytes, which end exactly where a converted piece ends.
  for (std::uint32_t Piece : {1u, 333u, 65536u}) EXPECT_EQ(Chain.PullAll(Piece), First) << Piece;
}

// Blocks of 1000 bytes do not divide the converter's 8192-byte chunks: what a
// conversion does not take waits for the next chunk, and every block decodes.
TEST_F(Stages, CompressedBlocksThatDoNotDivideTheChunkAllDecode) {
  Format I = Ima(2, 22050);
  I.f.nBlockAlign = 1000;
  const std::uint16_t Samples = (1000 - 4 * 2) * 8 / (4 * 2) + 1;
  std::memcpy(I.Extra, &Samples, 2);
  I.f.nAvgBytesPerSec = 22050u * 1000 / Samples;
  const WAVEFORMATEX Pcm = PcmFormat(16, 2, 22050);
  auto Encoder = OpenConversion(&Pcm, &I.f, nullptr, TMMConvertQuality::cqLow, 8192);
  ASSERT_TRUE(Encoder);
  const Bytes Encoded = ConvertAll(*Encoder, Sine(30 * Samples, 2, 440, 22050), 8192);
  ASSERT_EQ(Encoded.size(), 30 * 1000u);
  Record(Name, I.f, Encoded);
  DecodeChain Chain(Name);
  for (std::uint32_t Piece : {4096u, 65536u})
    EXPECT_EQ(Chain.PullAll(Piece).size(), 30u * Samples * 4) << Piece;
}

TEST_F(Stages, BlockDecoderCarriesBlocksAcrossChunksAndReducesTo8Bits) {
  // Blocks of 300 bytes do not divide the 4096-byte chunks.
  const Format F = BlockAdpcm(2, 300);
  std::mt19937 Random(7);
  Bytes Data(300 * 40 + 123);  // the file's reader drops a truncated last block
  for (auto& b : Data) b = static_cast<std::uint8_t>(Random());
  for (std::size_t At = 0; At < Data.size(); At += 300) {
    Data[At] %= 7;
    Data[At + 1] %= 7;
  }
  Record(Name, F.f, Data);
  std::vector<std::int16_t> Want(300 * 40 * 2), Block(2 * 2 * 300);
  std::size_t n = 0;
  for (std::size_t At = 0; At + 300 <= Data.size(); At += 300) {
    const int Frames =
        msadpcm::DecodeBlock(Data.data() + At, 300, 2, msadpcm::BlockSamples(F.f), Block.data());
    ASSERT_GT(Frames, 0);
    Want.resize(n + 2u * Frames);
    std::copy_n(Block.begin(), 2 * Frames, Want.begin() + static_cast<std::ptrdiff_t>(n));
    n += 2u * Frames;
  }
  DecodeChain Chain(Name);
  ASSERT_TRUE(Chain.Adpcm.CanDecode());
  const Bytes Got = Chain.PullAll(999 * 4);
  ASSERT_EQ(Got.size(), Want.size() * 2);
  EXPECT_EQ(std::memcmp(Got.data(), Want.data(), Got.size()), 0);

  Chain.Adpcm.SetBitLength(TMMBits::b8Bit);
  const Bytes Narrow = Chain.PullAll(1000);
  ASSERT_EQ(Narrow.size(), Want.size());
  for (std::size_t i = 0; i < Want.size(); ++i)
    ASSERT_EQ(Narrow[i], static_cast<std::uint8_t>(Want[i] / 256 + 128)) << i;
}

TEST_F(Stages, DamagedBlockDataEndsTheStreamQuietly) {
  const Format F = BlockAdpcm(1, 256);
  Bytes Data(256 * 20, 0x11);
  for (std::size_t At = 0; At < Data.size(); At += 256) Data[At] = 1;
  Data[256 * 3] = 7;  // a coefficient index out of range
  Record(Name, F.f, Data);
  DecodeChain Chain(Name);
  EXPECT_TRUE(Chain.PullAll(4096).empty());  // the first chunk holds the damaged block
  EXPECT_FALSE(Chain.Adpcm.CanDecode());

  // A wrong coefficient table is not this decoder's format at all.
  Format Wrong = BlockAdpcm(1, 256);
  Wrong.Extra[4] = 1;
  Record(Name, Wrong.f, Data);
  TMMWaveFile File;
  TMMADPCMConverter Adpcm;
  TDevice Out;
  File.Wave()->SetFileName(Name);
  File.SetOutput(&Adpcm);
  Adpcm.SetOutput(&Out);
  EXPECT_FALSE(Adpcm.CanHandle());
  EXPECT_THROW(Out.Opened(), EMMADPCMError);
}

// The block decoder fed straight from a byte source, as a stream ending in a
// fragment of a block arrives: every whole block comes out, a fragment that
// holds samples adds them, one too short for a block header adds nothing and
// takes nothing away (the last chunk holds 4 whole blocks and 96 bytes, which
// once decoded past the stage's buffer).
TEST(BlockDecoder, AFragmentAtTheEndAddsWhatItHoldsAndLosesNothingElse) {
  const Format F = BlockAdpcm(1, 1000);
  const std::uint32_t Frames = msadpcm::BlockSamples(F.f);
  for (const std::size_t Tail : {3u, 96u, 999u}) {
    for (const std::size_t Blocks : {2u, 4u, 8u}) {
      Bytes Data(1000 * Blocks + Tail, 0x11);
      for (std::size_t At = 0; At < Data.size(); At += 1000) Data[At] = 1;
      TSourceOnly Source;
      Source.SetPWaveFormat(&F.f);
      std::size_t Read = 0;
      Source.OnBufferLoad = [&](TObject*, PWaveHdr h, bool& More) {
        const std::size_t n = std::min<std::size_t>(h->wh.dwBufferLength, Data.size() - Read);
        std::memcpy(h->wh.lpData, Data.data() + Read, n);
        h->wh.dwBytesRecorded = static_cast<std::uint32_t>(n);
        Read += n;
        More = Read < Data.size();
      };
      TMMADPCMConverter Adpcm;
      TDevice Out;
      Source.SetOutput(&Adpcm);
      Adpcm.SetOutput(&Out);
      Out.Opened();
      Out.Started();
      std::size_t Got = 0;
      Bytes Buffer(4096);
      TMMWaveHdr h{};
      h.wh.lpData = reinterpret_cast<char*>(Buffer.data());
      for (int Guard = 0; Guard < 1000; ++Guard) {
        const bool More = PullBuffer(Out, &h, 4096);
        Got += h.wh.dwBytesRecorded;
        if (!More) break;
      }
      Out.Stopped();
      Out.Closed();
      const std::size_t TailFrames = Tail < 7 ? 0 : (Tail - 7) * 2 + 2;
      EXPECT_EQ(Got, 2 * (Blocks * Frames + TailFrames)) << Blocks << " blocks + " << Tail;
    }
  }
}

TEST_F(Stages, StepCodesKeepStateAcrossChunksAndSaturateOrWrap) {
  // Codes of 7 drive the predictor up until it runs out of range.
  Bytes Data(6000, 0x77);
  for (std::uint16_t Tag : {std::uint16_t{0x0033}, std::uint16_t{0x0003}}) {
    WAVEFORMATEX f{Tag, 1, 8000, 4000, 1, 4, 0};
    Record(Name, f, Data);
    DecodeChain Chain(Name);
    const Bytes Got = Chain.PullAll(777);
    ASSERT_EQ(Got.size(), Data.size() * 2 * 2);
    adpcm::StepState State;
    std::vector<std::int16_t> Want(Data.size() * 2);
    adpcm::DecodeStepCodes(Data.data(), Data.size(), 1, Tag == 0x0033, State, Want.data());
    EXPECT_EQ(std::memcmp(Got.data(), Want.data(), Got.size()), 0) << Tag;
    const auto Last = static_cast<std::int16_t>(Got[Got.size() - 2] | Got.back() << 8);
    if (Tag == 0x0033) {
      EXPECT_EQ(Last, 32767);
    } else {
      EXPECT_LT(*std::min_element(Want.begin() + 100, Want.end()), 0);  // wrapped
    }
  }
}

}  // namespace
}  // namespace velmar

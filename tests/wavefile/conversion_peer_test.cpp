// Our decoders and encoders against ffmpeg: files that sox and ffmpeg write in
// IMA ADPCM, MS ADPCM, A-law and mu-law decode here to exactly ffmpeg's samples,
// and files we encode decode in ffmpeg to within the codec's own error. The
// file reader (splitting, encoding) reads every format to ffmpeg's samples too.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "platform/acm/acm_api.h"
#include "stream/errors.h"
#include "tests/support/peer.h"
#include "tests/support/riff_builder.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wav_data.h"
#include "tests/wavefile/conversion_chain.h"
#include "tests/wavefile/wave_file_test_support.h"
#include "wavefile/wave_audio_reader.h"

namespace velmar {
namespace {

using namespace test;

// 16-bit samples of a raw little-endian byte string.
std::vector<std::int16_t> Samples(const Bytes& b) {
  std::vector<std::int16_t> s(b.size() / 2);
  for (size_t i = 0; i < s.size(); ++i)
    s[i] = static_cast<std::int16_t>(b[2 * i] | b[2 * i + 1] << 8);
  return s;
}

struct PeerCodecs : ::testing::Test {
  TempDir Dir;

  // A test signal that works every code: a sweep, noise and a loud burst.
  std::string Source(int Channels) {
    const std::string Name = Dir.File("source" + std::to_string(Channels) + ".wav");
    Peer("sox -n -r 44100 -b 16 -c " + std::to_string(Channels) + " " + Name +
         " synth 1.3 sine 50-15000 synth 1.3 pinknoise mix vol 0.7"
         " : synth 0.4 square 440 vol 0.99");
    return Name;
  }

  Bytes FfmpegDecode(const std::string& Name) {
    const std::string Raw = Name + ".raw";
    Peer("ffmpeg -v error -y -i " + Name + " -f s16le -acodec pcm_s16le " + Raw);
    return ReadFileBytes(Raw);
  }
};

TEST_F(PeerCodecs, PeerFilesDecodeToFfmpegsSamplesBitForBit) {
  struct Case {
    const char* Name;
    const char* Command;  // IN and OUT are replaced
  };
  const Case Cases[] = {
      {"ima_sox", "sox IN -e ima-adpcm OUT"},
      {"ima_ffmpeg", "ffmpeg -v error -y -i IN -c:a adpcm_ima_wav OUT"},
      {"ms_sox", "sox IN -e ms-adpcm OUT"},
      {"ms_ffmpeg", "ffmpeg -v error -y -i IN -c:a adpcm_ms OUT"},
      {"alaw_sox", "sox IN -e a-law OUT"},
      {"mulaw_ffmpeg", "ffmpeg -v error -y -i IN -c:a pcm_mulaw OUT"},
      {"alaw_ffmpeg_8k", "ffmpeg -v error -y -i IN -ar 8000 -c:a pcm_alaw OUT"},
  };
  for (int Channels : {1, 2}) {
    const std::string In = Source(Channels);
    for (const Case& c : Cases) {
      SCOPED_TRACE(std::string(c.Name) + " channels " + std::to_string(Channels));
      const std::string Out = Dir.File(std::string(c.Name) + std::to_string(Channels) + ".wav");
      std::string Command = c.Command;
      Command.replace(Command.find("IN"), 2, In);
      Command.replace(Command.find("OUT"), 3, Out);
      Peer(Command);
      const Bytes Expected = FfmpegDecode(Out);
      ASSERT_GT(Expected.size(), 10000u);
      // Awkward piece sizes: never a block, never a frame multiple of the chunk.
      for (std::uint32_t Piece : {1000u, 333u * 4u, 65536u}) {
        DecodeChain Chain(Out);
        const Bytes Got = Chain.PullAll(Piece);
        ASSERT_EQ(Got.size(), Expected.size()) << Piece;
        EXPECT_TRUE(Got == Expected) << Piece;
      }
    }
  }
}

// Signal-to-noise ratio in dB of Got against Want over Want's length.
double Snr(const std::vector<std::int16_t>& Want, const std::vector<std::int16_t>& Got) {
  double Signal = 0, Noise = 0;
  for (size_t i = 0; i < Want.size() && i < Got.size(); ++i) {
    Signal += double(Want[i]) * Want[i];
    Noise += (double(Want[i]) - Got[i]) * (double(Want[i]) - Got[i]);
  }
  return 10 * std::log10(Signal / std::max(Noise, 1.0));
}

TEST_F(PeerCodecs, FilesWeEncodeDecodeInFfmpegAsInOurDecoders) {
  struct Case {
    std::uint16_t Tag;
    const char* SoxEncoding;  // the peer encoder whose error ours must match
  };
  for (const Case c : {Case{WAVE_FORMAT_IMA_ADPCM, "ima-adpcm"}, Case{WAVE_FORMAT_ALAW, "a-law"},
                       Case{WAVE_FORMAT_MULAW, "u-law"}}) {
    for (int Channels : {1, 2}) {
      SCOPED_TRACE("tag " + std::to_string(c.Tag) + " channels " + std::to_string(Channels));
      const std::string SourceName = Source(Channels);
      BlockPtr In = Parse(SourceName);
      ASSERT_TRUE(In);
      const Bytes Pcm = ReadAll(In.get());
      // The codec manager's suggestion for the tag, as a caller would ask for it.
      struct {
        WAVEFORMATEX f;
        std::uint8_t Extra[32];
      } Target{};
      Target.f.wFormatTag = c.Tag;
      ASSERT_EQ(
          acmFormatSuggest(In->Format(), &Target.f, sizeof Target, ACM_FORMATSUGGESTF_WFORMATTAG),
          MMSYSERR_NOERROR);
      auto Conversion =
          OpenConversion(In->Format(), &Target.f, nullptr, TMMConvertQuality::cqLow, 8192);
      ASSERT_TRUE(Conversion);
      Bytes Encoded;
      for (size_t At = 0; At <= Pcm.size(); At += 5000) {
        const auto n = static_cast<std::int32_t>(std::min<size_t>(5000, Pcm.size() - At));
        std::copy_n(Pcm.begin() + static_cast<std::ptrdiff_t>(At), n, Conversion->SourceBuffer);
        const bool Last = At + 5000 > Pcm.size();
        std::int32_t Got = Last ? FlushConversion(*Conversion, n) : ConvertChunk(*Conversion, n);
        for (;;) {
          ASSERT_GE(Got, 0);
          Encoded.insert(Encoded.end(), Conversion->OutputBuffer, Conversion->OutputBuffer + Got);
          if (!Last || Got == 0) break;
          Got = FlushConversion(*Conversion, 0);
        }
      }
      const std::string Name = Dir.File("ours.wav");
      Record(Name, Target.f, Encoded);
      const auto Want = Samples(Pcm);
      const auto Theirs = Samples(FfmpegDecode(Name));
      ASSERT_GE(Theirs.size(), Want.size());
      EXPECT_LT(Theirs.size(),
                Want.size() + 2048u * static_cast<unsigned>(Channels));  // at most a padded block
      const std::string PeerName = Dir.File("peer.wav");
      Peer("sox " + SourceName + " -e " + c.SoxEncoding + " " + PeerName);
      const double PeerSnr = Snr(Want, Samples(FfmpegDecode(PeerName)));
      EXPECT_GT(Snr(Want, Theirs), PeerSnr - 0.5) << "peer " << PeerSnr;
      DecodeChain Chain(Name);
      EXPECT_TRUE(Samples(Chain.PullAll(4000)) == Theirs);
    }
  }
}

// Everything a reader gives, in reads of Piece bytes.
Bytes ReadWhole(TWaveAudioReader& Reader, std::int64_t Piece) {
  Bytes Got, Buffer(static_cast<std::size_t>(Piece));
  while (const std::int64_t n = Reader.Read(Buffer.data(), Piece))
    Got.insert(Got.end(), Buffer.begin(), Buffer.begin() + n);
  return Got;
}

TEST_F(PeerCodecs, TheFileReaderReadsEveryFormatToFfmpegsSamples) {
  const char* Commands[] = {
      // sox writes an extensible header for these; the plain one is made below
      "sox -n -r 48000 -b 24 -c CH OUT synth 1.3 sine 50-15000 synth 1.3 pinknoise mix vol 0.9",
      "sox -n -r 44100 -b 32 -e signed -c CH OUT synth 1.3 pinknoise vol 0.9",
      "sox -n -r 44100 -b 32 -e floating-point -c CH OUT synth 1.3 sine 440 vol 1.2 gain 3",
      "ffmpeg -v error -y -f lavfi -i anoisesrc=a=0.8:d=1.3 -ac CH -c:a pcm_f64le OUT",
      "sox -n -r 22050 -c CH -e ms-adpcm OUT synth 1.3 sine 50-9000 synth 1.3 pinknoise mix",
      "sox -n -r 8000 -c CH -e a-law OUT synth 1.3 pinknoise",
  };
  int Index = 0;
  for (int Channels : {1, 2}) {
    for (const char* Command : Commands) {
      std::string Line = Command;
      Line.replace(Line.find("CH"), 2, std::to_string(Channels));
      const std::string Name = Dir.File("f" + std::to_string(++Index) + ".wav");
      Line.replace(Line.find("OUT"), 3, Name);
      SCOPED_TRACE(Line);
      Peer(Line);
      const Bytes Expected = FfmpegDecode(Name);
      ASSERT_GT(Expected.size(), 10000u);
      for (std::int64_t Piece : {333 * 4, 1 << 16}) {
        TWaveAudioReader Reader(Name);
        EXPECT_EQ(Reader.Target().wBitsPerSample, 16);
        EXPECT_EQ(Reader.Target().nChannels, Channels);
        const Bytes Got = ReadWhole(Reader, Piece);
        ASSERT_EQ(Got.size(), Expected.size()) << Piece;
        EXPECT_TRUE(Got == Expected) << Piece;
      }
    }
  }
  // A plain header for 24-bit audio reads as the extensible one.
  const std::string Plain = Dir.File("plain24.wav");
  WriteFileBytes(Plain, Riff({PcmFmt(1, 48000, 24), Chunk("data", WavData(Dir.File("f1.wav")))}));
  TWaveAudioReader Reader(Plain);
  EXPECT_TRUE(ReadWhole(Reader, 4096) == FfmpegDecode(Dir.File("f1.wav")));

  // A format nothing converts is refused, naming it.
  const std::string Odd = Dir.File("odd.wav");
  WriteFileBytes(Odd, Riff({Chunk("fmt ", FmtBody(0x1234, 2, 44100, 176400, 4, 16)),
                            Chunk("data", Bytes(4000, 1))}));
  try {
    TWaveAudioReader Refused(Odd);
    ADD_FAILURE() << "read";
  } catch (const EMMWaveError& e) {
    EXPECT_NE(std::string(e.what()).find("44.100 kHz, 16 Bit, Stereo) cannot be converted"),
              std::string::npos)
        << e.what();
  }
}

}  // namespace
}  // namespace velmar

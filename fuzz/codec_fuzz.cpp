// Feeds arbitrary formats and data to the decoders: the codec manager's streams
// (decoding to the PCM it suggests, then on to 8-bit mono 11025 Hz) and the
// ADPCM stage with its block and step-table decoders, in pieces of varying
// sizes. The input is: a format record (18 bytes plus up to 64 extra bytes, as
// cbSize says), a byte choosing the piece size, then the data.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "stream/wave_format.h"
#include "wavefile/acm_conversion.h"
#include "wavefile/adpcm_converter.h"

namespace {

using namespace velmar;

void Check(bool Condition) {
  if (!Condition) __builtin_trap();
}

// A source that hands out the data in pieces of at most Piece bytes.
class DataSource : public TMMDSPComponent {
 public:
  DataSource(const std::uint8_t* Data, std::size_t Size, std::uint32_t Piece)
      : FData(Data), FSize(Size), FPiece(Piece) {
    PublishLinks(false, true);
  }
  using TMMDSPComponent::SetOutput;
  void BufferLoad(PWaveHdr h, bool& More) override {
    const std::size_t n = std::min<std::size_t>({FPiece, h->wh.dwBufferLength, FSize - FAt});
    std::memcpy(h->wh.lpData, FData + FAt, n);
    h->wh.dwBytesRecorded = static_cast<std::uint32_t>(n);
    FAt += n;
    More = FAt < FSize;
  }

 private:
  const std::uint8_t* FData;
  std::size_t FSize, FAt = 0;
  std::uint32_t FPiece;
};

void ThroughCodecs(const WAVEFORMATEX& Format, const std::uint8_t* Data, std::size_t Size,
                   std::uint32_t Piece) {
  const WAVEFORMATEX Pcm = SuggestPCM(&Format);
  WAVEFORMATEX Low{};  // through the search of stages in between
  BuildPCMFormat(&Low, 8, 1, 11025);
  for (const WAVEFORMATEX* Target : {&Pcm, static_cast<const WAVEFORMATEX*>(&Low)}) {
    if (Pcm.wFormatTag == 0) return;
    auto c = OpenConversion(&Format, Target, nullptr, TMMConvertQuality::cqLow, 8192);
    if (!c) continue;
    for (std::size_t At = 0; At < Size;) {
      const auto n = static_cast<std::int32_t>(std::min<std::size_t>(Piece, Size - At));
      std::memcpy(c->SourceBuffer, Data + At, static_cast<std::size_t>(std::min(n, c->ChunkSize)));
      At += static_cast<std::size_t>(std::min(n, c->ChunkSize));
      const std::int32_t Got = ConvertChunk(*c, n);
      Check(Got <= c->OutputSize);
    }
    for (int i = 0; i < 100 && FlushConversion(*c, 0) > 0; ++i) {
    }
  }
}

void ThroughAdpcmStage(const WAVEFORMATEX& Format, const std::uint8_t* Data, std::size_t Size,
                       std::uint32_t Piece, TMMBits Bits) {
  DataSource Source(Data, Size, Piece);
  TMMADPCMConverter Stage;
  Stage.SetBitLength(Bits);
  Source.SetPWaveFormat(&Format);
  Source.SetOutput(&Stage);
  if (!Stage.NeedsDecoding() || !Stage.CanDecode()) return;
  Stage.Opened();
  Stage.Started();
  std::vector<std::uint8_t> Buffer(Piece * 3 + 1);
  TMMWaveHdr h{};
  h.wh.lpData = reinterpret_cast<char*>(Buffer.data());
  for (int Guard = 0; Guard < 100000; ++Guard) {
    if (!PullBuffer(Stage, &h, static_cast<std::uint32_t>(Buffer.size()))) break;
  }
  Stage.Stopped();
  Stage.Closed();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  if (Size < sizeof(WAVEFORMATEX) + 1) return 0;
  std::vector<std::uint8_t> Record(sizeof(WAVEFORMATEX) + 64, 0);
  std::memcpy(Record.data(), Data, sizeof(WAVEFORMATEX));
  auto* Format = reinterpret_cast<WAVEFORMATEX*>(Record.data());
  const std::size_t Extra = std::min<std::size_t>(Format->cbSize, 64);
  if (Size < sizeof(WAVEFORMATEX) + Extra + 1) return 0;
  Format->cbSize = static_cast<std::uint16_t>(Extra);
  std::memcpy(Record.data() + sizeof(WAVEFORMATEX), Data + sizeof(WAVEFORMATEX), Extra);
  const std::uint8_t Choice = Data[sizeof(WAVEFORMATEX) + Extra];
  const std::uint8_t* Audio = Data + sizeof(WAVEFORMATEX) + Extra + 1;
  const std::size_t Bytes = Size - (sizeof(WAVEFORMATEX) + Extra + 1);
  const std::uint32_t Piece = 1u + (Choice & 0x7Fu) * 97u;
  ThroughCodecs(*Format, Audio, Bytes, Piece);
  ThroughAdpcmStage(*Format, Audio, Bytes, Piece, Choice & 0x80 ? TMMBits::b8Bit : TMMBits::b16Bit);
  return 0;
}

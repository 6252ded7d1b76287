// The PCM driver: one codec changes the sample width (8 <-> 16 bit), another
// the channels and the rate (mono <-> stereo; libsoxr resamples). A single
// stream never does both, so a change of width and layout takes two stages.
#include <soxr.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/acm/acm_api.h"
#include "platform/acm/acm_driver.h"

namespace velmar {

namespace {

// The rates the driver takes, and the largest factor one stream changes a rate
// by (its buffers grow with the factor).
constexpr std::uint32_t kMinRate = 1000, kMaxRate = 384000, kMaxRateFactor = 64;

}  // namespace

bool IsPlainPcm(const WAVEFORMATEX& f) {
  if (f.wFormatTag != WAVE_FORMAT_PCM) return false;
  if (f.wBitsPerSample != 8 && f.wBitsPerSample != 16) return false;
  if (f.nChannels != 1 && f.nChannels != 2) return false;
  if (f.nSamplesPerSec < kMinRate || f.nSamplesPerSec > kMaxRate) return false;
  return f.nBlockAlign == f.nChannels * f.wBitsPerSample / 8 &&
         f.nAvgBytesPerSec == f.nBlockAlign * f.nSamplesPerSec;
}

bool IsPcm16(const WAVEFORMATEX& f) {
  return IsPlainPcm(f) && f.wBitsPerSample == 16;
}

bool SameLayout(const WAVEFORMATEX& a, const WAVEFORMATEX& b) {
  return a.nChannels == b.nChannels && a.nSamplesPerSec == b.nSamplesPerSec;
}

void SetPcm(WAVEFORMATEX& f, std::uint16_t Bits, std::uint16_t Channels, std::uint32_t Rate) {
  f.wFormatTag = WAVE_FORMAT_PCM;
  f.nChannels = Channels;
  f.nSamplesPerSec = Rate;
  f.wBitsPerSample = Bits;
  f.nBlockAlign = static_cast<std::uint16_t>(Channels * Bits / 8);
  f.nAvgBytesPerSec = f.nBlockAlign * Rate;
  f.cbSize = 0;
}

namespace {

std::int16_t Load(const std::uint8_t* p, int Bits) {
  if (Bits == 8) return static_cast<std::int16_t>((p[0] - 128) * 256);
  return static_cast<std::int16_t>(p[0] | p[1] << 8);
}

void Store(std::uint8_t* p, int Bits, std::int16_t v) {
  if (Bits == 8) {
    p[0] = static_cast<std::uint8_t>((v >> 8) + 128);  // the high byte, offset binary
  } else {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(static_cast<std::uint16_t>(v) >> 8);
  }
}

std::uint32_t CeilDiv(std::uint64_t a, std::uint64_t b) {
  return static_cast<std::uint32_t>(std::min<std::uint64_t>((a + b - 1) / b, 0xFFFFFFFFu));
}

class WidthCodec : public AcmCodec {
 public:
  WidthCodec(const WAVEFORMATEX& Src, const WAVEFORMATEX& Dst)
      : FSrcBits(Src.wBitsPerSample),
        FDstBits(Dst.wBitsPerSample),
        FSrcBytes(Src.wBitsPerSample / 8),
        FDstBytes(Dst.wBitsPerSample / 8),
        FFrame(Src.nChannels) {}

  void Convert(const std::uint8_t* Src, std::uint32_t SrcLength, std::uint8_t* Dst,
               std::uint32_t DstLength, bool, std::uint32_t& Used,
               std::uint32_t& Produced) override {
    const std::uint32_t Frames =
        std::min(SrcLength / (FSrcBytes * FFrame), DstLength / (FDstBytes * FFrame));
    const std::uint32_t Samples = Frames * FFrame;
    for (std::uint32_t i = 0; i < Samples; ++i)
      Store(Dst + i * FDstBytes, FDstBits, Load(Src + i * FSrcBytes, FSrcBits));
    Used = Samples * FSrcBytes;
    Produced = Samples * FDstBytes;
  }
  std::uint32_t DestinationSize(std::uint32_t SrcBytes) const override {
    return CeilDiv(std::uint64_t{SrcBytes} * FDstBytes, FSrcBytes);
  }
  std::uint32_t SourceSize(std::uint32_t DstBytes) const override {
    return DstBytes / (FDstBytes * FFrame) * FSrcBytes * FFrame;
  }
  void Restart() override {}

 private:
  int FSrcBits, FDstBits;
  std::uint32_t FSrcBytes, FDstBytes, FFrame;
};

// Channels first (averaging to mono, copying to stereo), then the rate.
class LayoutCodec : public AcmCodec {
 public:
  LayoutCodec(const WAVEFORMATEX& Src, const WAVEFORMATEX& Dst, bool NonRealTime)
      : FBits(Src.wBitsPerSample),
        FSrcChannels(Src.nChannels),
        FDstChannels(Dst.nChannels),
        FSrcFrame(Src.nBlockAlign),
        FDstFrame(Dst.nBlockAlign),
        FRatio(double(Dst.nSamplesPerSec) / Src.nSamplesPerSec) {
    if (Src.nSamplesPerSec != Dst.nSamplesPerSec) {
      // No dither: the same input always gives the same samples.
      soxr_io_spec_t Io = soxr_io_spec(SOXR_INT16_I, SOXR_INT16_I);
      Io.flags |= SOXR_NO_DITHER;
      const soxr_quality_spec_t Quality = soxr_quality_spec(NonRealTime ? SOXR_VHQ : SOXR_MQ, 0);
      soxr_error_t Error = nullptr;
      FResampler = soxr_create(Src.nSamplesPerSec, Dst.nSamplesPerSec, FDstChannels, &Error, &Io,
                               &Quality, nullptr);
      if (Error) FResampler = nullptr;
    }
  }
  ~LayoutCodec() override {
    if (FResampler) soxr_delete(FResampler);
  }
  bool Valid() const { return FRatio == 1.0 || FResampler; }

  void Convert(const std::uint8_t* Src, std::uint32_t SrcLength, std::uint8_t* Dst,
               std::uint32_t DstLength, bool End, std::uint32_t& Used,
               std::uint32_t& Produced) override {
    std::uint32_t InFrames = SrcLength / FSrcFrame;
    const std::uint32_t OutRoom = DstLength / FDstFrame;
    if (!FResampler) InFrames = std::min(InFrames, OutRoom);
    Remix(Src, InFrames);
    std::uint32_t OutFrames = InFrames;
    const std::int16_t* Out = FIn.data();
    if (FResampler) {
      if (FEnded && InFrames > 0) {  // a new stream after a drained one
        soxr_clear(FResampler);
        FEnded = false;
      }
      FOut.resize(std::size_t{OutRoom} * FDstChannels);
      size_t Done = 0, Made = 0;
      // A null input would tell the filter that the stream ended.
      static const std::int16_t kNoInput[2] = {};
      soxr_process(FResampler, InFrames ? FIn.data() : kNoInput, InFrames, &Done, FOut.data(),
                   OutRoom, &Made);
      InFrames = static_cast<std::uint32_t>(Done);
      OutFrames = static_cast<std::uint32_t>(Made);
      if (End && Done == SrcLength / FSrcFrame && OutFrames < OutRoom) {
        // No more input: let out what the filter holds, as far as it fits.
        soxr_process(FResampler, nullptr, 0, nullptr, FOut.data() + Made * FDstChannels,
                     OutRoom - OutFrames, &Made);
        OutFrames += static_cast<std::uint32_t>(Made);
        FEnded = true;
      }
      Out = FOut.data();
    }
    for (std::uint32_t i = 0; i < OutFrames * FDstChannels; ++i)
      Store(Dst + i * (FBits / 8), FBits, Out[i]);
    Used = InFrames * FSrcFrame;
    Produced = OutFrames * FDstFrame;
  }
  std::uint32_t DestinationSize(std::uint32_t SrcBytes) const override {
    // The filter may hold frames back and let them out later: room for them.
    const std::uint64_t Frames = SrcBytes / FSrcFrame;
    const auto Out =
        static_cast<std::uint64_t>(static_cast<double>(Frames) * FRatio) + (FResampler ? 1024 : 0);
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(Out * FDstFrame, 0x7FFFFFFF));
  }
  std::uint32_t SourceSize(std::uint32_t DstBytes) const override {
    return static_cast<std::uint32_t>(DstBytes / FDstFrame / FRatio) * FSrcFrame;
  }
  void Restart() override {
    if (FResampler) soxr_clear(FResampler);
    FEnded = false;
  }

 private:
  void Remix(const std::uint8_t* Src, std::uint32_t Frames) {
    const int Width = FBits / 8;
    FIn.resize(std::size_t{Frames} * FDstChannels);
    for (std::uint32_t i = 0; i < Frames; ++i) {
      const std::uint8_t* p = Src + i * FSrcFrame;
      if (FSrcChannels == FDstChannels) {
        for (int c = 0; c < FDstChannels; ++c)
          FIn[i * FDstChannels + c] = Load(p + c * Width, FBits);
      } else if (FDstChannels == 1) {
        FIn[i] = static_cast<std::int16_t>((Load(p, FBits) + Load(p + Width, FBits)) >> 1);
      } else {
        FIn[2 * i] = FIn[2 * i + 1] = Load(p, FBits);
      }
    }
  }

  int FBits, FSrcChannels, FDstChannels;
  std::uint32_t FSrcFrame, FDstFrame;
  double FRatio;
  soxr_t FResampler = nullptr;
  bool FEnded = false;
  std::vector<std::int16_t> FIn, FOut;  // grow to the largest call, then stay
};

class PcmDriver : public AcmDriver {
 public:
  const char* TagName(std::uint16_t Tag) const override {
    return Tag == WAVE_FORMAT_PCM ? "PCM" : nullptr;
  }
  bool Suggest(const WAVEFORMATEX& Src, AcmFormat& Dst, std::uint32_t Flags) const override {
    if (!IsPlainPcm(Src)) return false;
    const AcmLayout w = WantedLayout(
        Dst.wfx, Flags, {WAVE_FORMAT_PCM, Src.nChannels, Src.nSamplesPerSec, Src.wBitsPerSample});
    if (w.Tag != WAVE_FORMAT_PCM) return false;
    WAVEFORMATEX f{};
    SetPcm(f, w.Bits, w.Channels, w.Rate);
    if (!Supports(Src, f)) return false;
    Dst = AcmFormat{};
    Dst.wfx = f;
    return true;
  }
  bool Supports(const WAVEFORMATEX& Src, const WAVEFORMATEX& Dst) const override {
    if (!IsPlainPcm(Src) || !IsPlainPcm(Dst)) return false;
    const std::uint32_t Low = std::min(Src.nSamplesPerSec, Dst.nSamplesPerSec);
    const std::uint32_t High = std::max(Src.nSamplesPerSec, Dst.nSamplesPerSec);
    if (High / Low > kMaxRateFactor) return false;
    return Src.wBitsPerSample == Dst.wBitsPerSample ||
           (Src.nChannels == Dst.nChannels && Src.nSamplesPerSec == Dst.nSamplesPerSec);
  }
  std::unique_ptr<AcmCodec> Open(const WAVEFORMATEX& Src, const WAVEFORMATEX& Dst,
                                 bool NonRealTime) const override {
    if (Src.wBitsPerSample != Dst.wBitsPerSample) return std::make_unique<WidthCodec>(Src, Dst);
    auto c = std::make_unique<LayoutCodec>(Src, Dst, NonRealTime);
    if (!c->Valid()) return nullptr;
    return c;
  }
};

}  // namespace

std::unique_ptr<AcmDriver> MakePcmDriver() {
  return std::make_unique<PcmDriver>();
}

}  // namespace velmar

#include "stream/pcm_samples.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

namespace velmar {

namespace {

// A little-endian 16-bit sample at p, read so that the loops stay vectorisable.
inline std::int16_t LoadLe16(const std::uint8_t* p) {
  std::uint16_t v;
  std::memcpy(&v, p, 2);
  if constexpr (std::endian::native == std::endian::big)
    v = static_cast<std::uint16_t>(v << 8 | v >> 8);
  return static_cast<std::int16_t>(v);
}

}  // namespace

std::uint8_t SilenceByte(std::uint16_t BitsPerSample) {
  return BitsPerSample == 8 ? 128 : 0;
}

void FillSilence(const WAVEFORMATEX& fmt, void* Dest, std::uint32_t Bytes) {
  std::memset(Dest, SilenceByte(fmt.wBitsPerSample), Bytes);
}

std::uint32_t ConvertBits(std::uint16_t DstBits, void* Dest, std::uint16_t SrcBits,
                          std::uint32_t SrcBytes, const void* Src) {
  auto* d = static_cast<std::uint8_t*>(Dest);
  const auto* s = static_cast<const std::uint8_t*>(Src);
  if (DstBits == SrcBits) {
    std::memmove(d, s, SrcBytes);
    return SrcBytes;
  }
  if (SrcBits == 16 && DstBits == 8) {
    const std::uint32_t Count = SrcBytes / 2;
    for (std::uint32_t i = 0; i < Count; ++i) {
      d[i] = static_cast<std::uint8_t>(LoadLe16(s + 2 * i) / 256 + 128);
    }
    return Count;
  }
  if (SrcBits == 8 && DstBits == 16) {
    // Backwards, so that a conversion in place does not overwrite unread input.
    for (std::uint32_t i = SrcBytes; i-- > 0;) {
      const auto Sample = static_cast<std::uint16_t>((s[i] - 128) * 256);
      d[2 * i] = static_cast<std::uint8_t>(Sample & 0xFF);
      d[2 * i + 1] = static_cast<std::uint8_t>(Sample >> 8);
    }
    return SrcBytes * 2;
  }
  return 0;
}

namespace {

// Full scale of an integer sample of Bytes bytes.
double FullScale(int Bytes) {
  return static_cast<double>(std::int64_t{1} << (8 * Bytes - 1));
}

}  // namespace

float SampleToFloat(const std::uint8_t* p, int Bytes, bool Float) {
  if (Float) {
    if (Bytes == 8) {
      double v;
      std::memcpy(&v, p, 8);
      return static_cast<float>(v);
    }
    float v;
    std::memcpy(&v, p, 4);
    return v;
  }
  return static_cast<float>(PcmSample(p, Bytes)) / static_cast<float>(FullScale(Bytes));
}

void FloatToSample(std::uint8_t* p, int Bytes, bool Float, float v) {
  if (Float) {
    if (Bytes == 8) {
      const double d = v;
      std::memcpy(p, &d, 8);
    } else {
      std::memcpy(p, &v, 4);
    }
    return;
  }
  const double Scale = FullScale(Bytes);
  const auto Most = static_cast<long>(Scale);
  auto s = static_cast<std::int32_t>(
      std::clamp(std::lround(static_cast<double>(v) * Scale), -Most, Most - 1));
  if (Bytes == 1) s += 128;  // 8-bit PCM is unsigned
  for (int b = 0; b < Bytes; ++b) p[b] = static_cast<std::uint8_t>(s >> (8 * b));
}

}  // namespace velmar

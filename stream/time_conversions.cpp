#include "stream/time_conversions.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "stream/arith.h"

namespace velmar {

namespace {

const WAVEFORMATEX& Need(const WAVEFORMATEX* fmt) {
  if (!fmt) throw std::invalid_argument("No wave format to convert with");
  return *fmt;
}

std::uint32_t BlockOf(const WAVEFORMATEX& fmt) {
  if (fmt.nBlockAlign == 0) throw std::domain_error("Division by zero");
  return fmt.nBlockAlign;
}

// Rounds up to the next block boundary, in unsigned arithmetic.
std::int32_t CeilBlock(const WAVEFORMATEX& fmt, std::int32_t x) {
  const std::uint32_t Blk = BlockOf(fmt);
  return static_cast<std::int32_t>((static_cast<std::uint32_t>(x) + Blk - 1) / Blk * Blk);
}

std::int64_t CeilBlock64(const WAVEFORMATEX& fmt, std::int64_t x) {
  const std::uint64_t Blk = BlockOf(fmt);
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(x) + Blk - 1) / Blk * Blk);
}

std::int32_t Sps(const WAVEFORMATEX& fmt) {
  return static_cast<std::int32_t>(fmt.nSamplesPerSec);
}
std::int32_t Avg(const WAVEFORMATEX& fmt) {
  return static_cast<std::int32_t>(fmt.nAvgBytesPerSec);
}

// Frames per block of the compressed formats that carry it in their extra bytes
// (MS ADPCM 0x0002, IMA ADPCM 0x0011); 0 for every other format.
std::int64_t FramesPerBlock(const WAVEFORMATEX& f) {
  if ((f.wFormatTag != 0x0002 && f.wFormatTag != 0x0011) || f.cbSize < 2 || f.nBlockAlign == 0 ||
      f.nChannels == 0)
    return 0;
  std::uint16_t n;
  std::memcpy(&n, reinterpret_cast<const std::uint8_t*>(&f) + sizeof(WAVEFORMATEX), 2);
  return n;
}

// The frames that the first Bytes of such a block hold: its header's, and those of
// the whole units of data after it.
std::int64_t FramesInPartialBlock(const WAVEFORMATEX& f, std::int64_t Bytes,
                                  std::int64_t PerBlock) {
  const std::int64_t Ch = f.nChannels;
  std::int64_t Frames = 0;
  if (f.wFormatTag == 0x0011) {  // 4 header bytes per channel, then 4-byte words of 8 samples
    if (Bytes >= 4 * Ch) Frames = 1 + (Bytes - 4 * Ch) / (4 * Ch) * 8;
  } else if (Bytes >= 7 * Ch) {  // 7 header bytes (2 samples) per channel, then 2 per byte
    Frames = 2 + (Bytes - 7 * Ch) * 2 / Ch;
  }
  return std::min(Frames, PerBlock);
}

// Lengths of such formats count frames from whole blocks (and a last partial
// one), not from the average byte rate, which some writers fill in wrongly.
std::int64_t BlockBytesToFrames(const WAVEFORMATEX& f, std::int64_t Bytes, std::int64_t PerBlock) {
  const std::int64_t Blk = f.nBlockAlign;
  return Bytes / Blk * PerBlock + FramesInPartialBlock(f, Bytes % Blk, PerBlock);
}

std::int64_t BlockFramesToBytes(const WAVEFORMATEX& f, std::int64_t Frames, std::int64_t PerBlock) {
  return (Frames + PerBlock - 1) / PerBlock * f.nBlockAlign;
}

std::int32_t Clamp32(std::int64_t v) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(v, INT32_MIN, INT32_MAX));
}

}  // namespace

std::int32_t BytesToSamples(const WAVEFORMATEX* fmt, std::int32_t bytes) {
  const auto& f = Need(fmt);
  if (const std::int64_t PerBlock = FramesPerBlock(f); PerBlock > 0 && bytes >= 0)
    return Clamp32(BlockBytesToFrames(f, bytes, PerBlock));
  return MulDivRound(bytes, Sps(f), Avg(f));
}

std::int32_t BytesToTime(const WAVEFORMATEX* fmt, std::int32_t bytes) {
  const auto& f = Need(fmt);
  if (FramesPerBlock(f) > 0) return SamplesToTime(fmt, BytesToSamples(fmt, bytes));
  return MulDivRound(bytes, 1000, Avg(f));
}

std::int32_t SamplesToBytes(const WAVEFORMATEX* fmt, std::int32_t samples) {
  const auto& f = Need(fmt);
  if (const std::int64_t PerBlock = FramesPerBlock(f); PerBlock > 0 && samples >= 0)
    return Clamp32(BlockFramesToBytes(f, samples, PerBlock));
  return CeilBlock(f, MulDivRound(samples, Avg(f), Sps(f)));
}

std::int32_t SamplesToTime(const WAVEFORMATEX* fmt, std::int32_t samples) {
  return MulDivRound(samples, 1000, Sps(Need(fmt)));
}

std::int32_t TimeToSamples(const WAVEFORMATEX* fmt, std::int32_t ms) {
  return MulDivRound(ms, Sps(Need(fmt)), 1000);
}

std::int32_t TimeToBytes(const WAVEFORMATEX* fmt, std::int32_t ms) {
  const auto& f = Need(fmt);
  if (FramesPerBlock(f) > 0) return SamplesToBytes(fmt, TimeToSamples(fmt, ms));
  return CeilBlock(f, MulDivRound(ms, Avg(f), 1000));
}

std::int64_t SamplesToBytes64(const WAVEFORMATEX* fmt, std::int64_t samples) {
  const auto& f = Need(fmt);
  if (const std::int64_t PerBlock = FramesPerBlock(f); PerBlock > 0 && samples >= 0)
    return BlockFramesToBytes(f, samples, PerBlock);
  return CeilBlock64(f, MulDiv64(samples, f.nAvgBytesPerSec, f.nSamplesPerSec));
}

std::int64_t SamplesToTime64(const WAVEFORMATEX* fmt, std::int64_t samples) {
  return MulDiv64(samples, 1000, Need(fmt).nSamplesPerSec);
}

std::int32_t TimeFormatToBytes(const WAVEFORMATEX* fmt, TMMTimeFormats Format, std::int32_t Value) {
  switch (Format) {
    case TMMTimeFormats::tfMillisecond:
      return TimeToBytes(fmt, Value);
    case TMMTimeFormats::tfSample:
      return SamplesToBytes(fmt, Value);
    case TMMTimeFormats::tfByte:
      break;
  }
  return Value;
}

std::int32_t BytesToTimeFormat(const WAVEFORMATEX* fmt, TMMTimeFormats Format, std::int32_t Bytes) {
  switch (Format) {
    case TMMTimeFormats::tfMillisecond:
      return BytesToTime(fmt, Bytes);
    case TMMTimeFormats::tfSample:
      return BytesToSamples(fmt, Bytes);
    case TMMTimeFormats::tfByte:
      break;
  }
  return Bytes;
}

std::int64_t SamplesToTimeFormat64(const WAVEFORMATEX* fmt, TMMTimeFormats Format,
                                   std::int64_t Samples) {
  switch (Format) {
    case TMMTimeFormats::tfMillisecond:
      return SamplesToTime64(fmt, Samples);
    case TMMTimeFormats::tfByte:
      return SamplesToBytes64(fmt, Samples);
    case TMMTimeFormats::tfSample:
      break;
  }
  return Samples;
}

std::int32_t LimitToBytes(const WAVEFORMATEX* fmt, TMMTimeFormats Format, std::int32_t Value) {
  const std::int32_t Bytes = TimeFormatToBytes(fmt, Format, Value);
  const auto Blk = static_cast<std::int32_t>(BlockOf(Need(fmt)));
  return Bytes - Bytes % Blk;
}

}  // namespace velmar

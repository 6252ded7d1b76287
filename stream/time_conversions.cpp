#include "stream/time_conversions.h"

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

}  // namespace

std::int32_t BytesToSamples(const WAVEFORMATEX* fmt, std::int32_t bytes) {
  const auto& f = Need(fmt);
  return MulDivRound(bytes, Sps(f), Avg(f));
}

std::int32_t BytesToTime(const WAVEFORMATEX* fmt, std::int32_t bytes) {
  return MulDivRound(bytes, 1000, Avg(Need(fmt)));
}

std::int32_t SamplesToBytes(const WAVEFORMATEX* fmt, std::int32_t samples) {
  const auto& f = Need(fmt);
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
  return CeilBlock(f, MulDivRound(ms, Avg(f), 1000));
}

std::int64_t SamplesToBytes64(const WAVEFORMATEX* fmt, std::int64_t samples) {
  const auto& f = Need(fmt);
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

#include "session/track_rule.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "stream/pcm_samples.h"

namespace velmar {

namespace {

constexpr int kScratchFrames = 32768;
constexpr int kTickMs = 100;

std::int64_t RoundHalfEven(double v) {
  return static_cast<std::int64_t>(std::nearbyint(v));  // the default mode rounds half to even
}

// The sum of one channel's absolute samples over Frames stereo frames of
// samples Width bytes wide.
template <int Width>
std::int64_t SumOfSizes(const std::uint8_t* Data, int Channel, int Frames) {
  std::int64_t Sum = 0;
  for (int i = 0; i < Frames; ++i) {
    const std::int32_t v = PcmSample(Data + 2 * Width * i + Width * Channel, Width);
    Sum += v < 0 ? -v : v;
  }
  return Sum;
}

}  // namespace

double ChannelLevel(const std::uint8_t* Data, int Channel, int Bytes, int SampleBytes) {
  if (Bytes <= 0) return 0;  // nothing to measure, nothing to divide
  const int Block = 2 * SampleBytes;
  const int Frames = std::min(Bytes / Block, kScratchFrames);
  const int Summed = std::max(Frames - 3, 0);
  const std::int64_t Sum = SampleBytes == 3 ? SumOfSizes<3>(Data, Channel, Summed)
                                            : SumOfSizes<2>(Data, Channel, Summed);
  // 16 per frame at the 16-bit scale: 4 * Bytes for the designed format.
  const double Scale = static_cast<double>(1 << (8 * (SampleBytes - 2)));
  return static_cast<double>(Sum) / Scale / (16.0 * Bytes / Block);
}

int RuleBufferBytes(std::uint32_t Rate, int BlockAlign) {
  constexpr std::int64_t kDesignedBytes = 8096, kDesignedRate = 44100, kDesignedBlock = 4;
  if (Rate == kDesignedRate && BlockAlign == kDesignedBlock) return kDesignedBytes;
  const std::int64_t Frames =
      (kDesignedBytes / kDesignedBlock * std::int64_t{Rate} + kDesignedRate / 2) / kDesignedRate;
  return static_cast<int>(std::max<std::int64_t>(Frames, 4) * BlockAlign);
}

std::int64_t MsToKBytes(std::int64_t Ms, std::uint32_t AvgBytesPerSec) {
  return RoundHalfEven(static_cast<double>(Ms * (AvgBytesPerSec / 1024)) / 1024.0);
}

std::string TimeToText(std::int64_t Ms) {
  const std::int64_t Msec = Ms % 1000, Sec = Ms / 1000 % 60, Min = Ms / 60000 % 60,
                     Hours = Ms / 3600000 % 24, Days = Ms / 86400000;
  char Text[64];
  if (Ms < 3600000) {
    std::snprintf(Text, sizeof Text, "%lld:%2.2lld.%3.3lld", static_cast<long long>(Ms / 60000),
                  static_cast<long long>(Sec), static_cast<long long>(Msec));
  } else if (Ms < 86400000) {
    std::snprintf(Text, sizeof Text, "%lld:%2.2lld:%2.2lld.%3.3lld",
                  static_cast<long long>(Ms / 3600000), static_cast<long long>(Min),
                  static_cast<long long>(Sec), static_cast<long long>(Msec));
  } else {
    std::snprintf(Text, sizeof Text, "%lld:%2.2lld:%2.2lld:%2.2lld.%3.3lld",
                  static_cast<long long>(Days), static_cast<long long>(Hours),
                  static_cast<long long>(Min), static_cast<long long>(Sec),
                  static_cast<long long>(Msec));
  }
  return Text;
}

std::string TrackNumberText(int Number, int Count) {
  const int Digits = std::max(2, static_cast<int>(std::to_string(std::max(Count, 0)).size()));
  char Text[16];
  std::snprintf(Text, sizeof Text, "%.*d", Digits, Number);
  return Text;
}

int TrackNumberOfName(const std::string& Path) {
  std::string Name = std::filesystem::path(Path).filename().string();
  if (Name.rfind("Track", 0) == 0) Name.erase(0, 5);
  std::size_t Digits = 0;
  while (Digits < Name.size() && Digits < 9 &&
         std::isdigit(static_cast<unsigned char>(Name[Digits])))
    ++Digits;
  if (Digits == 0) return -1;
  return std::stoi(Name.substr(0, Digits));
}

void OrderByTrackNumber(std::vector<std::string>& Tracks) {
  std::stable_sort(Tracks.begin(), Tracks.end(), [](const std::string& a, const std::string& b) {
    const auto Key = [](const std::string& p) {
      const int n = TrackNumberOfName(p);
      return n < 0 ? INT_MAX : n;
    };
    return Key(a) < Key(b);
  });
}

std::int64_t MaxTrackBytes(int BlockAlign) {
  constexpr std::int64_t kMost = 0x7FFF0000 - 0x10000;
  const char* Text = std::getenv("VELMAR_MAX_TRACK_BYTES");
  const std::int64_t Wanted = Text ? std::atoll(Text) : kMost;
  const std::int64_t Block = std::max(BlockAlign, 1);
  return std::clamp<std::int64_t>(Wanted, 4 * 8096, kMost) / Block * Block;
}

std::string TrackFileName(int Number, int Count) {
  return "Track" + TrackNumberText(Number, Count) + ".wav";
}

int TimeGateMs(int Position) {
  return static_cast<int>(RoundHalfEven(Position * 33.59375));
}

double NoiseGateDb(int Gate, int TimeGate) {
  // A buffer's level is its samples' average size / 16; the gate bounds the
  // sum of TimeGate buffers' levels.
  const double Average = 16.0 * Gate / std::max(TimeGate, 1);
  return 20 * std::log10(Average / 32768);
}

std::string NoiseGateText(int Gate, int TimeGate) {
  if (Gate <= 0) return "never";
  char Text[32];
  std::snprintf(Text, sizeof Text, "%.0f dBFS", NoiseGateDb(Gate, TimeGate));
  return Text;
}

std::string TimeGateLabel(int Position) {
  char Text[32];
  std::snprintf(Text, sizeof Text, "%3d ms", TimeGateMs(Position));
  return Text;
}

std::string MinSecLabel(int Position) {
  char Text[32];
  std::snprintf(Text, sizeof Text, "%2d s", Position);
  return Text;
}

TChannelLevels TTrackRule::Sum(int Buffers) const {
  TChannelLevels Sum;
  for (int i = 1; i <= Buffers; ++i) {
    const TChannelLevels& l = FRing[(FNext - i + kMaxTimeGate) % kMaxTimeGate];
    Sum.Left += l.Left;
    Sum.Right += l.Right;
  }
  return Sum;
}

bool TTrackRule::IsSilent(int NoiseGate, int TimeGate) const {
  const int N = std::clamp(TimeGate, 0, kMaxTimeGate);
  if (FHeard < N) return false;  // not yet a whole time gate heard
  const TChannelLevels s = Sum(N);
  return NoiseGate > s.Left && NoiseGate > s.Right;
}

TTrackDecision TTrackRule::BufferRecorded(const std::uint8_t* Data, int Bytes,
                                          std::int64_t PositionMs, std::int64_t ShownKBytes,
                                          const TTrackSettings& s) {
  if (!s.AutoSplit) return TTrackDecision::None;
  return BufferRecorded(
      {ChannelLevel(Data, 0, Bytes, FSampleBytes), ChannelLevel(Data, 1, Bytes, FSampleBytes)},
      PositionMs, ShownKBytes, s);
}

TTrackDecision TTrackRule::BufferRecorded(const TChannelLevels& Levels, std::int64_t PositionMs,
                                          std::int64_t ShownKBytes, const TTrackSettings& s) {
  if (!s.AutoSplit) return TTrackDecision::None;
  const int Gate = std::clamp(s.TimeGate, 0, kMaxTimeGate);
  if (Gate != FRingGate) {  // the time gate moved: measure it afresh
    FRingGate = Gate;
    FHeard = 0;
  }
  FLatest = Levels;
  FRing[FNext] = FLatest;
  FNext = (FNext + 1) % kMaxTimeGate;
  FHeard = std::min(FHeard + 1, kMaxTimeGate);
  if (!FSoundHeard) {
    const TChannelLevels Heard = Sum(std::min(FHeard, Gate));
    FSoundHeard = Heard.Left >= s.NoiseGate || Heard.Right >= s.NoiseGate;
  }
  // The decision waits for the minimum length (strictly longer).
  if (PositionMs <= s.MinSec * 1000LL || !IsSilent(s.NoiseGate, Gate)) return TTrackDecision::None;
  return ShownKBytes > MsToKBytes(s.MinSec * 1000LL) ? TTrackDecision::NextTrack
                                                     : TTrackDecision::EndTrack;
}

void TSizeDisplay::Advance(std::int64_t PreviousMs, std::int64_t PositionMs) {
  // A tick fell inside this buffer: it showed what was there before it.
  if (PositionMs / kTickMs > PreviousMs / kTickMs) FShown = MsToKBytes(PreviousMs);
}

}  // namespace velmar

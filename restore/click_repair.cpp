#include "restore/click_repair.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <span>

#include "restore/ar_model.h"

namespace velmar {

namespace {

// Every tuning value of the finding and the judgement, in one table. Sizes in
// dB are the damage's peak over the RMS level of the music around it; the
// ratios compare prediction errors (how well the music before a span
// predicts the music at a place) or RMS levels.
//
//   value                 what it decides
//   kOrder 32             the detecting model's order, and the span a click's ring may reach
//   kInterpolationOrder   the order of the model that fills a span from both sides
//   kBlock, kFit, kAhead  frames judged together, seen by the models either side, needed after
//   kLeastSizeDb 3        a click stands at least this far above the music around (a span as
//                         long as kOrder; + kLongerSpanDb per decade of length beyond it)
//   kSmallDb 13           a change this small must leave the music after it as predictable as
//                         before (within kOwnError), or it was the music's own
//   kLouderDb 15          a change this small beside music that got louder (kLouderBy) may be
//                         an attack, when the music after it is less predictable (kAttackError)
//   kCertainDb 24         a change this far above the music is a click whatever follows
//   kForeseenMost/Least   how much less predictable the music after a span may be before it is
//                         an attack: 2.5 for a short span, falling with length to 1.2
//   kNear 64              frames just after a span that are judged
//   kFloor 1e-5           the least error taken as typical (-100 dBFS: silence)
constexpr int kOrder = 32;
constexpr int kInterpolationOrder = 48;
constexpr std::int64_t kBlock = 2048;
constexpr std::int64_t kFit = 1024;
constexpr std::int64_t kAhead = 2048;
constexpr double kLeastSizeDb = 3;
constexpr double kLongerSpanDb = 14;
constexpr double kSmallDb = 13;
constexpr double kOwnError = 1.3;
constexpr double kLouderDb = 15;
constexpr double kLouderBy = 2;
constexpr double kAttackError = 1.2;
constexpr double kCertainDb = 24;
constexpr double kForeseenMost = 2.5, kForeseenLeast = 1.2;
constexpr std::int64_t kNear = 64;
constexpr double kFloor = 1e-5;

double Rms(const float* x, std::int64_t From, std::int64_t To) {
  double Sum = 0;
  for (std::int64_t i = From; i < To; ++i) Sum += static_cast<double>(x[i]) * x[i];
  return To > From ? std::sqrt(Sum / static_cast<double>(To - From)) : 0.0;
}

}  // namespace

TClickRepair::TClickRepair(int Channels, int Rate, TClickOptions Options)
    : FChannels(Channels),
      FRate(Rate),
      FOptions(std::move(Options)),
      FThreshold(6 * std::pow(2.0, (5 - std::clamp(FOptions.Strength, 1.0, 10.0)) / 2.5)),
      FMaxSpan(std::max(1, static_cast<int>(std::lround(FOptions.MaxSpanMs * Rate / 1000)))),
      FX(static_cast<std::size_t>(Channels)) {}

void TClickRepair::Add(const float* Frames, std::size_t Count) {
  for (int c = 0; c < FChannels; ++c) {
    std::vector<float>& x = FX[static_cast<std::size_t>(c)];
    const std::size_t At = x.size();
    x.resize(At + Count);
    for (std::size_t i = 0; i < Count; ++i)
      x[At + i] = Frames[i * static_cast<std::size_t>(FChannels) + static_cast<std::size_t>(c)];
  }
  FEnd += static_cast<std::int64_t>(Count);
  while (FEnd - FDone >= kBlock + kAhead) {
    for (int c = 0; c < FChannels; ++c) ProcessBlock(c, FDone, FDone + kBlock);
    FDone += kBlock;
  }
}

void TClickRepair::Finish() {
  while (FDone < FEnd) {
    const std::int64_t End = std::min(FDone + kBlock, FEnd);
    for (int c = 0; c < FChannels; ++c) ProcessBlock(c, FDone, End);
    FDone = End;
  }
}

std::size_t TClickRepair::Take(float* Out, std::size_t Max) {
  const auto n = static_cast<std::int64_t>(std::min(Max, Ready()));
  for (int c = 0; c < FChannels; ++c) {
    const float* x = Samples(c);
    for (std::int64_t i = 0; i < n; ++i) Out[i * FChannels + c] = x[FTaken + i];
  }
  FTaken += n;
  // What the next blocks still look back at stays; the rest goes, now and then.
  const std::int64_t Keep = std::min(FTaken, FDone - 2 * kFit);
  if (Keep - FBase >= (1 << 16)) {
    for (std::vector<float>& x : FX) x.erase(x.begin(), x.begin() + (Keep - FBase));
    FBase = Keep;
  }
  return static_cast<std::size_t>(n);
}

namespace {

constexpr std::int64_t kLocal = 256;  // frames a typical size is measured over

// The typical size of Values (a robust standard deviation: the median's
// absolute value scaled as for a normal distribution, not less than the
// floor) in each stretch of kLocal, taken at each stretch as the largest of
// it and its neighbours', so that a loud stretch raises the limit around it.
void LocalTypical(const std::vector<double>& Values, std::vector<double>& Typical,
                  std::vector<double>& Own, std::vector<double>& Scratch) {
  const std::size_t Stretches = (Values.size() + kLocal - 1) / kLocal;
  Own.resize(Stretches);
  for (std::size_t j = 0; j < Stretches; ++j) {
    const std::size_t From = j * kLocal, To = std::min(Values.size(), From + kLocal);
    Scratch.resize(To - From);
    for (std::size_t i = From; i < To; ++i) Scratch[i - From] = std::abs(Values[i]);
    const auto Middle = Scratch.begin() + static_cast<std::ptrdiff_t>(Scratch.size() / 2);
    std::nth_element(Scratch.begin(), Middle, Scratch.end());
    Own[j] = std::max(1.4826 * *Middle, kFloor);
  }
  Typical.resize(Stretches);
  for (std::size_t j = 0; j < Stretches; ++j)
    Typical[j] = std::max({Own[j], Own[j > 0 ? j - 1 : j], Own[j + 1 < Stretches ? j + 1 : j]});
}

}  // namespace

void TClickRepair::ProcessBlock(int Channel, std::int64_t Start, std::int64_t End) {
  float* x = Samples(Channel);
  const std::int64_t From = std::max(FBase, Start - kFit), To = std::min(FEnd, End + kFit);
  const std::array<std::span<const float>, 1> Fit{
      std::span<const float>(x + From, static_cast<std::size_t>(To - From))};
  FitArModel(Fit, kOrder, FBlockModel, FScratch);
  // A copy of its own: the loops below write to members, and a model the
  // compiler cannot tell apart from them would be read again at every step.
  std::array<double, kOrder + 1> a{};
  std::copy_n(FBlockModel.begin(), a.size(), a.begin());
  // The forward and backward prediction errors; and the forward one filtered
  // backwards, which gathers a spike's error at the spike. Judged over the
  // block and the spans that start in it.
  const std::int64_t Reach = std::min(FEnd, End + FMaxSpan + kOrder);
  const std::int64_t ErrorEnd = std::min(FEnd, Reach + kOrder);
  const auto Size = static_cast<std::size_t>(ErrorEnd - Start);
  FError.assign(Size, 0.0);
  FBackward.assign(Size, 0.0);
  FDetect.assign(Size, 0.0);
  for (std::int64_t n = Start; n < ErrorEnd; ++n) {
    double Forward = 0, Backward = 0;
    for (int k = 0; k <= kOrder && n - k >= FBase; ++k)
      Forward += a[static_cast<std::size_t>(k)] * x[n - k];
    for (int k = 0; k <= kOrder && n + k < FEnd; ++k)
      Backward += a[static_cast<std::size_t>(k)] * x[n + k];
    FError[static_cast<std::size_t>(n - Start)] = Forward;
    FBackward[static_cast<std::size_t>(n - Start)] = Backward;
  }
  for (std::int64_t n = Start; n < Reach; ++n) {
    double Sum = 0;
    for (int k = 0; k <= kOrder && n + k < ErrorEnd; ++k)
      Sum += a[static_cast<std::size_t>(k)] * FError[static_cast<std::size_t>(n + k - Start)];
    FDetect[static_cast<std::size_t>(n - Start)] = Sum;
  }
  LocalTypical(FDetect, FDetectTypical, FOwn, FSorted);
  LocalTypical(FError, FErrorTypical, FOwn, FSorted);
  LocalTypical(FBackward, FBackwardTypical, FOwn, FSorted);
  // A click's edges: where the forward error first rises (its start) and the
  // backward error last does (its end), at half the limit.
  const double Edge = std::max(3.0, FThreshold / 2);
  const auto Over = [&](const std::vector<double>& v, const std::vector<double>& Typical,
                        double Times, std::int64_t n) {
    const auto i = static_cast<std::size_t>(n - Start);
    return std::abs(v[i]) > Times * Typical[i / kLocal];
  };
  const auto Detected = [&](std::int64_t n) {
    return Over(FDetect, FDetectTypical, FThreshold, n);
  };
  const auto Rises = [&](std::int64_t n) { return Over(FError, FErrorTypical, Edge, n); };
  // A ring fades into the music: its end is followed further down.
  const auto Lasts = [&](std::int64_t n) { return Over(FBackward, FBackwardTypical, 2.0, n); };
  // Runs of samples over the limit, joined across gaps shorter than half the
  // model's order; those that start in the block.
  const std::int64_t Gap = kOrder / 2;
  for (std::int64_t n = Start; n < End; ++n) {
    if (!Detected(n)) continue;
    std::int64_t Last = n;
    for (std::int64_t m = n + 1; m < Reach && m <= Last + Gap; ++m)
      if (Detected(m)) Last = m;
    // The filtering spreads a click's error back over up to the model's
    // order before it: a run where no edge stands out may be that spread,
    // with the click just after it.
    std::int64_t First = n;
    while (First < std::min(Reach - 1, Last + kOrder) && !Rises(First)) ++First;
    if (!Rises(First)) First = n;  // no edge stands out: from the run's start
    for (std::int64_t m = Last + 1; m < Reach && m <= std::max(Last, First) + Gap; ++m)
      if (Detected(m)) Last = m;
    // The end: the backward error's last rise, followed on past the run as
    // long as it rises again within the gap (a click's ring).
    std::int64_t Final = First;
    for (std::int64_t m = First; m < Reach && m <= std::max(Last, Final + kOrder); ++m)
      if (Lasts(m)) Final = m;
    Final = std::max(Final, First);
    // The part of a ring under the edge's limit is repaired too.
    Repair(Channel, First - 1, Final + 2 + (Final - First) / 2);
    n = std::max(Last, Final) + Gap;
  }
}

void TClickRepair::Repair(int Channel, std::int64_t Start, std::int64_t End) {
  float* x = Samples(Channel);
  const std::int64_t Length = End - Start;
  // Too long for a click, or too near an end to fill.
  if (Length > FMaxSpan || Start - FBase < kInterpolationOrder || FEnd - End < kInterpolationOrder)
    return;
  const std::int64_t Around = FRate / 100;
  const std::array<std::span<const float>, 1> Past{
      std::span<const float>(x + std::max(FBase, Start - kFit), x + Start)};
  FitArModel(Past, kOrder, FModel, FScratch);
  const TArModel& Model = FModel;
  // How well the music before the span predicts the music at [From, To).
  const auto ErrorRms = [&](std::int64_t From, std::int64_t To) {
    double Sum = 0;
    std::int64_t Count = 0;
    for (std::int64_t n = std::max(From, FBase + kOrder); n < std::min(To, FEnd); ++n, ++Count) {
      double e = 0;
      for (int k = 0; k <= kOrder; ++k) e += Model[static_cast<std::size_t>(k)] * x[n - k];
      Sum += e * e;
    }
    return Count > 0 ? std::sqrt(Sum / static_cast<double>(Count)) : 0.0;
  };
  const double Predicted = ErrorRms(Start - Around, Start);
  // Past the reach of the span's own samples, and as far again, past the tail
  // of a ring that the span may not have covered.
  const std::int64_t Beyond = End + kOrder + Length;
  const double Unforeseen = ErrorRms(Beyond, Beyond + Around / 2);
  const double Before = Rms(x, std::max(FBase, Start - Around), Start);
  const double After = Rms(x, End, std::min(FEnd, End + Around));
  // Or just after one: louder than the 10 ms before.
  const double Earlier =
      Rms(x, std::max(FBase, Start - 2 * Around), std::max(FBase, Start - Around));
  TClick Click{Start, static_cast<int>(Length), Channel, 0};

  // The span filled from the music on both sides; what is judged next is
  // judged with it filled, and the fill is taken back if it was music.
  const std::array<std::span<const float>, 2> Fit{
      std::span<const float>(x + std::max(FBase, Start - kFit), x + Start),
      std::span<const float>(x + End, x + std::min(FEnd, End + kFit))};
  FitArModel(Fit, kInterpolationOrder, FInterpolationModel, FScratch);
  std::vector<float>& Was = FWas;
  Was.assign(x + Start, x + End);
  InterpolateSpan(x, static_cast<std::size_t>(Start), static_cast<std::size_t>(Length),
                  FInterpolationModel);
  double Peak = 0;
  for (std::int64_t i = 0; i < Length; ++i)
    Peak = std::max(Peak,
                    std::abs(static_cast<double>(Was[static_cast<std::size_t>(i)]) - x[Start + i]));
  const double Level = std::max(std::hypot(Before, After) / std::sqrt(2.0), kFloor);
  Click.SizeDb = 20 * std::log10(std::max(Peak, kFloor) / Level);

  // Music that the samples before it cannot predict after it as well as they
  // predicted themselves is an attack: something new began (a drum, a
  // string), where a click ends as it began. With the span filled, the music
  // right after it tells as well: a click just before a note's onset leaves
  // it as predictable as before. The longer the span, the more of the music
  // it may hold: a long one must leave the music after it nearly as
  // predictable as before. Louder music after it or just before it is an
  // attack only when the music after it is less predictable too (than before
  // the onset, when the last 10 ms hold one), and only for a change of the
  // music's own size: a click beside a note's onset is still a click. A
  // change far above the music around it is a click whatever follows.
  const double Judged = std::min(Unforeseen, ErrorRms(End, End + kNear));
  const double Foreseen = std::clamp(kForeseenMost * kOrder / static_cast<double>(Length),
                                     kForeseenLeast, kForeseenMost);
  const bool Louder =
      (After > kLouderBy * Before || Before > kLouderBy * Earlier) && Click.SizeDb < kLouderDb;
  const double PredictedEarlier = std::min(Predicted, ErrorRms(Start - 2 * Around, Start - Around));
  const bool Attack =
      Click.SizeDb < kCertainDb &&
      (Judged > Foreseen * Predicted || (Louder && Judged > kAttackError * PredictedEarlier)) &&
      std::max({Unforeseen, After, Before}) > kFloor;
  // What changes less than the music around it was the music's own; a long
  // span must stand out more (a ring as long as a note's period is more
  // likely the note, a scratch that long is loud). So was a small change
  // after which the music (past a ring as long as the span) is less
  // predictable than before: the rest of a feature of the music's own.
  const double Least =
      kLeastSizeDb +
      kLongerSpanDb * std::log10(std::max(1.0, static_cast<double>(Length) / kOrder));
  const bool Own =
      Click.SizeDb < Least ||
      (Click.SizeDb < kSmallDb &&
       ErrorRms(End + Length, End + Length + kNear) > kOwnError * Predicted);
  // A click the caller does not want repaired (asked with its size known) is
  // left as recorded, as the music's own is.
  if (Attack || Own || (FOptions.Accept && !FOptions.Accept(Click))) {
    std::copy(Was.begin(), Was.end(), x + Start);
    return;
  }
  for (std::int64_t i = 0; i < Length; ++i)
    FChanged += Was[static_cast<std::size_t>(i)] != x[Start + i];
  FClicks.push_back(Click);
}

std::vector<TClick> RepairClicks(std::vector<float>& Frames, int Channels, int Rate,
                                 const TClickOptions& Options) {
  TClickRepair Repair(Channels, Rate, Options);
  const std::size_t Count = Frames.size() / static_cast<std::size_t>(Channels);
  constexpr std::size_t kChunk = 1 << 16;
  std::size_t Out = 0;
  for (std::size_t At = 0; At < Count; At += kChunk) {
    Repair.Add(Frames.data() + At * Channels, std::min(kChunk, Count - At));
    Out += Repair.Take(Frames.data() + Out * Channels, Repair.Ready());
  }
  Repair.Finish();
  Repair.Take(Frames.data() + Out * Channels, Repair.Ready());
  std::vector<TClick> Clicks = Repair.Clicks();
  std::stable_sort(Clicks.begin(), Clicks.end(),
                   [](const TClick& a, const TClick& b) { return a.Frame < b.Frame; });
  return Clicks;
}

}  // namespace velmar

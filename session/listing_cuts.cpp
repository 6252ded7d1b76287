#include "session/listing_cuts.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

#include "session/side_plan.h"

namespace velmar {

TListingPlan PlaceListing(const std::vector<TQuietGap>& Gaps, std::int64_t Frames,
                          const std::vector<std::int64_t>& Ms, int Rate) {
  TListingPlan Plan;
  const TSoundSpan Span = SoundSpan(Gaps, Frames);
  Plan.From = Span.From;
  Plan.To = Span.To;
  if (Ms.size() < 2) return Plan;
  const bool Timed = std::all_of(Ms.begin(), Ms.end() - 1, [](std::int64_t m) { return m >= 0; });
  std::vector<TQuietGap> Inside;  // gaps between the first sound and the last
  for (const TQuietGap& g : Gaps)
    if (g.Start > Plan.From && g.End < Plan.To) Inside.push_back(g);
  if (!Timed) {
    for (const std::int64_t c : CutsForTracks(Inside, Plan.To, static_cast<int>(Ms.size()), Rate))
      for (const TQuietGap& g : Inside)
        if (g.Middle() == c) Plan.Cuts.push_back({c, true, g});
    return Plan;
  }
  const auto FramesOf = [Rate](double Millis) { return Millis * Rate / 1000; };
  if (Ms.back() >= 0) {
    const double Listed =
        FramesOf(static_cast<double>(std::accumulate(Ms.begin(), Ms.end(), std::int64_t{0})));
    if (Listed > 0) Plan.Speed = static_cast<double>(Plan.To - Plan.From) / Listed;
  }
  std::int64_t Previous = Plan.From;
  // A listing longer than the side's sound places what fits.
  for (std::size_t i = 0; i + 1 < Ms.size() && Previous + 1 < Plan.To; ++i) {
    const double Length = FramesOf(static_cast<double>(Ms[i])) * Plan.Speed;
    const auto Predicted = static_cast<std::int64_t>(
        std::llround(std::min(static_cast<double>(Previous) + Length, static_cast<double>(Plan.To))));
    const double Reach = kListingReachSeconds * Rate + 0.01 * Length;
    // The candidates: gaps that reach near the prediction, after the last cut.
    std::vector<const TQuietGap*> Near;
    float Loudest = 0;
    for (const TQuietGap& g : Inside) {
      const std::int64_t Off = std::max({g.Start - Predicted, Predicted - g.End, std::int64_t{0}});
      if (g.Middle() <= Previous + Rate || static_cast<double>(Off) > Reach) continue;
      Near.push_back(&g);
      Loudest = std::max(Loudest, g.Level);
    }
    // Seconds off the prediction, less half the gap's length (up to 3 s),
    // plus up to 2 s for a gap as loud as the loudest near.
    const auto Cost = [&](const TQuietGap& g) {
      const std::int64_t Off = std::max({g.Start - Predicted, Predicted - g.End, std::int64_t{0}});
      const double Seconds = static_cast<double>(Off) / Rate;
      const double Long = std::min(static_cast<double>(g.Length()) / Rate, 3.0);
      const double Loud = Loudest > 0 ? g.Level / Loudest : 0;
      return Seconds - 0.5 * Long + 2 * Loud;
    };
    TListingCut Cut{Predicted, false, {}};
    double Best = std::numeric_limits<double>::max();
    for (const TQuietGap* g : Near)
      if (const double c = Cost(*g); c < Best) {
        Best = c;
        Cut = {g->Middle(), true, *g};
      }
    Cut.Frame = std::clamp(Cut.Frame, Previous + 1, Plan.To - 1);
    Plan.Cuts.push_back(Cut);
    Previous = Cut.Frame;
  }
  return Plan;
}

}  // namespace velmar

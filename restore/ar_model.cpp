#include "restore/ar_model.h"

#include <cmath>

namespace velmar {

TArModel FitArModel(std::span<const std::span<const float>> Pieces, int Order) {
  TArModel a;
  TArScratch Scratch;
  FitArModel(Pieces, Order, a, Scratch);
  return a;
}

void FitArModel(std::span<const std::span<const float>> Pieces, int Order, TArModel& a,
                TArScratch& Scratch) {
  // Burg's method over the pieces together: each stage's reflection minimises
  // the forward and backward errors of all pieces at once, so a steady tone's
  // model keeps its poles where the tone is (no window pulls them inwards).
  a.assign(static_cast<std::size_t>(Order) + 1, 0.0);
  a[0] = 1;
  using TErrors = TArScratch::TErrors;
  std::vector<TErrors>& e = Scratch.Errors;
  TArModel& Previous = Scratch.Previous;
  std::size_t Used = 0;
  for (const std::span<const float> Piece : Pieces) {
    if (Piece.size() <= static_cast<std::size_t>(Order)) continue;
    if (e.size() <= Used) e.emplace_back();
    e[Used].Forward.assign(Piece.begin(), Piece.end());
    e[Used].Backward.assign(Piece.begin(), Piece.end());
    ++Used;
  }
  const std::span<TErrors> Errors(e.data(), Used);
  for (int m = 1; m <= Order; ++m) {
    double Num = 0, Den = 0;
    for (const TErrors& p : Errors) {
      for (std::size_t n = static_cast<std::size_t>(m); n < p.Forward.size(); ++n) {
        Num += p.Forward[n] * p.Backward[n - 1];
        Den += p.Forward[n] * p.Forward[n] + p.Backward[n - 1] * p.Backward[n - 1];
      }
    }
    if (!(Den > 1e-30)) break;
    const double k = -2 * Num / Den;
    if (!std::isfinite(k) || std::abs(k) >= 1) break;
    Previous = a;
    for (int i = 1; i < m; ++i)
      a[static_cast<std::size_t>(i)] += k * Previous[static_cast<std::size_t>(m - i)];
    a[static_cast<std::size_t>(m)] = k;
    for (TErrors& p : Errors)
      for (std::size_t n = p.Forward.size() - 1; n >= static_cast<std::size_t>(m); --n) {
        const double f = p.Forward[n], b = p.Backward[n - 1];
        p.Forward[n] = f + k * b;
        p.Backward[n] = b + k * f;
      }
  }
}

void InterpolateSpan(float* x, std::size_t Start, std::size_t Length, const TArModel& a) {
  const auto p = static_cast<std::ptrdiff_t>(a.size()) - 1;
  const auto m = static_cast<std::ptrdiff_t>(Length);
  if (m <= 0) return;
  // The normal equations M u = b: M[i][j] is the autocorrelation of the
  // filter at lag i - j (a band of width p), b what the known samples add.
  std::vector<double> Ra(static_cast<std::size_t>(p) + 1, 0.0);
  for (std::ptrdiff_t d = 0; d <= p; ++d)
    for (std::ptrdiff_t k = 0; k + d <= p; ++k)
      Ra[static_cast<std::size_t>(d)] +=
          a[static_cast<std::size_t>(k)] * a[static_cast<std::size_t>(k + d)];
  const auto s = static_cast<std::ptrdiff_t>(Start);
  const auto Known = [&](std::ptrdiff_t i) { return i < s || i >= s + m; };
  // c[n]: the error at n from the known samples alone, n in [s, s + m + p).
  std::vector<double> c(static_cast<std::size_t>(m + p), 0.0);
  for (std::ptrdiff_t n = s; n < s + m + p; ++n) {
    double Sum = 0;
    for (std::ptrdiff_t k = 0; k <= p; ++k)
      if (Known(n - k)) Sum += a[static_cast<std::size_t>(k)] * x[n - k];
    c[static_cast<std::size_t>(n - s)] = Sum;
  }
  std::vector<double> b(static_cast<std::size_t>(m), 0.0);
  for (std::ptrdiff_t i = 0; i < m; ++i) {
    double Sum = 0;
    for (std::ptrdiff_t k = 0; k <= p; ++k)
      Sum += a[static_cast<std::size_t>(k)] * c[static_cast<std::size_t>(i + k)];
    b[static_cast<std::size_t>(i)] = -Sum;
  }
  // Banded Cholesky: L[i][i - d] for d in 0..p, kept row by row.
  const std::size_t Width = static_cast<std::size_t>(p) + 1;
  std::vector<double> L(static_cast<std::size_t>(m) * Width, 0.0);
  const auto At = [&](std::ptrdiff_t i, std::ptrdiff_t j) -> double& {
    return L[static_cast<std::size_t>(i) * Width + static_cast<std::size_t>(i - j)];
  };
  for (std::ptrdiff_t i = 0; i < m; ++i) {
    const std::ptrdiff_t First = std::max<std::ptrdiff_t>(0, i - p);
    for (std::ptrdiff_t j = First; j <= i; ++j) {
      double Sum = i - j <= p ? Ra[static_cast<std::size_t>(i - j)] : 0.0;
      for (std::ptrdiff_t k = std::max(First, j - p); k < j; ++k) Sum -= At(i, k) * At(j, k);
      if (j == i) {
        At(i, i) = std::sqrt(std::max(Sum, 1e-12));
      } else {
        At(i, j) = Sum / At(j, j);
      }
    }
  }
  // L y = b, then L' u = y.
  for (std::ptrdiff_t i = 0; i < m; ++i) {
    double Sum = b[static_cast<std::size_t>(i)];
    for (std::ptrdiff_t k = std::max<std::ptrdiff_t>(0, i - p); k < i; ++k)
      Sum -= At(i, k) * b[static_cast<std::size_t>(k)];
    b[static_cast<std::size_t>(i)] = Sum / At(i, i);
  }
  for (std::ptrdiff_t i = m - 1; i >= 0; --i) {
    double Sum = b[static_cast<std::size_t>(i)];
    for (std::ptrdiff_t k = i + 1; k <= std::min(m - 1, i + p); ++k)
      Sum -= At(k, i) * b[static_cast<std::size_t>(k)];
    b[static_cast<std::size_t>(i)] = Sum / At(i, i);
  }
  for (std::ptrdiff_t i = 0; i < m; ++i)
    x[s + i] = static_cast<float>(b[static_cast<std::size_t>(i)]);
}

}  // namespace velmar

// The integer and rounding helpers every conversion of the engine goes through.
// Rounding rules are fixed: MulDivRound rounds halves away from zero, MulDiv64 and
// Round round halves to even, Trunc and integer division truncate toward zero.
// A zero divisor raises std::domain_error instead of trapping.
#pragma once

#include <cstdint>

namespace velmar {

// a * b / c with a 64-bit product, truncated toward zero.
std::int32_t MulDivTrunc(std::int32_t a, std::int32_t b, std::int32_t c);

// a * b / c with a 64-bit product, rounded to nearest, halves away from zero.
// The quotient must fit in 32 bits.
std::int32_t MulDivRound(std::int32_t a, std::int32_t b, std::int32_t c);

// a * b / c evaluated in extended precision, rounded to nearest, halves to even.
std::int64_t MulDiv64(std::int64_t a, std::int64_t b, std::int64_t c);

// Round to nearest with halves to even; Trunc toward zero.
std::int64_t Round(long double x);
std::int64_t Trunc(long double x);

template <typename T>
constexpr T Min(T a, T b) {
  return a < b ? a : b;
}

template <typename T>
constexpr T Max(T a, T b) {
  return a > b ? a : b;
}

// lo when x < lo, otherwise the smaller of x and hi.
template <typename T>
constexpr T Clamp(T x, T lo, T hi) {
  return x < lo ? lo : Min(x, hi);
}

}  // namespace velmar

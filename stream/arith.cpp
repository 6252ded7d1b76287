#include "stream/arith.h"

#include <cmath>
#include <stdexcept>

namespace velmar {

namespace {

void CheckDivisor(std::int64_t c) {
  if (c == 0) throw std::domain_error("Division by zero");
}

}  // namespace

std::int32_t MulDivTrunc(std::int32_t a, std::int32_t b, std::int32_t c) {
  CheckDivisor(c);
  return static_cast<std::int32_t>(static_cast<std::int64_t>(a) * b / c);
}

std::int32_t MulDivRound(std::int32_t a, std::int32_t b, std::int32_t c) {
  CheckDivisor(c);
  const std::int64_t Product = static_cast<std::int64_t>(a) * b;
  const std::int64_t q = Product / c;
  const std::int64_t r = Product % c;  // has the sign of the product
  return static_cast<std::int32_t>(q + (2 * r) / c);
}

std::int64_t MulDiv64(std::int64_t a, std::int64_t b, std::int64_t c) {
  CheckDivisor(c);
  const long double Value =
      static_cast<long double>(a) * static_cast<long double>(b) / static_cast<long double>(c);
  return Round(Value);
}

std::int64_t Round(long double x) {
  // llrintl follows the current rounding mode, which is round-to-nearest-even.
  return std::llrintl(x);
}

std::int64_t Trunc(long double x) {
  return static_cast<std::int64_t>(std::truncl(x));
}

}  // namespace velmar

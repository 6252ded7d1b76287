#include "stream/arith.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace velmar {
namespace {

TEST(MulDivRound, RoundsHalvesAwayFromZero) {
  EXPECT_EQ(MulDivRound(3, 1, 2), 2);
  EXPECT_EQ(MulDivRound(-3, 1, 2), -2);
  EXPECT_EQ(MulDivRound(5, 1, 2), 3);
  EXPECT_EQ(MulDivRound(1, 1, 3), 0);
  EXPECT_EQ(MulDivRound(2, 1, 3), 1);
  EXPECT_EQ(MulDivRound(-2, 1, 3), -1);
  EXPECT_EQ(MulDivRound(3, 1, -2), -2);
}

TEST(MulDivRound, FormsTheProductIn64Bits) {
  // 1 hour of 44100 Hz stereo 16-bit as bytes: the product overflows 32 bits.
  EXPECT_EQ(MulDivRound(3600000, 176400, 1000), 635040000);
  EXPECT_EQ(MulDivTrunc(2000000000, 3, 4), 1500000000);
}

TEST(MulDivTrunc, TruncatesTowardZero) {
  EXPECT_EQ(MulDivTrunc(7, 1, 2), 3);
  EXPECT_EQ(MulDivTrunc(-7, 1, 2), -3);
  EXPECT_EQ(MulDivTrunc(5, 2, 3), 3);
}

TEST(MulDiv64, RoundsHalvesToEven) {
  EXPECT_EQ(MulDiv64(5, 1, 2), 2);
  EXPECT_EQ(MulDiv64(7, 1, 2), 4);
  EXPECT_EQ(MulDiv64(1, 1, 2), 0);
  EXPECT_EQ(MulDiv64(-5, 1, 2), -2);
  EXPECT_EQ(MulDiv64(-7, 1, 2), -4);
  EXPECT_EQ(MulDiv64(10, 1, 3), 3);
}

TEST(MulDiv64, KeepsExtendedPrecision) {
  // The product needs 61 bits: double arithmetic would lose the last sample.
  const std::int64_t Samples = 10000000000001LL;
  EXPECT_EQ(MulDiv64(Samples, 176400, 44100), 4 * Samples);
}

TEST(Arith, ZeroDivisorRaisesInsteadOfTrapping) {
  EXPECT_THROW(MulDivRound(1, 1, 0), std::domain_error);
  EXPECT_THROW(MulDivTrunc(1, 1, 0), std::domain_error);
  EXPECT_THROW(MulDiv64(1, 1, 0), std::domain_error);
}

TEST(Arith, RoundIsHalfToEvenAndTruncTowardZero) {
  EXPECT_EQ(Round(2.5L), 2);
  EXPECT_EQ(Round(3.5L), 4);
  EXPECT_EQ(Round(-2.5L), -2);
  EXPECT_EQ(Round(2.51L), 3);
  EXPECT_EQ(Trunc(-2.7L), -2);
  EXPECT_EQ(Trunc(2.7L), 2);
}

TEST(Arith, ClampPrefersLowBound) {
  EXPECT_EQ(Clamp(5, 0, 10), 5);
  EXPECT_EQ(Clamp(-1, 0, 10), 0);
  EXPECT_EQ(Clamp(11, 0, 10), 10);
  // With the bounds inverted the low bound wins below it, the high one above.
  EXPECT_EQ(Clamp(5, 10, 0), 10);
  EXPECT_EQ(Clamp(20, 10, 0), 0);
  EXPECT_EQ(Min(3, -3), -3);
  EXPECT_EQ(Max(3, -3), 3);
}

}  // namespace
}  // namespace velmar

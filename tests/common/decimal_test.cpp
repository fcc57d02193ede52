// Decimal texts of integers, as the run log and the temporary names use them.
#include "common/decimal.h"

#include "tools/process/process.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

using test::Narrow;

TEST(DecimalText, WritesEveryDigitWithoutLeadingZerosUnlessAWidthAsksForThem) {
    EXPECT_EQ(Narrow(DecimalText(0)), "0");
    EXPECT_EQ(Narrow(DecimalText(7)), "7");
    EXPECT_EQ(Narrow(DecimalText(10)), "10");
    EXPECT_EQ(Narrow(DecimalText(4294967295u)), "4294967295");
    EXPECT_EQ(Narrow(DecimalText(std::numeric_limits<std::uint64_t>::max())),
              "18446744073709551615");
    EXPECT_EQ(Narrow(DecimalText(5, 2)), "05");
    EXPECT_EQ(Narrow(DecimalText(7, 3)), "007");
    EXPECT_EQ(Narrow(DecimalText(1234, 3)), "1234");
}

TEST(SignedDecimalText, WritesTheSignOfNegativeValuesDownToTheMostNegative) {
    EXPECT_EQ(Narrow(SignedDecimalText(0)), "0");
    EXPECT_EQ(Narrow(SignedDecimalText(-1)), "-1");
    EXPECT_EQ(Narrow(SignedDecimalText(2147483647)), "2147483647");
    EXPECT_EQ(Narrow(SignedDecimalText(std::numeric_limits<std::int64_t>::min())),
              "-9223372036854775808");
}

} // namespace

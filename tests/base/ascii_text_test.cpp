#include "base/ascii_text.h"

#include <gtest/gtest.h>

namespace qv {
namespace {

TEST(DecimalValue, ReadsLikeAtoi)
{
    EXPECT_EQ(parse_decimal("  +42abc"), 42);
    EXPECT_EQ(parse_decimal("-7"), -7);
    EXPECT_EQ(parse_decimal("x1"), 0);
    EXPECT_EQ(parse_decimal(""), 0);
}

}  // namespace
}  // namespace qv

// Numbers as typed on the command line: decimal or 0x-hex, and everything else refused.
#include "app/tool/number_parse.h"

#include <gtest/gtest.h>

namespace bayercam::app {
namespace {

TEST(ParseInteger, ReadsDecimalAndHexWithEitherCase) {
    EXPECT_EQ(parseInteger("510"), 510);
    EXPECT_EQ(parseInteger("0x1fE"), 0x1fe);
    EXPECT_EQ(parseInteger("0X10"), 16);
    EXPECT_EQ(parseInteger("-0x10"), -16);
    EXPECT_EQ(parseInteger("+7"), 7);
    EXPECT_EQ(parseInteger("-1"), -1);
    EXPECT_EQ(parseInteger("010"), 10) << "leading zeros are decimal, not octal";
}

TEST(ParseInteger, RefusesAnythingButOneWholeNumber) {
    for (const char* text : {"", "-", "0x", "12a", "1.5", " 3", "3 ", "--3", "+-3", "0x-3", "0x+3",
                             "ten", "1e3", "99999999999999999999"}) {
        EXPECT_EQ(parseInteger(text), std::nullopt) << "'" << text << "'";
    }
}

TEST(ParseInteger, ReachesTheEndsOfSixtyFourBits) {
    EXPECT_EQ(parseInteger("9223372036854775807"), INT64_MAX);
    EXPECT_EQ(parseInteger("-9223372036854775807"), -INT64_MAX);
    EXPECT_EQ(parseInteger("9223372036854775808"), std::nullopt);
}

}  // namespace
}  // namespace bayercam::app

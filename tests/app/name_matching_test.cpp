// Suggestions for mistyped names: typos find the intended name, unrelated words none.
// (Fragments and ordering are checked through the tool's messages.)
#include "app/tool/name_matching.h"

#include <gtest/gtest.h>

#include <array>

namespace bayercam::app {
namespace {

using Names = std::vector<std::string>;

constexpr std::array<std::string_view, 6> kNames = {"RedGain",  "GreenGain",  "BlueGain",
                                                    "Contrast", "Saturation", "Hue"};

TEST(CloseMatches, TyposFindTheName) {
    EXPECT_EQ(closeMatches("contrats", kNames), Names{"Contrast"});     // swapped letters
    EXPECT_EQ(closeMatches("saturaton", kNames), Names{"Saturation"});  // missing letter
    EXPECT_EQ(closeMatches("hu", kNames), Names{"Hue"});
}

TEST(CloseMatches, UnrelatedWordsFindNothing) {
    EXPECT_EQ(closeMatches("zoom", kNames), Names{});
    EXPECT_EQ(closeMatches("", kNames), Names{});
    EXPECT_EQ(closeMatches("x", kNames), Names{});
}

TEST(JoinAlternatives, ReadsAsAList) {
    EXPECT_EQ(joinAlternatives(Names{}), "");
    EXPECT_EQ(joinAlternatives(Names{"A"}), "A");
    EXPECT_EQ(joinAlternatives(Names{"A", "B"}), "A or B");
    EXPECT_EQ(joinAlternatives(Names{"A", "B", "C"}), "A, B or C");
}

}  // namespace
}  // namespace bayercam::app

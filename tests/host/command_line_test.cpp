#include "host/command_line.h"

#include <gtest/gtest.h>

namespace tarnwick {
namespace {

struct LetterCase {
    std::vector<std::string> args;
    char letter;
};

class SwitchLetterTest : public testing::TestWithParam<LetterCase> {};

TEST_P(SwitchLetterTest, TakesTheSecondCharacterUpperCased) {
    EXPECT_EQ(SwitchLetter(GetParam().args), GetParam().letter);
}

INSTANTIATE_TEST_SUITE_P(Arguments, SwitchLetterTest,
                         testing::Values(LetterCase{{"/s"}, 'S'}, LetterCase{{"-S"}, 'S'},
                                         LetterCase{{"/screen"}, 'S'}, LetterCase{{"xs"}, 'S'},
                                         LetterCase{{"/saver"}, 'S'}, LetterCase{{"/c:1234"}, 'C'},
                                         LetterCase{{"/C"}, 'C'}, LetterCase{{"/p", "1234"}, 'P'},
                                         LetterCase{{"/a"}, 'A'}, LetterCase{{"s"}, '\0'},
                                         LetterCase{{}, '\0'}, LetterCase{{""}, '\0'},
                                         LetterCase{{"/\xe9"}, '\xe9'}, LetterCase{{"-root"}, 'R'},
                                         LetterCase{{"/p:1234"}, 'P'}));

struct HandleCase {
    std::string text;
    std::optional<int32_t> value;
};

class ParseInt32Test : public testing::TestWithParam<HandleCase> {};

TEST_P(ParseInt32Test, AcceptsOnlyAWholeSigned32BitNumber) {
    EXPECT_EQ(ParseInt32(GetParam().text), GetParam().value) << '"' << GetParam().text << '"';
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ParseInt32Test,
    testing::Values(HandleCase{"1234", 1234}, HandleCase{"  1234", 1234}, HandleCase{"+1234", 1234},
                    HandleCase{"-1", -1}, HandleCase{"$4D2", 1234}, HandleCase{"x4d2", 1234},
                    HandleCase{"X4D2", 1234}, HandleCase{"0x4D2", 1234}, HandleCase{"0X4d2", 1234},
                    HandleCase{"-$10", -16}, HandleCase{"$FFFFFFFF", -1},
                    HandleCase{"2147483647", 2147483647}, HandleCase{"-2147483648", INT32_MIN},
                    HandleCase{"2147483648", std::nullopt}, HandleCase{"$100000000", std::nullopt},
                    HandleCase{"1234 ", std::nullopt}, HandleCase{"12a", std::nullopt},
                    HandleCase{"", std::nullopt}, HandleCase{"-", std::nullopt},
                    HandleCase{"$", std::nullopt}, HandleCase{"0x", std::nullopt},
                    HandleCase{"$G1", std::nullopt}, HandleCase{"1.5", std::nullopt},
                    HandleCase{"0", 0}, HandleCase{"007", 7}, HandleCase{"\t1234", std::nullopt},
                    HandleCase{"\n1234", std::nullopt},
                    HandleCase{" \x01"
                               "1",
                               std::nullopt}));

TEST(HandleArgumentTest, UsesTheDefaultWhenMissingOrMalformed) {
    EXPECT_EQ(HandleArgument({"/p"}, -1), -1);
    EXPECT_EQ(HandleArgument({"/p", "-1"}, 0), -1);
    EXPECT_EQ(HandleArgument({"/p", "abc"}, 0), 0);
    EXPECT_EQ(HandleArgument({"/p", "$4D2"}, 0), 1234);
    EXPECT_EQ(HandleArgument({"/p", "77", "88"}, 0), 77); // only the second argument is read
}

} // namespace
} // namespace tarnwick

// The text forms of stored values.
#include "settings/text_forms.h"

#include <gtest/gtest.h>

#include <cmath>

namespace tarnwick {
namespace {

TEST(TextForms, StoredIntegersAreStrictDecimal) {
    const std::vector<std::pair<const char*, std::optional<int32_t>>> cases{
        {"0", 0},
        {"1250", 1250},
        {"-5", -5},
        {"2147483647", INT32_MAX},
        {"-2147483648", INT32_MIN},
        {"2147483648", std::nullopt},
        {"", std::nullopt},
        {"-", std::nullopt},
        {"+5", std::nullopt},
        {" 5", std::nullopt},
        {"5 ", std::nullopt},
        {"1,250", std::nullopt},
        {"$1F", std::nullopt},
        {"0x10", std::nullopt},
        {"abc", std::nullopt},
        {"12a", std::nullopt},
        {"--1", std::nullopt},
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(parseStoredInt(text), expected) << text;
}

TEST(TextForms, StoredFractionsUseAPointWhateverTheLocale) {
    const std::vector<std::pair<const char*, std::optional<double>>> cases{
        {"0.96", 0.96},
        {"1", 1.0},
        {"1.0", 1.0},
        {" 0.5 ", 0.5},
        {".5", 0.5},
        {"5.", 5.0},
        {"-0.25", -0.25},
        {"+0.25", 0.25},
        {"1e-2", 0.01},
        {"2.5E+1", 25.0},
        {"0,96", std::nullopt},
        {"", std::nullopt},
        {".", std::nullopt},
        {"1e", std::nullopt},
        {"inf", std::nullopt},
        {"nan", std::nullopt},
        {"0x1p3", std::nullopt},
        {"1e999", std::nullopt},
        {"1.2.3", std::nullopt},
        {"1 000", std::nullopt},
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(parseStoredFloat(text), expected) << text;
}

TEST(TextForms, ZoomIsWrittenInItsShortestGeneralForm) {
    const std::vector<std::pair<double, const char*>> cases{
        {0.96, "0.96"},  {1.0, "1"}, {0.75, "0.75"},
        {0.01, "0.01"},  {5.0, "5"}, {0.1 + 0.2, "0.30000000000000004"},
        {1e-5, "1e-05"},
    };
    for (const auto& [value, text] : cases) {
        EXPECT_EQ(formatStoredFloat(value), text);
        EXPECT_EQ(parseStoredFloat(formatStoredFloat(value)), value) << text;
    }
}

TEST(TextForms, TrimRemovesBlanksAndControlsButNotHighBytes) {
    EXPECT_EQ(trimStoredText(" \t\r\n/pics/a b\x01 "), "/pics/a b");
    EXPECT_EQ(trimStoredText("\xa0/x\xe9"), "\xa0/x\xe9");
    EXPECT_EQ(trimStoredText("   "), "");
    EXPECT_EQ(upperAscii("True\xe9"), "TRUE\xe9");
    EXPECT_TRUE(equalsIgnoringCase("fAlSe", "False"));
    EXPECT_FALSE(equalsIgnoringCase("False ", "False"));
}

} // namespace
} // namespace tarnwick

#include "settings/folder_search.h"

#include <gtest/gtest.h>

#include <utility>

namespace tarnwick {
namespace {

struct MaskCase {
    const char* name;
    const char* mask;
    bool matches;
};

TEST(MatchesMask, WildcardsCoverTheWholeName) {
    const MaskCase cases[] = {
        {"a.jpg", "*.jpg", true},
        {".jpg", "*.jpg", true},       // '*' may take nothing
        {"a.jpg.txt", "*.jpg", false}, // the mask must reach the end of the name
        {"xa.jpg", "a.jpg", false},    // ... and start at its beginning
        {"a.jp", "*.jpg", false},
        {"ab", "a?", true},
        {"a", "a?", false}, // '?' needs exactly one character
        {"abc", "a?", false},
        {"abc", "*", true},
        {"", "*", true},
        {"", "?", false},
        {"", "", true},
        {"a", "", false},
        {"abcbcd", "a*bcd", true}, // the '*' has to give back a first guess
        {"abcbce", "a*bcd", false},
        {"a.b.jpg", "*.*.jpg", true},
        {"ab", "**b", true},
        {"aXbXc", "a*b*c", true},
        {"aXbXd", "a*b*c", false},
    };
    for (const MaskCase& c : cases)
        EXPECT_EQ(matchesMask(c.name, c.mask), c.matches) << c.name << " ~ " << c.mask;
}

TEST(MatchesMask, FoldsOnlyAsciiLetters) {
    const MaskCase cases[] = {
        {"A.JPG", "*.jpg", true},
        {"a.jpg", "*.JPG", true},
        {"Photo.JpEg", "*.jpeg", true},
        {"\xc3\xa9.jpg", "\xc3\x89.jpg", false}, // é is not folded to É
        {"\xc3\xa9.jpg", "\xc3\xa9.jpg", true},
        {"[.jpg", "{.jpg", false}, // '[' and '{' are 0x20 apart too
    };
    for (const MaskCase& c : cases)
        EXPECT_EQ(matchesMask(c.name, c.mask), c.matches) << c.name << " ~ " << c.mask;
}

TEST(MatchesMask, QuestionMarkTakesOneUtf8Character) {
    EXPECT_TRUE(matchesMask("\xc3\xa9.bmp", "?.bmp"));
    EXPECT_FALSE(matchesMask("\xc3\xa9.bmp", "??.bmp"));
    EXPECT_TRUE(matchesMask("x\xe2\x82\xac.bmp", "x?.bmp")); // three-byte euro sign
    EXPECT_FALSE(matchesMask("\xe2\x82\xac", "*??"));
}

TEST(IsPictureName, AcceptsTheThreeExtensionsInAnyCase) {
    const std::pair<const char*, bool> cases[] = {
        {"a.JPG", true},      {"b.jpeg", true},     {"c.Bmp", true},   {".jpg", true},
        {"d.jpe", false},     {"e.jpg.txt", false}, {"f.bmpx", false}, {"jpg", false},
        {"g.png", false},     {"h.JPEG", true},     {"i.", false},     {"bmp.gif", false},
        {"archive.bmp", true}};
    for (const auto& [name, expected] : cases) EXPECT_EQ(isPictureName(name), expected) << name;
    // The hack's folders add PNG and WebP.
    for (const char* name : {"a.png", "b.WebP", "c.JPG", "d.bmp"})
        EXPECT_TRUE(isPictureName(name, kHackPictureMasks)) << name;
    for (const char* name : {"e.gif", "f.webpx", "g.pn"})
        EXPECT_FALSE(isPictureName(name, kHackPictureMasks)) << name;
}

} // namespace
} // namespace tarnwick

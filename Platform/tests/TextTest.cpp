#include "Platform/Text.h"

#include <gtest/gtest.h>

using namespace platform;

TEST(TextTest, Utf8AndUtf16RoundTripAllPlanes) {
    const std::string text = "A\xC3\xA9\xE2\x82\xAC\xF0\x9D\x84\x9E"; // A, e-acute, euro, G clef
    const std::u16string units = Utf8ToUtf16(text);
    EXPECT_EQ(units, (std::u16string{u'A', 0xE9, 0x20AC, 0xD834, 0xDD1E}));
    EXPECT_EQ(Utf16ToUtf8(units), text);
}

TEST(TextTest, InvalidUtf8BecomesReplacementCharacters) {
    // Stray continuation byte, overlong '/', encoded surrogate, truncated sequence at the end.
    EXPECT_EQ(Utf8ToUtf16("a\x80"
                          "b"),
              (std::u16string{u'a', 0xFFFD, u'b'}));
    EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), (std::u16string{0xFFFD, 0xFFFD}));
    EXPECT_EQ(Utf8ToUtf16("\xED\xA0\x80").front(), 0xFFFD);
    EXPECT_EQ(Utf8ToUtf16("x\xE2\x82"), (std::u16string{u'x', 0xFFFD, 0xFFFD}));
    EXPECT_FALSE(IsValidUtf8("\xF4\x90\x80\x80")); // above U+10FFFF
    EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));
    EXPECT_TRUE(IsValidUtf8("\xF4\x8F\xBF\xBF"));
}

TEST(TextTest, UnpairedSurrogatesBecomeReplacementCharacters) {
    EXPECT_EQ(Utf16ToUtf8(std::u16string{0xD800, u'a'}), "\xEF\xBF\xBD"
                                                         "a");
    EXPECT_EQ(Utf16ToUtf8(std::u16string{u'a', 0xDC00}), "a\xEF\xBF\xBD");
    EXPECT_EQ(Utf16ToUtf8(std::u16string{0xD800}), "\xEF\xBF\xBD");
}

TEST(TextTest, Latin1MapsEveryByteToItsCodePoint) {
    EXPECT_EQ(Latin1ToUtf8("Caf\xE9\xFF"), "Caf\xC3\xA9\xC3\xBF");
    EXPECT_EQ(Latin1ToUtf8(std::string_view("\0", 1)), std::string_view("\0", 1));
}

TEST(TextTest, EndsWithAsciiNoCaseFoldsAsciiLettersOnly) {
    struct Case {
        const char* text;
        const char* suffix;
        bool ends;
    };
    for (const Case& c :
         {Case{"a.WAV", ".wav", true}, Case{"a.wav", ".WaV", true}, Case{"wav", ".wav", false},
          Case{"x", "", true}, Case{"", "", true}, Case{"a.wav ", ".wav", false},
          Case{"a.w\xC3\x81v", ".w\xC3\xA1v", false}, Case{"a.dff", ".DFF", true}}) {
        EXPECT_EQ(EndsWithAsciiNoCase(c.text, c.suffix), c.ends) << c.text << " / " << c.suffix;
    }
}

TEST(TextTest, EqualsNoCaseFoldsTheSupportedScripts) {
    EXPECT_TRUE(EqualsNoCase("SkinName", "SKINNAME"));
    EXPECT_TRUE(EqualsNoCase("caf\xC3\xA9", "CAF\xC3\x89"));           // e-acute
    EXPECT_TRUE(EqualsNoCase("\xC3\xBF", "\xC5\xB8"));                 // y-diaeresis
    EXPECT_TRUE(EqualsNoCase("\xCF\x83\xCF\x82", "\xCE\xA3\xCE\xA3")); // sigma, final sigma
    EXPECT_TRUE(EqualsNoCase("\xD0\xBA\xD0\xBB\xD1\x8E\xD1\x87", "\xD0\x9A\xD0\x9B\xD0\xAE\xD0\xA7"));
    EXPECT_TRUE(EqualsNoCase("\xD1\x91", "\xD0\x81"));  // yo
    EXPECT_FALSE(EqualsNoCase("\xC3\xB7", "\xC3\x97")); // division and multiplication signs differ
    EXPECT_FALSE(EqualsNoCase("stra\xC3\x9F"
                              "e",
                              "STRASSE"));
    EXPECT_FALSE(EqualsNoCase("abc", "abcd"));
    EXPECT_FALSE(EqualsNoCase("a\xFF", "a\xFE")); // invalid bytes compare exactly
}

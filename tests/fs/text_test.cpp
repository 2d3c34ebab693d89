#include "fs/text.h"

#include <gtest/gtest.h>

#include "fs/utf8.h"

namespace fs {
namespace {

std::string Encoded(char32_t cp, Utf8Policy policy) {
    std::string out;
    AppendUtf8(out, cp, policy);
    return out;
}

// Each length of sequence at its edges; the two policies part only on NUL and surrogates.
TEST(Utf8Encoder, WritesEveryLengthAndAppliesThePolicyToNonCharacters) {
    for (Utf8Policy p : {Utf8Policy::kKeepSurrogates, Utf8Policy::kReplaceInvalid}) {
        EXPECT_EQ(Encoded(0x7F, p), "\x7F");
        EXPECT_EQ(Encoded(0x80, p), "\xC2\x80");
        EXPECT_EQ(Encoded(0x7FF, p), "\xDF\xBF");
        EXPECT_EQ(Encoded(0x800, p), "\xE0\xA0\x80");
        EXPECT_EQ(Encoded(0xFFFF, p), "\xEF\xBF\xBF");
        EXPECT_EQ(Encoded(0x10000, p), "\xF0\x90\x80\x80");
        EXPECT_EQ(Encoded(0x10FFFF, p), "\xF4\x8F\xBF\xBF");
        EXPECT_EQ(Encoded(0x110000, p), "\xEF\xBF\xBD");
    }
    EXPECT_EQ(Encoded(0, Utf8Policy::kKeepSurrogates), std::string(1, '\0'));
    EXPECT_EQ(Encoded(0xD800, Utf8Policy::kKeepSurrogates), "\xED\xA0\x80");
    EXPECT_EQ(Encoded(0xDFFF, Utf8Policy::kKeepSurrogates), "\xED\xBF\xBF");
    EXPECT_EQ(Encoded(0, Utf8Policy::kReplaceInvalid), "\xEF\xBF\xBD");
    EXPECT_EQ(Encoded(0xD800, Utf8Policy::kReplaceInvalid), "\xEF\xBF\xBD");
    EXPECT_EQ(Encoded(0xDFFF, Utf8Policy::kReplaceInvalid), "\xEF\xBF\xBD");
}

TEST(Utf8Encoder, JoinsSurrogatePairsAndKeepsLoneOnes) {
    EXPECT_EQ(Utf8FromUtf16(u"a\U0001F600b"),
              "a\xF0\x9F\x98\x80"
              "b");
    // High alone, low first, high at the end.
    EXPECT_EQ(Utf8FromUtf16(std::u16string{u'a', char16_t(0xD83D), u'b'}),
              "a\xED\xA0\xBD"
              "b");
    EXPECT_EQ(Utf8FromUtf16(std::u16string{char16_t(0xDE00), char16_t(0xD83D)}),
              "\xED\xB8\x80\xED\xA0\xBD");
}

// Only ASCII is touched: the bytes of UTF-8 letters are neither lowered nor taken for blanks
// (0x85 and 0xA0 are blanks in some single-byte locales).
TEST(AsciiText, LeavesUtf8BytesAlone) {
    EXPECT_EQ(LowerAscii("\xC3\x84Rger.EML"), "\xC3\x84rger.eml");
    EXPECT_TRUE(EndsWithNoCase("Mail.EMLX", ".emlx"));
    EXPECT_FALSE(EndsWithNoCase("\xC3\x84", "\xC3\xA4"));
    EXPECT_TRUE(StartsWithNoCase("FTP://host", "ftp://"));
    EXPECT_FALSE(StartsWithNoCase("ftp:", "ftp://"));
    EXPECT_EQ(Trim("\t high \r\n"), "high");
    EXPECT_EQ(Trim(" \xC2\xA0x\xC2\x85 "), "\xC2\xA0x\xC2\x85");
    EXPECT_EQ(Trim("\t path \t", " "), "\t path \t");
    EXPECT_EQ(Trim(" \t "), "");
}

}  // namespace
}  // namespace fs

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
    EXPECT_EQ(Utf8FromUtf16(u"a\U0001F600b"), "a\xF0\x9F\x98\x80" "b");
    // High alone, low first, high at the end.
    EXPECT_EQ(Utf8FromUtf16(std::u16string{u'a', char16_t(0xD83D), u'b'}), "a\xED\xA0\xBD" "b");
    EXPECT_EQ(Utf8FromUtf16(std::u16string{char16_t(0xDE00), char16_t(0xD83D)}),
              "\xED\xB8\x80\xED\xA0\xBD");
}

}  // namespace
}  // namespace fs

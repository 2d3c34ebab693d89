// UTF-8 to UTF-16 conversion: the block-wise ASCII path must hand over to the
// byte-by-byte decoder at every position, and both conversions must agree.
#include <gtest/gtest.h>

#include <string>

#include "pst/ltp/property.h"

namespace pst {
namespace {

std::u16string FromBytes(const std::vector<uint8_t>& b) {
    std::u16string s;
    for (size_t i = 0; i + 1 < b.size(); i += 2) s += char16_t(b[i] | (b[i + 1] << 8));
    return s;
}

TEST(TextConversion, NonAsciiAtEveryOffsetOfTheFastPath) {
    // "é" (2 bytes), "€" (3), U+1F600 (4, a surrogate pair) after 0..39 ASCII bytes and
    // followed by more ASCII, so the break-out and re-entry of the fast path fall everywhere.
    const std::pair<std::string, std::u16string> pieces[] = {
        {"\xC3\xA9", u"\u00E9"}, {"\xE2\x82\xAC", u"\u20AC"}, {"\xF0\x9F\x98\x80", u"\U0001F600"}};
    for (const auto& [utf8, utf16] : pieces) {
        for (size_t lead = 0; lead < 40; ++lead) {
            const std::string in = std::string(lead, 'a') + utf8 + std::string(40, 'z');
            const std::u16string want =
                std::u16string(lead, u'a') + utf16 + std::u16string(40, u'z');
            EXPECT_EQ(Utf8ToUtf16(in), want) << lead;
            const auto v = PropertyValue::StringUtf8(0x1000001F, in);
            EXPECT_EQ(v.Bytes().size(), want.size() * 2) << lead;
            EXPECT_EQ(FromBytes(v.Bytes()), want) << lead;
            EXPECT_EQ(v.AsString(), want) << lead;
            EXPECT_EQ(Utf16ToUtf8(want), in) << lead;
        }
    }
}

TEST(TextConversion, InvalidBytesBecomeReplacementCharacters) {
    // A stray continuation byte, a lead byte cut short by ASCII, an overlong form (its three
    // bytes), a lead byte at the very end: each is one U+FFFD and nothing around it is lost.
    const std::string in =
        std::string("abcdefgh\x80") + "ijklmnop\xC3" + "q" + "\xE0\x80\xAF" + "rstuvwxy\xF0";
    const std::u16string want = u"abcdefgh\uFFFDijklmnop\uFFFDq\uFFFDrstuvwxy\uFFFD";
    EXPECT_EQ(Utf8ToUtf16(in), want);
    EXPECT_EQ(PropertyValue::StringUtf8(0x0037001F, in).AsString(), want);
    EXPECT_TRUE(PropertyValue::StringUtf8(0x0037001F, "").Bytes().empty());
    EXPECT_EQ(PropertyValue::String(0x0037001F, u"x\u00E9").Bytes(),
              (std::vector<uint8_t>{'x', 0, 0xE9, 0}));
}

}  // namespace
}  // namespace pst

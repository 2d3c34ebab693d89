#include "fs/path_forms.h"

#include <gtest/gtest.h>

namespace fs {
namespace {

TEST(LongPathForm, PrefixesLocalAndUncPathsAndEndsWithNul) {
    EXPECT_EQ(LongPathForm(u"C:\\mail\\*"), std::u16string(u"\\\\?\\C:\\mail\\*") + u'\0');
    EXPECT_EQ(LongPathForm(u"\\\\srv\\share\\in\\*"),
              std::u16string(u"\\\\?\\UNC\\srv\\share\\in\\*") + u'\0');
    // Nothing else is touched: relative parts and forward slashes stay as given.
    EXPECT_EQ(LongPathForm(u"a/../b"), std::u16string(u"\\\\?\\a/../b") + u'\0');
}

TEST(WithTrailingBackslash, TrimsBlanksAndEndsWithOneSeparator) {
    const std::string sep(1, kPathSeparator);
    EXPECT_EQ(WithTrailingBackslash("  mail  "), "mail" + sep);
    EXPECT_EQ(WithTrailingBackslash("mail" + sep), "mail" + sep);
    EXPECT_EQ(WithTrailingBackslash(""), sep);
    EXPECT_EQ(WithTrailingBackslash("    "), sep);
}

TEST(CutAtNul, KeepsTextBeforeTheFirstNul) {
    EXPECT_EQ(CutAtNul(std::string_view("abc")), "abc");
    EXPECT_EQ(CutAtNul(std::string_view("ab\0cd", 5)), "ab");
    EXPECT_EQ(CutAtNul(std::string_view("\0x", 2)), "");
    EXPECT_EQ(CutAtNul(std::u16string_view(u"n\0m", 3)), u"n");
}

}  // namespace
}  // namespace fs

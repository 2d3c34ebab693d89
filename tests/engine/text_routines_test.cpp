#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "engine/ordinal_compare.h"
#include "engine/path_routines.h"
#include "engine/text_list.h"
#include "fs/path_forms.h"
#include "ui/scripted_shell.h"

namespace engine {
namespace {

using List = std::vector<std::string>;

void SortAll(List& list, ui::Shell& shell) {
    SortTextRange(list, 0, long(list.size()) - 1, shell);
}

TEST(SortTextRange, OrdersByCodeUnitsWithPrefixesFirst) {
    ui::ScriptedShell shell;
    List list = {"\\b", "\\A\\B", "", "\\A"};
    SortAll(list, shell);
    EXPECT_EQ(list, (List{"", "\\A", "\\A\\B", "\\b"}));

    List blanks = {"\\A\\B", "\\A B", "\\A"};
    SortAll(blanks, shell);
    EXPECT_EQ(blanks, (List{"\\A", "\\A B", "\\A\\B"}));
    EXPECT_GT(shell.yields(), 0);
}

TEST(SortTextRange, ComparesUtf16UnitsNotUtf8Bytes) {
    // U+FF61 is one unit 0xFF61; U+1F600 starts with the surrogate 0xD83D, so it sorts first
    // although its UTF-8 bytes are larger.
    const std::string halfwidth = "\xEF\xBD\xA1", emoji = "\xF0\x9F\x98\x80";
    EXPECT_LT(CompareOrdinal(emoji, halfwidth), 0);
    EXPECT_LT(CompareOrdinal("Z", "a"), 0);
    EXPECT_LT(CompareOrdinal("\xC3\xA9", "\xE4\xB8\x80"), 0);  // U+00E9 before U+4E00
    // Invalid bytes have a fixed place instead of breaking the order.
    EXPECT_LT(CompareOrdinal("\xFE\xFF", "\xFF"), 0);
    EXPECT_LT(CompareOrdinal("\xFF", "\xEE\x80\x80"), 0);  // 0xDCFF before U+E000
    EXPECT_EQ(CompareOrdinal("a\xFF", "a\xFF"), 0);
}

TEST(SortTextRange, SortsOnlyTheGivenRangeAndAgreesWithAReferenceSort) {
    ui::ScriptedShell shell;
    List partial = {"z", "c", "b", "a", "0"};
    SortTextRange(partial, 1, 3, shell);
    EXPECT_EQ(partial, (List{"z", "a", "b", "c", "0"}));

    std::mt19937 rng(7);
    const std::vector<std::string> pieces = {"\\", "A", "a", " ", "\xC3\xA9", "\xF0\x9F\x98\x80",
                                             "B"};
    for (int round = 0; round < 50; ++round) {
        List list(size_t(rng() % 200));
        for (auto& s : list)
            for (size_t k = rng() % 5; k > 0; --k) s += pieces[rng() % pieces.size()];
        List expected = list;
        std::stable_sort(expected.begin(), expected.end(), SortsBefore);
        SortAll(list, shell);
        ASSERT_EQ(list, expected) << "round " << round;
    }
}

TEST(RemoveRepeats, DropsRepeatsAndEmptiesButKeepsAnAllEmptyList) {
    ui::ScriptedShell shell;
    List list = {"", "", "\\A", "\\A", "\\A", "\\B"};
    RemoveRepeats(list, shell);
    EXPECT_EQ(list, (List{"\\A", "\\B"}));

    List allEmpty = {"", ""};
    RemoveRepeats(allEmpty, shell);
    EXPECT_EQ(allEmpty, (List{"", ""}));

    List runs = {"a", "a", "b", "c", "c", "c", "d"};
    RemoveRepeats(runs, shell);
    EXPECT_EQ(runs, (List{"a", "b", "c", "d"}));
    EXPECT_GT(shell.yields(), 0);
}

TEST(PathRoutines, CutAtTheLastSeparator) {
    const std::string s(1, fs::kPathSeparator);
    const std::string file = "C:" + s + "Mail" + s + "a.eml";
    EXPECT_EQ(FileNameOf(file), "a.eml");
    EXPECT_EQ(FileNameOf("a.eml"), "a.eml");
    EXPECT_EQ(FileNameOf("C:" + s + "Mail" + s), "");
    EXPECT_EQ(DirectoryOf(file), "C:" + s + "Mail" + s);
    EXPECT_EQ(DirectoryOf("a.eml"), "");
}

}  // namespace
}  // namespace engine

// A backslash is an ordinary character in a POSIX file name, and the separator on Windows.
#include "tests/conversion/conversion_fixture.h"

namespace conversiontest {
namespace {

using Subjects = std::vector<std::string>;

TEST_F(FolderMappingTest, AFolderNameHoldingABackslashStaysOneFolder) {
    src.file("a\\b/m.eml", Message("slash"));
    Tree tree = Convert(src.str());
    EXPECT_EQ(tree["a\\b"], Subjects{"slash"});
    EXPECT_FALSE(tree.count("a"));
}

}  // namespace
}  // namespace conversiontest

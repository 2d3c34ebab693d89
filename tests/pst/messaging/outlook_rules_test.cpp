// Rules every message in Outlook's own files follows (sizes, stored subjects, conversations,
// previews): first confirmed on Outlook-made samples, then held by what we write.

#include "tests/pst/outlook_rules.h"

#include "tests/pst/messaging/store_fixture.h"

namespace pst::messaging {
namespace {

using testing::ExpectOutlookRules;

TEST(OutlookRulesTest, HoldOnOutlooksOwnFiles) {
    if (!std::filesystem::exists(testing::SharedDir())) GTEST_SKIP() << "no shared corpus";
    // The ANSI sample is left out: our reader opens Unicode files only.
    for (const char* name : {"pstsdk_sample1.pst", "tika_testPST.pst",
                             "tika_testPST_variousBodyTypes.pst", "outlook-pst-rs_Empty.pst"})
        ExpectOutlookRules(testing::SharedDir() / "corpus/pst" / name);
}

}  // namespace
}  // namespace pst::messaging

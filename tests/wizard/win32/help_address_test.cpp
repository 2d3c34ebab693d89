// Help addresses of a manual installed in a Windows folder: the browser gets the URL forms of
// drive and server paths, with '/' for the separators.
#include <gtest/gtest.h>

#include "wizard/help_site.h"

namespace {

TEST(HelpSiteOnWindows, DriveAndServerFoldersBecomeTheirUrlForms) {
    wizard::HelpSite site("C:\\Program Files\\eml2pst\\help\\");
    EXPECT_EQ(site.Address(wizard::kHelpSelectFolder),
              "file:///C:/Program%20Files/eml2pst/help/index.html#select-folder");
    EXPECT_EQ(wizard::HelpSite("\\\\files\\tools\\h\xC3\xA9lp").Address("/h/store-errors.html"),
              "file://files/tools/h%C3%A9lp/store-errors.html");
    EXPECT_EQ(wizard::FileUrl("D:\\a:b"), "file:///D:/a%3Ab");  // only the drive's colon stays
}

}  // namespace

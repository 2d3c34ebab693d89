// The shell services the pages rely on, as a shell without windows provides them, and the help
// manual the links point into.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "engine/migration.h"
#include "tests/support/platform.h"
#include "tests/support/temp_dir.h"
#include "ui/scripted_shell.h"
#include "wizard/help_site.h"

namespace {

struct PlainShell : ui::Shell {
    void Yield() override {}
    ui::MsgBoxResult MessageBox(const std::string&, const std::string&, ui::MsgBoxStyle) override {
        return ui::MsgBoxResult::Ok;
    }
    std::optional<std::string> SaveFileDialog(const std::string&, const std::string&) override {
        return std::nullopt;
    }
};

TEST(ShellServices, SubfolderListingHasFoldersOnlyWithFullUnicodePaths) {
    testsupport::TempDir dir;
    dir.dir("root/plain");
    dir.dir("root/.hidden");
    dir.dir(
        "root/Caf\xC3\xA9 \xC3\x9C"
        "ber");
    dir.dir("root/plain/nested");
    dir.file("root/message.eml");
    PlainShell shell;
    auto rows = shell.ListSubfolders(dir.str() + "/root/");
    std::vector<std::string> names;
    for (const auto& r : rows) {
        names.push_back(r.name);
        EXPECT_EQ(r.path, dir.str() + "/root/" + r.name);
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{".hidden",
                                               "Caf\xC3\xA9 \xC3\x9C"
                                               "ber",
                                               "plain"}));

    EXPECT_TRUE(shell.ListSubfolders(dir.str() + "/root/plain/nested").empty());
    EXPECT_TRUE(shell.ListSubfolders(dir.str() + "/missing").empty());
    EXPECT_TRUE(shell.ListSubfolders(dir.str() + "/root/message.eml").empty());
}

TEST(ShellServices, DesktopAndDocumentsAreFoundUnderHomeOrElseHome) {
    testsupport::TempDir dir;
    std::string oldHome = std::getenv("HOME") ? std::getenv("HOME") : "";
    PlainShell shell;
    const auto desktop = [&] { return shell.SpecialFolderPath(ui::SpecialFolder::Desktop); };
    const auto documents = [&] { return shell.SpecialFolderPath(ui::SpecialFolder::Documents); };
    testsupport::SetEnv("HOME", dir.str());
    EXPECT_EQ(desktop(), dir.str());
    EXPECT_EQ(documents(), dir.str());
    dir.dir("Desktop");
    EXPECT_EQ(desktop(), dir.str() + "/Desktop");
    EXPECT_EQ(documents(), dir.str() + "/Desktop");
    dir.dir("Documents");
    EXPECT_EQ(documents(), dir.str() + "/Documents");
    testsupport::SetEnv("HOME", oldHome);
}

TEST(ShellServices, WithoutWindowsNothingIsPickedOpenedOrAwaited) {
    PlainShell shell;
    EXPECT_FALSE(shell.BrowseForFolder("Choose Source Folder...").has_value());
    ui::Window w;
    w.Visible = true;
    shell.ShowModal(w, nullptr);  // returns at once
    EXPECT_FALSE(shell.OpenUrl("file:///nowhere"));
}

TEST(HelpSite, LocateTakesTheFirstFolderHoldingAManual) {
    testsupport::TempDir dir;
    dir.dir("empty");
    dir.file("second/index.html", "<html></html>");
    dir.file("third/index.html", "<html></html>");
    const auto in = [&](const char* name) { return fs::Utf8FromPath(dir / name); };
    EXPECT_EQ(wizard::HelpSite::Locate({"", in("empty"), in("second"), in("third")}), in("second"));
    EXPECT_EQ(wizard::HelpSite::Locate({in("empty")}), "");
}

std::string Slurp(const std::filesystem::path& p) {
    std::ifstream in(p);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(HelpManual, EveryLinkOfThePagesAndTheStoreErrorBoxLandsOnAnExistingSection) {
    const std::filesystem::path manual = std::filesystem::path(EML2PST_SOURCE_DIR) / "docs/help";
    wizard::HelpSite site(fs::Utf8FromPath(manual));
    for (const char* path :
         {wizard::kHelpManual, wizard::kHelpSingleFolder, wizard::kHelpMultipleFolders,
          wizard::kHelpSelectFolder, wizard::kHelpSelectRootFolder}) {
        std::string address = site.Address(path);
        ASSERT_EQ(address.rfind("file://", 0), 0u) << path;
        std::string rest = address.substr(7);
        if (rest.size() > 2 && rest[2] == ':') rest.erase(0, 1);  // file:///C:/x is C:/x
        std::string fragment;
        if (auto hash = rest.find('#'); hash != std::string::npos) {
            fragment = rest.substr(hash + 1);
            rest.resize(hash);
        }
        ASSERT_TRUE(std::filesystem::exists(rest)) << address;
        if (!fragment.empty()) {
            EXPECT_NE(Slurp(rest).find("id=\"" + fragment + "\""), std::string::npos) << address;
        }
    }
    // The page the store failure box names.
    std::string page = Slurp(manual / engine::kStoreErrorsPage);
    ASSERT_FALSE(page.empty());
    // One section for each cause the box can name.
    for (const char* topic : {"no-folder", "not-writable", "read-only", "locked", "disk-full",
                              "path-too-long", "not-a-pst", "damaged", "ansi"})
        EXPECT_NE(page.find("id=\"" + std::string(topic) + "\""), std::string::npos) << topic;
}

}  // namespace

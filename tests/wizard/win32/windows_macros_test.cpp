// windows.h comes first here, as it does in any file that talks to Windows directly: its
// MessageBox and Yield macros must not rename the shell's methods in such a file, or a shell
// implemented there and one called from elsewhere no longer meet at link time.
// clang-format off
#include <windows.h>
// clang-format on

#include <gtest/gtest.h>

#include "ui/scripted_shell.h"

namespace {

class CountingShell : public ui::ScriptedShell {
  public:
    void Yield() override {
        ++yields;
        ScriptedShell::Yield();
    }
    int yields = 0;
};

TEST(WindowsHeaders, ShellMethodsKeepTheirNamesAfterWindowsH) {
    CountingShell shell;
    ui::Shell& base = shell;
    shell.Answer(ui::MsgBoxResult::No);
    EXPECT_EQ(base.MessageBox("text", "title", ui::MsgBoxStyle::YesNo), ui::MsgBoxResult::No);
    base.Yield();
    EXPECT_EQ(shell.yields, 1);
    ASSERT_EQ(shell.boxes().size(), 1u);
    EXPECT_EQ(shell.boxes()[0].title, "title");
}

}  // namespace

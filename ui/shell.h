#pragma once

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "fs/utf8_path.h"

// windows.h defines Yield() as a macro (its MessageBox macro is kept out by NOMB, set for every
// Windows build); the name here is the shell's own.
#undef Yield

// Everything the windows and the long-running work ask of the platform. The desktop front end
// implements it with the toolkit; tests use ScriptedShell.
namespace ui {

enum class MsgBoxStyle { InformationOk, QuestionYesNo, YesNo };
enum class MsgBoxResult { Ok, Yes, No };
enum class SpecialFolder { Desktop, Documents };

// One immediate subfolder of a listed folder.
struct FolderEntry {
    std::string name;
    std::string path;
};

struct Window;

class Shell {
  public:
    virtual ~Shell() = default;

    // One pass over the pending window events; handlers of other controls may run inside it.
    virtual void Yield() = 0;

    // A modal message box; `text` lines are joined with CR LF.
    virtual MsgBoxResult MessageBox(const std::string& text, const std::string& title,
                                    MsgBoxStyle style) = 0;

    // The save dialog: `filter` as "Description|*.ext", `proposedName` the file name offered.
    // The chosen full path, or nothing when the user cancels.
    virtual std::optional<std::string> SaveFileDialog(const std::string& filter,
                                                      const std::string& proposedName) = 0;

    // The services below have neutral defaults so that shells without windows need not care.

    // The modal folder picker; `initial` is where it opens. The folder exactly as picked (no
    // separator appended, a root keeps its own), or nothing on cancel or failure.
    virtual std::optional<std::string> BrowseForFolder(const std::string& /*prompt*/,
                                                       const std::string& /*initial*/ = "") {
        return std::nullopt;
    }

    // Opens an address in the default browser. False when no browser could be started; the
    // caller tells the user where the page is.
    virtual bool OpenUrl(const std::string& /*url*/) { return false; }

    // The current user's desktop or documents folder, without a trailing separator: the
    // folder under the home folder when it exists (documents fall back to the desktop), else
    // the home folder itself.
    virtual std::string SpecialFolderPath(SpecialFolder which) {
        const char* home = std::getenv("HOME");
        if (!home || !*home) return {};
        std::error_code ec;
        const auto existing = [&](const char* name) {
            std::string path = std::string(home) + "/" + name;
            return std::filesystem::is_directory(fs::PathFromUtf8(path), ec) ? path : std::string();
        };
        std::string found = which == SpecialFolder::Documents ? existing("Documents") : "";
        if (found.empty()) found = existing("Desktop");
        return found.empty() ? std::string(home) : found;
    }

    // The immediate subfolders of `path` in the order the file system gives them; a folder that
    // cannot be read lists nothing.
    virtual std::vector<FolderEntry> ListSubfolders(const std::string& path) {
        std::vector<FolderEntry> out;
        std::error_code ec;
        for (std::filesystem::directory_iterator it(fs::PathFromUtf8(path), ec), end;
             !ec && it != end; it.increment(ec)) {
            std::error_code typeError;
            if (it->is_directory(typeError))
                out.push_back(
                    {fs::Utf8FromPath(it->path().filename()), fs::Utf8FromPath(it->path())});
        }
        return out;
    }

    // Shows `window` modally over `owner` (none: no owner) and returns once the window's model
    // is no longer visible. Without windows there is nothing to wait for.
    virtual void ShowModal(Window& /*window*/, Window* /*owner*/) {}

    // Ends the process at once: no further questions, no close handlers.
    virtual void EndProcess() { std::exit(0); }
};

}  // namespace ui

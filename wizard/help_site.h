#pragma once

#include <initializer_list>
#include <string>
#include <utility>

namespace wizard {

// The help paths the pages link to. They are resolved against the manual shipped with the
// program, so help works without a network.
inline constexpr const char* kHelpManual = "/eml-to-pst/";
inline constexpr const char* kHelpSingleFolder = "/h/eml-to-pst/#single-folder";
inline constexpr const char* kHelpMultipleFolders = "/h/eml-to-pst/#multiple-folders";
inline constexpr const char* kHelpSelectFolder = "/h/eml-to-pst/#select-folder";
inline constexpr const char* kHelpSelectRootFolder = "/h/eml-to-pst/#select-root-folder";

// The local help manual: a folder of HTML pages with index.html at its top.
class HelpSite {
  public:
    HelpSite() = default;
    // `folder`: where the manual's pages are; empty means no manual (links open nothing).
    explicit HelpSite(std::string folder) : folder_(std::move(folder)) {}

    // The address of a help path: a file:// URL of the manual page, fragment kept; empty when
    // there is no manual.
    std::string Address(const std::string& helpPath) const;
    // The same page as a local path, fragment kept: what the user can open by hand.
    std::string PagePath(const std::string& helpPath) const;

    const std::string& folder() const { return folder_; }

    // The first of `candidates` that holds index.html, or empty.
    static std::string Locate(const std::initializer_list<std::string>& candidates);

  private:
    // The page's file and the fragment ("#name" or empty) of a help path.
    std::pair<std::string, std::string> Resolve(const std::string& helpPath) const;
    std::string folder_;
};

// `path` as a file:// URL: bytes outside the unreserved set (and '/') percent-encoded, so
// blanks and non-ASCII names survive the browser. Windows paths ("C:\x", "\\server\share")
// get the URL forms the shell expects.
std::string FileUrl(const std::string& path);

}  // namespace wizard

#include "wizard/help_site.h"

#include <algorithm>
#include <filesystem>
#include <initializer_list>
#include <system_error>

#include "fs/path_forms.h"
#include "fs/utf8_path.h"

namespace wizard {

std::string FileUrl(const std::string& path) {
    static const char* kHex = "0123456789ABCDEF";
    std::string p = path;
    // URLs separate with '/': Windows paths are turned; elsewhere '\' is part of a name.
    if (fs::kPathSeparator == '\\') std::replace(p.begin(), p.end(), '\\', '/');
    const bool drive = p.size() >= 2 && p[1] == ':' &&
                       ((p[0] >= 'A' && p[0] <= 'Z') || (p[0] >= 'a' && p[0] <= 'z'));
    // "C:/x" is file:///C:/x; a network path "//server/share/x" is file://server/share/x.
    std::string url = drive ? "file:///" : p.rfind("//", 0) == 0 ? "file:" : "file://";
    for (size_t i = 0; i < p.size(); ++i) {
        const unsigned char c = p[i];
        bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                     c == '-' || c == '_' || c == '.' || c == '~' || c == '/' || (drive && i == 1);
        if (plain) {
            url += char(c);
        } else {
            url += '%';
            url += kHex[c >> 4];
            url += kHex[c & 15];
        }
    }
    return url;
}

std::pair<std::string, std::string> HelpSite::Resolve(const std::string& helpPath) const {
    std::string fragment;
    std::string path = helpPath;
    if (auto hash = path.find('#'); hash != std::string::npos) {
        fragment = path.substr(hash);
        path.resize(hash);
    }
    // Every help path of the pages lands on the manual's one page; its sections carry the
    // fragments. A path naming an .html page of the manual opens that page.
    std::string page = "index.html";
    if (auto slash = path.rfind('/'); slash != std::string::npos) {
        std::string last = path.substr(slash + 1);
        if (last.size() > 5 && last.compare(last.size() - 5, 5, ".html") == 0) page = last;
    }
    std::string folder = folder_;
    while (folder.size() > 1 && (folder.back() == '/' || folder.back() == fs::kPathSeparator))
        folder.pop_back();
    return {folder + fs::kPathSeparator + page, fragment};
}

std::string HelpSite::Address(const std::string& helpPath) const {
    if (folder_.empty() || helpPath.empty()) return {};
    auto [file, fragment] = Resolve(helpPath);
    return FileUrl(file) + fragment;
}

std::string HelpSite::PagePath(const std::string& helpPath) const {
    if (folder_.empty() || helpPath.empty()) return {};
    auto [file, fragment] = Resolve(helpPath);
    return file + fragment;
}

std::string HelpSite::Locate(const std::initializer_list<std::string>& candidates) {
    for (const auto& c : candidates) {
        std::error_code ec;
        if (!c.empty() && std::filesystem::is_regular_file(fs::PathFromUtf8(c) / "index.html", ec))
            return fs::Utf8FromPath(std::filesystem::weakly_canonical(fs::PathFromUtf8(c), ec));
    }
    return {};
}

}  // namespace wizard

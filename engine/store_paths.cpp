#include "engine/store_paths.h"

#include "fs/path_forms.h"

namespace engine {

std::string ToStorePath(std::string_view in) {
    if (fs::kPathSeparator == '\\') return std::string(in);
    std::string out;
    out.reserve(in.size());
    for (char c : in) {
        if (c == '\\')
            out += "\xEF\x81\x9C";  // U+F05C
        else
            out.push_back(c == fs::kPathSeparator ? '\\' : c);
    }
    return out;
}

std::string ToStorePathPiece(std::string_view name) {
    std::string out;
    out.reserve(name.size());
    for (char c : name) {
        if (c == '\\')
            out += "\xEF\x81\x9C";  // U+F05C
        else
            out.push_back(c);
    }
    return out;
}

std::string RemoveAll(std::string text, std::string_view what) {
    if (what.empty()) return text;
    std::string out;
    size_t pos = 0;
    for (size_t hit; (hit = text.find(what, pos)) != std::string::npos; pos = hit + what.size())
        out.append(text, pos, hit - pos);
    out.append(text, pos);
    return out;
}

std::vector<std::string> SplitStorePath(std::string_view path) {
    std::vector<std::string> pieces;
    size_t pos = 0;
    while (pos <= path.size()) {
        size_t end = path.find('\\', pos);
        if (end == std::string_view::npos) end = path.size();
        if (end > pos) pieces.emplace_back(path.substr(pos, end - pos));
        pos = end + 1;
    }
    return pieces;
}

std::string JoinStorePath(const std::vector<std::string>& pieces) {
    std::string out;
    for (size_t i = 0; i < pieces.size(); ++i) {
        if (i) out.push_back('\\');
        out += pieces[i];
    }
    return out;
}

std::string ContinuationPath(const std::string& first, int k) {
    std::string base = first;
    if (fs::EndsWithNoCase(base, ".pst")) base.resize(base.size() - 4);
    return base + " (" + std::to_string(k) + ").pst";
}

}  // namespace engine

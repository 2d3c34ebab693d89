#include "mime/emlx.h"

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "fs/text.h"
#include "fs/utf8_path.h"

namespace mime {
namespace {

// The text of the value element following <key>name</key>.
std::optional<std::string> PlistValue(std::string_view plist, std::string_view name,
                                      std::string* element) {
    std::string key = "<key>" + std::string(name) + "</key>";
    size_t k = plist.find(key);
    if (k == std::string_view::npos) return std::nullopt;
    size_t open = plist.find('<', k + key.size());
    if (open == std::string_view::npos) return std::nullopt;
    size_t close = plist.find('>', open);
    if (close == std::string_view::npos) return std::nullopt;
    *element = std::string(plist.substr(open + 1, close - open - 1));
    size_t end = plist.find('<', close);
    if (end == std::string_view::npos) return std::nullopt;
    return std::string(plist.substr(close + 1, end - close - 1));
}

}  // namespace

bool HasEmlxName(std::string_view path) {
    return fs::EndsWithNoCase(path, ".emlx");
}
bool HasPartialEmlxName(std::string_view path) {
    return fs::EndsWithNoCase(path, ".partial.emlx");
}

std::optional<EmlxLayout> ParseEmlxCountLine(std::string_view head, uint64_t fileSize) {
    size_t i = 0;
    while (i < head.size() && (head[i] == ' ' || head[i] == '\t')) ++i;
    size_t digits = i;
    uint64_t n = 0;
    while (i < head.size() && std::isdigit(uint8_t(head[i])) && i - digits < 15)
        n = n * 10 + uint64_t(head[i++] - '0');
    if (i == digits) return std::nullopt;
    while (i < head.size() && (head[i] == ' ' || head[i] == '\t' || head[i] == '\r')) ++i;
    if (i >= head.size() || head[i] != '\n') return std::nullopt;
    EmlxLayout layout;
    layout.messageOffset = i + 1;
    uint64_t available = fileSize > layout.messageOffset ? fileSize - layout.messageOffset : 0;
    layout.truncated = n > available;
    layout.messageLength = layout.truncated ? available : n;
    return layout;
}

void ParseEmlxPlist(std::string_view plist, EmlxLayout& layout) {
    std::string element;
    if (auto v = PlistValue(plist, "flags", &element)) {
        char* end = nullptr;
        if (element == "integer") {
            uint64_t f = std::strtoull(v->c_str(), &end, 10);
            if (end != v->c_str()) layout.flags = f;
        } else if (element == "real") {
            double f = std::strtod(v->c_str(), &end);
            if (end != v->c_str() && f >= 0) layout.flags = uint64_t(f);
        }
    }
    if (auto v = PlistValue(plist, "date-received", &element)) {
        char* end = nullptr;
        double t = std::strtod(v->c_str(), &end);
        if (end != v->c_str() && t > 0 && t < 7258118400.0) layout.dateReceived = int64_t(t);
    }
}

std::string FindPartialPayload(const std::string& emlxPath, const std::string& partPath,
                               std::string* looked) {
    namespace sfs = std::filesystem;
    std::error_code ec;
    sfs::path message = fs::PathFromUtf8(emlxPath);
    std::string number = fs::Utf8FromPath(message.filename());
    number = number.substr(0, number.find('.'));
    sfs::path dir = message.parent_path().parent_path() / "Attachments" / fs::PathFromUtf8(number) /
                    fs::PathFromUtf8(partPath);
    if (looked) *looked = fs::Utf8FromPath(dir);
    if (sfs::is_directory(dir, ec)) {
        for (const auto& entry : sfs::directory_iterator(dir, ec)) {
            if (entry.is_regular_file(ec)) return fs::Utf8FromPath(entry.path());
        }
    }
    sfs::path old = message.parent_path() / fs::PathFromUtf8(number + "." + partPath + ".emlxpart");
    if (sfs::is_regular_file(old, ec)) return fs::Utf8FromPath(old);
    return {};
}

}  // namespace mime

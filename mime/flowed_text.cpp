#include "mime/flowed_text.h"

namespace mime {

std::string UnflowText(std::string_view text, bool delsp) {
    std::string out;
    out.reserve(text.size());
    bool open = false;  // the last line written was soft-broken
    size_t openDepth = 0;
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t nl = text.find('\n', pos);
        bool last = nl == std::string_view::npos;
        std::string_view line = text.substr(pos, last ? std::string_view::npos : nl - pos);
        pos = last ? text.size() + 1 : nl + 1;
        if (last && line.empty()) break;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        size_t depth = 0;
        while (depth < line.size() && line[depth] == '>') ++depth;
        std::string_view content = line.substr(depth);
        if (!content.empty() && content[0] == ' ') content.remove_prefix(1);  // stuffing
        bool signature = content == "-- ";
        bool soft = !signature && !content.empty() && content.back() == ' ';
        if (open && depth != openDepth) out += "\r\n";  // quote depth changed: hard break
        if (!open || depth != openDepth) {
            if (depth) out += std::string(depth, '>') + " ";
        }
        if (soft && delsp) content.remove_suffix(1);
        out.append(content);
        if (soft) {
            open = true;
            openDepth = depth;
        } else {
            out += "\r\n";
            open = false;
        }
    }
    if (open) out += "\r\n";
    return out;
}

}  // namespace mime

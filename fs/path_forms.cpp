#include "fs/path_forms.h"

#include "fs/text.h"

namespace fs {

std::u16string LongPathForm(std::u16string_view path) {
    std::u16string form;
    if (path.size() >= 2 && path[0] == u'\\' && path[1] == u'\\') {
        form = u"\\\\?\\UNC\\";
        form.append(path.substr(2));
    } else {
        form = u"\\\\?\\";
        form.append(path);
    }
    form.push_back(u'\0');
    return form;
}

std::string WithTrailingBackslash(std::string_view path) {
    std::string out(Trim(path, " "));
    if (out.empty() || out.back() != kPathSeparator) out.push_back(kPathSeparator);
    return out;
}

std::string CutAtNul(std::string_view text) {
    return std::string(text.substr(0, text.find('\0')));
}

std::u16string CutAtNul(std::u16string_view text) {
    return std::u16string(text.substr(0, text.find(u'\0')));
}

}  // namespace fs

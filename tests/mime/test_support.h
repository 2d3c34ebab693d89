#pragma once

#include <glib.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "mime/import.h"
#include "mime/tags.h"
#include "tests/support/temp_dir.h"

namespace mime::testing {

// A fresh folder under the system temp folder, removed with everything in it.
class TempDir : public testsupport::TempDir {
  public:
    // Writes `bytes` to `name` (UTF-8, folders made as needed); returns the file's UTF-8 path.
    std::string Write(const std::string& name, std::string_view bytes) const {
        auto p = *this / name;
        std::filesystem::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
        return fs::Utf8FromPath(p);
    }
};

inline const pst::PropertyValue* Find(const pst::messaging::PropertySet& props, uint32_t tag) {
    return props.Find(tag);
}

inline std::string Utf8(const pst::messaging::PropertySet& props, uint32_t tag) {
    const auto* v = props.Find(tag);
    return v ? v->AsUtf8() : std::string("<absent>");
}

inline int32_t Int(const pst::messaging::PropertySet& props, uint32_t tag) {
    const auto* v = props.Find(tag);
    return v ? v->AsInt32() : -12345;
}

inline std::string Bytes(const pst::messaging::PropertySet& props, uint32_t tag) {
    const auto* v = props.Find(tag);
    if (!v) return "<absent>";
    if (!v->IsStream()) return std::string(v->Bytes().begin(), v->Bytes().end());
    std::string out;
    v->Producer()([&out](std::span<const uint8_t> c) { out.append(c.begin(), c.end()); });
    return out;
}

inline const pst::PropertyValue* FindNamed(const pst::messaging::PropertySet& props,
                                           const std::array<uint8_t, 16>& guid,
                                           std::variant<uint32_t, std::u16string> name) {
    for (const auto& nv : props.named)
        if (nv.name.guid == guid && nv.name.name == name) return &nv.value;
    return nullptr;
}

// Imports a message written from `text` to a file named `name` in `dir`; fails the test when
// the import is refused.
inline ImportResult ImportText(const TempDir& dir, std::string_view text,
                               const std::string& name = "m.eml",
                               const ImportOptions& options = {}) {
    auto result = ImportMessageFile(dir.Write(name, text), options);
    EXPECT_TRUE(result.ok) << result.error;
    return result;
}

// Unix seconds of a FILETIME property.
inline int64_t UnixTime(const pst::messaging::PropertySet& props, uint32_t tag) {
    const auto* v = props.Find(tag);
    if (!v) return -1;
    return int64_t(v->AsTime() / 10000000ULL) - 11644473600LL;
}

}  // namespace mime::testing

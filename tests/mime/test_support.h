#pragma once

#include <fcntl.h>
#include <glib.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "mime/import.h"
#include "mime/tags.h"

namespace mime::testing {

// A fresh folder under the system temp folder, removed with everything in it.
class TempDir {
  public:
    TempDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "mime-test-XXXXXX").string();
        if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }

    std::string Write(const std::string& name, std::string_view bytes) const {
        auto p = path_ / name;
        std::filesystem::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
        return p.string();
    }

  private:
    std::filesystem::path path_;
};

inline const pst::PropertyValue* Find(const pst::messaging::PropertySet& props, uint32_t tag) {
    return props.find(tag);
}

inline std::string Utf8(const pst::messaging::PropertySet& props, uint32_t tag) {
    const auto* v = props.find(tag);
    return v ? v->asUtf8() : std::string("<absent>");
}

inline int32_t Int(const pst::messaging::PropertySet& props, uint32_t tag) {
    const auto* v = props.find(tag);
    return v ? v->asInt32() : -12345;
}

inline std::string Bytes(const pst::messaging::PropertySet& props, uint32_t tag) {
    const auto* v = props.find(tag);
    if (!v) return "<absent>";
    if (!v->isStream()) return std::string(v->bytes().begin(), v->bytes().end());
    std::string out;
    v->producer()([&out](std::span<const uint8_t> c) { out.append(c.begin(), c.end()); });
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
    const auto* v = props.find(tag);
    if (!v) return -1;
    return int64_t(v->asTime() / 10000000ULL) - 11644473600LL;
}

}  // namespace mime::testing

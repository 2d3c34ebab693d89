#pragma once

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "fs/utf8_path.h"

namespace testsupport {

// A fresh folder under the system's temporary folder, removed with everything in it. Names
// given to it and the text it hands back are UTF-8, whatever the platform's narrow encoding.
class TempDir {
  public:
    TempDir() {
        std::random_device rd;
        path_ = std::filesystem::temp_directory_path() /
                ("eml2pst-test-" + std::to_string(rd()) + std::to_string(rd()));
        std::filesystem::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // `name` may hold "/": the result has the platform's separators throughout.
    std::filesystem::path operator/(const std::string& name) const {
        return (path_ / fs::PathFromUtf8(name)).make_preferred();
    }
    std::string str() const { return fs::Utf8FromPath(path_); }

    // Creates a file (and its folders) relative to the temp folder.
    std::filesystem::path file(const std::string& relative,
                               const std::string& content = "x") const {
        auto p = *this / relative;
        std::filesystem::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary) << content;
        return p;
    }
    std::filesystem::path dir(const std::string& relative) const {
        auto p = *this / relative;
        std::filesystem::create_directories(p);
        return p;
    }

  private:
    std::filesystem::path path_;
};

}  // namespace testsupport

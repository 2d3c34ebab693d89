#pragma once

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace testsupport {

// A fresh folder under the system's temporary folder, removed with everything in it.
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
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }
    std::string str() const { return path_.string(); }

    // Creates a file (and its folders) relative to the temp folder.
    std::filesystem::path file(const std::string& relative, const std::string& content = "x") const {
        auto p = path_ / relative;
        std::filesystem::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary) << content;
        return p;
    }
    std::filesystem::path dir(const std::string& relative) const {
        auto p = path_ / relative;
        std::filesystem::create_directories(p);
        return p;
    }

private:
    std::filesystem::path path_;
};

}  // namespace testsupport

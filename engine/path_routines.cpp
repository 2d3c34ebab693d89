#include "engine/path_routines.h"

#include "fs/path_forms.h"

namespace engine {

std::string FileNameOf(std::string_view path) {
    size_t cut = path.rfind(fs::kPathSeparator);
    return std::string(cut == std::string_view::npos ? path : path.substr(cut + 1));
}

std::string DirectoryOf(std::string_view path) {
    size_t cut = path.rfind(fs::kPathSeparator);
    return cut == std::string_view::npos ? std::string() : std::string(path.substr(0, cut + 1));
}

}  // namespace engine

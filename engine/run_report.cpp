#include "engine/status_window.h"

namespace engine {

int RunReport::Converted() const {
    int n = 0;
    for (const auto& f : folders) n += f.converted;
    return n;
}

int RunReport::Failed() const {
    int n = 0;
    for (const auto& f : folders) n += f.failed;
    return n;
}

std::vector<std::string> RunReport::FoldersNotConverted() const {
    std::vector<std::string> out;
    for (const auto& f : folders)
        if (f.storeFailed) out.push_back(f.source);
    return out;
}

}  // namespace engine

#include "cli/cli_job.h"

#include <algorithm>

#include "fs/mod_files.h"
#include "fs/path_forms.h"

namespace cli {

std::vector<CliJob::Row> SubfoldersOf(const std::string& root, std::string& error) {
    std::vector<CliJob::Row> rows;
    std::string base = fs::WithTrailingBackslash(root);
    fs::FileFindRecord r;
    if (fs::FindFirstEntry(base + "*", r) == fs::kInvalidHandle) {
        error = r.Error;
        return rows;
    }
    do {
        if (r.FileName == "." || r.FileName == "..") continue;
        if (r.Attributes & fs::kAttrDirectory) rows.push_back({r.FileName, base + r.FileName});
    } while (fs::FindNextEntry(r));
    std::sort(rows.begin(), rows.end(),
              [](const auto& a, const auto& b) { return a.name < b.name; });
    return rows;
}

}  // namespace cli

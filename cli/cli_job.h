#pragma once

#include <string>
#include <vector>

#include "engine/status_window.h"

namespace cli {

// The job as the command line gives it: one source folder, or every immediate subfolder of a
// root, each converted into <name>.pst in an output folder.
struct CliJob : engine::ConversionJob {
    struct Row {
        std::string name;
        std::string path;
    };
    bool single = true;
    std::string source;
    std::string output;
    std::vector<Row> rows;
    bool keepDuplicates = false;                         // --duplicates=keep
    uint64_t maxSize = engine::kDefaultMaxDataFileSize;  // --max-size; 0 for none

    bool SingleMode() const override { return single; }
    std::string SourceFolder() const override { return source; }
    std::string OutputFolder() const override { return output; }
    int RowCount() const override { return int(rows.size()); }
    bool RowChecked(int) const override { return true; }
    std::string RowText(int row) const override { return rows[size_t(row - 1)].name; }
    std::string RowPath(int row) const override { return rows[size_t(row - 1)].path; }
    void MarkRowStarted(int) override {}
    bool KeepsDuplicates() const override { return keepDuplicates; }
    uint64_t MaxDataFileSize() const override { return maxSize; }
    // A folder without message files gets no data file here.
    bool ConvertsFoldersWithoutMessages() const override { return false; }
};

// The immediate subfolders of `root`, sorted by name. When `root` cannot be listed, none, with
// the cause in `error`.
std::vector<CliJob::Row> SubfoldersOf(const std::string& root, std::string& error);

}  // namespace cli

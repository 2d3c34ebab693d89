#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/keyed_queue.h"
#include "fs/mod_files.h"
#include "fs/path_forms.h"
#include "job/message_queue_scan.h"
#include "tests/support/temp_dir.h"
#include "ui/scripted_shell.h"

namespace job::testing {

using engine::KeyedQueue;
using Strings = std::vector<std::string>;

// The running count as the status window shows it.
struct CountLabel : engine::RunObserver {
    std::string Caption = "Conversion Not Started Yet...";
    void ScanProgress(int queued) override {
        Caption = std::to_string(queued) + " Messages Queued for Conversion.";
    }
};

class ScanTest : public ::testing::Test {
  protected:
    KeyedQueue& MessageQueue() { return result.messages; }
    KeyedQueue& FolderQueue() { return result.folders; }

    // Runs a scan as the job driver does: counter 1 before the scan.
    void Scan(std::string folder) {
        fileCounter = 1;
        BuildMessageQueue(folder, "*.*", fileCounter, folderCounter, result, label, shell);
        scanned = folder;
    }

    static Strings Values(const KeyedQueue& q) {
        Strings v;
        for (const auto& e : q) v.emplace_back(e.value);
        return v;
    }
    static Strings Keys(const KeyedQueue& q) {
        Strings v;
        for (const auto& e : q) v.emplace_back(e.key);
        return v;
    }
    // Names of a folder's entries in the order the directory search gives them.
    static Strings Listed(const std::string& folder, bool folders) {
        Strings names;
        fs::FileFindRecord r;
        if (fs::FindFirstEntry(folder + fs::kPathSeparator + "*", r) == fs::kInvalidHandle)
            return names;
        do {
            if (r.FileName == "." || r.FileName == "..") continue;
            if (bool(r.Attributes & fs::kAttrDirectory) == folders) names.push_back(r.FileName);
        } while (fs::FindNextEntry(r));
        return names;
    }

    int32_t fileCounter = 1;
    int32_t folderCounter = 0;
    engine::ScanResult result;
    CountLabel label;
    ui::ScriptedShell shell;
    std::string scanned;
};

}  // namespace job::testing

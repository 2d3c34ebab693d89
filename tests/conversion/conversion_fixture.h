#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/keyed_queue.h"
#include "fs/path_forms.h"
#include "job/frm_migate_all.h"
#include "pst/messaging/message_store.h"
#include "store/pst_session.h"
#include "tests/support/temp_dir.h"
#include "ui/scripted_shell.h"

namespace conversiontest {

// The job as a wizard page would hold it.
struct TestJob : engine::ConversionJob {
    bool single = true;
    std::string source;
    std::string output;
    struct Row {
        bool checked;
        std::string text;
        std::string path;
        bool marked = false;
    };
    std::vector<Row> rows;
    uint64_t maxSize = engine::kDefaultMaxDataFileSize;

    bool SingleMode() const override { return single; }
    std::string SourceFolder() const override { return source; }
    std::string OutputFolder() const override { return output; }
    int RowCount() const override { return int(rows.size()); }
    bool RowChecked(int row) const override { return rows[size_t(row - 1)].checked; }
    std::string RowText(int row) const override { return rows[size_t(row - 1)].text; }
    std::string RowPath(int row) const override { return rows[size_t(row - 1)].path; }
    void MarkRowStarted(int row) override { rows[size_t(row - 1)].marked = true; }
    uint64_t MaxDataFileSize() const override { return maxSize; }
};

// A message file with the given subject.
inline std::string Message(const std::string& subject, const std::string& extra = "") {
    return "From: Ann <ann@example.org>\r\nTo: bob@example.net\r\nSubject: " + subject +
           "\r\nDate: Mon, 02 Nov 2026 09:15:00 +0000\r\nMessage-ID: <" + subject +
           "@example.org>\r\n" + extra +
           "MIME-Version: 1.0\r\nContent-Type: text/plain\r\n\r\nBody of " + subject + "\r\n";
}

inline std::string Emlx(const std::string& message) {
    return std::to_string(message.size()) + "\n" + message;
}

// Folder path (below the top of the visible tree, "\"-joined) -> subjects of its messages.
using Tree = std::map<std::string, std::vector<std::string>>;

inline void Collect(pst::messaging::MessageStore& s, pst::ndb::Nid folder, const std::string& path,
                    Tree& tree) {
    for (const auto& child : s.Subfolders(folder)) {
        std::string p = path.empty() ? child.name : path + "\\" + child.name;
        auto& subjects = tree[p];
        for (auto nid : s.Messages(child.nid)) {
            auto content = s.ReadMessage(nid);
            const pst::PropertyValue* subject = content.props.Find(0x0037001F);
            subjects.push_back(subject ? subject->AsUtf8() : "");
        }
        Collect(s, child.nid, p, tree);
    }
}

// Every folder under the top of the visible tree with the subjects of its messages; the top's
// own messages under "".
inline Tree ReadTree(const std::string& pstPath) {
    auto s = pst::messaging::MessageStore::Open(fs::PathFromUtf8(pstPath));
    Tree tree;
    for (auto nid : s->Messages(s->IpmSubtree())) {
        auto content = s->ReadMessage(nid);
        const pst::PropertyValue* subject = content.props.Find(0x0037001F);
        tree[""].push_back(subject ? subject->AsUtf8() : "");
    }
    Collect(*s, s->IpmSubtree(), "", tree);
    s->Close();
    return tree;
}

class ConversionTest : public ::testing::Test {
  protected:
    ConversionTest() {
        clock = [] {
            std::tm t{};
            t.tm_year = 2026 - 1900;
            t.tm_mon = 11;
            t.tm_mday = 6;
            t.tm_hour = 7;
            t.tm_min = 5;
            t.tm_sec = 9;
            return t;
        };
    }

    job::frmMigateAll& Window() {
        if (!window) {
            window = std::make_unique<job::frmMigateAll>(job, shell, *factory, clock);
            window->Show();
        }
        return *window;
    }
    std::string Pst(const std::string& name) const { return fs::Utf8FromPath(out.path() / name); }

    testsupport::TempDir src;
    testsupport::TempDir out;
    TestJob job;
    ui::ScriptedShell shell;
    std::unique_ptr<store::SessionFactory> factory = std::make_unique<store::PstSessionFactory>();
    engine::Migration::Clock clock;
    std::unique_ptr<job::frmMigateAll> window;
};

// Converts a source folder in single mode into map.pst and reads the tree back.
class FolderMappingTest : public ConversionTest {
  protected:
    Tree Convert(const std::string& root) {
        job.source = root;
        shell.AnswerSave(Pst("map.pst"));
        Window().CmdStartConversion_Click();
        return ReadTree(Pst("map.pst"));
    }
};

}  // namespace conversiontest

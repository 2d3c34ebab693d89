// What a run tells its watchers, and what its report and summaries keep of it.
#include "cli/summary.h"
#include "conversion_fixture.h"
#include "engine/path_routines.h"

namespace conversiontest {
namespace {

// The events of a run as lines, file events by file name.
struct EventLog : engine::RunObserver {
    std::vector<std::string> lines;
    int done = 0;
    void FolderScanned(int i, int n, const std::string&, int files) override {
        lines.push_back("scanned " + std::to_string(i) + "/" + std::to_string(n) + ": " +
                        std::to_string(files));
    }
    void FolderStarted(const std::string&, const std::string&) override {
        lines.push_back("started");
    }
    void FileDone(int, int) override { ++done; }
    void FileFailed(const std::string& file, const std::string&) override {
        lines.push_back("failed " + engine::FileNameOf(file));
    }
    void FileWarned(const std::string& file, const std::vector<std::string>&) override {
        lines.push_back("warned " + engine::FileNameOf(file));
    }
    void FolderFinished(engine::FolderOutcome o, const std::string&) override {
        lines.push_back("folder " + std::to_string(int(o)));
    }
    void RunFinished(const engine::RunReport&, engine::RunOutcome o) override {
        lines.push_back("run " + std::to_string(int(o)));
    }
};

using Lines = std::vector<std::string>;
std::string Folder(engine::FolderOutcome o) {
    return "folder " + std::to_string(int(o));
}
std::string RunLine(engine::RunOutcome o) {
    return "run " + std::to_string(int(o));
}

TEST_F(ConversionTest, AFailureAndAPartlyReadMessageAreToldReportedAndSummarised) {
    src.file("good.eml", Message("good"));
    src.file("empty.eml", "");
    src.file("nocount.emlx", Message("partly"));  // no byte-count line: stored with a warning
    job.source = src.str();
    shell.AnswerSave(Pst("events.pst"));
    EventLog log;
    Window().events.Add(log);
    Window().CmdStartConversion_Click();

    EXPECT_EQ(log.done, 3);
    Lines sorted(log.lines.begin() + 2, log.lines.end() - 2);
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(Lines(log.lines.begin(), log.lines.begin() + 2),
              (Lines{"scanned 1/1: 3", "started"}));
    EXPECT_EQ(sorted, (Lines{"failed empty.eml", "warned nocount.emlx"}));
    EXPECT_EQ(Lines(log.lines.end() - 2, log.lines.end()),
              (Lines{Folder(engine::FolderOutcome::Converted),
                     RunLine(engine::RunOutcome::ConvertedWithFailures)}));

    const engine::RunReport& report = window->report;
    EXPECT_EQ(report.Converted(), 2);  // the partly read one is stored
    ASSERT_EQ(report.warnings.size(), 1u);
    EXPECT_NE(report.warnings[0].warnings.at(0).find("no byte-count line"), std::string::npos);
    EXPECT_EQ(ReadTree(Pst("events.pst"))[""].size(), 2u);
    std::string text = cli::TextSummary(report, src.str(), 1.0);
    EXPECT_EQ(text.rfind("Converted with failures. 2 of 3 message files converted, 1 failed.", 0),
              0u)
        << text;
    EXPECT_NE(text.find("Converted only in part (1):\n  " +
                        fs::Utf8FromPath(src.path() / "nocount.emlx")),
              std::string::npos)
        << text;
    EXPECT_NE(shell.boxes().back().text.find("\r\nConverted only in part: " +
                                             fs::Utf8FromPath(src.path() / "nocount.emlx")),
              std::string::npos);
    std::string json = cli::JsonSummary(report, 1.0);
    EXPECT_NE(json.find("\"warned\": 1,"), std::string::npos) << json;
    EXPECT_NE(json.find("has no byte-count line"), std::string::npos) << json;
}

TEST_F(ConversionTest, ASkippedFolderAndAStoppedRunAreToldAsSuch) {
    for (const char* box : {"One", "Two"})
        for (char c = 'a'; c <= 'e'; ++c)
            src.file(std::string(box) + "/" + c + ".eml", Message(std::string(box) + c));
    job.single = false;
    job.output = out.str();
    job.rows = {{true, "One", fs::Utf8FromPath(src.path() / "One")},
                {true, "Two", fs::Utf8FromPath(src.path() / "Two")}};
    EventLog log;
    Window().events.Add(log);
    // Skip the first folder after two messages, stop in the second after two.
    shell.EveryYield([&, clicks = 0]() mutable {
        if (window->run.MessageIndex != 3) return;
        bool second = window->SourceFolder.find("Two") != std::string::npos;
        if (clicks == 0 && !second) window->CmdSkip_Click(), ++clicks;
        if (clicks == 1 && second) window->CmdStopMigration_Click(), ++clicks;
    });
    shell.Answer(ui::MsgBoxResult::Yes);
    shell.Answer(ui::MsgBoxResult::Yes);
    window->CmdStartConversion_Click();

    EXPECT_EQ(log.lines, (Lines{"scanned 1/2: 5", "started", Folder(engine::FolderOutcome::Skipped),
                                "scanned 2/2: 5", "started", Folder(engine::FolderOutcome::Stopped),
                                RunLine(engine::RunOutcome::Stopped)}));
    EXPECT_EQ(window->report.Converted(), 6);  // the third of each folder was under way
    EXPECT_EQ(
        cli::TextSummary(window->report, src.str(), 1.0)
            .rfind("Conversion stopped. 6 of 10 message files converted; what was converted before "
                   "the stop is kept.",
                   0),
        0u);
}

}  // namespace
}  // namespace conversiontest

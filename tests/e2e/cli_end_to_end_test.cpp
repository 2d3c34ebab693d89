// The command line on generated mailboxes, checked with PST readers nobody here wrote. Ctrl-C
// and the other stop requests are in posix/stop_signals_test.cpp.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "tests/e2e/cli_fixture.h"
#include "tests/support/json_string.h"

namespace e2e {
namespace {

TEST_F(EndToEnd, ASingleFolderBecomesOneDataFileThatEveryReaderAgreesOn) {
    MakeMailbox("box");
    const std::string pst = fs::Utf8FromPath(out / "box.pst");
    Result r = RunCommand(cli + " convert --quiet " + Quote(Source("box")) + " " + Quote(pst));
    ASSERT_EQ(r.status, 0) << r.out;
    Result v = RunCommand(cli + " verify " + Quote(pst));
    EXPECT_EQ(v.status, 0) << v.out;
    Result l = RunCommand(cli + " list " + Quote(pst));
    EXPECT_NE(l.out.find("Ünïcødé  (1)"), std::string::npos) << l.out;
    CheckWithReaders(pst);
}

TEST_F(EndToEnd, MailboxesModeWritesOneFilePerSubfolderAndReportsInJson) {
    MakeMailbox("root/alice");
    MakeMailbox("root/bob");
    src.file("root/bob/broken.eml", "");
    src.file("root/bob/nocount.emlx", Message("read as a plain message"));
    const std::string json = fs::Utf8FromPath(out / "summary.json");
    Result r = RunCommand(cli + " convert --mailboxes --quiet --json " + Quote(json) + " " +
                          Quote(Source("root")) + " " + Quote(out.str()));
    EXPECT_EQ(r.status, 1) << r.out;  // one file could not be converted
    EXPECT_TRUE(std::filesystem::exists(out.path() / "alice.pst"));
    EXPECT_TRUE(std::filesystem::exists(out.path() / "bob.pst"));
    std::ifstream in(out / "summary.json");
    std::string summary((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(summary.find("\"converted\": 13"), std::string::npos) << summary;
    EXPECT_NE(summary.find("broken.eml"), std::string::npos) << summary;
    EXPECT_NE(summary.find("\"warned\": 1,"), std::string::npos) << summary;
    EXPECT_NE(summary.find("nocount.emlx has no byte-count line"), std::string::npos) << summary;
    EXPECT_NE(summary.find("\"outcome\": \"converted with failures\""), std::string::npos);
    CheckWithReaders(fs::Utf8FromPath(out / "alice.pst"));
}

TEST_F(EndToEnd, TheSummarySaysWhatHappenedAndTheExitStatusAgrees) {
    src.file("box/a.eml", Message("a"));
    src.file("box/b.emlx", Message("b"));  // no byte-count line: stored with a warning
    const std::string pst = fs::Utf8FromPath(out / "box.pst");
    Result r = RunCommand(cli + " convert " + Quote(Source("box")) + " " + Quote(pst));
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("All 2 message files converted, 1 of them only in part."),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("data file:        " + pst + " ("), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("[Completed]"), std::string::npos) << r.out;
    std::filesystem::remove(pst);
    EXPECT_EQ(
        RunCommand(cli + " convert --quiet --strict " + Quote(Source("box")) + " " + Quote(pst))
            .status,
        1);

    // Files, but none of them a message file: no data file, a clear word, a failure status.
    src.file("notes/readme.txt", "not mail");
    const std::string none = fs::Utf8FromPath(out / "none.pst");
    r = RunCommand(cli + " convert --quiet " + Quote(Source("notes")) + " " + Quote(none));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("no message files under " + Source("notes")), std::string::npos) << r.out;
    EXPECT_FALSE(std::filesystem::exists(out.path() / "none.pst"));
}

TEST_F(EndToEnd, ADataFileAtItsSizeLimitGoesOnInTheNextOneAndTheSummariesNameThemAll) {
    std::string body;
    for (int i = 0; body.size() < 40000; ++i) body += "line " + std::to_string(i * 7919) + "\r\n";
    for (int i = 0; i < 60; ++i)
        src.file("box/m" + std::to_string(i) + ".eml", Message("m" + std::to_string(i)) + body);
    const std::string pst = fs::Utf8FromPath(out / "box.pst");
    const std::string json = fs::Utf8FromPath(out / "summary.json");
    const std::string convert = cli + " convert --max-size 2MB --json " + Quote(json) + " " +
                                Quote(Source("box")) + " " + Quote(pst);
    Result r = RunCommand(convert);
    ASSERT_EQ(r.status, 0) << r.out;
    const std::string second = fs::Utf8FromPath(out / "box (2).pst");
    EXPECT_NE(r.out.find("data file:        " + second + " ("), std::string::npos) << r.out;
    // Every reader finds each message once over the series.
    std::vector<int> found;
    for (int k = 1;; ++k) {
        const auto file = k == 1 ? out / "box.pst" : out / ("box (" + std::to_string(k) + ").pst");
        if (!std::filesystem::exists(file)) break;
        const auto trees = ReaderTrees(fs::Utf8FromPath(file));
        found.resize(trees.size());
        for (size_t n = 0; n < trees.size(); ++n) found[n] += trees[n].at("/");
    }
    for (int n : found) EXPECT_EQ(n, 60);
    // Repeated: nothing new; the merged summary keeps the files and the count.
    r = RunCommand(convert);
    EXPECT_EQ(r.status, 0) << r.out;
    Result merged = RunCommand(cli + " summary merge --json " + Quote(json));
    EXPECT_NE(merged.out.find("\"alreadyStored\": 60"), std::string::npos) << merged.out;
    EXPECT_NE(merged.out.find("{\"pst\": " + testsupport::JsonString(second) + ", \"pstBytes\": "),
              std::string::npos)
        << merged.out;
}

TEST_F(EndToEnd, ARootNoShardCouldListIsCountedOnceInTheMergedSummary) {
    const std::string shard =
        R"({"folders": [{"source": "/mail", "pst": "", "queued": 0, "messageFiles": 0,
            "converted": 0, "warned": 0, "foldersCreated": 0, "outcome": "nothing to convert",
            "unreadFolders": [{"folder": "/mail", "reason": "Permission denied"}],
            "failed": [], "warnings": []}], "ignored": [], "seconds": 0.1})";
    src.file("0.json", shard);
    src.file("1.json", shard);
    Result r = RunCommand(cli + " summary merge --json " + Quote(Source("0.json")) + " " +
                          Quote(Source("1.json")));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("\"foldersNotRead\": 1,"), std::string::npos) << r.out;
}

TEST_F(EndToEnd, UsageErrorsAndUnopenableFilesHaveTheirOwnExitStatus) {
    EXPECT_EQ(RunCommand(cli + " convert").status, 2);
    EXPECT_EQ(RunCommand(cli + " frobnicate x").status, 2);
    EXPECT_EQ(RunCommand(cli + " --version").status, 0);
    const std::string mailboxes = " " + Quote(src.str()) + " " + Quote(out.str());
    for (const char* wrong : {"--jobs 0", "--jobs two", "--shard 4/4", "--shard -1/4", "--shard 1",
                              "--shard 1/0", "--max-size 100KB", "--max-size 2XB", "--max-size G"})
        EXPECT_EQ(RunCommand(cli + " convert --mailboxes " + wrong + mailboxes).status, 2) << wrong;
    EXPECT_EQ(RunCommand(cli + " convert --jobs 2" + mailboxes).status, 2);
    src.file("summary.json", "{\"folders\": [{\"source\": 1}]}");
    EXPECT_EQ(RunCommand(cli + " summary merge " + Quote(Source("summary.json"))).status, 3);
    src.file("not.pst", "this is not a data file");
    EXPECT_EQ(RunCommand(cli + " verify " + Quote(Source("not.pst"))).status, 3);
    src.file("box/a.eml", Message("a"));
    Result r = RunCommand(cli + " convert --quiet " + Quote(Source("box")) + " " +
                          Quote(Source("not.pst")));
    EXPECT_EQ(r.status, 3) << r.out;
    EXPECT_NE(r.out.find(" not converted: "), std::string::npos) << r.out;
}

}  // namespace
}  // namespace e2e

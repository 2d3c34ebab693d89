// The command line on generated mailboxes, checked with PST readers nobody here wrote.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <map>
#include <fstream>
#include <sstream>

#include "tests/support/temp_dir.h"

namespace {

using testsupport::TempDir;
using Tree = std::map<std::string, int>;  // folder path -> message count

struct Result {
    int status = -1;
    std::string out;
};

Result RunCommand(const std::string& command) {
    Result r;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe) return r;
    std::array<char, 4096> buf{};
    size_t n;
    while ((n = fread(buf.data(), 1, buf.size(), pipe)) > 0) r.out.append(buf.data(), n);
    int status = pclose(pipe);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

std::string Quote(const std::string& s) { return "'" + s + "'"; }

std::string Message(const std::string& subject, const std::string& attachment = "") {
    std::string m = "From: Ann <ann@example.org>\r\nTo: Bob <bob@example.net>\r\nSubject: " + subject +
                    "\r\nDate: Tue, 03 Nov 2026 10:00:00 +0000\r\nMIME-Version: 1.0\r\n";
    if (attachment.empty()) return m + "Content-Type: text/plain\r\n\r\nHello.\r\n";
    return m + "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\nContent-Type: text/plain\r\n\r\n"
               "See attached.\r\n--b\r\nContent-Type: application/octet-stream; name=" + attachment +
               "\r\nContent-Disposition: attachment; filename=" + attachment +
               "\r\nContent-Transfer-Encoding: base64\r\n\r\nAAECAwQFBgcICQ==\r\n--b--\r\n";
}

// "<items>\t<path>" lines of a reader's --tree output; empty folders left out, since one
// reader skips them.
Tree ParseTree(const std::string& out) {
    Tree tree;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line)) {
        size_t tab = line.find('\t');
        if (tab == std::string::npos) continue;
        int n = std::atoi(line.substr(0, tab).c_str());
        if (n > 0) tree[line.substr(tab + 1)] = n;
    }
    return tree;
}

class EndToEnd : public ::testing::Test {
protected:
    TempDir src, out;
    const std::string cli = EML2PST_CLI;
    const std::filesystem::path readers = std::filesystem::path(EML2PST_SHARED_DIR) / "tools/pst-readers";

    void MakeMailbox(const std::string& root) {
        src.file(root + "/top.eml", Message("top"));
        src.file(root + "/Inbox/i1.eml", Message("i1"));
        src.file(root + "/Inbox/i2.eml", Message("i2", "data.bin"));
        src.file(root + "/Inbox/Team/t1.eml", Message("t1"));
        src.file(root + "/Sent/s1.eml", Message("s1"));
        src.file(root + "/Projects/Ünïcødé/u1.eml", Message("u1"));
        src.file(root + "/Projects/readme.txt", "no message");
    }
    const Tree expected = {{"/", 1}, {"Inbox", 2}, {"Inbox/Team", 1}, {"Sent Items", 1},
                           {"Projects/Ünïcødé", 1}};

    void CheckWithReaders(const std::string& pst) {
        if (!std::filesystem::exists(readers)) GTEST_SKIP() << "no shared reader tools";
        for (std::string reader : {"/usr/bin/python3 " + (readers / "pypff_dump.py").string(),
                                   "python3 " + (readers / "readpst_dump.py").string(),
                                   "python3 " + (readers / "pffexport_dump.py").string()}) {
            SCOPED_TRACE(reader);
            Result r = RunCommand(reader + " --tree " + Quote(pst));
            ASSERT_EQ(r.status, 0) << r.out;
            EXPECT_EQ(ParseTree(r.out), expected) << r.out;
        }
    }
};

TEST_F(EndToEnd, ASingleFolderBecomesOneDataFileThatEveryReaderAgreesOn) {
    MakeMailbox("box");
    const std::string pst = (out.path() / "box.pst").string();
    Result r = RunCommand(cli + " convert --quiet " + Quote(src.str() + "/box") + " " + Quote(pst));
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
    const std::string json = (out.path() / "summary.json").string();
    Result r = RunCommand(cli + " convert --mailboxes --quiet --json " + Quote(json) + " " +
                   Quote(src.str() + "/root") + " " + Quote(out.str()));
    EXPECT_EQ(r.status, 1) << r.out;  // one file could not be converted
    EXPECT_TRUE(std::filesystem::exists(out.path() / "alice.pst"));
    EXPECT_TRUE(std::filesystem::exists(out.path() / "bob.pst"));
    std::ifstream in(json);
    std::string summary((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(summary.find("\"converted\": 12"), std::string::npos) << summary;
    EXPECT_NE(summary.find("broken.eml"), std::string::npos) << summary;
    CheckWithReaders((out.path() / "alice.pst").string());
}

TEST_F(EndToEnd, UsageErrorsAndUnopenableFilesHaveTheirOwnExitStatus) {
    EXPECT_EQ(RunCommand(cli + " convert").status, 2);
    EXPECT_EQ(RunCommand(cli + " frobnicate x").status, 2);
    EXPECT_EQ(RunCommand(cli + " --version").status, 0);
    src.file("not.pst", "this is not a data file");
    EXPECT_EQ(RunCommand(cli + " verify " + Quote(src.str() + "/not.pst")).status, 3);
    src.file("box/a.eml", Message("a"));
    Result r = RunCommand(cli + " convert --quiet " + Quote(src.str() + "/box") + " " +
                   Quote(src.str() + "/not.pst"));
    EXPECT_EQ(r.status, 3) << r.out;
    EXPECT_NE(r.out.find("Cause: "), std::string::npos) << r.out;
}

}  // namespace

namespace {

TEST_F(EndToEnd, CtrlCStopsAfterTheCurrentMessageAndKeepsWhatWasConverted) {
    for (int i = 0; i < 4000; ++i) src.file("big/m" + std::to_string(i) + ".eml", Message("m" + std::to_string(i)));
    const std::string pst = (out.path() / "int.pst").string();
    pid_t pid = fork();
    if (pid == 0) {
        int devnull = open("/dev/null", O_WRONLY);
        dup2(devnull, STDOUT_FILENO);
        dup2(devnull, STDERR_FILENO);
        execl(cli.c_str(), cli.c_str(), "convert", "--quiet", (src.str() + "/big").c_str(), pst.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    // Interrupt once the data file exists, i.e. while messages are being converted.
    for (int i = 0; i < 3000 && !std::filesystem::exists(pst); ++i) usleep(10000);
    usleep(200000);
    kill(pid, SIGINT);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 130);
    EXPECT_EQ(RunCommand(cli + " verify " + Quote(pst)).status, 0);
    Result l = RunCommand(cli + " list " + Quote(pst));
    int stored = 0;
    size_t at = l.out.find("Top of Outlook data file  (");
    ASSERT_NE(at, std::string::npos) << l.out;
    stored = std::atoi(l.out.c_str() + at + std::string("Top of Outlook data file  (").size());
    EXPECT_GT(stored, 0);
    EXPECT_LT(stored, 4000);
}

}  // namespace

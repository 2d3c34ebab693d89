#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>

#include "tests/support/platform.h"
#include "tests/support/temp_dir.h"

namespace e2e {

using Tree = std::map<std::string, int>;  // folder path -> message count

struct Result {
    int status = -1;
    std::string out;  // standard output and standard error
};

inline Result RunCommand(const std::string& command) {
    auto r = testsupport::RunShellCommand(command + " 2>&1");
    return {r.status, r.output};
}

inline std::string Quote(const std::string& s) {
    return testsupport::ShellQuote(s);
}

inline std::string Message(const std::string& subject, const std::string& attachment = "") {
    std::string m =
        "From: Ann <ann@example.org>\r\nTo: Bob <bob@example.net>\r\nSubject: " + subject +
        "\r\nDate: Tue, 03 Nov 2026 10:00:00 +0000\r\nMIME-Version: 1.0\r\n";
    if (attachment.empty()) return m + "Content-Type: text/plain\r\n\r\nHello.\r\n";
    return m +
           "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\nContent-Type: "
           "text/plain\r\n\r\n"
           "See attached.\r\n--b\r\nContent-Type: application/octet-stream; name=" +
           attachment + "\r\nContent-Disposition: attachment; filename=" + attachment +
           "\r\nContent-Transfer-Encoding: base64\r\n\r\nAAECAwQFBgcICQ==\r\n--b--\r\n";
}

// "<items>\t<path>" lines of a reader's --tree output; empty folders left out, since one
// reader skips them.
inline Tree ParseTree(const std::string& out) {
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
    testsupport::TempDir src, out;
    // Absolute: under Wine the build's "/..." path becomes a drive path.
    const std::string program = fs::Utf8FromPath(std::filesystem::absolute(EML2PST_CLI));
    const std::string cli = Quote(program);
    const std::filesystem::path readers =
        std::filesystem::path(EML2PST_SHARED_DIR) / "tools/pst-readers";

    // The source folder `relative` (UTF-8, "/" allowed) as the command line is given it.
    std::string Source(const std::string& relative) const {
        return fs::Utf8FromPath(src / relative);
    }

    void MakeMailbox(const std::string& root) {
        src.file(root + "/top.eml", Message("top"));
        src.file(root + "/Inbox/i1.eml", Message("i1"));
        src.file(root + "/Inbox/i2.eml", Message("i2", "data.bin"));
        src.file(root + "/Inbox/Team/t1.eml", Message("t1"));
        src.file(root + "/Sent/s1.eml", Message("s1"));
        src.file(root + "/Projects/Ünïcødé/u1.eml", Message("u1"));
        src.file(root + "/Projects/readme.txt", "no message");
    }
    const Tree expected = {
        {"/", 1}, {"Inbox", 2}, {"Inbox/Team", 1}, {"Sent Items", 1}, {"Projects/Ünïcødé", 1}};

    // The tree each independent reader lists (none where the readers cannot run).
    std::vector<Tree> ReaderTrees(const std::string& pst) {
        std::vector<Tree> trees;
        if (!testsupport::RunsLinuxPrograms() || !std::filesystem::exists(readers)) return trees;
        for (std::string reader :
             {"/usr/bin/python3 " + fs::Utf8FromPath(readers / "pypff_dump.py"),
              "python3 " + fs::Utf8FromPath(readers / "readpst_dump.py"),
              "python3 " + fs::Utf8FromPath(readers / "pffexport_dump.py")}) {
            Result r = RunCommand(reader + " --tree " + Quote(pst));
            EXPECT_EQ(r.status, 0) << reader << ": " << r.out;
            trees.push_back(ParseTree(r.out));
        }
        return trees;
    }

    void CheckWithReaders(const std::string& pst) { CheckWithReaders(pst, expected); }
    void CheckWithReaders(const std::string& pst, const Tree& want) {
        if (!testsupport::RunsLinuxPrograms()) return;
        if (!std::filesystem::exists(readers)) GTEST_SKIP() << "no shared reader tools";
        for (const Tree& tree : ReaderTrees(pst)) EXPECT_EQ(tree, want);
    }
};

}  // namespace e2e

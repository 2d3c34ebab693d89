// With times and identifiers fixed, a mailbox makes the same data file byte for byte, however
// many threads read its messages.
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "tests/conversion/conversion_fixture.h"

namespace conversiontest {
namespace {

std::string Varied(int i) {
    const std::string n = std::to_string(i);
    std::string head =
        "From: Ann <ann@example.org>\r\nTo: bob@example.net\r\nDate: Mon, 02 Nov 2026 "
        "09:15:00 +0000\r\nMIME-Version: 1.0\r\n";
    switch (i % 4) {
        case 0:  // no Message-ID: the reader makes identifiers up
            return head + "Subject: plain " + n + "\r\nContent-Type: text/plain\r\n\r\nBody " + n +
                   "\r\n";
        case 1:
            return head + "Subject: attached " + n + "\r\nMessage-ID: <a" + n +
                   "@example.org>\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n"
                   "Content-Type: text/plain\r\n\r\nSee the file.\r\n--b\r\nContent-Type: "
                   "image/png; name=p.png\r\nContent-Transfer-Encoding: base64\r\n\r\n"
                   "iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR4nGNgYGBgAAAABQABpfZFQAA"
                   "AAABJRU5ErkJggg==\r\n--b--\r\n";
        case 2:
            return head + "Subject: Re: thread " + n + "\r\nMessage-ID: <r" + n +
                   "@example.org>\r\nIn-Reply-To: <a1@example.org>\r\nReferences: <a1@example.org>"
                   "\r\nContent-Type: multipart/alternative; "
                   "boundary=b\r\n\r\n--b\r\nContent-Type: "
                   "text/plain\r\n\r\nText " +
                   n +
                   "\r\n--b\r\nContent-Type: text/html\r\n\r\n"
                   "<p>Text " +
                   n + "</p>\r\n--b--\r\n";
        default:
            return head + "Subject: =?UTF-8?B?w4lsYW4gdml0YWw=?= " + n + "\r\nMessage-ID: <u" + n +
                   "@example.org>\r\nContent-Type: text/plain; "
                   "charset=utf-8\r\n\r\n\xC3\xA9t\xC3\xA9\r\n";
    }
}

void SetEpoch(const char* seconds) {
#ifdef _WIN32
    _putenv_s("SOURCE_DATE_EPOCH", seconds);
#else
    setenv("SOURCE_DATE_EPOCH", seconds, 1);
#endif
}

class Reproducible : public ConversionTest {
  protected:
    std::string ConvertWith(size_t readingThreads, const std::string& name) {
        store::PstSessionFactory threads(readingThreads);
        ui::ScriptedShell answers;
        answers.AnswerSave(Pst(name));
        job::frmMigateAll w(job, answers, threads, clock);
        w.Show();
        w.CmdStartConversion_Click();
        std::ifstream in(fs::PathFromUtf8(Pst(name)), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
};

TEST_F(Reproducible, ReadingThreadsDoNotChangeTheFile) {
    for (int i = 0; i < 240; ++i)
        src.file(std::string(i % 3 == 0   ? "Inbox"
                             : i % 3 == 1 ? "Work"
                                          : "Work/Old") +
                     "/m" + std::to_string(i) + ".eml",
                 Varied(i));
    job.source = src.str();
    SetEpoch("1796000000");
    const std::string one = ConvertWith(1, "one.pst");
    const std::string three = ConvertWith(3, "three.pst");
    SetEpoch("");
    size_t stored = 0;
    for (const auto& [folder, subjects] : ReadTree(Pst("three.pst"))) stored += subjects.size();
    EXPECT_EQ(stored, 240u);
    ASSERT_EQ(one.size(), three.size());
    EXPECT_TRUE(one == three) << "the files differ from byte "
                              << std::distance(
                                     one.begin(),
                                     std::mismatch(one.begin(), one.end(), three.begin()).first);
}

}  // namespace
}  // namespace conversiontest

// A whole conversion of a generated mailbox, set against reading the same files (cat) and the
// GMime parse-and-decode pass alone. Each stage runs in its own child process so its peak
// memory is its own. Prints messages/s, MB/s and peak RSS per stage, and the shares of scan,
// message reading and store inside the conversion; then the same messages as mbox files
// (one per folder) scanned and converted. "--mbox-gb N" converts one mbox of N GB instead and
// prints its peak memory, which stays flat however large the file.
#include <fcntl.h>
#include <gmime/gmime.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <random>
#include <vector>

#include "engine/keyed_queue.h"
#include "job/frm_migate_all.h"
#include "job/message_queue_scan.h"
#include "mime/gmime_support.h"
#include "mime/import.h"
#include "mime/sha256.h"
#include "store/pst_session.h"

namespace {

namespace stdfs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct QuietShell : ui::Shell {
    void Yield() override {}
    ui::MsgBoxResult MessageBox(const std::string&, const std::string&, ui::MsgBoxStyle) override {
        return ui::MsgBoxResult::Ok;
    }
    std::optional<std::string> SaveFileDialog(const std::string&, const std::string&) override {
        return path;
    }
    std::string path;
};

struct BenchJob : engine::ConversionJob {
    std::string source;
    bool SingleMode() const override { return true; }
    std::string SourceFolder() const override { return source; }
    std::string OutputFolder() const override { return {}; }
    int RowCount() const override { return 0; }
    bool RowChecked(int) const override { return false; }
    std::string RowText(int) const override { return {}; }
    std::string RowPath(int) const override { return {}; }
    void MarkRowStarted(int) override {}
};

// Messages of 2 to 60 KB of text, every fifth with a base64 attachment of 20 to 200 KB.
uint64_t MakeMailbox(const stdfs::path& root, int folders, int messages) {
    std::mt19937 rng(42);
    uint64_t bytes = 0;
    std::string line =
        "Lorem ipsum dolor sit amet, consectetur adipiscing elit, sed do eiusmod.\r\n";
    for (int m = 0; m < messages; ++m) {
        int f = m % folders;
        stdfs::path dir = root / ("folder" + std::to_string(f / 20)) / ("sub" + std::to_string(f));
        stdfs::create_directories(dir);
        std::string text;
        for (size_t n = 2000 + rng() % 58000; text.size() < n;) text += line;
        std::string msg =
            "From: Sender " + std::to_string(m) + " <s" + std::to_string(m) +
            "@example.org>\r\nTo: Bob <bob@example.net>, Carol <carol@example.net>\r\n"
            "Subject: Message number " +
            std::to_string(m) + "\r\nDate: Tue, 03 Nov 2026 10:00:00 +0000\r\nMessage-ID: <m" +
            std::to_string(m) + "@example.org>\r\nMIME-Version: 1.0\r\n";
        if (m % 5 == 0) {
            std::string att;
            for (size_t n = 20000 + rng() % 180000; att.size() < n;)
                att += "QUJDREVGR0hJSktMTU5PUFFSU1RVVldYWVo0MTIzNDU2Nzg5MDEyMzQ1Njc4\r\n";
            msg +=
                "Content-Type: multipart/mixed; boundary=\"xx\"\r\n\r\n--xx\r\nContent-Type: "
                "text/plain\r\n\r\n" +
                text +
                "\r\n--xx\r\nContent-Type: application/pdf; name=\"r.pdf\"\r\n"
                "Content-Disposition: attachment; filename=\"r.pdf\"\r\nContent-Transfer-Encoding: "
                "base64\r\n\r\n" +
                att + "--xx--\r\n";
        } else {
            msg += "Content-Type: text/plain; charset=us-ascii\r\n\r\n" + text;
        }
        std::ofstream(dir / ("m" + std::to_string(m) + ".eml"), std::ios::binary) << msg;
        bytes += msg.size();
    }
    return bytes;
}

std::vector<std::string> AllFiles(const stdfs::path& root) {
    std::vector<std::string> files;
    for (auto& e : stdfs::recursive_directory_iterator(root))
        if (e.is_regular_file()) files.push_back(e.path().string());
    return files;
}

struct Stage {
    double first = 0;  // wall seconds
    long second = 0;   // peak RSS, MiB
    double cpu = 0;    // user + system seconds of all the stage's threads
};

// Runs `work` in a child process; returns its wall seconds, peak RSS and CPU seconds.
Stage InChild(const std::function<void()>& work) {
    int fds[2];
    if (pipe(fds) != 0) return {};
    pid_t pid = fork();
    if (pid == 0) {
        auto start = Clock::now();
        work();
        double s = std::chrono::duration<double>(Clock::now() - start).count();
        if (write(fds[1], &s, sizeof s) != sizeof s) _exit(1);
        _exit(0);
    }
    close(fds[1]);
    double seconds = 0;
    if (read(fds[0], &seconds, sizeof seconds) != sizeof seconds) seconds = -1;
    close(fds[0]);
    int status = 0;
    struct rusage usage {};
    wait4(pid, &status, 0, &usage);
    auto cpu = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return {seconds, usage.ru_maxrss / 1024, cpu(usage.ru_utime) + cpu(usage.ru_stime)};
}

// The same messages as mbox files, one per folder of the mailbox (in its place), each
// message after an envelope line and before a blank line.
uint64_t MakeMboxes(const stdfs::path& mailbox, const stdfs::path& root) {
    uint64_t bytes = 0;
    for (const auto& file : AllFiles(mailbox)) {
        const stdfs::path relative = stdfs::relative(stdfs::path(file).parent_path(), mailbox);
        stdfs::create_directories((root / relative).parent_path());
        std::ifstream in(file, std::ios::binary);
        std::string message((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::ofstream(root / relative, std::ios::binary | std::ios::app)
            << "From sender@example.org Tue Nov  3 10:00:00 2026\r\n"
            << message << "\r\n";
        bytes += message.size();
    }
    return bytes;
}

// One mbox file of `gigabytes` made of copies of a few messages, each copy with its own
// Message-ID so that none is taken for a repeat.
uint64_t MakeLargeMbox(const stdfs::path& file, double gigabytes, int& messages) {
    stdfs::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary);
    std::string body;
    while (body.size() < 40000)
        body += "Lorem ipsum dolor sit amet, consectetur adipiscing elit, sed do eiusmod.\r\n";
    uint64_t bytes = 0;
    messages = 0;
    for (int n = 0; bytes < uint64_t(gigabytes * 1e9); n = ++messages) {
        std::string m =
            "From sender@example.org Tue Nov  3 10:00:00 2026\r\nFrom: Ann "
            "<ann@example.org>\r\nSubject: copy " +
            std::to_string(n) + "\r\nMessage-ID: <c" + std::to_string(n) +
            "@example.org>\r\nX-Mozilla-Status: 0001\r\n\r\n" + body + "\r\n";
        out << m;
        bytes += m.size();
    }
    return bytes;
}

void Report(const char* stage, const Stage& r, int messages, uint64_t bytes) {
    std::printf("%-28s %7.2f s  %8.0f msg/s  %7.1f MB/s  peak RSS %4ld MiB  CPU %6.2f s\n", stage,
                r.first, messages / r.first, bytes / 1e6 / r.first, r.second, r.cpu);
}

}  // namespace

Stage ConvertInChild(const std::string& source, const std::string& pst, int expected) {
    return InChild([&] {
        QuietShell shell;
        shell.path = pst;
        BenchJob job;
        job.source = source;
        store::PstSessionFactory factory;
        job::frmMigateAll window(job, shell, factory);
        window.Show();
        window.CmdStartConversion_Click();
        if (expected >= 0 && window.report.Converted() != expected)
            std::fprintf(stderr, "converted only %d\n", window.report.Converted());
    });
}

Stage ScanInChild(const std::string& source) {
    return InChild([&] {
        QuietShell shell;
        engine::ScanResult result;
        engine::RunObserver quiet;
        int32_t fc = 1, dc = 0;
        std::string root = source;
        job::BuildMessageQueue(root, "*.*", fc, dc, result, quiet, shell);
    });
}

// One large mbox file converted: time and peak memory, which must not grow with the file.
int LargeMbox(double gigabytes) {
    stdfs::path work =
        stdfs::temp_directory_path() / ("eml2pst-mbox-bench-" + std::to_string(getpid()));
    stdfs::remove_all(work);
    auto start = Clock::now();
    int messages = 0;
    const uint64_t bytes = MakeLargeMbox(work / "box" / "Inbox", gigabytes, messages);
    std::printf("one mbox of %.2f GB (%d messages) made in %.1f s\n", bytes / 1e9, messages,
                std::chrono::duration<double>(Clock::now() - start).count());
    Report("mbox scan only", ScanInChild((work / "box").string()), messages, bytes);
    Stage c = ConvertInChild((work / "box").string(), (work / "big.pst").string(), messages);
    Report("mbox whole conversion", c, messages, bytes);
    std::printf("data file %.1f MB\n", stdfs::file_size(work / "big.pst") / 1e6);
    stdfs::remove_all(work);
    return 0;
}

int main(int argc, char** argv) {
    if (argc > 2 && std::string(argv[1]) == "--mbox-gb") return LargeMbox(std::atof(argv[2]));
    const int messages = argc > 1 ? std::atoi(argv[1]) : 20000;
    const int folders = 200;
    stdfs::path work =
        stdfs::temp_directory_path() / ("eml2pst-convert-bench-" + std::to_string(getpid()));
    stdfs::remove_all(work);
    stdfs::path mailbox = work / "mailbox";
    uint64_t bytes = MakeMailbox(mailbox, folders, messages);
    auto files = AllFiles(mailbox);
    std::printf("%d messages in %d folders, %.1f MB\n", messages, folders, bytes / 1e6);

    auto cat = InChild([&] {
        std::vector<char> buf(1 << 16);
        for (const auto& f : files) {
            std::ifstream in(f, std::ios::binary);
            while (in.read(buf.data(), std::streamsize(buf.size())) || in.gcount() > 0) {
            }
        }
    });
    Report("cat", cat, messages, bytes);

    auto gmime = InChild([&] {
        mime::EnsureGMime();
        for (const auto& f : files) {
            GMimeStream* stream = g_mime_stream_fs_open(f.c_str(), O_RDONLY, 0, nullptr);
            if (!stream) continue;
            GMimeParser* parser = g_mime_parser_new_with_stream(stream);
            GMimeMessage* message = g_mime_parser_construct_message(parser, nullptr);
            if (message) {
                GMimePartIter* iter = g_mime_part_iter_new(GMIME_OBJECT(message));
                do {
                    GMimeObject* part = g_mime_part_iter_get_current(iter);
                    if (part && GMIME_IS_PART(part)) {
                        GMimeDataWrapper* content = g_mime_part_get_content(GMIME_PART(part));
                        if (content) {
                            GMimeStream* null = g_mime_stream_null_new();
                            g_mime_data_wrapper_write_to_stream(content, null);
                            g_object_unref(null);
                        }
                    }
                } while (g_mime_part_iter_next(iter));
                g_mime_part_iter_free(iter);
                g_object_unref(message);
            }
            g_object_unref(parser);
            g_object_unref(stream);
        }
    });
    Report("GMime parse and decode", gmime, messages, bytes);

    auto scan = InChild([&] {
        QuietShell shell;
        engine::ScanResult result;
        engine::RunObserver quiet;
        int32_t fc = 1, dc = 0;
        std::string root = mailbox.string();
        job::BuildMessageQueue(root, "*.*", fc, dc, result, quiet, shell);
    });
    Report("scan only", scan, messages, bytes);

    auto parse = InChild([&] {
        for (const auto& f : files) mime::ImportMessageFile(f);
    });
    Report("message reading only", parse, messages, bytes);

    // The source digest every message gets (read and hash, as the reading does it).
    auto digest = InChild([&] {
        std::vector<char> buf(1 << 16);
        for (const auto& f : files) {
            std::ifstream in(f, std::ios::binary);
            mime::Sha256 sha;
            while (in.read(buf.data(), std::streamsize(buf.size())) || in.gcount() > 0)
                sha.Update(reinterpret_cast<const uint8_t*>(buf.data()), size_t(in.gcount()));
            sha.Final();
        }
    });
    Report("read and SHA-256 only", digest, messages, bytes);

    const std::string pst = (work / "bench.pst").string();
    auto convert = InChild([&] {
        QuietShell shell;
        shell.path = pst;
        BenchJob job;
        job.source = mailbox.string();
        store::PstSessionFactory factory;
        job::frmMigateAll window(job, shell, factory);
        window.Show();
        window.CmdStartConversion_Click();
        if (window.report.Converted() != messages)
            std::fprintf(stderr, "converted only %d\n", window.report.Converted());
    });
    Report("whole conversion", convert, messages, bytes);

    // The same messages as mbox files, one per folder.
    const stdfs::path mboxes = work / "mboxes";
    MakeMboxes(mailbox, mboxes);
    Report("mbox scan only", ScanInChild(mboxes.string()), messages, bytes);
    stdfs::remove(pst);
    Stage mboxConvert = ConvertInChild(mboxes.string(), pst, messages);
    Report("mbox whole conversion", mboxConvert, messages, bytes);
    std::printf("mbox conversion at %.0f%% of the per-file conversion's throughput\n",
                100 * convert.first / mboxConvert.first);

    double store = convert.first - scan.first - parse.first;
    std::printf("shares of the conversion: scan %.0f%%, message reading %.0f%%, store %.0f%%\n",
                100 * scan.first / convert.first, 100 * parse.first / convert.first,
                100 * store / convert.first);
    std::printf(
        "conversion at %.0f%% of the parse-and-decode pass's throughput; data file %.1f MB\n",
        100 * gmime.first / convert.first, stdfs::file_size(pst) / 1e6);
    std::printf(
        "source digests: %.1f%% of the conversion's CPU (less the reading of the files: "
        "%.1f%%), on its reading thread\n",
        100 * digest.cpu / convert.cpu, 100 * (digest.cpu - cat.cpu) / convert.cpu);
    stdfs::remove_all(work);
    return 0;
}

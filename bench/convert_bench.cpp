// A whole conversion of a generated mailbox, set against reading the same files (cat) and the
// GMime parse-and-decode pass alone. Each stage runs in its own child process so its peak
// memory is its own. Prints messages/s, MB/s and peak RSS per stage, and the shares of scan,
// message reading and store inside the conversion; then the same messages as mbox files
// (one per folder) scanned and converted. "--mbox-gb N" converts one mbox of N GB instead and
// prints its peak memory, which stays flat however large the file. "small [N [REPEATS]]" sets
// the conversion of N small messages (20,000 by default) against the bare GMime pass on the same
// files, alternating them REPEATS times with the read-ahead alone (reading as the conversion
// does, storing nothing), and prints their medians and ratios; with "--keep DIR"
// it only writes that mailbox into DIR (for a profiler run of the command line on it).
#include <fcntl.h>
#include <gmime/gmime.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
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
#include "mime/read_ahead.h"
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

std::string Base64Lines(const std::string& bytes) {
    static const char* kAlphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out, line;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        uint32_t v = uint32_t(uint8_t(bytes[i])) << 16;
        if (i + 1 < bytes.size()) v |= uint32_t(uint8_t(bytes[i + 1])) << 8;
        if (i + 2 < bytes.size()) v |= uint8_t(bytes[i + 2]);
        line += kAlphabet[v >> 18];
        line += kAlphabet[(v >> 12) & 63];
        line += i + 1 < bytes.size() ? kAlphabet[(v >> 6) & 63] : '=';
        line += i + 2 < bytes.size() ? kAlphabet[v & 63] : '=';
        if (line.size() >= 76) out += line + "\r\n", line.clear();
    }
    if (!line.empty()) out += line + "\r\n";
    return out;
}

// An ordinary mailbox: messages of 2 to 6 KB with the headers mail servers add. About half are
// plain text, four in ten plain text with an HTML alternative, one in twelve has one or two
// small attachments; four in ten are replies (In-Reply-To, References, quoted text), one in
// six has an encoded-word subject or sender name (UTF-8 or Latin-1, base64 or Q).
uint64_t MakeSmallMailbox(const stdfs::path& root, int folders, int messages) {
    std::mt19937 rng(17);
    auto pick = [&](int n) { return int(rng() % uint32_t(n)); };
    static const char* kWords[] = {
        "meeting", "report",  "budget", "please", "review", "attached", "schedule", "thanks",
        "project", "update",  "client", "team",   "draft",  "before",   "friday",   "agenda",
        "invoice", "numbers", "the",    "a",      "we",     "will",     "can",      "send",
        "next",    "week",    "call",   "about",  "new",    "version",  "and",      "for"};
    static const char* kNames[] = {"Alice Martin", "Bob Chen",   "Carol White",
                                   "Dan Novak",    "Eve Larsen", "Frank Ortiz"};
    static const char* kEncodedNames[] = {
        "=?UTF-8?B?SsO8cmdlbiBNw7xsbGVy?=", "=?ISO-8859-1?Q?Ren=E9_Lef=E8vre?=",
        "=?UTF-8?Q?Bj=C3=B6rn_=C3=85str=C3=B6m?="};
    static const char* kEncodedSubjects[] = {
        "=?UTF-8?B?w5xiZXJzaWNodCBkZXIgR3LDtsOfZW4gZsO8ciBNw6Ryeg==?=",
        "=?ISO-8859-1?Q?R=E9union_de_l'=E9quipe_=E0_10h?=",
        "=?UTF-8?Q?Pr=C3=B3xima_reuni=C3=B3n_=E2=80=93_notas?="};
    // Lines of at most 72 characters, about `size` bytes.
    auto text = [&](size_t size, const std::string& quote) {
        std::string out, line;
        bool sentenceStart = true;
        while (out.size() + line.size() < size) {
            std::string word = kWords[pick(32)];
            if (sentenceStart) word[0] = char(std::toupper(uint8_t(word[0])));
            sentenceStart = pick(9) == 0;
            if (sentenceStart) word += ".";
            if (!line.empty() && quote.size() + line.size() + 1 + word.size() > 72)
                out += quote + line + "\r\n", line.clear();
            line += (line.empty() ? "" : " ") + word;
            if (sentenceStart && pick(5) == 0)
                out += quote + line + "\r\n" + quote + "\r\n", line.clear();
        }
        return line.empty() ? out : out + quote + line + "\r\n";
    };
    uint64_t bytes = 0;
    for (int m = 0; m < messages; ++m) {
        const int f = m % folders;
        stdfs::path dir = root / ("folder" + std::to_string(f / 5)) / ("sub" + std::to_string(f));
        stdfs::create_directories(dir);
        const std::string id =
            "<s" + std::to_string(m) + "." + std::to_string(rng()) + "@mail.example.org>";
        const bool encoded = pick(6) == 0;
        const bool reply = m > 10 && pick(10) < 4;
        const int from = pick(6);
        std::string h = "Return-Path: <sender" + std::to_string(from) +
                        "@example.org>\r\n"
                        "Received: from mx" +
                        std::to_string(pick(4)) + ".example.net (mx.example.net [192.0.2." +
                        std::to_string(pick(250)) + "])\r\n\tby mail.example.org with ESMTPS id " +
                        std::to_string(rng()) + "\r\n\tfor <bob@example.net>; Tue, 3 Nov 2026 10:" +
                        std::to_string(10 + pick(50)) +
                        ":00 +0100\r\n"
                        "Received: from [10.0.0." +
                        std::to_string(pick(250)) +
                        "] (client.example.org [198.51.100.7])\r\n\tby mx.example.net (Postfix) "
                        "with ESMTPSA\r\n\t"
                        "for <bob@example.net>; Tue, 3 Nov 2026 10:00:00 +0100\r\n";
        h += "From: " + std::string(encoded && pick(2) ? kEncodedNames[pick(3)] : kNames[from]) +
             " <sender" + std::to_string(from) + "@example.org>\r\n";
        h += "To: " + std::string(kNames[(from + 1) % 6]) + " <bob@example.net>";
        for (int n = pick(3); n > 0; --n)
            h += ", \"" + std::string(kNames[pick(6)]) + "\" <r" + std::to_string(pick(99)) +
                 "@example.net>";
        h += "\r\n";
        if (pick(4) == 0) h += "Cc: " + std::string(kNames[pick(6)]) + " <cc@example.com>\r\n";
        std::string subject =
            encoded ? kEncodedSubjects[pick(3)] : "Project update " + std::to_string(m % 977);
        h += "Subject: " + std::string(reply ? "Re: " : "") + subject + "\r\n";
        h += "Date: Tue, 3 Nov 2026 " + std::to_string(10 + m % 12) + ":" +
             std::to_string(10 + m % 50) + ":00 +0100\r\n";
        h += "Message-ID: " + id + "\r\n";
        if (reply) {
            const int parent = m - 1 - pick(10);
            h += "In-Reply-To: <s" + std::to_string(parent) + "@mail.example.org>\r\nReferences:";
            for (int k = pick(4); k >= 0; --k)
                h += " <s" + std::to_string(parent - k) + "@mail.example.org>";
            h += "\r\n";
        }
        if (pick(3) == 0)
            h += "List-Id: Team list <team.example.org>\r\nList-Unsubscribe: "
                 "<mailto:leave@example.org>\r\n";
        h += "X-Mailer: Generic Mail 2.1\r\nMIME-Version: 1.0\r\n";
        const int kind = pick(24);  // 0-1: one or two attachments, 2-11: with HTML, else plain
        // What the body may take for the whole message to come near 2-6 KB: the HTML copy of
        // the text takes a little more than the text.
        std::vector<std::string> attachments;
        size_t room = 2000 + size_t(pick(4000));
        room = room > h.size() + 600 ? room - h.size() : 600;
        for (int a = 0; kind < 2 && a <= kind; ++a) {
            std::string data(size_t(300 + pick(600)), '\0');
            for (auto& c : data) c = char(rng());
            attachments.push_back(Base64Lines(data));
            room = room > attachments.back().size() + 800 ? room - attachments.back().size() : 800;
        }
        size_t textSize = kind < 12 ? (room - 300) * 10 / 23 : room - 150;
        std::string plain;
        if (reply) {
            const size_t quotedSize = textSize * (3 + size_t(pick(4))) / 10;
            plain = text(textSize - quotedSize, "") + "\r\nOn Mon, 2 Nov 2026, " +
                    std::string(kNames[pick(6)]) + " wrote:\r\n" + text(quotedSize, "> ");
        } else {
            plain = text(textSize, "");
        }
        std::string charset = "us-ascii", transfer = "7bit";
        if (encoded) {
            plain +=
                "\r\nGr\xC3\xBC\xC3\x9F"
                "e,\r\nJ\xC3\xBCrgen\r\n";
            charset = "utf-8", transfer = "8bit";
        }
        std::string msg = h;
        const std::string alt = "alt-" + std::to_string(m), mix = "mix-" + std::to_string(m);
        if (kind >= 12) {
            msg += "Content-Type: text/plain; charset=" + charset +
                   "; format=flowed\r\nContent-Transfer-Encoding: " + transfer + "\r\n\r\n" + plain;
        } else {
            std::string html = "<html><body>\r\n";
            for (size_t at = 0; at < plain.size();) {
                size_t nl = plain.find("\r\n", at);
                html += "<p>";
                for (char c : plain.substr(at, nl - at))
                    html += c == '>' ? "&gt;" : std::string(1, c);
                html += "</p>\r\n";
                at = nl + 2;
            }
            html += "</body></html>\r\n";
            std::string alternative =
                "Content-Type: multipart/alternative; boundary=\"" + alt + "\"\r\n\r\n--" + alt +
                "\r\nContent-Type: text/plain; charset=" + charset +
                "\r\nContent-Transfer-Encoding: " + transfer + "\r\n\r\n" + plain + "\r\n--" + alt +
                "\r\nContent-Type: text/html; charset=" + charset +
                "\r\nContent-Transfer-Encoding: " + transfer + "\r\n\r\n" + html + "\r\n--" + alt +
                "--\r\n";
            if (attachments.empty()) {
                msg += alternative;
            } else {
                msg += "Content-Type: multipart/mixed; boundary=\"" + mix + "\"\r\n\r\n--" + mix +
                       "\r\n" + alternative;
                for (size_t a = 0; a < attachments.size(); ++a) {
                    const std::string name = a == 0 ? "notes.pdf" : "chart.png";
                    msg += "\r\n--" + mix +
                           "\r\nContent-Type: " + (a == 0 ? "application/pdf" : "image/png") +
                           "; name=\"" + name +
                           "\"\r\nContent-Disposition: attachment; filename=\"" + name +
                           "\"\r\nContent-Transfer-Encoding: base64\r\n\r\n" + attachments[a];
                }
                msg += "\r\n--" + mix + "--\r\n";
            }
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

// The floor: GMime parses every file and decodes every part, on one thread.
void ParseAndDecode(const std::vector<std::string>& files) {
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

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty()      ? 0
           : v.size() % 2 ? v[v.size() / 2]
                          : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// Small messages: the bare GMime pass and the conversion on the same files, alternated
// `repeats` times (the machine is shared), each time and the medians printed, and the
// conversion's throughput as a share of the bare pass's, by wall time and by CPU time.
int SmallMessages(int messages, int repeats, const std::string& keep) {
    const int folders = 20;
    stdfs::path work = keep.empty() ? stdfs::temp_directory_path() /
                                          ("eml2pst-small-bench-" + std::to_string(getpid()))
                                    : stdfs::path(keep);
    stdfs::remove_all(work);
    stdfs::path mailbox = work / "mailbox";
    const uint64_t bytes = MakeSmallMailbox(mailbox, folders, messages);
    auto files = AllFiles(mailbox);
    std::printf("%d small messages in %d folders, %.1f MB, %.2f KB on average\n", messages, folders,
                bytes / 1e6, bytes / 1e3 / messages);
    if (!keep.empty()) {
        std::printf("mailbox kept in %s\n", mailbox.string().c_str());
        return 0;
    }
    const std::string pst = (work / "bench.pst").string();
    Report("message reading only", InChild([&] {
               for (const auto& f : files) mime::ImportMessageFile(f);
           }),
           messages, bytes);
    // The read-ahead as the conversion reads (its threads, its hand-off and recycling), with
    // nothing stored: the most the conversion could reach if storing cost nothing.
    auto readAhead = [&] {
        mime::ReadAhead ahead(files, 256, {}, 64u << 20, {}, store::DefaultReadingThreads());
        for (const auto& f : files)
            if (auto r = ahead.take(f)) ahead.recycle(std::move(r->content));
    };
    std::vector<double> bareWall, bareCpu, aheadWall, convertWall, convertCpu;
    for (int r = 0; r < repeats; ++r) {
        Stage bare = InChild([&] { ParseAndDecode(files); });
        Report("GMime parse and decode", bare, messages, bytes);
        Stage ahead = InChild(readAhead);
        Report("reading ahead, no store", ahead, messages, bytes);
        stdfs::remove(pst);
        Stage convert = ConvertInChild(mailbox.string(), pst, messages);
        Report("whole conversion", convert, messages, bytes);
        bareWall.push_back(bare.first);
        bareCpu.push_back(bare.cpu);
        aheadWall.push_back(ahead.first);
        convertWall.push_back(convert.first);
        convertCpu.push_back(convert.cpu);
    }
    const double bw = Median(bareWall), bc = Median(bareCpu), aw = Median(aheadWall);
    const double cw = Median(convertWall), cc = Median(convertCpu);
    std::printf(
        "medians of %d: bare pass %.2f s wall, %.2f s CPU, %.0f files/s; conversion "
        "%.2f s wall, %.2f s CPU, %.0f files/s\n",
        repeats, bw, bc, messages / bw, cw, cc, messages / cw);
    std::printf("per message: bare pass %.1f us, conversion %.1f us wall, %.1f us CPU\n",
                1e6 * bw / messages, 1e6 * cw / messages, 1e6 * cc / messages);
    std::printf(
        "conversion at %.2f of the bare pass's files/s (wall), %.2f per CPU second; "
        "reading ahead with no store at %.2f; data file %.1f MB\n",
        bw / cw, bc / cc, bw / aw, stdfs::file_size(pst) / 1e6);
    stdfs::remove_all(work);
    return 0;
}

int main(int argc, char** argv) {
    if (argc > 2 && std::string(argv[1]) == "--mbox-gb") return LargeMbox(std::atof(argv[2]));
    if (argc > 1 && std::string(argv[1]) == "small") {
        // small [MESSAGES [REPEATS]] [--keep DIR]: --keep only writes the mailbox into DIR.
        std::vector<std::string> args(argv + 2, argv + argc);
        std::string keep;
        for (size_t i = 0; i + 1 < args.size(); ++i)
            if (args[i] == "--keep")
                keep = args[i + 1], args.erase(args.begin() + long(i), args.begin() + long(i) + 2);
        return SmallMessages(args.size() > 0 ? std::atoi(args[0].c_str()) : 20000,
                             args.size() > 1 ? std::atoi(args[1].c_str()) : 3, keep);
    }
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

    auto gmime = InChild([&] { ParseAndDecode(files); });
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

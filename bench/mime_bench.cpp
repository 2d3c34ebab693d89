// Message import throughput on a generated mailbox: parsing alone (file to message content),
// then parsing and storing into a new data file, in one run. Prints messages/s and MB/s of
// both passes and what the store step costs next to the parse step.
//   bench_mime [MESSAGES]   (default 20000; the mailbox is written under the temp folder)
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "mime/import.h"
#include "pst/messaging/message_store.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

double CpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

struct Mailbox {
    std::vector<std::pair<int, fs::path>> files;  // folder index, file
    uint64_t bytes = 0;
    int withAttachment = 0;
};

std::string Base64Lines(size_t bytes, std::mt19937& rng) {
    static const char* alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve(bytes * 4 / 3 + bytes / 38);
    for (size_t n = 0; n < bytes * 4 / 3; ++n) {
        out += alphabet[rng() % 64];
        if (n % 76 == 75) out += "\r\n";
    }
    return out + "\r\n";
}

// Sizes as real mail has them: most messages a few KB, some tens of KB, a few hundreds; every
// fifth carries an attachment of 10 to 200 KB; a third are text with an HTML
// alternative; headers with encoded words and several recipients.
Mailbox MakeMailbox(const fs::path& root, int messages, int folders) {
    std::mt19937 rng(7);
    Mailbox box;
    const std::string line =
        "Lorem ipsum dolor sit amet, consectetur adipiscing elit, sed do eiusmod tempor.\r\n";
    for (int m = 0; m < messages; ++m) {
        const int folder = m % folders;
        const fs::path dir = root / ("folder" + std::to_string(folder));
        fs::create_directories(dir);
        const uint32_t pick = rng() % 100;
        const size_t textSize = pick < 55   ? 500 + rng() % 3500
                                : pick < 95 ? 4000 + rng() % 56000
                                            : 60000 + rng() % 340000;
        std::string text;
        while (text.size() < textSize) text += line;
        const std::string id = std::to_string(m);
        std::string msg =
            "From: =?UTF-8?Q?J=C3=B6rg_Sender_" + id + "?= <s" + id +
            "@example.org>\r\nTo: Bob <bob@example.net>, Carol <carol@example.net>\r\n"
            "Cc: team@example.com\r\nSubject: =?UTF-8?B?w5xiZXJzaWNodA==?= " +
            id + "\r\nDate: Tue, 03 Nov 2026 10:" + std::to_string(10 + m % 50) +
            ":00 +0100\r\nMessage-ID: <m" + id + "@example.org>\r\nMIME-Version: 1.0\r\n";
        std::string body;
        if (m % 3 == 1) {
            body =
                "Content-Type: multipart/alternative; boundary=\"alt\"\r\n\r\n--alt\r\n"
                "Content-Type: text/plain; charset=utf-8\r\n\r\n" +
                text +
                "\r\n--alt\r\nContent-Type: text/html; charset=utf-8\r\n\r\n<html><body><p>" +
                text + "</p></body></html>\r\n--alt--\r\n";
        } else {
            body = "Content-Type: text/plain; charset=utf-8\r\n\r\n" + text;
        }
        if (m % 5 == 0) {
            ++box.withAttachment;
            std::string mixed =
                "Content-Type: multipart/mixed; boundary=\"mix\"\r\n\r\n--mix\r\n" + body + "\r\n";
            mixed +=
                "--mix\r\nContent-Type: application/pdf; name=\"report.pdf\"\r\n"
                "Content-Disposition: attachment; filename=\"report.pdf\"\r\n"
                "Content-Transfer-Encoding: base64\r\n\r\n" +
                Base64Lines(10000 + rng() % 190000, rng);
            body = mixed + "--mix--\r\n";
        }
        msg += body;
        const fs::path file = dir / ("m" + id + ".eml");
        std::ofstream(file, std::ios::binary).write(msg.data(), std::streamsize(msg.size()));
        box.files.push_back({folder, file});
        box.bytes += msg.size();
    }
    return box;
}

void Line(const char* what, double seconds, size_t messages, uint64_t bytes) {
    std::printf("%-34s %8.2f s  %8.0f msg/s  %7.1f MB/s\n", what, seconds, messages / seconds,
                bytes / 1e6 / seconds);
}

}  // namespace

int main(int argc, char** argv) {
    const int messages = argc > 1 ? std::atoi(argv[1]) : 20000;
    const int folders = 100;
    const fs::path work =
        fs::temp_directory_path() / ("eml2pst-mime-bench-" + std::to_string(getpid()));
    fs::remove_all(work);
    Mailbox box = MakeMailbox(work / "mailbox", messages, folders);
    std::printf("%d messages (%d with attachments) in %d folders, %.1f MB\n", messages,
                box.withAttachment, folders, box.bytes / 1e6);

    // Parse only: each file to message content, which is then dropped.
    size_t failed = 0;
    auto start = Clock::now();
    for (const auto& [folder, file] : box.files)
        failed += !mime::ImportMessageFile(file.string()).ok;
    const double parseOnly = Seconds(start);

    // Parse and store, timing the two steps apart; closing the file counts as storing.
    double parse = 0, store = 0, parseCpu = 0, storeCpu = 0;
    const fs::path pst = work / "bench.pst";
    start = Clock::now();
    {
        auto t = Clock::now();
        auto ms = pst::messaging::MessageStore::Create(pst, "Bench");
        ms->ValidateIpmTree();
        std::vector<pst::messaging::Nid> nids;
        for (int f = 0; f < folders; ++f)
            nids.push_back(ms->CreateFolder(ms->IpmSubtree(), "folder" + std::to_string(f)));
        store += Seconds(t);
        for (const auto& [folder, file] : box.files) {
            t = Clock::now();
            double c = CpuSeconds();
            mime::ImportResult r = mime::ImportMessageFile(file.string());
            parse += Seconds(t);
            parseCpu += CpuSeconds() - c;
            if (!r.ok) continue;
            t = Clock::now();
            c = CpuSeconds();
            ms->AddMessage(nids[size_t(folder)], r.content);
            store += Seconds(t);
            storeCpu += CpuSeconds() - c;
        }
        t = Clock::now();
        const double c = CpuSeconds();
        ms->Close();
        store += Seconds(t);
        storeCpu += CpuSeconds() - c;
    }
    const double both = Seconds(start);

    std::printf("%-34s %8zu\n", "files refused", failed);
    Line("parse only", parseOnly, box.files.size(), box.bytes);
    Line("parse and store", both, box.files.size(), box.bytes);
    Line("  of which parse", parse, box.files.size(), box.bytes);
    Line("  of which store (incl. commits)", store, box.files.size(), box.bytes);
    std::printf("CPU seconds of this thread: parse %.2f, store %.2f\n", parseCpu, storeCpu);
    std::printf("store step at %.0f%% of the parse step (%s); data file %.1f MB\n",
                100 * store / parse, store <= parse ? "within budget" : "OVER BUDGET",
                fs::file_size(pst) / 1e6);
    fs::remove_all(work);
    return store <= parse ? 0 : 1;
}

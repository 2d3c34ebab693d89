// The PST writer alone (no MIME parsing): messages per second, MB/s, bytes per message, peak
// memory, and the cost of a message in a small versus a large folder.
//
//   bench_pst_writer small [COUNT=100000] [DIR=/tmp]   COUNT messages, 4 KiB plain bodies
//   bench_pst_writer large [COUNT=10000]  [DIR=/tmp]   COUNT messages, one 200 KiB attachment
// Each message carries a 32-byte named property like the source digest of a conversion; the
// time to read them all back into a set (what opening a file for a repeated run costs per
// folder) is printed at the end.
// A fourth argument sets the store's commit interval in messages (0: commit only at close),
// to tell the cost of the periodic commits (each ends in fdatasync) from the rest; "mN" makes
// the benchmark commit every N messages itself and time the commits apart. A fifth argument
// "verify" also times the strict verifier on the finished file.
//
// Run one mode per process so the peak memory belongs to that mode. The large mode also
// writes the same number of bytes with write() + fdatasync() to a file in the same folder:
// the machine's sequential write speed, measured in the same run.

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>
#include <unordered_set>
#include <vector>

#include "pst/messaging/message_store.h"
#include "pst/verify.h"

using namespace pst::messaging;
using pst::PropertyValue;
using Clock = std::chrono::steady_clock;

namespace {

double Seconds(Clock::time_point from) {
    return std::chrono::duration<double>(Clock::now() - from).count();
}

// User + system CPU seconds of this process: on a crowded machine the wall time also counts
// other processes' turns, so both are printed.
double CpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double ThreadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

double PeakMiB() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_maxrss) / 1024.0;
}

std::vector<uint8_t> Bytes(size_t n, uint32_t seed) {
    std::vector<uint8_t> out(n);
    uint32_t x = seed * 2654435761u + 1;
    for (auto& b : out) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = uint8_t(x);
    }
    return out;
}

const PropertyName& DigestName() {
    static const PropertyName name{{0x52, 0x3A, 0x1F, 0x6D, 0x4E, 0x8C, 0x7A, 0x4B, 0x9E, 0x21,
                                    0x5F, 0x0C, 0x2D, 0x7B, 0x9A, 0x13},
                                   std::u16string(u"SourceFileSha256")};
    return name;
}

MessageContent Message(size_t i, const std::string& body) {
    MessageContent m;
    const std::string n = std::to_string(i);
    m.props.Set(PropertyValue::StringUtf8(0x001A001F, "IPM.Note"));
    m.props.Set(PropertyValue::StringUtf8(0x0037001F, "Benchmark message " + n));
    m.props.Set(PropertyValue::StringUtf8(0x0042001F, "Sender " + n));
    m.props.Set(PropertyValue::StringUtf8(0x0065001F, "sender" + n + "@example.org"));
    m.props.Set(PropertyValue::StringUtf8(0x0C1A001F, "Sender " + n));
    m.props.Set(PropertyValue::StringUtf8(0x0C1F001F, "sender" + n + "@example.org"));
    m.props.Set(PropertyValue::StringUtf8(0x1000001F, body));
    m.props.Set(PropertyValue::Time(0x00390040, 132000000000000000ull + i * 600000000ull));
    m.props.Set(PropertyValue::Time(0x0E060040, 132000000000000000ull + i * 600000000ull));
    m.props.Set(PropertyValue::Int32(0x0E070003, 1));
    Recipient r;
    r.props.Set(PropertyValue::Int32(0x0C150003, 1));
    r.props.Set(PropertyValue::StringUtf8(0x3001001F, "Receiver"));
    r.props.Set(PropertyValue::StringUtf8(0x3002001F, "SMTP"));
    r.props.Set(PropertyValue::StringUtf8(0x3003001F, "receiver@example.org"));
    m.recipients.push_back(std::move(r));
    m.props.named.push_back(
        {DigestName(), PropertyValue::Binary(pst::kPtypBinary, Bytes(32, uint32_t(i)))});
    return m;
}

// Seconds to write `total` bytes in 1 MiB write() calls, then fdatasync().
double SequentialWrite(const std::filesystem::path& file, uint64_t total) {
    const std::vector<uint8_t> chunk = Bytes(1 << 20, 99);
    const auto start = Clock::now();
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return 0;
    for (uint64_t done = 0; done < total;) {
        const size_t n = size_t(std::min<uint64_t>(chunk.size(), total - done));
        if (::write(fd, chunk.data(), n) != ssize_t(n)) break;
        done += n;
    }
    ::fdatasync(fd);
    ::close(fd);
    const double s = Seconds(start);
    std::filesystem::remove(file);
    return s;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "small";
    const bool large = mode == "large";
    const size_t count = argc > 2 ? std::stoul(argv[2]) : large ? 10000 : 100000;
    const std::filesystem::path dir = argc > 3 ? argv[3] : "/tmp";
    const auto file = dir / ("pst-writer-bench-" + std::to_string(::getpid()) + ".pst");

    const std::string body(4096, 'x');
    const std::vector<uint8_t> attachment = Bytes(200 * 1024, 7);
    // Per-message time while the folder holds about 1,000 messages and at the end.
    const size_t window = std::min<size_t>(1000, count / 4);
    double early = 0, late = 0, earlyCpu = 0, lateCpu = 0;

    const auto start = Clock::now();
    const double cpuStart = CpuSeconds();
    auto store = MessageStore::Create(file, "Benchmark");
    const std::string interval = argc > 4 ? argv[4] : "";
    const size_t manual = interval.starts_with("m") ? std::stoul(interval.substr(1)) : 0;
    if (!interval.empty())
        store->SetAutoCommitInterval(manual ? 0 : uint32_t(std::stoul(interval)));
    double commitEarly = 0, commitLate = 0;
    size_t commitsEarly = 0, commitsLate = 0;
    const Nid folder = store->CreateFolder(store->IpmSubtree(), "Bench");
    uint64_t payload = 0;
    for (size_t i = 0; i < count; ++i) {
        MessageContent m = Message(i, large ? "See the attachment." : body);
        if (large) {
            Attachment a;
            a.props.Set(PropertyValue::StringUtf8(0x3707001F, "data.bin"));
            a.props.Set(PropertyValue(0x37010102, attachment));
            m.attachments.push_back(std::move(a));
            payload += attachment.size();
        } else {
            payload += body.size();
        }
        const auto t = Clock::now();
        const double c = ThreadCpuSeconds();
        store->AddMessage(folder, m);
        const double s = Seconds(t), cs = ThreadCpuSeconds() - c;
        if (i >= window && i < 2 * window) early += s, earlyCpu += cs;
        if (i >= count - window) late += s, lateCpu += cs;
        if (manual && (i + 1) % manual == 0) {
            const double c0 = ThreadCpuSeconds();
            store->Commit();
            const double spent = ThreadCpuSeconds() - c0;
            if (i < 4 * window) commitEarly += spent, ++commitsEarly;
            if (i >= count - 4 * window) commitLate += spent, ++commitsLate;
        }
    }
    store->Close();
    store.reset();
    const double total = Seconds(start);
    const double cpu = CpuSeconds() - cpuStart;
    const uint64_t size = std::filesystem::file_size(file);
    const double peak = PeakMiB();  // the writer's, before the verifier reads the file
    if (argc > 5 && std::string(argv[5]) == "verify") {
        const auto t = Clock::now();
        const pst::VerifyReport report = pst::Verify(file);
        std::printf("verify: %.2f s, %zu faults, %zu folders, %zu messages\n", Seconds(t),
                    report.errors.size(), report.folders, report.messages);
        for (size_t i = 0; i < report.errors.size() && i < 5; ++i)
            std::printf("  %s\n", report.errors[i].c_str());
    }
    double digestSeconds = 0;
    size_t digests = 0;
    {
        const auto t = Clock::now();
        auto reading = MessageStore::Open(file, true);
        std::unordered_set<std::string> known;
        for (auto& d : reading->NamedBinaries(folder, DigestName()))
            known.emplace(d.begin(), d.end());
        digests = known.size();
        digestSeconds = Seconds(t);
    }
    std::filesystem::remove(file);

    std::printf("mode %s, %zu messages, payload %.1f MiB\n", mode.c_str(), count,
                double(payload) / (1 << 20));
    std::printf("  total %.2f s (close included): %.0f messages/s, %.1f MB/s of file\n", total,
                double(count) / total, double(size) / 1e6 / total);
    std::printf("  CPU %.2f s: %.0f messages per CPU second\n", cpu, double(count) / cpu);
    std::printf("  file %.1f MiB, %.0f bytes per message\n", double(size) / (1 << 20),
                double(size) / double(count));
    std::printf("  per message: %.1f us at ~%zu in folder, %.1f us at ~%zu (ratio %.2f)\n",
                early / double(window) * 1e6, 2 * window - window / 2, late / double(window) * 1e6,
                count, late / early);
    std::printf("  per message CPU: %.1f us at ~%zu, %.1f us at ~%zu (ratio %.2f)\n",
                earlyCpu / double(window) * 1e6, 2 * window - window / 2,
                lateCpu / double(window) * 1e6, count, lateCpu / earlyCpu);
    if (commitsEarly && commitsLate)
        std::printf("  commit CPU every %zu: %.2f ms up to %zu in folder, %.2f ms near %zu\n",
                    manual, commitEarly / double(commitsEarly) * 1e3, 4 * window,
                    commitLate / double(commitsLate) * 1e3, count);
    std::printf("  peak memory %.1f MiB\n", peak);
    std::printf("  %zu digests read back into a set: %.2f s, %.1f us per message\n", digests,
                digestSeconds, digestSeconds / double(count) * 1e6);
    if (large) {
        const double seq = SequentialWrite(dir / "pst-writer-bench-seq.bin", size);
        std::printf(
            "  sequential write() + fdatasync of %.1f MiB: %.2f s, %.1f MB/s; writer at "
            "%.0f%% of it\n",
            double(size) / (1 << 20), seq, double(size) / 1e6 / seq, 100.0 * seq / total);
    }
    return 0;
}

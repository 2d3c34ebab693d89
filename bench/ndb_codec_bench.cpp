// Throughput of the block CRC and the permute encoding, on every path this processor has, for
// block-sized inputs and 1 MiB. The portable/scalar rows are the speed before the faster paths.
//   bench_ndb_codec [MB_PER_FIGURE]   (default 64: how many bytes each figure passes through)
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <random>
#include <vector>

#include "pst/ndb/crc.h"
#include "pst/ndb/encoding.h"

namespace {

using namespace pst::ndb;

double CpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// GB/s over `total` bytes passed in pieces of `size`, the best of three runs: the machine is
// shared, so the least disturbed run is the closest to the code's own cost.
template <class Work>
double GbPerSecond(size_t size, size_t total, Work work) {
    const size_t rounds = total / size + 1;
    double best = 1e30;
    for (int run = 0; run < 3; ++run) {
        const double start = CpuSeconds();
        for (size_t i = 0; i < rounds; ++i) work();
        best = std::min(best, CpuSeconds() - start);
    }
    return double(rounds * size) / best / 1e9;
}

const char* Name(CrcPath path) {
    switch (path) {
        case CrcPath::Portable:
            return "portable (zlib)";
        case CrcPath::Clmul:
            return "clmul 128";
        case CrcPath::Clmul512:
            return "clmul 512";
    }
    return "?";
}

const char* Name(PermutePath path) {
    switch (path) {
        case PermutePath::Scalar:
            return "scalar";
        case PermutePath::Avx2:
            return "avx2";
        case PermutePath::Avx512Vbmi:
            return "avx512 vbmi";
    }
    return "?";
}

}  // namespace

int main(int argc, char** argv) {
    const size_t total = (argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 64) << 20;
    const size_t sizes[] = {64, 256, 496, 1024, 4096, 8176, size_t{1} << 20};
    std::vector<uint8_t> data(size_t{1} << 20);  // blocks are built in fresh vectors: aligned
    std::mt19937 rng(1);
    for (auto& b : data) b = static_cast<uint8_t>(rng());

    std::printf("GB/s (CPU time), %zu MB per figure; chosen: CRC %s, permute %s\n", total >> 20,
                Name(ChosenCrcPath()), Name(ChosenPermutePath()));
    std::printf("%-24s", "bytes");
    for (size_t size : sizes) std::printf("%9zu", size);
    std::printf("\n");

    volatile uint32_t sink = 0;
    for (CrcPath path : {CrcPath::Portable, CrcPath::Clmul, CrcPath::Clmul512}) {
        if (!CrcPathAvailable(path)) continue;
        std::printf("crc %-20s", Name(path));
        for (size_t size : sizes) {
            const std::span<const uint8_t> in(data.data(), size);
            std::printf("%9.2f", GbPerSecond(size, total, [&] { sink = sink + CrcVia(path, in); }));
            std::fflush(stdout);
        }
        std::printf("\n");
    }
    for (PermutePath path : {PermutePath::Scalar, PermutePath::Avx2, PermutePath::Avx512Vbmi}) {
        if (!PermutePathAvailable(path)) continue;
        for (bool encode : {true, false}) {
            std::printf("%s %-17s", encode ? "encode" : "decode", Name(path));
            for (size_t size : sizes) {
                const std::span<uint8_t> in(data.data(), size);
                std::printf("%9.2f", GbPerSecond(size, total, [&] {
                                encode ? EncodePermuteVia(path, in) : DecodePermuteVia(path, in);
                            }));
                std::fflush(stdout);
            }
            std::printf("\n");
        }
    }
    return 0;
}

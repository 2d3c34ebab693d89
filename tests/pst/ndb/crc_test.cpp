#include "pst/ndb/crc.h"

#include <gtest/gtest.h>

#include <array>
#include <random>
#include <vector>

namespace pst::ndb {
namespace {

constexpr CrcPath kAllPaths[] = {CrcPath::Portable, CrcPath::Clmul, CrcPath::Clmul512};

// The CRC as defined, one bit at a time: independent of every table and folding constant.
uint32_t BitwiseCrc(const uint8_t* p, size_t n) {
    uint32_t c = 0;
    for (size_t i = 0; i < n; ++i) {
        c ^= p[i];
        for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
    }
    return c;
}

std::vector<uint8_t> Random(size_t size, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> out(size);
    for (auto& b : out) b = static_cast<uint8_t>(rng());
    return out;
}

// Lengths 0..300 cross every switch between table and folding paths and every tail length;
// each start within a 64-byte line shows any load that assumes alignment.
TEST(Crc, EveryPathAgreesWithTheBitwiseDefinitionAtEveryLengthAndStart) {
    const auto content = Random(300, 1);
    alignas(64) std::array<uint8_t, 64 + 300> buffer{};
    for (size_t n = 0; n <= 300; ++n) {
        const uint32_t expected = BitwiseCrc(content.data(), n);
        for (size_t start = 0; start < 64; ++start) {
            std::copy_n(content.begin(), n, buffer.begin() + start);
            const std::span<const uint8_t> in(buffer.data() + start, n);
            ASSERT_EQ(Crc(in), expected) << "length " << n << " start " << start;
            for (CrcPath path : kAllPaths) {
                if (!CrcPathAvailable(path)) continue;
                ASSERT_EQ(CrcVia(path, in), expected)
                    << "path " << int(path) << " length " << n << " start " << start;
            }
        }
    }
}

// Block and page sizes, and sizes running many rounds of the widest fold with every kind of
// remainder after it.
TEST(Crc, EveryPathAgreesOnLargeInputs) {
    const auto content = Random((1u << 20) + 64, 2);
    for (size_t n :
         {496u, 511u, 512u, 1000u, 4095u, 8176u, 8192u, 65536u + 16 + 64 + 3, (1u << 20) + 61}) {
        for (size_t start : {0u, 3u}) {
            const std::span<const uint8_t> in(content.data() + start, n);
            const uint32_t expected = BitwiseCrc(in.data(), in.size());
            for (CrcPath path : kAllPaths) {
                if (!CrcPathAvailable(path)) continue;
                EXPECT_EQ(CrcVia(path, in), expected)
                    << "path " << int(path) << " length " << n << " start " << start;
            }
        }
    }
}

}  // namespace
}  // namespace pst::ndb

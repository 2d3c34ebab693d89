#include "pst/ndb/encoding.h"

#include <gtest/gtest.h>

#include <array>
#include <random>
#include <vector>

namespace pst::ndb {
namespace {

// Scalar is the reference: the plain table lookup the other paths must reproduce.
constexpr PermutePath kFastPaths[] = {PermutePath::Avx2, PermutePath::Avx512Vbmi};

std::vector<uint8_t> Random(size_t size, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> out(size);
    for (auto& b : out) b = static_cast<uint8_t>(rng());
    return out;
}

void Apply(PermutePath path, bool encode, std::span<uint8_t> bytes) {
    encode ? EncodePermuteVia(path, bytes) : DecodePermuteVia(path, bytes);
}

// Every length 0..300 at every start in a 64-byte line, with bytes on both sides that must stay
// as they were: vector bodies, tails and masked stores all get their edges checked.
TEST(Permute, FastPathsMatchScalarAtEveryLengthAndStartAndTouchNothingElse) {
    const auto original = Random(64 + 300 + 64, 3);
    alignas(64) std::array<uint8_t, 64 + 300 + 64> expected{}, actual{};
    for (PermutePath path : kFastPaths) {
        if (!PermutePathAvailable(path)) continue;
        for (bool encode : {true, false}) {
            for (size_t n = 0; n <= 300; ++n) {
                for (size_t start = 0; start < 64; ++start) {
                    std::copy(original.begin(), original.end(), expected.begin());
                    std::copy(original.begin(), original.end(), actual.begin());
                    Apply(PermutePath::Scalar, encode, std::span(expected).subspan(start, n));
                    Apply(path, encode, std::span(actual).subspan(start, n));
                    ASSERT_EQ(actual, expected)
                        << "path " << int(path) << (encode ? " encode" : " decode") << " length "
                        << n << " start " << start;
                }
            }
        }
    }
}

// Every byte value in every position of a vector, so each table row and both table halves are
// reached in each lane; decoding must give back what encoding took.
TEST(Permute, EveryPathMapsAllByteValuesAndDecodeUndoesEncode) {
    std::vector<uint8_t> all(256 * 67);
    for (size_t i = 0; i < all.size(); ++i) all[i] = static_cast<uint8_t>(i + i / 256);
    auto reference = all;
    EncodePermuteVia(PermutePath::Scalar, reference);
    std::array<bool, 256> seen{};
    for (uint8_t b : std::span(reference).first(256)) seen[b] = true;
    EXPECT_EQ(std::count(seen.begin(), seen.end(), true), 256) << "encoding is not one-to-one";
    for (PermutePath path : {PermutePath::Scalar, PermutePath::Avx2, PermutePath::Avx512Vbmi}) {
        if (!PermutePathAvailable(path)) continue;
        auto bytes = all;
        EncodePermuteVia(path, bytes);
        EXPECT_EQ(bytes, reference) << "path " << int(path);
        DecodePermuteVia(path, bytes);
        EXPECT_EQ(bytes, all) << "path " << int(path);
    }
}

TEST(Permute, LargeInputsAndTheDispatchedEntryPointsMatchScalar) {
    const auto original = Random((1u << 20) + 77, 4);
    auto expected = original;
    EncodePermuteVia(PermutePath::Scalar, expected);
    auto viaEntry = original;
    EncodeData(Encoding::Permute, 0x1234, viaEntry);
    EXPECT_EQ(viaEntry, expected);
    DecodeData(Encoding::Permute, 0x1234, viaEntry);
    EXPECT_EQ(viaEntry, original);
    for (PermutePath path : kFastPaths) {
        if (!PermutePathAvailable(path)) continue;
        auto bytes = original;
        EncodePermuteVia(path, std::span(bytes).subspan(5));
        EncodePermuteVia(path, std::span(bytes).first(5));
        EXPECT_EQ(bytes, expected) << "path " << int(path);
    }
}

}  // namespace
}  // namespace pst::ndb

#include "mime/sha256.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace {

std::string Hex(const std::array<uint8_t, 32>& d) {
    static const char* kDigits = "0123456789abcdef";
    std::string s;
    for (uint8_t c : d) s += {kDigits[c >> 4], kDigits[c & 15]};
    return s;
}

// Fed in pieces of `piece` bytes, so that block boundaries fall everywhere.
std::string Digest(const std::string& m, size_t piece) {
    mime::Sha256 sum;
    for (size_t i = 0; i < m.size(); i += piece)
        sum.Update(reinterpret_cast<const uint8_t*>(m.data()) + i, std::min(piece, m.size() - i));
    return Hex(sum.Final());
}

// The standard's test vectors with and without the processor's SHA instructions, and both ways
// agreeing on random messages of every length around the padding boundaries.
TEST(Sha256, StandardVectorsAndTheTwoImplementationsAgree) {
    const bool accelerated = mime::Sha256::Accelerated();
    for (bool on : {false, true}) {
        mime::Sha256::UseAcceleration(on);
        EXPECT_EQ(Digest("", 1),
                  "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
        EXPECT_EQ(Digest("abc", 1),
                  "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
        EXPECT_EQ(Digest("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", 7),
                  "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
        EXPECT_EQ(Digest(std::string(1000000, 'a'), 333),
                  "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
    }
    std::mt19937 random(7);
    for (size_t size = 0; size < 300; ++size) {
        std::string m(size, '\0');
        for (char& c : m) c = char(random());
        mime::Sha256::UseAcceleration(true);
        const std::string fast = Digest(m, size % 13 + 1);
        mime::Sha256::UseAcceleration(false);
        EXPECT_EQ(fast, Digest(m, 64)) << size;
    }
    mime::Sha256::UseAcceleration(accelerated);
}

}  // namespace

#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace mime {

// SHA-256 (FIPS 180-4). Uses the processor's SHA instructions where it has them: the digest of
// every message file is taken on the way in, and a portable loop costs as much as reading the
// message itself.
class Sha256 {
  public:
    Sha256();
    void Update(const uint8_t* data, size_t size);
    std::array<uint8_t, 32> Final();

    // Whether the processor's SHA instructions are used; tests may turn them off to compare.
    static bool Accelerated();
    static void UseAcceleration(bool on);

  private:
    void Blocks(const uint8_t* data, size_t blocks);
    std::array<uint32_t, 8> state_;
    std::array<uint8_t, 64> pending_{};
    size_t pendingSize_ = 0;
    uint64_t total_ = 0;
};

}  // namespace mime

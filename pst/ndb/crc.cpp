#include "pst/ndb/crc.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <limits>
#include <stdexcept>
#include <string>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define PST_NDB_CLMUL 1
#include <immintrin.h>
#else
#define PST_NDB_CLMUL 0
#endif

namespace pst::ndb {
namespace {

// All paths carry the raw register: no inversion on the way in or out. zlib inverts both, so
// its calls are wrapped in inversions.
uint32_t CrcPortable(uint32_t crc, const uint8_t* p, size_t n) {
    uLong c = ~crc & 0xFFFFFFFFul;
    while (n > 0) {
        const auto chunk = static_cast<uInt>(std::min<size_t>(n, std::numeric_limits<uInt>::max()));
        c = crc32(c, p, chunk);
        p += chunk;
        n -= chunk;
    }
    return static_cast<uint32_t>(~c);
}

#if PST_NDB_CLMUL

// Folding constants for 0xEDB88320, each (x^k mod P) bit-reflected and shifted left by one,
// paired as {low qword, high qword} = {k = D + 32, k = D - 32} for a fold over D bits.
constexpr uint64_t kFold128Lo = 0x1751997d0, kFold128Hi = 0x0ccaa009e;    // D = 128
constexpr uint64_t kFold512Lo = 0x154442bd4, kFold512Hi = 0x1c6e41596;    // D = 512
constexpr uint64_t kFold2048Lo = 0x11542778a, kFold2048Hi = 0x1322d1430;  // D = 2048
constexpr uint64_t kFold64 = 0x163cd6124;                                 // x^64 mod P
constexpr uint64_t kPoly = 0x1db710641, kMu = 0x1f7011641;  // P and floor(x^64 / P), reflected

#define PST_NDB_TARGET_CLMUL __attribute__((target("pclmul,sse4.1")))
#define PST_NDB_TARGET_CLMUL512 \
    __attribute__((target("pclmul,sse4.1,avx512f,avx512bw,avx512vl,vpclmulqdq")))

PST_NDB_TARGET_CLMUL inline __m128i Load128(const uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
PST_NDB_TARGET_CLMUL512 inline __m512i Load512(const uint8_t* p) {
    return _mm512_loadu_si512(p);
}
// The zero-masked forms: GCC 12 warns of the undefined source the plain forms carry.
PST_NDB_TARGET_CLMUL512 inline __m512i Broadcast(uint64_t lo, uint64_t hi) {
    return _mm512_maskz_broadcast_i32x4(
        0xFFFF, _mm_set_epi64x(static_cast<long long>(hi), static_cast<long long>(lo)));
}
template <int kLane>
PST_NDB_TARGET_CLMUL512 inline __m128i Lane(__m512i x) {
    return _mm512_maskz_extracti32x4_epi32(0xF, x, kLane);
}

// Multiplies both halves by their constants and adds the next data: one fold step.
PST_NDB_TARGET_CLMUL inline __m128i Fold(__m128i x, __m128i k, __m128i next) {
    const __m128i lo = _mm_clmulepi64_si128(x, k, 0x00);
    const __m128i hi = _mm_clmulepi64_si128(x, k, 0x11);
    return _mm_xor_si128(_mm_xor_si128(lo, hi), next);
}

// Byte-shift masks for the shuffle: 16 bytes from kShift + 16 + r move a register r bytes
// toward its low end; from kShift + r, 16 - r bytes toward its high end. The set top bits
// zero the bytes shifted in.
alignas(16) constexpr uint8_t kShift[48] = {
    0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80,
    0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0a, 0x0b, 0x0c, 0x0d, 0x0e, 0x0f,
    0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80,
};

// Folds in the remaining 16-byte pieces and the last 0..15 bytes, then reduces 128 bits to the
// 32-bit register. At least 16 bytes lie before p, so the last 16 can always be loaded whole.
// Always inlined: called from the AVX-512 path, a copy in legacy SSE encoding would pay the
// SSE/AVX transition on every call.
[[gnu::always_inline]] PST_NDB_TARGET_CLMUL inline uint32_t Finish128(__m128i x, const uint8_t* p,
                                                                      size_t n) {
    const __m128i k128 = _mm_set_epi64x(kFold128Hi, kFold128Lo);
    for (; n >= 16; p += 16, n -= 16) {
        x = Fold(x, k128, Load128(p));
    }
    if (n > 0) {
        // x followed by n bytes is the same as its first n bytes, folded over 128 bits, added
        // to the 16 bytes that end the input (the rest of x, then the n new bytes).
        const __m128i toHigh = Load128(kShift + n);
        const __m128i head = _mm_shuffle_epi8(x, toHigh);
        const __m128i rest = _mm_shuffle_epi8(x, Load128(kShift + 16 + n));
        const __m128i last = _mm_blendv_epi8(Load128(p + n - 16), rest, toHigh);
        x = Fold(head, k128, last);
    }
    const __m128i mask32 = _mm_setr_epi32(-1, 0, -1, 0);
    // 128 -> 96 bits.
    __m128i t = _mm_clmulepi64_si128(x, k128, 0x10);
    x = _mm_xor_si128(_mm_srli_si128(x, 8), t);
    // 96 -> 64 bits.
    t = _mm_srli_si128(x, 4);
    x = _mm_clmulepi64_si128(_mm_and_si128(x, mask32), _mm_cvtsi64_si128(kFold64), 0x00);
    x = _mm_xor_si128(x, t);
    // Barrett reduction to 32 bits.
    const __m128i poly = _mm_set_epi64x(kMu, kPoly);
    t = _mm_clmulepi64_si128(_mm_and_si128(x, mask32), poly, 0x10);
    t = _mm_clmulepi64_si128(_mm_and_si128(t, mask32), poly, 0x00);
    x = _mm_xor_si128(x, t);
    return static_cast<uint32_t>(_mm_extract_epi32(x, 1));
}

PST_NDB_TARGET_CLMUL uint32_t CrcClmul(uint32_t crc, const uint8_t* p, size_t n) {
    // Below one register the tables are as quick as the setup.
    if (n < 16) return CrcPortable(crc, p, n);
    const __m128i seed = _mm_cvtsi32_si128(static_cast<int>(crc));
    if (n < 64) return Finish128(_mm_xor_si128(Load128(p), seed), p + 16, n - 16);
    __m128i x0 = _mm_xor_si128(Load128(p), seed);
    __m128i x1 = Load128(p + 16), x2 = Load128(p + 32), x3 = Load128(p + 48);
    p += 64, n -= 64;
    const __m128i k512 = _mm_set_epi64x(kFold512Hi, kFold512Lo);
    for (; n >= 64; p += 64, n -= 64) {
        x0 = Fold(x0, k512, Load128(p));
        x1 = Fold(x1, k512, Load128(p + 16));
        x2 = Fold(x2, k512, Load128(p + 32));
        x3 = Fold(x3, k512, Load128(p + 48));
    }
    const __m128i k128 = _mm_set_epi64x(kFold128Hi, kFold128Lo);
    __m128i x = Fold(x0, k128, x1);
    x = Fold(x, k128, x2);
    x = Fold(x, k128, x3);
    return Finish128(x, p, n);
}

PST_NDB_TARGET_CLMUL512 inline __m512i Fold(__m512i x, __m512i k, __m512i next) {
    const __m512i lo = _mm512_clmulepi64_epi128(x, k, 0x00);
    const __m512i hi = _mm512_clmulepi64_epi128(x, k, 0x11);
    return _mm512_ternarylogic_epi64(lo, hi, next, 0x96);  // lo ^ hi ^ next
}

PST_NDB_TARGET_CLMUL512 uint32_t CrcClmul512(uint32_t crc, const uint8_t* p, size_t n) {
    // Four 64-byte lanes are the least worth the wider setup.
    if (n < 256) return CrcClmul(crc, p, n);
    const __m512i seed = _mm512_maskz_set1_epi32(1, static_cast<int>(crc));
    __m512i x0 = _mm512_xor_si512(Load512(p), seed);
    __m512i x1 = Load512(p + 64), x2 = Load512(p + 128), x3 = Load512(p + 192);
    p += 256, n -= 256;
    const __m512i k2048 = Broadcast(kFold2048Lo, kFold2048Hi);
    for (; n >= 256; p += 256, n -= 256) {
        x0 = Fold(x0, k2048, Load512(p));
        x1 = Fold(x1, k2048, Load512(p + 64));
        x2 = Fold(x2, k2048, Load512(p + 128));
        x3 = Fold(x3, k2048, Load512(p + 192));
    }
    const __m512i k512 = Broadcast(kFold512Lo, kFold512Hi);
    __m512i x = Fold(x0, k512, x1);
    x = Fold(x, k512, x2);
    x = Fold(x, k512, x3);
    for (; n >= 64; p += 64, n -= 64) x = Fold(x, k512, Load512(p));
    const __m128i k128 = _mm_set_epi64x(kFold128Hi, kFold128Lo);
    __m128i y = Fold(Lane<0>(x), k128, Lane<1>(x));
    y = Fold(y, k128, Lane<2>(x));
    y = Fold(y, k128, Lane<3>(x));
    return Finish128(y, p, n);
}

#endif  // PST_NDB_CLMUL

using CrcFunction = uint32_t (*)(uint32_t, const uint8_t*, size_t);

CrcFunction FunctionFor(CrcPath path) {
    switch (path) {
        case CrcPath::Portable:
            return CrcPortable;
#if PST_NDB_CLMUL
        case CrcPath::Clmul:
            return CrcClmul;
        case CrcPath::Clmul512:
            return CrcClmul512;
#else
        case CrcPath::Clmul:
        case CrcPath::Clmul512:
            return nullptr;
#endif
    }
    return nullptr;
}

CrcPath Choose() {
    if (CrcPathAvailable(CrcPath::Clmul512)) return CrcPath::Clmul512;
    if (CrcPathAvailable(CrcPath::Clmul)) return CrcPath::Clmul;
    return CrcPath::Portable;
}

// The first call settles the path; constant-initialized, so usable from any static constructor.
uint32_t Resolve(uint32_t crc, const uint8_t* p, size_t n);
std::atomic<CrcFunction> active{Resolve};

uint32_t Resolve(uint32_t crc, const uint8_t* p, size_t n) {
    const CrcFunction f = FunctionFor(ChosenCrcPath());
    active.store(f, std::memory_order_relaxed);
    return f(crc, p, n);
}

}  // namespace

bool CrcPathAvailable(CrcPath path) {
    switch (path) {
        case CrcPath::Portable:
            return true;
#if PST_NDB_CLMUL
        case CrcPath::Clmul:
            __builtin_cpu_init();
            return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
        case CrcPath::Clmul512:
            __builtin_cpu_init();
            return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("avx512f") &&
                   __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl") &&
                   __builtin_cpu_supports("vpclmulqdq");
#else
        case CrcPath::Clmul:
        case CrcPath::Clmul512:
            return false;
#endif
    }
    return false;
}

CrcPath ChosenCrcPath() {
    static const CrcPath chosen = Choose();
    return chosen;
}

uint32_t Crc(std::span<const uint8_t> bytes) {
    return active.load(std::memory_order_relaxed)(0, bytes.data(), bytes.size());
}

uint32_t CrcVia(CrcPath path, std::span<const uint8_t> bytes) {
    if (!CrcPathAvailable(path)) {
        throw std::invalid_argument("CRC path " + std::to_string(static_cast<int>(path)) +
                                    " is not available on this processor");
    }
    return FunctionFor(path)(0, bytes.data(), bytes.size());
}

}  // namespace pst::ndb

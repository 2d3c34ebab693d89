#include "mime/base64.h"

#include <array>

namespace mime {
namespace {

constexpr uint8_t kNotInAlphabet = 0xFF;

constexpr std::array<uint8_t, 256> MakeRanks() {
    std::array<uint8_t, 256> ranks{};
    for (auto& r : ranks) r = kNotInAlphabet;
    constexpr std::string_view kAlphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (size_t i = 0; i < kAlphabet.size(); ++i) ranks[uint8_t(kAlphabet[i])] = uint8_t(i);
    return ranks;
}
constexpr std::array<uint8_t, 256> kRanks = MakeRanks();

}  // namespace

size_t DecodeBase64(std::string_view in, uint8_t* out) {
    const auto* p = reinterpret_cast<const uint8_t*>(in.data());
    const uint8_t* const end = p + in.size();
    uint8_t* o = out;
    uint32_t saved = 0;
    int pending = 0;  // characters of the current group seen so far
    while (true) {
        if (pending == 0) {
            // Whole groups of four alphabet characters: the bulk of every line.
            while (end - p >= 4) {
                const uint32_t a = kRanks[p[0]], b = kRanks[p[1]], c = kRanks[p[2]],
                               d = kRanks[p[3]];
                if ((a | b | c | d) & 0x80) break;  // one of them is not in the alphabet
                const uint32_t v = (a << 18) | (b << 12) | (c << 6) | d;
                o[0] = uint8_t(v >> 16);
                o[1] = uint8_t(v >> 8);
                o[2] = uint8_t(v);
                o += 3;
                p += 4;
            }
        }
        if (p == end) break;
        const uint8_t ch = *p++;
        const uint8_t rank = kRanks[ch];
        if (rank != kNotInAlphabet) {
            saved = (saved << 6) | rank;
            if (++pending == 4) {
                o[0] = uint8_t(saved >> 16);
                o[1] = uint8_t(saved >> 8);
                o[2] = uint8_t(saved);
                o += 3;
                pending = 0;
                saved = 0;
            }
            continue;
        }
        if (ch != '=') continue;  // line ends and stray bytes
        if (pending > 1) {
            saved <<= 6 * (4 - pending);
            *o++ = uint8_t(saved >> 16);
            if (pending == 3) *o++ = uint8_t(saved >> 8);
        }
        break;
    }
    return size_t(o - out);
}

}  // namespace mime

#include "pst/ltp/property.h"

#include <array>
#include <bit>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "fs/utf8.h"
#include "pst/ltp/kept_pool.h"

namespace pst {
namespace {

template <typename T>
PropertyValue LittleEndian(uint32_t tag, T v) {
    std::array<uint8_t, sizeof(T)> out;
    uint64_t u = 0;
    std::memcpy(&u, &v, sizeof(T));
    for (size_t i = 0; i < sizeof(T); ++i) out[i] = uint8_t(u >> (8 * i));
    return PropertyValue(tag, std::span<const uint8_t>(out));
}

uint64_t ReadLittleEndian(std::span<const uint8_t> b, size_t n) {
    if (b.size() < n) throw std::runtime_error("property value too short for its type");
    uint64_t u = 0;
    for (size_t i = 0; i < n; ++i) u |= uint64_t(b[i]) << (8 * i);
    return u;
}

void AppendUtf16(std::vector<uint8_t>& out, std::u16string_view s) {
    if constexpr (std::endian::native == std::endian::little) {
        const size_t at = out.size();
        out.resize(at + 2 * s.size());
        if (!s.empty()) std::memcpy(out.data() + at, s.data(), 2 * s.size());
        return;
    }
    for (char16_t c : s) {
        out.push_back(uint8_t(c & 0xFF));
        out.push_back(uint8_t(c >> 8));
    }
}

// Bodies are mostly ASCII: runs of bytes without the high bit are widened in blocks.
constexpr uint64_t kHighBits = 0x8080808080808080ull;

uint64_t Load8(const char* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}

// Widens the leading ASCII bytes of in[0, n) into two-byte little-endian units at `out` and
// returns how many it took (a multiple of eight; the caller finishes the rest byte by byte).
size_t WidenAscii(const char* in, size_t n, uint8_t* out) {
    size_t i = 0;
#if defined(__SSE2__)
    // Part of every x86-64 processor, so no run-time check is needed.
    const __m128i zero = _mm_setzero_si128();
    for (; i + 16 <= n; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
        if (_mm_movemask_epi8(v) != 0) break;
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * i), _mm_unpacklo_epi8(v, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * i + 16), _mm_unpackhi_epi8(v, zero));
    }
#endif
    for (; i + 8 <= n; i += 8) {
        if (Load8(in + i) & kHighBits) break;
        for (size_t k = 0; k < 8; ++k) {
            out[2 * (i + k)] = uint8_t(in[i + k]);
            out[2 * (i + k) + 1] = 0;
        }
    }
    return i;
}

// UTF-8 to UTF-16LE code units at `out` (two bytes each); invalid bytes become U+FFFD. Returns
// the number of units written; `out` must have room for in.size() units.
size_t DecodeUtf8(std::string_view in, uint8_t* out) {
    size_t n = 0;
    size_t i = 0;
    auto put = [&](uint32_t u) {
        out[2 * n] = uint8_t(u);
        out[2 * n + 1] = uint8_t(u >> 8);
        ++n;
    };
    while (i < in.size()) {
        const size_t run = WidenAscii(in.data() + i, in.size() - i, out + 2 * n);
        n += run;
        i += run;
        if (i >= in.size()) break;
        auto b0 = uint8_t(in[i]);
        uint32_t cp = 0xFFFD;
        size_t len = 1;
        auto cont = [&](size_t k) {
            return i + k < in.size() && (uint8_t(in[i + k]) & 0xC0) == 0x80;
        };
        if (b0 < 0x80) {
            cp = b0;
        } else if (b0 >= 0xC2 && b0 < 0xE0 && cont(1)) {
            cp = ((b0 & 0x1F) << 6) | (uint8_t(in[i + 1]) & 0x3F);
            len = 2;
        } else if (b0 >= 0xE0 && b0 < 0xF0 && cont(1) && cont(2)) {
            cp = ((b0 & 0x0F) << 12) | ((uint8_t(in[i + 1]) & 0x3F) << 6) |
                 (uint8_t(in[i + 2]) & 0x3F);
            len = 3;
            if (cp < 0x800) cp = 0xFFFD;
        } else if (b0 >= 0xF0 && b0 < 0xF5 && cont(1) && cont(2) && cont(3)) {
            cp = ((b0 & 0x07) << 18) | ((uint8_t(in[i + 1]) & 0x3F) << 12) |
                 ((uint8_t(in[i + 2]) & 0x3F) << 6) | (uint8_t(in[i + 3]) & 0x3F);
            len = 4;
            if (cp < 0x10000 || cp > 0x10FFFF) cp = 0xFFFD;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            put(0xD800 + (cp >> 10));
            put(0xDC00 + (cp & 0x3FF));
        } else {
            put(cp);
        }
        i += len;
    }
    return n;
}

// Room for the units of one conversion. Text up to kKeptUnits reuses a kept buffer; longer
// text gets its own. Neither is zero-filled: every unit read back was written.
class UnitBuffer {
  public:
    explicit UnitBuffer(size_t units) {
        if (units > kKeptUnits) {
            own_ = std::make_unique_for_overwrite<uint8_t[]>(2 * units);
            data_ = own_.get();
            return;
        }
        data_ = Kept().Take();
    }
    ~UnitBuffer() {
        if (!own_) Kept().Give(data_);
    }
    UnitBuffer(const UnitBuffer&) = delete;
    UnitBuffer& operator=(const UnitBuffer&) = delete;
    uint8_t* data() { return data_; }

  private:
    static constexpr size_t kKeptUnits = 128 * 1024;

    static KeptPool<uint8_t>& Kept() {
        static auto* pool = new KeptPool<uint8_t>([] { return new uint8_t[2 * kKeptUnits]; },
                                                  [](uint8_t* b) { delete[] b; });
        return *pool;
    }

    std::unique_ptr<uint8_t[]> own_;
    uint8_t* data_ = nullptr;
};

// Variable-size multi-valued layout: count, one offset per value (from the start), the data.
std::vector<uint8_t> MultiValued(const std::vector<std::vector<uint8_t>>& values) {
    std::vector<uint8_t> out;
    auto put32 = [&out](uint32_t v) {
        for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
    };
    put32(uint32_t(values.size()));
    uint32_t offset = uint32_t(4 + 4 * values.size());
    for (const auto& v : values) {
        put32(offset);
        offset += uint32_t(v.size());
    }
    for (const auto& v : values) out.insert(out.end(), v.begin(), v.end());
    return out;
}

}  // namespace

PropertyValue::PropertyValue(uint32_t tag, std::span<const uint8_t> bytes) : tag_(tag) {
    if (bytes.size() <= kSmall) {
        inline_ = true;
        smallSize_ = uint8_t(bytes.size());
        std::copy(bytes.begin(), bytes.end(), small_.begin());
    } else {
        bytes_.assign(bytes.begin(), bytes.end());
    }
}

PropertyValue PropertyValue::Int16(uint32_t tag, int16_t v) {
    return LittleEndian(tag, v);
}
PropertyValue PropertyValue::Int32(uint32_t tag, int32_t v) {
    return LittleEndian(tag, v);
}
PropertyValue PropertyValue::Int64(uint32_t tag, int64_t v) {
    return LittleEndian(tag, v);
}
PropertyValue PropertyValue::Bool(uint32_t tag, bool v) {
    return LittleEndian<uint8_t>(tag, v ? 1 : 0);
}
PropertyValue PropertyValue::Double(uint32_t tag, double v) {
    return LittleEndian(tag, v);
}
PropertyValue PropertyValue::Time(uint32_t tag, uint64_t filetime) {
    return LittleEndian(tag, filetime);
}
PropertyValue PropertyValue::String(uint32_t tag, std::u16string_view text) {
    std::vector<uint8_t> out;
    out.reserve(text.size() * 2);
    AppendUtf16(out, text);
    return {tag, std::move(out)};
}
PropertyValue PropertyValue::StringUtf8(uint32_t tag, std::string_view utf8) {
    // Never more UTF-16 units than UTF-8 bytes; the value is then made at its exact size.
    // Short text (subjects, names, addresses) is converted on the stack: the shared buffers'
    // lock was contended by the reading threads.
    constexpr size_t kStackUnits = 512;
    if (utf8.size() <= kStackUnits) {
        uint8_t units[2 * kStackUnits];
        const size_t n = DecodeUtf8(utf8, units);
        return {tag, std::span<const uint8_t>(units, 2 * n)};
    }
    UnitBuffer buffer(utf8.size());
    const size_t units = DecodeUtf8(utf8, buffer.data());
    return {tag, std::span<const uint8_t>(buffer.data(), 2 * units)};
}
PropertyValue PropertyValue::Binary(uint32_t tag, std::span<const uint8_t> data) {
    return {tag, data};
}
PropertyValue PropertyValue::Guid(uint32_t tag, std::span<const uint8_t, 16> guid) {
    return {tag, std::span<const uint8_t>(guid)};
}
PropertyValue PropertyValue::MultiString(uint32_t tag, const std::vector<std::u16string>& values) {
    std::vector<std::vector<uint8_t>> raw;
    for (const auto& v : values) {
        std::vector<uint8_t> b;
        AppendUtf16(b, v);
        raw.push_back(std::move(b));
    }
    return {tag, MultiValued(raw)};
}
PropertyValue PropertyValue::MultiBinary(uint32_t tag,
                                         const std::vector<std::vector<uint8_t>>& values) {
    return {tag, MultiValued(values)};
}
PropertyValue PropertyValue::Stream(uint32_t tag, uint64_t size, ByteProducer producer) {
    PropertyValue v;
    v.tag_ = tag;
    if (producer)  // without one it is an empty value
        v.stream_ = std::make_shared<const StreamSource>(StreamSource{size, std::move(producer)});
    return v;
}

const ByteProducer& PropertyValue::Producer() const {
    static const ByteProducer none;
    return stream_ ? stream_->producer : none;
}

int32_t PropertyValue::AsInt32() const {
    return int32_t(ReadLittleEndian(Bytes(), 4));
}
int64_t PropertyValue::AsInt64() const {
    return int64_t(ReadLittleEndian(Bytes(), 8));
}
bool PropertyValue::AsBool() const {
    return ReadLittleEndian(Bytes(), 1) != 0;
}
uint64_t PropertyValue::AsTime() const {
    return ReadLittleEndian(Bytes(), 8);
}
std::u16string PropertyValue::AsString() const {
    const ValueBytes b = Bytes();
    std::u16string s(b.size() / 2, u'\0');
    if constexpr (std::endian::native == std::endian::little) {
        if (!s.empty()) std::memcpy(s.data(), b.data(), 2 * s.size());
        return s;
    }
    for (size_t i = 0; i < s.size(); ++i) s[i] = char16_t(b[2 * i] | (b[2 * i + 1] << 8));
    return s;
}
std::string PropertyValue::AsUtf8() const {
    return Utf16ToUtf8(AsString());
}

std::u16string Utf8ToUtf16(std::string_view in) {
    std::u16string out(in.size(), u'\0');
    out.resize(DecodeUtf8(in, reinterpret_cast<uint8_t*>(out.data())));
    if constexpr (std::endian::native != std::endian::little)
        for (char16_t& c : out) c = char16_t((c >> 8) | (c << 8));  // units were stored LE
    return out;
}

std::string Utf16ToUtf8(std::u16string_view in) {
    return fs::Utf8FromUtf16(in);
}

}  // namespace pst

#include "pst/ltp/property.h"

#include <cstring>
#include <stdexcept>

namespace pst {
namespace {

template <typename T>
std::vector<uint8_t> LittleEndian(T v) {
    std::vector<uint8_t> out(sizeof(T));
    uint64_t u = 0;
    std::memcpy(&u, &v, sizeof(T));
    for (size_t i = 0; i < sizeof(T); ++i) out[i] = uint8_t(u >> (8 * i));
    return out;
}

uint64_t ReadLittleEndian(const std::vector<uint8_t>& b, size_t n) {
    if (b.size() < n) throw std::runtime_error("property value too short for its type");
    uint64_t u = 0;
    for (size_t i = 0; i < n; ++i) u |= uint64_t(b[i]) << (8 * i);
    return u;
}

void AppendUtf16(std::vector<uint8_t>& out, std::u16string_view s) {
    for (char16_t c : s) {
        out.push_back(uint8_t(c & 0xFF));
        out.push_back(uint8_t(c >> 8));
    }
}

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

PropertyValue PropertyValue::Int16(uint32_t tag, int16_t v) { return {tag, LittleEndian(v)}; }
PropertyValue PropertyValue::Int32(uint32_t tag, int32_t v) { return {tag, LittleEndian(v)}; }
PropertyValue PropertyValue::Int64(uint32_t tag, int64_t v) { return {tag, LittleEndian(v)}; }
PropertyValue PropertyValue::Bool(uint32_t tag, bool v) {
    return {tag, LittleEndian<uint8_t>(v ? 1 : 0)};
}
PropertyValue PropertyValue::Double(uint32_t tag, double v) { return {tag, LittleEndian(v)}; }
PropertyValue PropertyValue::Time(uint32_t tag, uint64_t filetime) {
    return {tag, LittleEndian(filetime)};
}
PropertyValue PropertyValue::String(uint32_t tag, std::u16string_view text) {
    std::vector<uint8_t> out;
    out.reserve(text.size() * 2);
    AppendUtf16(out, text);
    return {tag, std::move(out)};
}
PropertyValue PropertyValue::StringUtf8(uint32_t tag, std::string_view utf8) {
    return String(tag, Utf8ToUtf16(utf8));
}
PropertyValue PropertyValue::Binary(uint32_t tag, std::span<const uint8_t> data) {
    return {tag, std::vector<uint8_t>(data.begin(), data.end())};
}
PropertyValue PropertyValue::Guid(uint32_t tag, std::span<const uint8_t, 16> guid) {
    return {tag, std::vector<uint8_t>(guid.begin(), guid.end())};
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
    v.streamSize_ = size;
    v.producer_ = std::move(producer);
    return v;
}

int32_t PropertyValue::asInt32() const { return int32_t(ReadLittleEndian(bytes_, 4)); }
int64_t PropertyValue::asInt64() const { return int64_t(ReadLittleEndian(bytes_, 8)); }
bool PropertyValue::asBool() const { return ReadLittleEndian(bytes_, 1) != 0; }
uint64_t PropertyValue::asTime() const { return ReadLittleEndian(bytes_, 8); }
std::u16string PropertyValue::asString() const {
    std::u16string s(bytes_.size() / 2, u'\0');
    for (size_t i = 0; i < s.size(); ++i) s[i] = char16_t(bytes_[2 * i] | (bytes_[2 * i + 1] << 8));
    return s;
}
std::string PropertyValue::asUtf8() const { return Utf16ToUtf8(asString()); }

std::u16string Utf8ToUtf16(std::string_view in) {
    std::u16string out;
    out.reserve(in.size());
    size_t i = 0;
    while (i < in.size()) {
        auto b0 = uint8_t(in[i]);
        uint32_t cp = 0xFFFD;
        size_t len = 1;
        auto cont = [&](size_t k) { return i + k < in.size() && (uint8_t(in[i + k]) & 0xC0) == 0x80; };
        if (b0 < 0x80) {
            cp = b0;
        } else if (b0 >= 0xC2 && b0 < 0xE0 && cont(1)) {
            cp = ((b0 & 0x1F) << 6) | (uint8_t(in[i + 1]) & 0x3F);
            len = 2;
        } else if (b0 >= 0xE0 && b0 < 0xF0 && cont(1) && cont(2)) {
            cp = ((b0 & 0x0F) << 12) | ((uint8_t(in[i + 1]) & 0x3F) << 6) | (uint8_t(in[i + 2]) & 0x3F);
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
            out.push_back(char16_t(0xD800 + (cp >> 10)));
            out.push_back(char16_t(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(char16_t(cp));
        }
        i += len;
    }
    return out;
}

std::string Utf16ToUtf8(std::u16string_view in) {
    std::string out;
    out.reserve(in.size());
    for (size_t i = 0; i < in.size(); ++i) {
        uint32_t cp = in[i];
        if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < in.size() && in[i + 1] >= 0xDC00 &&
            in[i + 1] < 0xE000) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (in[i + 1] - 0xDC00);
            ++i;
        }
        // Lone surrogates are written in the generalised form so nothing is lost.
        if (cp < 0x80) {
            out.push_back(char(cp));
        } else if (cp < 0x800) {
            out.push_back(char(0xC0 | (cp >> 6)));
            out.push_back(char(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(char(0xE0 | (cp >> 12)));
            out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(char(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(char(0xF0 | (cp >> 18)));
            out.push_back(char(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(char(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

}  // namespace pst

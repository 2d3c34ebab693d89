#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pst {

// Property types as the format numbers them.
enum PropType : uint16_t {
    kPtypInteger16 = 0x0002,
    kPtypInteger32 = 0x0003,
    kPtypFloating32 = 0x0004,
    kPtypFloating64 = 0x0005,
    kPtypCurrency = 0x0006,
    kPtypFloatingTime = 0x0007,
    kPtypErrorCode = 0x000A,
    kPtypBoolean = 0x000B,
    kPtypObject = 0x000D,
    kPtypInteger64 = 0x0014,
    kPtypString8 = 0x001E,
    kPtypString = 0x001F,
    kPtypTime = 0x0040,
    kPtypGuid = 0x0048,
    kPtypBinary = 0x0102,
    kPtypMultiple = 0x1000,  // flag: multi-valued form of the base type
    kPtypMultipleInteger32 = 0x1003,
    kPtypMultipleString = 0x101F,
    kPtypMultipleBinary = 0x1102,
};

constexpr uint32_t MakeTag(uint16_t id, uint16_t type) {
    return (uint32_t(id) << 16) | type;
}
constexpr uint16_t PropIdOf(uint32_t tag) {
    return uint16_t(tag >> 16);
}
constexpr uint16_t PropTypeOf(uint32_t tag) {
    return uint16_t(tag & 0xFFFF);
}

// A producer of a long byte stream that is never held in memory at once: it calls `sink` with
// successive chunks. It may be called more than once and must give the same bytes each time.
using ByteProducer = std::function<void(const std::function<void(std::span<const uint8_t>)>& sink)>;

// The bytes of a value: a view that compares with and converts to a byte vector.
class ValueBytes : public std::span<const uint8_t> {
  public:
    using std::span<const uint8_t>::span;
    ValueBytes(std::span<const uint8_t> s) : std::span<const uint8_t>(s) {}
    operator std::vector<uint8_t>() const { return {begin(), end()}; }
    friend bool operator==(ValueBytes a, ValueBytes b) {
        return std::equal(a.begin(), a.end(), b.begin(), b.end());
    }
};

// A property value in the format's own byte form: fixed types little-endian, PtypString as
// UTF-16LE without terminator, multi-valued types as the property context stores them.
// Large binary values may instead come from a producer (attachment data). Values of up to
// 16 bytes (numbers, flags, times, GUIDs: about half of a message's) are held in the object
// itself rather than in an allocation each; the view Bytes() gives lasts as long as the
// object, not past a move of it.
class PropertyValue {
  public:
    PropertyValue() = default;
    PropertyValue(uint32_t tag, std::vector<uint8_t> bytes) : tag_(tag), bytes_(std::move(bytes)) {}
    PropertyValue(uint32_t tag, std::span<const uint8_t> bytes);

    static PropertyValue Int16(uint32_t tag, int16_t v);
    static PropertyValue Int32(uint32_t tag, int32_t v);
    static PropertyValue Int64(uint32_t tag, int64_t v);
    static PropertyValue Bool(uint32_t tag, bool v);
    static PropertyValue Double(uint32_t tag, double v);
    static PropertyValue Time(uint32_t tag, uint64_t filetime);  // 100 ns since 1601-01-01 UTC
    static PropertyValue String(uint32_t tag, std::u16string_view text);
    static PropertyValue StringUtf8(uint32_t tag,
                                    std::string_view utf8);  // invalid bytes -> U+FFFD
    static PropertyValue Binary(uint32_t tag, std::span<const uint8_t> data);
    static PropertyValue Guid(uint32_t tag, std::span<const uint8_t, 16> guid);
    static PropertyValue MultiString(uint32_t tag, const std::vector<std::u16string>& values);
    static PropertyValue MultiBinary(uint32_t tag, const std::vector<std::vector<uint8_t>>& values);
    static PropertyValue Stream(uint32_t tag, uint64_t size, ByteProducer producer);

    uint32_t Tag() const { return tag_; }
    uint16_t Id() const { return PropIdOf(tag_); }
    uint16_t Type() const { return PropTypeOf(tag_); }
    bool IsStream() const { return stream_ != nullptr; }
    uint64_t size() const { return stream_ ? stream_->size : Bytes().size(); }
    ValueBytes Bytes() const {  // empty for a stream
        return inline_ ? ValueBytes(small_.data(), smallSize_) : ValueBytes(bytes_);
    }
    const ByteProducer& Producer() const;  // empty unless a stream

    int32_t AsInt32() const;
    int64_t AsInt64() const;
    bool AsBool() const;
    uint64_t AsTime() const;
    std::u16string AsString() const;
    std::string AsUtf8() const;

  private:
    static constexpr size_t kSmall = 16;

    uint32_t tag_ = 0;
    bool inline_ = false;
    uint8_t smallSize_ = 0;
    std::array<uint8_t, kSmall> small_{};
    std::vector<uint8_t> bytes_;
    // Streams are rare: kept out of line, and shared by copies (they never change), so that
    // a message's values are scanned and moved in less memory.
    struct StreamSource {
        uint64_t size;
        ByteProducer producer;
    };
    std::shared_ptr<const StreamSource> stream_;
};

// UTF-8 <-> UTF-16 without loss for valid text; invalid UTF-8 bytes become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view utf16);

}  // namespace pst

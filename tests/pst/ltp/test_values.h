#pragma once

#include <algorithm>
#include <array>
#include <filesystem>
#include <functional>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "pst/ltp/byte_io.h"
#include "pst/ltp/property.h"
#include "tests/support/temp_dir.h"

namespace pst::ltp::testing {

inline std::vector<uint8_t> Bytes(size_t n, uint8_t seed) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = uint8_t(i * 7 + seed);
    return v;
}

inline std::vector<uint8_t> Le(uint64_t v, size_t n) {
    std::vector<uint8_t> out;
    AppendLe(out, v, n);
    return out;
}

// One value of every type the PC stores, with edge sizes for the variable ones.
inline std::vector<PropertyValue> EveryType() {
    const std::array<uint8_t, 16> guid{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    return {
        PropertyValue::Int16(MakeTag(0x0001, kPtypInteger16), -2),
        PropertyValue::Int32(MakeTag(0x0002, kPtypInteger32), -123456),
        PropertyValue(MakeTag(0x0003, kPtypFloating32), Le(0x3F800000, 4)),
        PropertyValue::Double(MakeTag(0x0004, kPtypFloating64), 2.5),
        PropertyValue(MakeTag(0x0005, kPtypCurrency), Le(0x1122334455667788, 8)),
        PropertyValue(MakeTag(0x0006, kPtypFloatingTime), Le(0x4000000000000000, 8)),
        PropertyValue(MakeTag(0x0007, kPtypErrorCode), Le(0x80004005, 4)),
        PropertyValue::Bool(MakeTag(0x0008, kPtypBoolean), true),
        PropertyValue::Bool(MakeTag(0x0009, kPtypBoolean), false),
        PropertyValue::Int64(MakeTag(0x000A, kPtypInteger64), -1),
        PropertyValue::Time(MakeTag(0x000B, kPtypTime), 0x01D9000000000000),
        PropertyValue::Guid(MakeTag(0x000C, kPtypGuid), guid),
        PropertyValue::StringUtf8(MakeTag(0x000D, kPtypString), "Grüße, 世界 𝄞"),
        PropertyValue::String(MakeTag(0x000E, kPtypString), u""),
        PropertyValue(MakeTag(0x000F, kPtypString8), {'a', 'b', 'c'}),
        PropertyValue::Binary(MakeTag(0x0010, kPtypBinary), Bytes(3580, 1)),
        PropertyValue::Binary(MakeTag(0x0011, kPtypBinary), Bytes(3581, 2)),
        PropertyValue::Binary(MakeTag(0x0012, kPtypBinary), Bytes(100 * 1024, 3)),
        PropertyValue::Binary(MakeTag(0x0013, kPtypBinary), {}),
        PropertyValue(MakeTag(0x0014, kPtypObject), {0x21, 0x80, 0, 0, 0x10, 0, 0, 0}),
        PropertyValue::MultiString(MakeTag(0x0015, kPtypMultipleString), {u"one", u"", u"three"}),
        PropertyValue::MultiBinary(MakeTag(0x0016, kPtypMultipleBinary), {Bytes(5, 4), {}}),
        PropertyValue(MakeTag(0x0017, kPtypMultipleInteger32), Le(0x0000000200000001, 8)),
        PropertyValue(MakeTag(0x0018, kPtypMultiple | kPtypTime), Bytes(24, 5)),
        PropertyValue(MakeTag(0x0019, kPtypMultiple | kPtypGuid), Bytes(32, 6)),
        PropertyValue(MakeTag(0x001A, kPtypMultipleString), std::vector<uint8_t>{}),
    };
}

// A producer of `size` pseudo-random bytes that never holds more than one chunk.
inline ByteProducer Generator(uint64_t size, size_t chunk) {
    return [size, chunk](const std::function<void(std::span<const uint8_t>)>& sink) {
        std::vector<uint8_t> buf(chunk);
        uint32_t x = 12345;
        for (uint64_t done = 0; done < size;) {
            size_t n = size_t(std::min<uint64_t>(chunk, size - done));
            for (size_t i = 0; i < n; ++i) {
                x = x * 1103515245 + 12345;
                buf[i] = uint8_t(x >> 16);
            }
            sink(std::span<const uint8_t>(buf.data(), n));
            done += n;
        }
    };
}

// A unique folder for one test, removed with its contents.
using ScratchDir = testsupport::TempDir;

}  // namespace pst::ltp::testing

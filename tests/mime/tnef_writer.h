#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Builds TNEF streams for tests, attribute by attribute.
namespace mime::testing {

class TnefWriter {
  public:
    TnefWriter() {
        Put32(out_, 0x223E9F78);
        Put16(out_, 0x0001);
    }
    // An attribute: level 1 message, 2 attachment; `id` is the full attribute tag.
    TnefWriter& Attr(uint8_t level, uint32_t id, std::string_view data) {
        out_ += char(level);
        Put32(out_, id);
        Put32(out_, uint32_t(data.size()));
        out_.append(data);
        uint16_t sum = 0;
        for (char c : data) sum = uint16_t(sum + uint8_t(c));
        Put16(out_, sum);
        return *this;
    }
    const std::string& bytes() const { return out_; }

    // A property list of variable-size values: each (tag, value), plus a named Int32 property
    // that readers must step over.
    static std::string PropList(std::initializer_list<std::pair<uint32_t, std::string>> props) {
        std::string out;
        Put32(out, uint32_t(props.size() + 1));
        // Named property (id 0x8001, Int32) by LID.
        Put16(out, 0x0003);
        Put16(out, 0x8001);
        out.append(16, '\x11');
        Put32(out, 0);
        Put32(out, 0x8514);
        Put32(out, 7);
        for (const auto& [tag, value] : props) {
            Put16(out, uint16_t(tag & 0xFFFF));
            Put16(out, uint16_t(tag >> 16));
            Put32(out, 1);
            Put32(out, uint32_t(value.size()));
            out += value;
            while (out.size() % 4) out += '\0';
        }
        return out;
    }
    static std::string Utf16z(std::u16string_view s) {
        std::string out;
        for (char16_t c : s) {
            out += char(c & 0xFF);
            out += char(c >> 8);
        }
        out.append(2, '\0');
        return out;
    }
    static void Put16(std::string& s, uint16_t v) {
        s += char(v & 0xFF);
        s += char(v >> 8);
    }
    static void Put32(std::string& s, uint32_t v) {
        for (int i = 0; i < 4; ++i) s += char((v >> (8 * i)) & 0xFF);
    }

  private:
    std::string out_;
};

}  // namespace mime::testing

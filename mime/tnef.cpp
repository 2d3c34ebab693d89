#include "mime/tnef.h"

#include <algorithm>
#include <string_view>

#include "mime/charset.h"
#include "pst/ltp/property.h"

namespace mime {
namespace {

constexpr uint32_t kSignature = 0x223E9F78;
constexpr uint8_t kLevelAttachment = 2;
// Attribute ids (low 16 bits of the attribute tag).
constexpr uint16_t kAttBody = 0x800C;
constexpr uint16_t kAttAttachData = 0x800F;
constexpr uint16_t kAttAttachTitle = 0x8010;
constexpr uint16_t kAttAttachRendData = 0x9002;
constexpr uint16_t kAttMsgProps = 0x9003;
constexpr uint16_t kAttAttachment = 0x9005;
constexpr uint16_t kAttOemCodepage = 0x9007;

struct Reader {
    std::span<const uint8_t> d;
    size_t pos = 0;
    bool ok = true;

    bool need(size_t n) {
        if (!ok || n > d.size() - pos) ok = false;
        return ok;
    }
    uint32_t u32() {
        if (!need(4)) return 0;
        uint32_t v = d[pos] | (d[pos + 1] << 8) | (d[pos + 2] << 16) | (uint32_t(d[pos + 3]) << 24);
        pos += 4;
        return v;
    }
    uint16_t u16() {
        if (!need(2)) return 0;
        uint16_t v = uint16_t(d[pos] | (d[pos + 1] << 8));
        pos += 2;
        return v;
    }
    std::span<const uint8_t> bytes(size_t n) {
        if (!need(n)) return {};
        auto s = d.subspan(pos, n);
        pos += n;
        return s;
    }
    void pad4(size_t n) {
        size_t p = (4 - n % 4) % 4;
        if (need(p)) pos += p;
    }
};

std::string Utf16LeToUtf8(std::span<const uint8_t> b) {
    std::u16string s;
    for (size_t i = 0; i + 1 < b.size(); i += 2) s.push_back(char16_t(b[i] | (b[i + 1] << 8)));
    while (!s.empty() && s.back() == 0) s.pop_back();
    return pst::Utf16ToUtf8(s);
}

std::string EightBitToUtf8(std::span<const uint8_t> b, uint32_t codePage) {
    std::string_view s(reinterpret_cast<const char*>(b.data()), b.size());
    while (!s.empty() && s.back() == 0) s.remove_suffix(1);
    return DecodeToUtf8(s, codePage == 65001 ? "utf-8" : "windows-" + std::to_string(codePage));
}

// One MAPI property from a TNEF property list, values of the kinds the import uses.
struct TnefProp {
    uint32_t tag = 0;
    std::vector<std::span<const uint8_t>> values;  // for fixed types: the value's bytes
    uint32_t int32 = 0;
    bool named = false;
};

bool ReadPropList(std::span<const uint8_t> data, std::vector<TnefProp>& out) {
    Reader r{data};
    uint32_t count = r.u32();
    if (!r.ok || count > data.size() / 4) return false;
    for (uint32_t i = 0; i < count && r.ok; ++i) {
        TnefProp p;
        uint16_t type = r.u16();
        uint16_t id = r.u16();
        p.tag = (uint32_t(id) << 16) | type;
        p.named = id >= 0x8000;
        if (id >= 0x8000) {
            r.bytes(16);
            uint32_t kind = r.u32();
            if (kind == 0) {
                r.u32();
            } else {
                uint32_t len = r.u32();
                r.bytes(len);
                r.pad4(len);
            }
        }
        bool multi = (type & 0x1000) != 0;
        uint16_t base = type & 0x0FFF;
        uint32_t n = 1;
        bool variable = base == 0x001E || base == 0x001F || base == 0x0102 || base == 0x000D;
        if (multi || variable) n = r.u32();
        if (!r.ok || n > data.size()) return false;
        for (uint32_t k = 0; k < n && r.ok; ++k) {
            switch (base) {
                case 0x0002:
                case 0x0003:
                case 0x0004:
                case 0x000A:
                case 0x000B: {
                    size_t at = r.pos;
                    p.int32 = r.u32();
                    if (r.ok) p.values.push_back(data.subspan(at, 4));
                    break;
                }
                case 0x0005:
                case 0x0006:
                case 0x0007:
                case 0x0014:
                case 0x0040:
                    p.values.push_back(r.bytes(8));
                    break;
                case 0x0048:
                    p.values.push_back(r.bytes(16));
                    break;
                case 0x001E:
                case 0x001F:
                case 0x0102:
                case 0x000D: {
                    uint32_t len = r.u32();
                    auto v = r.bytes(len);
                    r.pad4(len);
                    if (r.ok) p.values.push_back(v);
                    break;
                }
                default:
                    return false;  // unknown type: the rest cannot be framed
            }
        }
        if (r.ok) out.push_back(std::move(p));
    }
    return r.ok;
}

// The property in the format's byte form; nullopt for kinds message content does not carry.
std::optional<pst::PropertyValue> ToPropertyValue(const TnefProp& p, uint32_t codePage) {
    uint16_t type = uint16_t(p.tag & 0xFFFF);
    uint16_t id = uint16_t(p.tag >> 16);
    // Identities in the sender's own store mean nothing in another one.
    bool storeBound = (id >= 0x0FF0 && id <= 0x0FFF) || id == 0x0E09 || id == 0x0E0A ||
                      id == 0x0E14 || (id >= 0x6600 && id <= 0x67FF);
    if (storeBound || p.named || (type & 0x1000) || p.values.size() != 1 || type == 0x000D)
        return std::nullopt;
    auto v = p.values[0];
    auto bytes = [&](size_t n) {
        return std::vector<uint8_t>(v.begin(), v.begin() + std::min(n, v.size()));
    };
    switch (type) {
        case 0x0002:
            return pst::PropertyValue(p.tag, bytes(2));
        case 0x000B:
            return pst::PropertyValue::Bool(p.tag, p.int32 != 0);
        case 0x001F: {
            size_t n = v.size() & ~size_t(1);
            while (n >= 2 && v[n - 1] == 0 && v[n - 2] == 0) n -= 2;
            return pst::PropertyValue(p.tag, bytes(n));
        }
        case 0x001E:
            return pst::PropertyValue::StringUtf8((p.tag & 0xFFFF0000) | 0x001F,
                                                  EightBitToUtf8(v, codePage));
        default:
            return pst::PropertyValue(p.tag, bytes(v.size()));
    }
}

std::string StringProp(const TnefProp& p, uint32_t codePage) {
    if (p.values.empty()) return {};
    return (p.tag & 0xFFFF) == 0x001F ? Utf16LeToUtf8(p.values[0])
                                      : EightBitToUtf8(p.values[0], codePage);
}

}  // namespace

std::optional<TnefContent> ParseTnef(std::span<const uint8_t> data, std::string* error, int depth) {
    Reader r{data};
    if (r.u32() != kSignature) {
        if (error) *error = "no TNEF signature";
        return std::nullopt;
    }
    r.u16();  // legacy key
    TnefContent out;
    uint32_t codePage = 1252;
    bool inAttachment = false;
    while (r.ok && r.pos < data.size()) {
        uint8_t level = 0;
        if (r.need(1)) level = data[r.pos++];
        uint32_t attr = r.u32();
        uint32_t len = r.u32();
        auto value = r.bytes(len);
        r.u16();  // checksum: not enforced, writers disagree on it for large attributes
        if (!r.ok) {
            if (error) *error = "TNEF attribute runs past the end of the stream";
            return std::nullopt;
        }
        uint16_t id = uint16_t(attr & 0xFFFF);
        if (level != kLevelAttachment) {
            if (id == kAttOemCodepage && value.size() >= 4) {
                codePage =
                    value[0] | (value[1] << 8) | (value[2] << 16) | (uint32_t(value[3]) << 24);
                if (codePage == 0) codePage = 1252;
            } else if (id == kAttBody) {
                out.body = EightBitToUtf8(value, codePage);
            } else if (id == kAttMsgProps) {
                std::vector<TnefProp> props;
                if (!ReadPropList(value, props)) {
                    if (error) *error = "TNEF message property list is corrupt";
                    return std::nullopt;
                }
                for (const auto& p : props) {
                    uint16_t pid = uint16_t(p.tag >> 16);
                    if (auto value = ToPropertyValue(p, codePage))
                        out.messageProps.push_back(std::move(*value));
                    if (pid == 0x1009 && !p.values.empty())
                        out.rtfCompressed.assign(p.values[0].begin(), p.values[0].end());
                    else if (pid == 0x1000 && out.body.empty())
                        out.body = StringProp(p, codePage);
                    else if (pid == 0x1013 && !p.values.empty())
                        out.html.assign(p.values[0].begin(), p.values[0].end());
                    else if (pid == 0x3FDE)
                        out.htmlCodePage = p.int32;
                }
            }
            continue;
        }
        if (id == kAttAttachRendData || !inAttachment) {
            out.attachments.emplace_back();
            inAttachment = true;
            if (id == kAttAttachRendData) continue;
        }
        TnefAttachment* current = &out.attachments.back();
        if (id == kAttAttachTitle) {
            if (current->name.empty()) current->name = EightBitToUtf8(value, codePage);
        } else if (id == kAttAttachData) {
            current->data.assign(value.begin(), value.end());
        } else if (id == kAttAttachment) {
            std::vector<TnefProp> props;
            if (!ReadPropList(value, props)) {
                if (error) *error = "TNEF attachment property list is corrupt";
                return std::nullopt;
            }
            for (const auto& p : props) {
                uint16_t pid = uint16_t(p.tag >> 16);
                if (pid == 0x3707) {
                    std::string longName = StringProp(p, codePage);
                    if (!longName.empty()) current->name = longName;
                } else if (pid == 0x370E) {
                    current->mimeType = StringProp(p, codePage);
                } else if (pid == 0x3712) {
                    current->contentId = StringProp(p, codePage);
                } else if (pid == 0x3701 && !p.values.empty()) {
                    bool object = (p.tag & 0xFFFF) == 0x000D;
                    auto v = p.values[0];
                    // An object value starts with the interface id of what it holds.
                    if (object && v.size() >= 16) v = v.subspan(16);
                    if (current->data.empty() || object) current->data.assign(v.begin(), v.end());
                    current->embeddedObject = object;
                    if (object && depth > 0) {
                        std::string nestedError;
                        if (auto nested = ParseTnef(v, &nestedError, depth - 1))
                            current->embedded = std::make_shared<TnefContent>(std::move(*nested));
                    }
                }
            }
        }
    }
    // Attachment records that held nothing at all (rendering only) are dropped.
    std::erase_if(out.attachments,
                  [](const TnefAttachment& a) { return a.name.empty() && a.data.empty(); });
    return out;
}

}  // namespace mime

#pragma once

#include <charconv>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace store {

// One message of an mbox file, as it travels through the message queue and Mail::Import in
// place of a file path: the mbox file's path, a NUL (which no path can hold, so no file is
// ever taken for one), then the ordinal, the byte offset of its "From " line, its length and
// the states its client kept (MboxItem::k* bits), in decimal.
struct MboxItem {
    static constexpr uint32_t kKnown = 1;  // the message carried a state; the bits below apply
    static constexpr uint32_t kRead = 2;
    static constexpr uint32_t kReplied = 4;
    static constexpr uint32_t kForwarded = 8;
    static constexpr uint32_t kFlagged = 16;
    static constexpr uint32_t kDeleted = 32;  // expunged by its client

    std::string path;
    uint64_t ordinal = 0;
    uint64_t offset = 0;
    uint64_t length = 0;
    uint32_t marks = 0;

    std::string Locator() const {
        return path + '\0' + std::to_string(ordinal) + ' ' + std::to_string(offset) + ' ' +
               std::to_string(length) + ' ' + std::to_string(marks);
    }
    // How reports name it.
    std::string Shown() const {
        return path + ", message " + std::to_string(ordinal) + " at byte " + std::to_string(offset);
    }

    static std::optional<MboxItem> Parse(std::string_view text) {
        const size_t nul = text.find('\0');
        if (nul == std::string_view::npos) return std::nullopt;
        MboxItem item;
        item.path = std::string(text.substr(0, nul));
        const char* p = text.data() + nul + 1;
        const char* end = text.data() + text.size();
        for (uint64_t* field : {&item.ordinal, &item.offset, &item.length}) {
            auto [next, ec] = std::from_chars(p, end, *field);
            if (ec != std::errc() || next == end || *next != ' ') return std::nullopt;
            p = next + 1;
        }
        auto [next, ec] = std::from_chars(p, end, item.marks);
        if (ec != std::errc() || next != end) return std::nullopt;
        return item;
    }
};

}  // namespace store

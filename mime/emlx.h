#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace mime {

// Apple Mail message file: a byte-count line, that many bytes of message, an XML property list.
struct EmlxLayout {
    uint64_t messageOffset = 0;
    uint64_t messageLength = 0;
    bool truncated = false;  // the file holds fewer bytes than the count line says
    std::optional<uint64_t> flags;
    std::optional<int64_t> dateReceived;  // Unix seconds
};

// Flag bits of the property list's `flags` value.
namespace emlx_flag {
inline constexpr uint64_t kRead = 1u << 0;
inline constexpr uint64_t kAnswered = 1u << 2;
inline constexpr uint64_t kFlagged = 1u << 4;
inline constexpr uint64_t kDraft = 1u << 6;
inline constexpr uint64_t kForwarded = 1u << 8;
}  // namespace emlx_flag

bool HasEmlxName(std::string_view path);
bool HasPartialEmlxName(std::string_view path);

// Reads the count line from the first bytes of the file; nullopt when there is none.
std::optional<EmlxLayout> ParseEmlxCountLine(std::string_view head, uint64_t fileSize);

// Fills flags and date-received from the property list text after the message.
void ParseEmlxPlist(std::string_view plist, EmlxLayout& layout);

// Where the stored payload of MIME part `partPath` ("2", "1.2") of a .partial.emlx lives:
// the single file in Attachments/<number>/<part>/ beside the Messages folder, or the older
// <number>.<part>.emlxpart next to the message. Empty when not found; `looked` names the place.
std::string FindPartialPayload(const std::string& emlxPath, const std::string& partPath,
                               std::string* looked);

}  // namespace mime

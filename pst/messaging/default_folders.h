#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace pst::messaging {

// The folders a mail profile's default store has. Outlook localises their names, so they are
// found through entry IDs and receive-folder rows, never by name.
enum class DefaultFolder {
    kInbox,
    kOutbox,
    kSentItems,
    kDeletedItems,
    kDrafts,
    kCalendar,
    kContacts,
    kJournal,
    kNotes,
    kTasks,
    kJunkEmail,
};

struct DefaultFolderInfo {
    DefaultFolder kind;
    const char* name;  // English display name used when creating it
    const char* containerClass;
    uint32_t storeTag;      // entry ID property on the store PC, or 0
    uint32_t inboxTag;      // entry ID property on the Inbox and root PCs, or 0
    int junkIndex;          // index in PidTagAdditionalRenEntryIds, or -1
    uint32_t validMaskBit;  // PidTagValidFolderMask bit, or 0
};

// All default folders, in the order ValidateIpmTree() creates them.
std::span<const DefaultFolderInfo> DefaultFolders();
const DefaultFolderInfo& DefaultFolderOf(DefaultFolder kind);

// PidTagValidFolderMask bits.
constexpr uint32_t kMaskIpmSubtree = 0x01;
constexpr uint32_t kMaskInbox = 0x02;
constexpr uint32_t kMaskOutbox = 0x04;
constexpr uint32_t kMaskWastebasket = 0x08;
constexpr uint32_t kMaskSentMail = 0x10;
constexpr uint32_t kMaskViews = 0x20;
constexpr uint32_t kMaskCommonViews = 0x40;
constexpr uint32_t kMaskFinder = 0x80;

// Index of Junk E-mail in PidTagAdditionalRenEntryIds (0..3 are the sync-issue folders).
constexpr int kJunkEmailRenIndex = 4;

}  // namespace pst::messaging

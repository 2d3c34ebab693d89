#include "pst/messaging/default_folders.h"

#include <array>

#include "pst/messaging/well_known.h"

namespace pst::messaging {

std::span<const DefaultFolderInfo> DefaultFolders() {
    static const std::array<DefaultFolderInfo, 11> folders{{
        {DefaultFolder::kInbox, "Inbox", "IPF.Note", 0, 0, -1, kMaskInbox},
        {DefaultFolder::kOutbox, "Outbox", "IPF.Note", tag::kIpmOutboxEntryId, 0, -1, kMaskOutbox},
        {DefaultFolder::kSentItems, "Sent Items", "IPF.Note", tag::kIpmSentMailEntryId, 0, -1,
         kMaskSentMail},
        {DefaultFolder::kDeletedItems, "Deleted Items", "IPF.Note", tag::kIpmWastebasketEntryId, 0,
         -1, kMaskWastebasket},
        {DefaultFolder::kDrafts, "Drafts", "IPF.Note", 0, tag::kIpmDraftsEntryId, -1, 0},
        {DefaultFolder::kCalendar, "Calendar", "IPF.Appointment", 0, tag::kIpmAppointmentEntryId,
         -1, 0},
        {DefaultFolder::kContacts, "Contacts", "IPF.Contact", 0, tag::kIpmContactEntryId, -1, 0},
        {DefaultFolder::kJournal, "Journal", "IPF.Journal", 0, tag::kIpmJournalEntryId, -1, 0},
        {DefaultFolder::kNotes, "Notes", "IPF.StickyNote", 0, tag::kIpmNoteEntryId, -1, 0},
        {DefaultFolder::kTasks, "Tasks", "IPF.Task", 0, tag::kIpmTaskEntryId, -1, 0},
        {DefaultFolder::kJunkEmail, "Junk E-mail", "IPF.Note", 0, 0, kJunkEmailRenIndex, 0},
    }};
    return folders;
}

const DefaultFolderInfo& DefaultFolderOf(DefaultFolder kind) {
    for (const auto& f : DefaultFolders())
        if (f.kind == kind) return f;
    return DefaultFolders().front();
}

}  // namespace pst::messaging

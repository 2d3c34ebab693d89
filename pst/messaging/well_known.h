#pragma once

#include <cstdint>

#include "pst/ltp/property.h"
#include "pst/ndb/types.h"

namespace pst::messaging {

// Fixed NIDs every store has.
namespace nid {
using ndb::Nid;
constexpr Nid kMessageStore = 0x21;
constexpr Nid kNameToIdMap = 0x61;
constexpr Nid kRootFolder = 0x122;
constexpr Nid kSearchManagementQueue = 0x1E1;
constexpr Nid kSearchActivityList = 0x201;
constexpr Nid kSearchDomainObject = 0x261;
constexpr Nid kHierarchyTemplate = 0x60D;
constexpr Nid kContentsTemplate = 0x60E;
constexpr Nid kAssocContentsTemplate = 0x60F;
constexpr Nid kSearchContentsTemplate = 0x610;
constexpr Nid kReceiveFolderTable = 0x62B;
constexpr Nid kOutgoingQueueTable = 0x64C;
constexpr Nid kAttachmentTemplate = 0x671;
constexpr Nid kRecipientTemplate = 0x692;
constexpr Nid kSpamSearchFolder = 0x2223;
constexpr Nid kSpamSearchUpdateQueue = 0x2226;
constexpr Nid kSpamSearchCriteria = 0x2227;
constexpr Nid kSpamSearchContents = 0x2230;
constexpr Nid kIpmSubtree = 0x8022;
constexpr Nid kSearchRoot = 0x8042;
constexpr Nid kDeletedItems = 0x8062;
constexpr Nid kCommonViews = 0x8082;

// Inside a message's subnode tree.
constexpr Nid kMessageRecipients = 0x692;
constexpr Nid kMessageAttachments = 0x671;

// A folder's tables share its NID index.
constexpr Nid HierarchyOf(Nid folder) {
    return ndb::MakeNid(ndb::kNidTypeHierarchyTable, ndb::NidIndexOf(folder));
}
constexpr Nid ContentsOf(Nid folder) {
    return ndb::MakeNid(ndb::kNidTypeContentsTable, ndb::NidIndexOf(folder));
}
constexpr Nid AssocContentsOf(Nid folder) {
    return ndb::MakeNid(ndb::kNidTypeAssocContentsTable, ndb::NidIndexOf(folder));
}
}  // namespace nid

// Property tags the layer reads or writes itself.
namespace tag {
constexpr uint32_t kRecordKey = 0x0FF90102;
constexpr uint32_t kDisplayName = 0x3001001F;
constexpr uint32_t kContentCount = 0x36020003;
constexpr uint32_t kContentUnreadCount = 0x36030003;
constexpr uint32_t kSubfolders = 0x360A000B;
constexpr uint32_t kContainerClass = 0x3613001F;
constexpr uint32_t kPstHiddenCount = 0x66350003;
constexpr uint32_t kPstHiddenUnread = 0x66360003;
constexpr uint32_t kLtpRowId = 0x67F20003;
constexpr uint32_t kLtpRowVer = 0x67F30003;

constexpr uint32_t kIpmSubtreeEntryId = 0x35E00102;
constexpr uint32_t kIpmOutboxEntryId = 0x35E20102;
constexpr uint32_t kIpmWastebasketEntryId = 0x35E30102;
constexpr uint32_t kIpmSentMailEntryId = 0x35E40102;
constexpr uint32_t kViewsEntryId = 0x35E50102;
constexpr uint32_t kCommonViewsEntryId = 0x35E60102;
constexpr uint32_t kFinderEntryId = 0x35E70102;
constexpr uint32_t kValidFolderMask = 0x35DF0003;
constexpr uint32_t kPstPassword = 0x67FF0003;
constexpr uint32_t kIpmAppointmentEntryId = 0x36D00102;
constexpr uint32_t kIpmContactEntryId = 0x36D10102;
constexpr uint32_t kIpmJournalEntryId = 0x36D20102;
constexpr uint32_t kIpmNoteEntryId = 0x36D30102;
constexpr uint32_t kIpmTaskEntryId = 0x36D40102;
constexpr uint32_t kIpmDraftsEntryId = 0x36D70102;
constexpr uint32_t kAdditionalRenEntryIds = 0x36D81102;

constexpr uint32_t kMessageClass = 0x001A001F;
constexpr uint32_t kMessageFlags = 0x0E070003;
constexpr uint32_t kMessageSize = 0x0E080003;
constexpr uint32_t kMessageStatus = 0x0E170003;
constexpr uint32_t kCreationTime = 0x30070040;
constexpr uint32_t kLastModificationTime = 0x30080040;
constexpr uint32_t kSearchKey = 0x300B0102;
constexpr uint32_t kSubject = 0x0037001F;
constexpr uint32_t kSubjectPrefix = 0x003D001F;
constexpr uint32_t kBody = 0x1000001F;
constexpr uint32_t kClientSubmitTime = 0x00390040;
constexpr uint32_t kPstBodyPrefix = 0x6619001F;
constexpr uint32_t kConversationIndex = 0x00710102;
constexpr uint32_t kConversationIndexTracking = 0x3016000B;
constexpr uint32_t kConversationId = 0x30130102;
constexpr uint32_t kMessageCodepage = 0x3FFD0003;
constexpr uint32_t kInternetCodepage = 0x3FDE0003;
constexpr uint32_t kHtml = 0x10130102;
constexpr uint32_t kMessageLocaleId = 0x3FF10003;
constexpr uint32_t kChangeKey = 0x65E20102;
constexpr uint32_t kPredecessorChangeList = 0x65E30102;

constexpr uint32_t kRecipientType = 0x0C150003;

constexpr uint32_t kAttachSize = 0x0E200003;
constexpr uint32_t kAttachDataBinary = 0x37010102;
constexpr uint32_t kAttachDataObject = 0x3701000D;
constexpr uint32_t kAttachFilename = 0x3704001F;
constexpr uint32_t kAttachMethod = 0x37050003;
constexpr uint32_t kRenderingPosition = 0x370B0003;

constexpr uint32_t kReceiveFolderClass = 0x001A001F;
constexpr uint32_t kReceiveFolderNid = 0x66050003;
}  // namespace tag

// Search update types (the wSUDType of a queue entry).
constexpr uint16_t kSearchUpdateMessageAdded = 0x0001;
constexpr uint16_t kSearchUpdateFolderAdded = 0x0005;

// PidTagMessageFlags bits.
constexpr uint32_t kMsgFlagRead = 0x01;
constexpr uint32_t kMsgFlagHasAttach = 0x10;

// PidTagAttachMethod values.
constexpr uint32_t kAttachByValue = 1;
constexpr uint32_t kAttachEmbeddedMessage = 5;

}  // namespace pst::messaging

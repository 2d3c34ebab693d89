#pragma once

#include <array>
#include <cstdint>

// Property tags the message import writes (0xIIIITTTT: property id, property type).
namespace mime::tag {

// Message
inline constexpr uint32_t kImportance = 0x00170003;
inline constexpr uint32_t kMessageClass = 0x001A001F;
inline constexpr uint32_t kOriginatorDeliveryReportRequested = 0x0023000B;
inline constexpr uint32_t kPriority = 0x00260003;
inline constexpr uint32_t kReadReceiptRequested = 0x0029000B;
inline constexpr uint32_t kSensitivity = 0x00360003;
inline constexpr uint32_t kSubject = 0x0037001F;
inline constexpr uint32_t kClientSubmitTime = 0x00390040;
inline constexpr uint32_t kSentRepresentingSearchKey = 0x003B0102;
inline constexpr uint32_t kSubjectPrefix = 0x003D001F;
inline constexpr uint32_t kSentRepresentingEntryId = 0x00410102;
inline constexpr uint32_t kSentRepresentingName = 0x0042001F;
inline constexpr uint32_t kReplyRecipientEntries = 0x004F0102;
inline constexpr uint32_t kReplyRecipientNames = 0x0050001F;
inline constexpr uint32_t kMessageToMe = 0x0057000B;
inline constexpr uint32_t kMessageCcMe = 0x0058000B;
inline constexpr uint32_t kSentRepresentingAddrType = 0x0064001F;
inline constexpr uint32_t kSentRepresentingEmailAddress = 0x0065001F;
inline constexpr uint32_t kConversationTopic = 0x0070001F;
inline constexpr uint32_t kConversationIndex = 0x00710102;
inline constexpr uint32_t kTransportMessageHeaders = 0x007D001F;
inline constexpr uint32_t kSenderEntryId = 0x0C190102;
inline constexpr uint32_t kSenderName = 0x0C1A001F;
inline constexpr uint32_t kSenderSearchKey = 0x0C1D0102;
inline constexpr uint32_t kSenderAddrType = 0x0C1E001F;
inline constexpr uint32_t kSenderEmailAddress = 0x0C1F001F;
inline constexpr uint32_t kDisplayBcc = 0x0E02001F;
inline constexpr uint32_t kDisplayCc = 0x0E03001F;
inline constexpr uint32_t kDisplayTo = 0x0E04001F;
inline constexpr uint32_t kMessageDeliveryTime = 0x0E060040;
inline constexpr uint32_t kMessageFlags = 0x0E070003;
inline constexpr uint32_t kMessageSize = 0x0E080003;
inline constexpr uint32_t kMessageStatus = 0x0E170003;
inline constexpr uint32_t kHasAttach = 0x0E1B000B;
inline constexpr uint32_t kNormalizedSubject = 0x0E1D001F;
inline constexpr uint32_t kRtfInSync = 0x0E1F000B;
inline constexpr uint32_t kBody = 0x1000001F;
inline constexpr uint32_t kRtfCompressed = 0x10090102;
inline constexpr uint32_t kHtml = 0x10130102;
inline constexpr uint32_t kNativeBodyInfo = 0x10160003;
inline constexpr uint32_t kInternetMessageId = 0x1035001F;
inline constexpr uint32_t kInternetReferences = 0x1039001F;
inline constexpr uint32_t kInReplyToId = 0x1042001F;
inline constexpr uint32_t kIconIndex = 0x10800003;
inline constexpr uint32_t kLastVerbExecuted = 0x10810003;
inline constexpr uint32_t kLastVerbExecutionTime = 0x10820040;
inline constexpr uint32_t kFlagStatus = 0x10900003;
inline constexpr uint32_t kFollowupIcon = 0x10950003;
inline constexpr uint32_t kCreationTime = 0x30070040;
inline constexpr uint32_t kLastModificationTime = 0x30080040;
inline constexpr uint32_t kSearchKey = 0x300B0102;
inline constexpr uint32_t kInternetCodepage = 0x3FDE0003;
inline constexpr uint32_t kSenderSmtpAddress = 0x5D01001F;

// Reports (delivery and read notifications)
inline constexpr uint32_t kParentKey = 0x00250102;
inline constexpr uint32_t kReportTime = 0x00320040;
inline constexpr uint32_t kReceivedByName = 0x0040001F;
inline constexpr uint32_t kOriginalSubject = 0x0049001F;
inline constexpr uint32_t kOriginalSubmitTime = 0x004E0040;
inline constexpr uint32_t kOriginalDisplayCc = 0x0073001F;
inline constexpr uint32_t kOriginalDisplayTo = 0x0074001F;
inline constexpr uint32_t kReceivedByAddrType = 0x0075001F;
inline constexpr uint32_t kReceivedByEmailAddress = 0x0076001F;
inline constexpr uint32_t kReportDisposition = 0x0080001F;
inline constexpr uint32_t kReportDispositionMode = 0x0081001F;
inline constexpr uint32_t kReportText = 0x1001001F;
inline constexpr uint32_t kOriginalMessageId = 0x1046001F;
inline constexpr uint32_t kReceivedBySmtpAddress = 0x5D07001F;
inline constexpr uint32_t kReportingMta = 0x6820001F;
// ... on the recipient rows of a delivery report
inline constexpr uint32_t kDeliverTime = 0x00100040;
inline constexpr uint32_t kNdrReasonCode = 0x0C040003;
inline constexpr uint32_t kNdrDiagCode = 0x0C050003;
inline constexpr uint32_t kSupplementaryInfo = 0x0C1B001F;
inline constexpr uint32_t kNdrStatusCode = 0x0C200003;
inline constexpr uint32_t kRemoteMta = 0x0C21001F;

// Meetings
inline constexpr uint32_t kStartDate = 0x00600040;
inline constexpr uint32_t kEndDate = 0x00610040;
inline constexpr uint32_t kResponseRequested = 0x0063000B;
inline constexpr uint32_t kSentRepresentingSmtpAddress = 0x5D02001F;

// Recipient rows
inline constexpr uint32_t kRecipientType = 0x0C150003;
inline constexpr uint32_t kResponsibility = 0x0E0F000B;
inline constexpr uint32_t kRecordKey = 0x0FF90102;
inline constexpr uint32_t kObjectType = 0x0FFE0003;
inline constexpr uint32_t kEntryId = 0x0FFF0102;
inline constexpr uint32_t kRowId = 0x30000003;
inline constexpr uint32_t kDisplayName = 0x3001001F;
inline constexpr uint32_t kAddrType = 0x3002001F;
inline constexpr uint32_t kEmailAddress = 0x3003001F;
inline constexpr uint32_t kDisplayType = 0x39000003;
inline constexpr uint32_t kSmtpAddress = 0x39FE001F;
inline constexpr uint32_t kTransmittableDisplayName = 0x3A20001F;
inline constexpr uint32_t kSendRichInfo = 0x3A40000B;
inline constexpr uint32_t kRecipientFlags = 0x5FFD0003;

// Attachments
inline constexpr uint32_t kAttachSize = 0x0E200003;
inline constexpr uint32_t kAttachNum = 0x0E210003;
inline constexpr uint32_t kAttachDataBinary = 0x37010102;
inline constexpr uint32_t kAttachDataObject = 0x3701000D;
inline constexpr uint32_t kAttachExtension = 0x3703001F;
inline constexpr uint32_t kAttachFilename = 0x3704001F;
inline constexpr uint32_t kAttachMethod = 0x37050003;
inline constexpr uint32_t kAttachLongFilename = 0x3707001F;
inline constexpr uint32_t kRenderingPosition = 0x370B0003;
inline constexpr uint32_t kAttachMimeTag = 0x370E001F;
inline constexpr uint32_t kAttachContentBase = 0x3711001F;
inline constexpr uint32_t kAttachContentId = 0x3712001F;
inline constexpr uint32_t kAttachContentLocation = 0x3713001F;
inline constexpr uint32_t kAttachFlags = 0x37140003;
inline constexpr uint32_t kTextAttachmentCharset = 0x371B001F;
inline constexpr uint32_t kAttachmentHidden = 0x7FFE000B;

// Values
inline constexpr int32_t kMfRead = 0x01;
inline constexpr int32_t kMfUnsent = 0x08;
inline constexpr int32_t kMfHasAttach = 0x10;
inline constexpr int32_t kAttachByValue = 1;
inline constexpr int32_t kAttachEmbeddedMessage = 5;
inline constexpr int32_t kAttachFlagRenderedInBody = 0x4;

// Property sets of named properties (GUIDs in their stored little-endian byte order).
inline constexpr std::array<uint8_t, 16> kPsInternetHeaders = {
    0x86, 0x03, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
inline constexpr std::array<uint8_t, 16> kPsetidCommon = {
    0x08, 0x20, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
inline constexpr std::array<uint8_t, 16> kPsetidAppointment = {
    0x02, 0x20, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
// {6ED8DA90-450B-101B-98DA-00AA003F1305}
inline constexpr std::array<uint8_t, 16> kPsetidMeeting = {
    0x90, 0xDA, 0xD8, 0x6E, 0x0B, 0x45, 0x1B, 0x10, 0x98, 0xDA, 0x00, 0xAA, 0x00, 0x3F, 0x13, 0x05};
inline constexpr uint32_t kLidSmartNoAttach = 0x8514;
inline constexpr uint32_t kLidFlagRequest = 0x8530;

}  // namespace mime::tag

#pragma once

#include <gmime/gmime.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "pst/messaging/message_content.h"

namespace mime {

// One block of "Name: value" fields of a delivery-status or disposition-notification body:
// names in lower case, values unfolded and trimmed.
using ReportFields = std::vector<std::pair<std::string, std::string>>;
// The blocks of such a body, split at empty lines (the per-message block first).
std::vector<ReportFields> ReadReportFields(std::string_view text);

// The number an RFC 3463 status code ("5.1.1") stands for in a delivery report's recipient
// row: kind * 100 + subject * 10 + detail; nullopt when the text holds no such code.
std::optional<int32_t> NdrStatusCode(std::string_view status);

// A delivery report (multipart/report; report-type=delivery-status) or read report
// (disposition-notification) at `root`: gives the message its report class
// (REPORT.IPM.Note.NDR, .DR, .Delayed.DR, .IPNRN, .IPNNRN, ...) and the properties read from the
// report's parts: the reported recipients as the recipient rows of a delivery report, with
// their status; the reporting agent; the original message's subject, time, recipients and ID;
// the report time (`sentTime`, Unix seconds). The parts themselves stay attachments. Returns
// the class set, or "" when `root` is no report this can read (nothing is changed then).
std::string ApplyReport(GMimeObject* root, const std::string& messageClass, int64_t sentTime,
                        pst::messaging::MessageContent& out);

}  // namespace mime

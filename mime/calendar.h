#pragma once

#include <gmime/gmime.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "pst/messaging/message_content.h"

namespace mime {

// What a meeting message needs of its iCalendar (RFC 5545/5546) invitation: the method and
// the first event. Times are Unix seconds (UTC).
struct CalendarEvent {
    std::string method;  // upper case: REQUEST, CANCEL, REPLY, ...
    std::string uid;
    std::string location;
    std::optional<int64_t> start, end;
    bool allDay = false;  // DTSTART is a date: the times are midnight UTC
    bool recurring = false;
    int32_t sequence = 0;
    std::optional<int64_t> stamp;  // DTSTAMP
    std::string partStatus;        // the first attendee's PARTSTAT (a reply's answer)
    bool responseRequested = false;
    std::string busyStatus;  // X-MICROSOFT-CDO-INTENDEDSTATUS / -BUSYSTATUS, else from TRANSP
};

// Reads the method and first event of iCalendar text. Dates with a TZID are converted through
// the VTIMEZONE of the same text (UTC, GMT and floating times are taken as UTC); an event whose
// start cannot be read has no start. `methodParameter` is the Content-Type's method, used
// when the text has none. Never throws on bad data; nullopt when there is no event.
std::optional<CalendarEvent> ReadCalendar(std::string_view text,
                                          std::string_view methodParameter = {});

// PidLidGlobalObjectId for an iCalendar UID: the UID's own bytes when it is an encoded one,
// otherwise the "vCal-Uid" form.
std::vector<uint8_t> GlobalObjectId(std::string_view uid);

// A meeting request, cancellation or reply carried as a text/calendar part anywhere in the
// message (outside attached messages): gives the message its meeting class
// (IPM.Schedule.Meeting.Request, .Canceled, .Resp.Pos/.Neg/.Tent) and the appointment and
// meeting properties the event gives. The part stays an attachment. Returns the class set, or
// "" when there is no such invitation with a readable start (nothing is changed then).
std::string ApplyCalendar(GMimeObject* root, pst::messaging::MessageContent& out);

}  // namespace mime

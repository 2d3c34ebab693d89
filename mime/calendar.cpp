#include "mime/calendar.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <vector>

#include "fs/text.h"
#include "mime/charset.h"
#include "mime/gmime_support.h"
#include "mime/header_rules.h"
#include "mime/tags.h"

namespace mime {
namespace {

using pst::PropertyValue;
using pst::messaging::MessageContent;
using pst::messaging::NamedValue;

// Invitations are a few kilobytes; larger calendar parts are left as they are.
constexpr uint64_t kMaxCalendarText = 1 << 20;
constexpr size_t kMaxNesting = 16;

struct Line {
    std::string name;                                         // upper case
    std::vector<std::pair<std::string, std::string>> params;  // names upper case
    std::string value;

    std::string Param(std::string_view key) const {
        for (const auto& [k, v] : params)
            if (k == key) return v;
        return {};
    }
};

std::string Upper(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = char(std::toupper(uint8_t(c)));
    return out;
}

// Content lines with folding undone (a line starting with a blank continues the last one).
std::vector<std::string> ContentLines(std::string_view text) {
    std::vector<std::string> lines;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t nl = text.find('\n', pos);
        std::string_view line = text.substr(pos, nl == std::string_view::npos ? nl : nl - pos);
        pos = nl == std::string_view::npos ? text.size() : nl + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (!line.empty() && (line.front() == ' ' || line.front() == '\t') && !lines.empty())
            lines.back().append(line.substr(1));
        else if (!line.empty())
            lines.emplace_back(line);
    }
    return lines;
}

std::optional<Line> ParseLine(std::string_view s) {
    Line line;
    size_t i = 0;
    while (i < s.size() && s[i] != ';' && s[i] != ':') ++i;
    line.name = Upper(s.substr(0, i));
    while (i < s.size() && s[i] == ';') {
        size_t eq = s.find('=', i + 1);
        if (eq == std::string_view::npos) return std::nullopt;
        std::string key = Upper(s.substr(i + 1, eq - i - 1));
        std::string value;
        i = eq + 1;
        // A parameter value may be a list; quoted parts may hold ';' and ':'.
        while (i < s.size() && s[i] != ';' && s[i] != ':') {
            if (s[i] == '"') {
                size_t close = s.find('"', i + 1);
                if (close == std::string_view::npos) return std::nullopt;
                value.append(s.substr(i + 1, close - i - 1));
                i = close + 1;
            } else {
                value.push_back(s[i++]);
            }
        }
        line.params.emplace_back(std::move(key), std::move(value));
    }
    if (i >= s.size() || s[i] != ':' || line.name.empty()) return std::nullopt;
    line.value = std::string(s.substr(i + 1));
    return line;
}

// TEXT values: \n, \N, \, \; and \\ escapes.
std::string UnescapeText(std::string_view s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 1 < s.size()) {
            char n = s[++i];
            out.push_back(n == 'n' || n == 'N' ? '\n' : n);
        } else {
            out.push_back(s[i]);
        }
    }
    return out;
}

// Days since 1970-01-01 of a proleptic Gregorian date.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = unsigned(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + int64_t(doe) - 719468;
}

int DaysInMonth(int64_t y, int m) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    return m == 2 && leap ? 29 : kDays[m - 1];
}

// 0 Sunday .. 6 Saturday.
int Weekday(int64_t days) {
    return int(((days % 7) + 11) % 7);
}

// A DATE or DATE-TIME value as seconds of its wall-clock time (read as if it were UTC).
struct WallTime {
    int64_t seconds = 0;
    int year = 0;
    bool dateOnly = false;
    bool utc = false;
};

std::optional<WallTime> ParseDateTime(std::string_view v) {
    auto digits = [&](size_t at, size_t n) -> std::optional<int> {
        if (at + n > v.size()) return std::nullopt;
        int x = 0;
        for (size_t i = at; i < at + n; ++i) {
            if (!std::isdigit(uint8_t(v[i]))) return std::nullopt;
            x = x * 10 + (v[i] - '0');
        }
        return x;
    };
    auto y = digits(0, 4), m = digits(4, 2), d = digits(6, 2);
    if (!y || !m || !d || *m < 1 || *m > 12 || *d < 1 || *d > DaysInMonth(*y, *m))
        return std::nullopt;
    WallTime t;
    t.year = *y;
    t.seconds = DaysFromCivil(*y, unsigned(*m), unsigned(*d)) * 86400;
    if (v.size() == 8) {
        t.dateOnly = true;
        return t;
    }
    auto hh = digits(9, 2), mm = digits(11, 2), ss = digits(13, 2);
    if (v.size() < 15 || v[8] != 'T' || !hh || !mm || !ss || *hh > 23 || *mm > 59 || *ss > 60)
        return std::nullopt;
    t.seconds += *hh * 3600 + *mm * 60 + std::min(*ss, 59);
    t.utc = v.size() == 16 && (v[15] == 'Z' || v[15] == 'z');
    if (v.size() > 15 && !t.utc) return std::nullopt;
    return t;
}

// "+0100", "-0530", "+013000" as seconds.
std::optional<int64_t> ParseOffset(std::string_view v) {
    if (v.size() != 5 && v.size() != 7) return std::nullopt;
    if (v[0] != '+' && v[0] != '-') return std::nullopt;
    int64_t x[3] = {0, 0, 0};
    for (size_t k = 0; k * 2 + 1 < v.size(); ++k) {
        if (!std::isdigit(uint8_t(v[k * 2 + 1])) || !std::isdigit(uint8_t(v[k * 2 + 2])))
            return std::nullopt;
        x[k] = (v[k * 2 + 1] - '0') * 10 + (v[k * 2 + 2] - '0');
    }
    const int64_t s = x[0] * 3600 + x[1] * 60 + x[2];
    return v[0] == '-' ? -s : s;
}

// "PT1H30M", "P1D", "-PT15M", "P2W" as seconds.
std::optional<int64_t> ParseDuration(std::string_view v) {
    bool negative = false;
    size_t i = 0;
    if (i < v.size() && (v[i] == '+' || v[i] == '-')) negative = v[i++] == '-';
    if (i >= v.size() || v[i++] != 'P') return std::nullopt;
    int64_t total = 0, number = 0;
    bool any = false, inTime = false, haveNumber = false;
    for (; i < v.size(); ++i) {
        char c = v[i];
        if (std::isdigit(uint8_t(c))) {
            if (number > 1000000) return std::nullopt;
            number = number * 10 + (c - '0');
            haveNumber = true;
            continue;
        }
        if (c == 'T') {
            inTime = true;
            continue;
        }
        if (!haveNumber) return std::nullopt;
        int64_t unit = c == 'W'             ? 604800
                       : c == 'D'           ? 86400
                       : c == 'H' && inTime ? 3600
                       : c == 'M' && inTime ? 60
                       : c == 'S' && inTime ? 1
                                            : 0;
        if (!unit) return std::nullopt;
        total += number * unit;
        number = 0;
        haveNumber = false;
        any = true;
    }
    if (!any || haveNumber) return std::nullopt;
    return negative ? -total : total;
}

// One STANDARD or DAYLIGHT observance of a VTIMEZONE.
struct Observance {
    std::optional<WallTime> start;
    int64_t offsetTo = 0;
    bool offsetKnown = false;
    int byMonth = 0;               // yearly rule: the month ...
    int byDayN = 0;                // ... the n-th (negative: from the end) ...
    int byWeekday = -1;            // ... weekday
    std::optional<int64_t> until;  // wall seconds
    bool hasRule = false;
    bool ruleUsable = false;
};

void ReadRule(std::string_view rule, Observance& o) {
    o.hasRule = true;
    std::string freq;
    size_t pos = 0;
    while (pos <= rule.size()) {
        size_t semi = rule.find(';', pos);
        std::string_view part =
            rule.substr(pos, semi == std::string_view::npos ? semi : semi - pos);
        pos = semi == std::string_view::npos ? rule.size() + 1 : semi + 1;
        const size_t eq = part.find('=');
        if (eq == std::string_view::npos) continue;
        const std::string key = Upper(part.substr(0, eq));
        const std::string value = Upper(part.substr(eq + 1));
        if (key == "FREQ") {
            freq = value;
        } else if (key == "BYMONTH") {
            o.byMonth = std::atoi(value.c_str());
        } else if (key == "UNTIL") {
            if (auto t = ParseDateTime(value)) o.until = t->seconds;
        } else if (key == "BYDAY" && value.size() >= 2) {
            static const char* kDays[] = {"SU", "MO", "TU", "WE", "TH", "FR", "SA"};
            const std::string day = value.substr(value.size() - 2);
            for (int d = 0; d < 7; ++d)
                if (day == kDays[d]) o.byWeekday = d;
            const std::string n = value.substr(0, value.size() - 2);
            o.byDayN = n.empty() ? 1 : std::atoi(n.c_str());
        }
    }
    o.ruleUsable = freq == "YEARLY" && o.byMonth >= 1 && o.byMonth <= 12 && o.byWeekday >= 0 &&
                   o.byDayN != 0 && o.byDayN >= -5 && o.byDayN <= 5;
}

// When a yearly observance begins in `year` (wall time), if the rule gives a day that year.
std::optional<int64_t> Onset(const Observance& o, int64_t year) {
    const int64_t first = DaysFromCivil(year, unsigned(o.byMonth), 1);
    const int last = DaysInMonth(year, o.byMonth);
    int day;
    if (o.byDayN > 0) {
        day = 1 + (o.byWeekday - Weekday(first) + 7) % 7 + (o.byDayN - 1) * 7;
    } else {
        const int lastWeekday = Weekday(first + last - 1);
        day = last - (lastWeekday - o.byWeekday + 7) % 7 + (o.byDayN + 1) * 7;
    }
    // "5SU" is read as the last Sunday in a month without a fifth, as Windows zones mean it.
    if (o.byDayN == 5 && day > last) day -= 7;
    if (day < 1 || day > last) return std::nullopt;
    return (first + day - 1) * 86400 + ((o.start->seconds % 86400) + 86400) % 86400;
}

using TimeZones = std::map<std::string, std::vector<Observance>>;

// UTC seconds of a wall time in the named zone; nullopt when the zone is not described.
std::optional<int64_t> ToUtc(const WallTime& t, const std::string& tzid, const TimeZones& zones) {
    if (t.utc || tzid.empty()) return t.seconds;
    const std::string upper = Upper(tzid);
    if (upper == "UTC" || upper == "GMT" || upper == "Z" || upper == "ETC/UTC") return t.seconds;
    auto zone = zones.find(tzid);
    if (zone == zones.end() || zone->second.empty()) return std::nullopt;
    const Observance* best = nullptr;
    int64_t bestOnset = 0;
    for (const Observance& o : zone->second) {
        if (!o.start || !o.offsetKnown) continue;
        std::vector<int64_t> onsets;
        if (o.hasRule && o.ruleUsable) {
            for (int64_t y : {int64_t(t.year), int64_t(t.year) - 1})
                if (y >= o.start->year)
                    if (auto at = Onset(o, y); at && (!o.until || *at <= *o.until))
                        onsets.push_back(*at);
        } else if (!o.hasRule) {
            onsets.push_back(o.start->seconds);
        }
        for (int64_t at : onsets)
            if (at <= t.seconds && (!best || at > bestOnset)) {
                best = &o;
                bestOnset = at;
            }
    }
    if (!best) {
        // Before every onset the zone describes: its first observance.
        for (const Observance& o : zone->second)
            if (o.offsetKnown &&
                (!best || (o.start && best->start && o.start->seconds < best->start->seconds)))
                best = &o;
    }
    if (!best) return std::nullopt;
    return t.seconds - best->offsetTo;
}

std::optional<int64_t> EventTime(const Line& line, const TimeZones& zones, bool* dateOnly) {
    auto t = ParseDateTime(fs::Trim(line.value));
    if (!t) return std::nullopt;
    if (dateOnly) *dateOnly = t->dateOnly;
    if (t->dateOnly) return t->seconds;
    return ToUtc(*t, line.Param("TZID"), zones);
}

std::vector<uint8_t> HexBytes(std::string_view hex) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(uint8_t(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
    return out;
}

void SetNamed(MessageContent& out, const std::array<uint8_t, 16>& set, uint32_t lid,
              PropertyValue value) {
    NamedValue nv;
    nv.name.guid = set;
    nv.name.name = lid;
    nv.value = std::move(value);
    out.props.named.push_back(std::move(nv));
}

GMimePart* FindCalendarPart(GMimeObject* object, int depth) {
    if (!object || depth > 8) return nullptr;
    if (GMIME_IS_MULTIPART(object)) {
        auto* mp = GMIME_MULTIPART(object);
        for (int i = 0; i < g_mime_multipart_get_count(mp); ++i)
            if (GMimePart* found = FindCalendarPart(g_mime_multipart_get_part(mp, i), depth + 1))
                return found;
        return nullptr;
    }
    if (GMIME_IS_PART(object) && IsType(object, "text", "calendar")) return GMIME_PART(object);
    return nullptr;
}

}  // namespace

std::optional<CalendarEvent> ReadCalendar(std::string_view text, std::string_view methodParameter) {
    if (text.size() > kMaxCalendarText) return std::nullopt;
    CalendarEvent event;
    std::vector<std::string> stack;
    TimeZones zones;
    std::string zoneId;
    std::vector<Observance> observances;
    std::vector<Line> eventLines;
    bool eventSeen = false, inFirstEvent = false;
    for (const std::string& raw : ContentLines(text)) {
        auto line = ParseLine(raw);
        if (!line) continue;
        if (line->name == "BEGIN") {
            if (stack.size() >= kMaxNesting) return std::nullopt;
            stack.push_back(Upper(fs::Trim(line->value)));
            if (stack.back() == "VEVENT" && stack.size() == 2 && !eventSeen)
                eventSeen = inFirstEvent = true;
            if (stack.back() == "VTIMEZONE") {
                zoneId.clear();
                observances.clear();
            }
            if ((stack.back() == "STANDARD" || stack.back() == "DAYLIGHT") && stack.size() >= 2 &&
                stack[stack.size() - 2] == "VTIMEZONE")
                observances.emplace_back();
            continue;
        }
        if (line->name == "END") {
            if (stack.empty()) continue;
            if (stack.back() == "VEVENT") inFirstEvent = false;
            if (stack.back() == "VTIMEZONE" && !zoneId.empty()) zones[zoneId] = observances;
            stack.pop_back();
            continue;
        }
        if (stack.empty()) continue;
        const std::string& in = stack.back();
        if (in == "VCALENDAR" && line->name == "METHOD") {
            event.method = Upper(fs::Trim(line->value));
        } else if (in == "VEVENT" && inFirstEvent) {
            eventLines.push_back(std::move(*line));
        } else if (in == "VTIMEZONE" && line->name == "TZID") {
            zoneId = line->value;
        } else if ((in == "STANDARD" || in == "DAYLIGHT") && !observances.empty()) {
            Observance& o = observances.back();
            if (line->name == "DTSTART") {
                o.start = ParseDateTime(fs::Trim(line->value));
            } else if (line->name == "TZOFFSETTO") {
                if (auto off = ParseOffset(fs::Trim(line->value))) {
                    o.offsetTo = *off;
                    o.offsetKnown = true;
                }
            } else if (line->name == "RRULE") {
                ReadRule(line->value, o);
            }
        }
    }
    if (!eventSeen) return std::nullopt;
    if (event.method.empty()) event.method = Upper(fs::Trim(methodParameter));

    std::optional<int64_t> duration;
    bool attendeeSeen = false;
    for (const Line& l : eventLines) {
        if (l.name == "DTSTART") {
            event.start = EventTime(l, zones, &event.allDay);
        } else if (l.name == "DTEND") {
            event.end = EventTime(l, zones, nullptr);
        } else if (l.name == "DURATION") {
            duration = ParseDuration(fs::Trim(l.value));
        } else if (l.name == "UID") {
            event.uid = std::string(fs::Trim(l.value));
        } else if (l.name == "LOCATION") {
            event.location = UnescapeText(l.value);
        } else if (l.name == "SEQUENCE") {
            event.sequence = std::max(0, std::atoi(l.value.c_str()));
        } else if (l.name == "DTSTAMP") {
            if (auto t = ParseDateTime(fs::Trim(l.value)); t && !t->dateOnly)
                event.stamp = t->seconds;
        } else if (l.name == "RRULE" || l.name == "RDATE") {
            event.recurring = true;
        } else if (l.name == "ATTENDEE") {
            if (Upper(l.Param("RSVP")) == "TRUE") event.responseRequested = true;
            if (!attendeeSeen) event.partStatus = Upper(l.Param("PARTSTAT"));
            attendeeSeen = true;
        } else if (l.name == "X-MICROSOFT-CDO-INTENDEDSTATUS") {
            event.busyStatus = Upper(fs::Trim(l.value));
        } else if (l.name == "X-MICROSOFT-CDO-BUSYSTATUS" && event.busyStatus.empty()) {
            event.busyStatus = Upper(fs::Trim(l.value));
        } else if (l.name == "TRANSP" && event.busyStatus.empty()) {
            event.busyStatus = Upper(fs::Trim(l.value)) == "TRANSPARENT" ? "FREE" : "BUSY";
        }
    }
    if (event.start && !event.end) {
        if (duration && *duration >= 0)
            event.end = *event.start + *duration;
        else
            event.end = *event.start + (event.allDay ? 86400 : 0);
    }
    if (event.start && event.end && *event.end < *event.start) event.end = event.start;
    return event;
}

std::vector<uint8_t> GlobalObjectId(std::string_view uid) {
    static const char kHeader[] = "040000008200E00074C5B7101A82E008";
    const bool encoded =
        uid.size() >= 82 && uid.size() % 2 == 0 &&
        std::all_of(uid.begin(), uid.end(), [](char c) { return std::isxdigit(uint8_t(c)); }) &&
        fs::EqualsNoCase(std::string(uid.substr(0, 32)), kHeader);
    if (encoded) return HexBytes(uid);
    std::vector<uint8_t> id = HexBytes(kHeader);
    id.resize(id.size() + 4 + 8 + 8, 0);  // instance date, creation time, reserved
    const uint32_t size = uint32_t(12 + uid.size() + 1);
    for (int i = 0; i < 4; ++i) id.push_back(uint8_t(size >> (8 * i)));
    const char kMarker[] = "vCal-Uid\x01\x00\x00\x00";
    id.insert(id.end(), kMarker, kMarker + 12);
    id.insert(id.end(), uid.begin(), uid.end());
    id.push_back(0);
    return id;
}

std::string ApplyCalendar(GMimeObject* root, MessageContent& out) {
    GMimePart* part = FindCalendarPart(root, 0);
    if (!part || RangeOf(part).encodedSize > kMaxCalendarText) return {};
    const std::string bytes = DecodedText(part);
    const std::string text = DecodeToUtf8(
        bytes, TextOf(g_mime_object_get_content_type_parameter(GMIME_OBJECT(part), "charset")));
    auto event = ReadCalendar(
        text, TextOf(g_mime_object_get_content_type_parameter(GMIME_OBJECT(part), "method")));
    if (!event || !event->start || !event->end) return {};

    std::string messageClass;
    int32_t icon = 0;
    if (event->method == "REQUEST") {
        messageClass = "IPM.Schedule.Meeting.Request";
        icon = 0x404;
    } else if (event->method == "CANCEL") {
        messageClass = "IPM.Schedule.Meeting.Canceled";
        icon = 0x408;
    } else if (event->method == "REPLY") {
        if (event->partStatus == "ACCEPTED") {
            messageClass = "IPM.Schedule.Meeting.Resp.Pos";
            icon = 0x405;
        } else if (event->partStatus == "DECLINED") {
            messageClass = "IPM.Schedule.Meeting.Resp.Neg";
            icon = 0x406;
        } else if (event->partStatus == "TENTATIVE") {
            messageClass = "IPM.Schedule.Meeting.Resp.Tent";
            icon = 0x407;
        }
    }
    if (messageClass.empty()) return {};

    const bool request = event->method == "REQUEST";
    const bool cancel = event->method == "CANCEL";
    const uint64_t start = UnixToFiletime(*event->start);
    const uint64_t end = UnixToFiletime(*event->end);
    auto& p = out.props;
    p.Set(PropertyValue::Int32(tag::kIconIndex, icon));
    p.Set(PropertyValue::Time(tag::kStartDate, start));
    p.Set(PropertyValue::Time(tag::kEndDate, end));
    if (request) p.Set(PropertyValue::Bool(tag::kResponseRequested, event->responseRequested));

    // Busy status: 0 free, 1 tentative, 2 busy, 3 out of office.
    int32_t intended = 2;
    if (event->busyStatus == "FREE") intended = 0;
    if (event->busyStatus == "TENTATIVE") intended = 1;
    if (event->busyStatus == "OOF") intended = 3;
    if (cancel) intended = 0;

    const auto& appt = tag::kPsetidAppointment;
    const auto& meeting = tag::kPsetidMeeting;
    SetNamed(out, appt, 0x820D, PropertyValue::Time(0x80000040, start));  // StartWhole
    SetNamed(out, appt, 0x820E, PropertyValue::Time(0x80000040, end));    // EndWhole
    SetNamed(out, appt, 0x8213,                                           // Duration (minutes)
             PropertyValue::Int32(0x80000003, int32_t(std::min<int64_t>(
                                                  (*event->end - *event->start) / 60, INT32_MAX))));
    SetNamed(out, appt, 0x8215, PropertyValue::Bool(0x8000000B, event->allDay));  // SubType
    // State: a meeting (0x1), received (0x2), canceled (0x4).
    SetNamed(out, appt, 0x8217, PropertyValue::Int32(0x80000003, cancel ? 0x7 : 0x3));
    SetNamed(out, appt, 0x8205,  // BusyStatus: a request is tentative until answered
             PropertyValue::Int32(0x80000003, request && intended == 2 ? 1 : intended));
    SetNamed(out, appt, 0x8224, PropertyValue::Int32(0x80000003, intended));  // Intended
    SetNamed(out, appt, 0x8201, PropertyValue::Int32(0x80000003, event->sequence));
    SetNamed(out, appt, 0x8223, PropertyValue::Bool(0x8000000B, false));  // Recurring
    if (request)  // ResponseStatus: not responded
        SetNamed(out, appt, 0x8218, PropertyValue::Int32(0x80000003, 5));
    if (!event->location.empty()) {
        SetNamed(out, appt, 0x8208, PropertyValue::StringUtf8(0x8000001F, event->location));
        SetNamed(out, meeting, 0x0002, PropertyValue::StringUtf8(0x8000001F, event->location));
    }
    SetNamed(out, tag::kPsetidCommon, 0x8516, PropertyValue::Time(0x80000040, start));
    SetNamed(out, tag::kPsetidCommon, 0x8517, PropertyValue::Time(0x80000040, end));
    SetNamed(out, tag::kPsetidCommon, 0x8503, PropertyValue::Bool(0x8000000B, false));
    if (!event->uid.empty()) {
        std::vector<uint8_t> id = GlobalObjectId(event->uid);
        SetNamed(out, meeting, 0x0003, PropertyValue::Binary(0x80000102, id));
        std::fill(id.begin() + 16, id.begin() + 20, 0);  // the clean form has no instance date
        SetNamed(out, meeting, 0x0023, PropertyValue::Binary(0x80000102, id));
    }
    SetNamed(out, meeting, 0x0005, PropertyValue::Bool(0x8000000B, false));  // IsRecurring
    if (request) {
        SetNamed(out, meeting, 0x0026,  // MeetingType: the first request, or a full update
                 PropertyValue::Int32(0x80000003, event->sequence == 0 ? 0x1 : 0x10000));
        SetNamed(out, meeting, 0x0024, PropertyValue::StringUtf8(0x8000001F, "IPM.Appointment"));
    }
    if (event->stamp) {
        SetNamed(out, meeting, 0x0001,
                 PropertyValue::Time(0x80000040, UnixToFiletime(*event->stamp)));
        SetNamed(out, meeting, 0x001A,
                 PropertyValue::Time(0x80000040, UnixToFiletime(*event->stamp)));
    }
    return messageClass;
}

}  // namespace mime

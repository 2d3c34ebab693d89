// Messages Outlook files under classes of their own (delivery and read reports, meeting
// requests, cancellations and replies) and a MIME entity saved without message fields: imported,
// written into a data file, and read back by our reader and by the PST readers nobody here wrote.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>

#include "mime/calendar.h"
#include "mime/import.h"
#include "mime/tags.h"
#include "pst/messaging/message_store.h"
#include "tests/mime_readers/round_trip_json.h"
#include "tests/support/platform.h"
#include "tests/support/temp_dir.h"

namespace mime {
namespace {

namespace sfs = std::filesystem;
namespace t = mime::tag;
using pst::PropertyValue;
using pst::messaging::MessageContent;
using pst::messaging::MessageStore;
using pst::messaging::PropertySet;
using roundtrip::Json;

const sfs::path kShared = EML2PST_SHARED_DIR;
const sfs::path kReports = kShared / "corpus" / "eml-public" / "multipart_report_emails";
const sfs::path kReaders = kShared / "tools" / "pst-readers";

constexpr int64_t kJan2 = 1704189600;  // 2024-01-02 10:00:00 UTC

const char kNdr[] = R"(From: Mail Delivery System <MAILER-DAEMON@mx.example.net>
To: Ann Sender <ann@example.org>
Subject: Undelivered Mail Returned to Sender
Date: Tue, 02 Jan 2024 10:00:00 +0000
Message-ID: <ndr1@mx.example.net>
MIME-Version: 1.0
Content-Type: multipart/report; report-type=delivery-status; boundary="b1"

--b1
Content-Type: text/plain

I could not deliver your message.

--b1
Content-Type: message/delivery-status

Reporting-MTA: dns; mx.example.net
Arrival-Date: Tue, 02 Jan 2024 09:59:00 +0000

Final-Recipient: rfc822; bob@example.com
Action: failed
Status: 5.1.1
Remote-MTA: dns; mail.example.com
Diagnostic-Code: smtp; 550 5.1.1 <bob@example.com>: user
 unknown

Final-Recipient: rfc822; <carol@example.com>
X-Display-Name: Carol C
Action: FAILED
Status: 5.2.2 (mailbox full)

Final-Recipient: rfc822; dave@example.com
Action: delivered
Status: 2.0.0

--b1
Content-Type: text/rfc822-headers

From: Ann Sender <ann@example.org>
To: Bob <bob@example.com>, Carol C <carol@example.com>
Cc: dave@example.com
Subject: =?UTF-8?Q?Caf=C3=A9_plans?=
Date: Tue, 02 Jan 2024 09:58:00 +0000
Message-ID: <orig1@example.org>

--b1--
)";

const char kMdn[] = R"(From: Bob <bob@example.com>
To: Ann Sender <ann@example.org>
Subject: Read: Lunch?
Date: Tue, 02 Jan 2024 10:00:00 +0000
MIME-Version: 1.0
Content-Type: multipart/report; report-type=disposition-notification; boundary="b2"

--b2
Content-Type: text/plain

Your message was displayed.

--b2
Content-Type: message/disposition-notification

Reporting-UA: mua.example.com; Mailer
Final-Recipient: rfc822; bob@example.com
Original-Message-ID: <orig2@example.org>
Disposition: manual-action/MDN-sent-manually; displayed

--b2
Content-Type: message/rfc822

From: Ann Sender <ann@example.org>
To: Bob <bob@example.com>
Subject: Lunch?
Date: Tue, 02 Jan 2024 09:00:00 +0000
Message-ID: <orig2@example.org>

Shall we?
--b2--
)";

const char kTimeZone[] = R"(BEGIN:VTIMEZONE
TZID:Europe/Berlin
BEGIN:DAYLIGHT
TZOFFSETFROM:+0100
TZOFFSETTO:+0200
DTSTART:19700329T020000
RRULE:FREQ=YEARLY;BYMONTH=3;BYDAY=-1SU
END:DAYLIGHT
BEGIN:STANDARD
TZOFFSETFROM:+0200
TZOFFSETTO:+0100
DTSTART:19701025T030000
RRULE:FREQ=YEARLY;BYMONTH=10;BYDAY=-1SU
END:STANDARD
END:VTIMEZONE
)";

// A message with a plain text body and a text/calendar alternative holding `event`.
std::string Invitation(const std::string& method, const std::string& event) {
    return "From: Org <org@example.com>\nTo: Ann Sender <ann@example.org>\n"
           "Subject: Planning\nDate: Tue, 02 Jan 2024 10:00:00 +0000\nMIME-Version: 1.0\n"
           "Content-Type: multipart/alternative; boundary=\"c1\"\n\n--c1\n"
           "Content-Type: text/plain\n\nPlanning meeting\n\n--c1\n"
           "Content-Type: text/calendar; charset=utf-8; method=" +
           method + "\n\nBEGIN:VCALENDAR\r\nVERSION:2.0\r\nMETHOD:" + method + "\r\n" + kTimeZone +
           "BEGIN:VEVENT\r\n" + event + "END:VEVENT\r\nEND:VCALENDAR\r\n--c1--\n";
}

const std::string kRequest = Invitation("REQUEST",
                                        "UID:meeting-42@example.com\r\n"
                                        "DTSTAMP:20240101T120000Z\r\n"
                                        "DTSTART;TZID=Europe/Berlin:20240704T100000\r\n"
                                        "DTEND;TZID=\"Europe/Berlin\":20240704T113000\r\n"
                                        "LOCATION:Room 1\\, first\r\n  floor\r\n"
                                        "ORGANIZER;CN=Org:mailto:org@example.com\r\n"
                                        "ATTENDEE;CN=\"Ann; A.\";PARTSTAT=NEEDS-ACTION;RSVP=TRUE:"
                                        "mailto:ann@example.org\r\n"
                                        "BEGIN:VALARM\r\nTRIGGER:-PT15M\r\nEND:VALARM\r\n");

// Each message the test writes, by the folder it is stored in.
const std::map<std::string, std::string>& Samples() {
    static const std::map<std::string, std::string> samples = [] {
        std::map<std::string, std::string> s;
        s["content-only"] =
            "Content-Type: text/plain; charset=utf-8\nContent-Transfer-Encoding: 8bit\n\n"
            "Gr\xC3\xBC\xC3\x9F"
            "e\n";
        s["ndr"] = kNdr;
        std::string dr = kNdr;
        for (auto at = dr.find("Action: FAILED"); at != std::string::npos;
             at = dr.find("Action: FAILED"))
            dr.replace(at, 14, "Action: delivered");
        for (auto at = dr.find("Action: failed"); at != std::string::npos;
             at = dr.find("Action: failed"))
            dr.replace(at, 14, "Action: delivered");
        s["dr"] = dr;
        std::string noAction = kNdr;
        for (auto at = noAction.find("Action:"); at != std::string::npos;
             at = noAction.find("Action:"))
            noAction.replace(at, 7, "Xction:");
        s["report-without-action"] = noAction;
        s["mdn-read"] = kMdn;
        std::string deleted = kMdn;
        deleted.replace(deleted.find("manual-action/MDN-sent-manually; displayed"), 42,
                        "automatic-action/MDN-sent-automatically; deleted");
        s["mdn-deleted"] = deleted;
        s["request"] = kRequest;
        s["cancel"] = Invitation("CANCEL",
                                 "UID:040000008200E00074C5B7101A82E00800000000E040C9C12685C401000"
                                 "0000000000000100000000BF0ED4B6E4EE94E9E39E3867B378EF3\r\n"
                                 "SEQUENCE:1\r\nDTSTART:20240110T150000Z\r\nDURATION:PT45M\r\n");
        s["reply"] = Invitation("REPLY",
                                "UID:meeting-42@example.com\r\n"
                                "DTSTART;TZID=Europe/Berlin:20240110T100000\r\n"
                                "DTEND;TZID=Europe/Berlin:20240110T110000\r\n"
                                "ATTENDEE;PARTSTAT=DECLINED:mailto:ann@example.org\r\n");
        s["bad-calendar"] = Invitation("REQUEST", "UID:x\r\nDTSTART:2024-07-04 10:00\r\n");
        return s;
    }();
    return samples;
}

const PropertyValue* Named(const PropertySet& p, const std::array<uint8_t, 16>& set, uint32_t lid) {
    for (const auto& nv : p.named)
        if (nv.name.guid == set && nv.name.name == std::variant<uint32_t, std::u16string>(lid))
            return &nv.value;
    return nullptr;
}

std::string Text(const PropertySet& p, uint32_t tag) {
    const PropertyValue* v = p.Find(tag);
    return v ? v->AsUtf8() : "<absent>";
}

int64_t Int(const PropertySet& p, uint32_t tag) {
    const PropertyValue* v = p.Find(tag);
    return v ? v->AsInt32() : -12345;
}

int64_t Unix(const PropertyValue* v) {
    return v ? int64_t(v->AsTime() / 10000000ULL) - 11644473600LL : -1;
}

// The samples (and the corpus's reports, where the shared folder is present) in one data
// file, one folder each, read back with our reader.
class OutlookClasses : public ::testing::Test {
  protected:
    struct State {
        testsupport::TempDir dir;
        sfs::path pst;
        std::map<std::string, ImportResult> imported;
        std::map<std::string, MessageContent> read;
    };
    static inline std::unique_ptr<State> state_;

    static void SetUpTestSuite() {
        state_ = std::make_unique<State>();
        State& s = *state_;
        s.pst = s.dir.path() / "classes.pst";
        std::map<std::string, std::string> files;
        for (const auto& [name, text] : Samples()) {
            const sfs::path file = s.dir.path() / (name + ".eml");
            std::ofstream(file, std::ios::binary) << text;
            files[name] = fs::Utf8FromPath(file);
        }
        if (sfs::is_directory(kReports))
            for (const auto& e : sfs::directory_iterator(kReports))
                files["corpus-" + fs::Utf8FromPath(e.path().stem())] = fs::Utf8FromPath(e.path());
        auto store = MessageStore::Create(s.pst, "Classes");
        for (const auto& [name, file] : files) {
            s.imported[name] = ImportMessageFile(file);
            if (!s.imported[name].ok) continue;
            store->AddMessage(store->CreateFolder(store->IpmSubtree(), name),
                              s.imported[name].content);
        }
        store->Close();
        auto back = MessageStore::Open(s.pst, /*readOnly=*/true);
        for (const auto& [path, info] : back->FolderTree(back->IpmSubtree()))
            for (auto nid : back->Messages(info.nid)) s.read[path] = back->ReadMessage(nid);
    }
    static void TearDownTestSuite() { state_.reset(); }

    // The message stored for `name`, as our reader gives it back.
    static const MessageContent& Read(const std::string& name) {
        static const MessageContent kNone;
        auto it = state_->read.find(name);
        EXPECT_NE(it, state_->read.end())
            << name << " was not stored: " << state_->imported[name].error;
        return it == state_->read.end() ? kNone : it->second;
    }
};

TEST_F(OutlookClasses, DeliveryReportsListTheReportedRecipientsWithTheirStatus) {
    const MessageContent& ndr = Read("ndr");
    const auto& p = ndr.props;
    EXPECT_EQ(Text(p, t::kMessageClass), "REPORT.IPM.Note.NDR");
    EXPECT_EQ(Text(p, t::kReportingMta), "dns; mx.example.net");
    EXPECT_EQ(Unix(p.Find(t::kReportTime)), kJan2);
    EXPECT_EQ(Text(p, t::kOriginalSubject), "Caf\u00E9 plans");
    EXPECT_EQ(Unix(p.Find(t::kOriginalSubmitTime)), kJan2 - 120);
    EXPECT_EQ(Text(p, t::kOriginalDisplayTo), "Bob; Carol C");
    EXPECT_EQ(Text(p, t::kOriginalDisplayCc), "dave@example.com");
    EXPECT_EQ(Text(p, t::kOriginalMessageId), "<orig1@example.org>");
    EXPECT_FALSE(p.Find(t::kIconIndex));  // drawn with the report's own icon
    // The delivered recipient is of a lower severity: not listed in a non-delivery report.
    EXPECT_EQ(Text(p, t::kDisplayTo), "bob@example.com; Carol C");
    EXPECT_EQ(Text(p, t::kReceivedByEmailAddress), "ann@example.org");
    ASSERT_EQ(ndr.recipients.size(), 2u);
    const auto& bob = ndr.recipients[0].props;
    EXPECT_EQ(Text(bob, t::kEmailAddress), "bob@example.com");
    EXPECT_EQ(Int(bob, t::kRecipientType), 1);
    EXPECT_EQ(Int(bob, t::kNdrStatusCode), 511);
    EXPECT_EQ(Text(bob, t::kRemoteMta), "mail.example.com");
    EXPECT_EQ(Text(bob, t::kSupplementaryInfo),
              "<mail.example.com #5.1.1 smtp; 550 5.1.1 <bob@example.com>: user unknown>");
    EXPECT_EQ(Unix(bob.Find(t::kReportTime)), kJan2);
    EXPECT_FALSE(bob.Find(t::kDeliverTime));
    const auto& carol = ndr.recipients[1].props;
    EXPECT_EQ(Text(carol, t::kDisplayName), "Carol C");
    EXPECT_EQ(Text(carol, t::kEmailAddress), "carol@example.com");
    EXPECT_EQ(Int(carol, t::kNdrStatusCode), 522);
    EXPECT_EQ(Text(carol, t::kSupplementaryInfo), "< #5.2.2>");
    // The report's parts stay attachments; its text is the body.
    ASSERT_EQ(ndr.attachments.size(), 2u);
    EXPECT_EQ(Text(ndr.attachments[0].props, t::kAttachMimeTag), "message/delivery-status");
    EXPECT_EQ(Text(p, t::kBody).rfind("I could not deliver", 0), 0u);

    const MessageContent& dr = Read("dr");
    EXPECT_EQ(Text(dr.props, t::kMessageClass), "REPORT.IPM.Note.DR");
    ASSERT_EQ(dr.recipients.size(), 3u);
    EXPECT_EQ(Unix(dr.recipients[2].props.Find(t::kDeliverTime)), kJan2);

    // A report whose status part names no action is no report: nothing is changed.
    const MessageContent& plain = Read("report-without-action");
    EXPECT_EQ(Text(plain.props, t::kMessageClass), "IPM.Note");
    ASSERT_EQ(plain.recipients.size(), 1u);
    EXPECT_EQ(Text(plain.recipients[0].props, t::kEmailAddress), "ann@example.org");
    EXPECT_FALSE(plain.props.Find(t::kOriginalSubject));
}

TEST_F(OutlookClasses, ReadReportsNameTheOriginalMessage) {
    const MessageContent& read = Read("mdn-read");
    EXPECT_EQ(Text(read.props, t::kMessageClass), "REPORT.IPM.Note.IPNRN");
    EXPECT_EQ(Text(read.props, t::kOriginalMessageId), "<orig2@example.org>");
    EXPECT_EQ(Text(read.props, t::kOriginalSubject), "Lunch?");
    EXPECT_EQ(Text(read.props, t::kReportDisposition), "displayed");
    EXPECT_EQ(Text(read.props, t::kReportDispositionMode), "manual-action/MDN-sent-manually");
    EXPECT_EQ(Unix(read.props.Find(t::kReportTime)), kJan2);
    ASSERT_EQ(read.recipients.size(), 1u);  // addressed to the original sender, as sent
    EXPECT_EQ(Text(read.recipients[0].props, t::kEmailAddress), "ann@example.org");
    ASSERT_EQ(read.attachments.size(), 2u);
    EXPECT_TRUE(read.attachments[1].embedded);
    EXPECT_EQ(Text(Read("mdn-deleted").props, t::kMessageClass), "REPORT.IPM.Note.IPNNRN");
}

TEST_F(OutlookClasses, MeetingMessagesCarryTheEventTheirInvitationDescribes) {
    const auto& appt = t::kPsetidAppointment;
    const auto& meeting = t::kPsetidMeeting;
    const MessageContent& request = Read("request");
    const auto& p = request.props;
    EXPECT_EQ(Text(p, t::kMessageClass), "IPM.Schedule.Meeting.Request");
    EXPECT_EQ(Int(p, t::kIconIndex), 0x404);
    // 10:00-11:30 in Berlin in July (UTC+2).
    const int64_t start = 1720080000;  // 2024-07-04 08:00 UTC
    EXPECT_EQ(Unix(Named(p, appt, 0x820D)), start);
    EXPECT_EQ(Unix(Named(p, appt, 0x820E)), start + 5400);
    EXPECT_EQ(Unix(p.Find(t::kStartDate)), start);
    EXPECT_EQ(Unix(Named(p, t::kPsetidCommon, 0x8517)), start + 5400);
    ASSERT_TRUE(Named(p, appt, 0x8213));
    EXPECT_EQ(Named(p, appt, 0x8213)->AsInt32(), 90);
    ASSERT_TRUE(Named(p, appt, 0x8208));
    EXPECT_EQ(Named(p, appt, 0x8208)->AsUtf8(), "Room 1, first floor");
    ASSERT_TRUE(Named(p, appt, 0x8217));
    EXPECT_EQ(Named(p, appt, 0x8217)->AsInt32(), 0x3);
    ASSERT_TRUE(Named(p, meeting, 0x0026));
    EXPECT_EQ(Named(p, meeting, 0x0026)->AsInt32(), 1);
    EXPECT_TRUE(p.Find(t::kResponseRequested) && p.Find(t::kResponseRequested)->AsBool());
    const PropertyValue* id = Named(p, meeting, 0x0003);
    ASSERT_TRUE(id);
    const std::string uid = "meeting-42@example.com";
    EXPECT_EQ(id->Bytes().size(), 52 + uid.size() + 1);
    EXPECT_EQ(std::string(id->Bytes().begin() + 40, id->Bytes().begin() + 48), "vCal-Uid");
    EXPECT_EQ(id->Bytes()[36], 12 + uid.size() + 1);
    EXPECT_EQ(std::string(id->Bytes().begin() + 52, id->Bytes().end() - 1), uid);
    // The invitation itself stays an attachment.
    ASSERT_EQ(request.attachments.size(), 1u);
    EXPECT_EQ(Text(request.attachments[0].props, t::kAttachMimeTag), "text/calendar");

    const MessageContent& cancel = Read("cancel");
    EXPECT_EQ(Text(cancel.props, t::kMessageClass), "IPM.Schedule.Meeting.Canceled");
    EXPECT_EQ(Unix(Named(cancel.props, appt, 0x820E)), 1704898800 + 2700);
    ASSERT_TRUE(Named(cancel.props, appt, 0x8217));
    EXPECT_EQ(Named(cancel.props, appt, 0x8217)->AsInt32(), 0x7);
    // An Outlook-made UID is the object ID itself.
    ASSERT_TRUE(Named(cancel.props, meeting, 0x0003));
    EXPECT_EQ(Named(cancel.props, meeting, 0x0003)->Bytes().size(), 56u);
    EXPECT_EQ(Named(cancel.props, meeting, 0x0003)->Bytes()[20], 0xE0);

    const MessageContent& reply = Read("reply");
    EXPECT_EQ(Text(reply.props, t::kMessageClass), "IPM.Schedule.Meeting.Resp.Neg");
    EXPECT_EQ(Unix(Named(reply.props, appt, 0x820D)), 1704877200);  // 10:00 in January: UTC+1

    // An invitation whose start cannot be read leaves an ordinary message with its attachment.
    const MessageContent& bad = Read("bad-calendar");
    EXPECT_EQ(Text(bad.props, t::kMessageClass), "IPM.Note");
    EXPECT_TRUE(bad.props.named.empty() || !Named(bad.props, appt, 0x820D));
    EXPECT_EQ(bad.attachments.size(), 1u);
}

TEST_F(OutlookClasses, AMimeEntityWithoutMessageFieldsIsImported) {
    const MessageContent& m = Read("content-only");
    EXPECT_EQ(Text(m.props, t::kMessageClass), "IPM.Note");
    EXPECT_EQ(Text(m.props, t::kBody), "Gr\u00FC\u00DFe\n");
    EXPECT_EQ(Text(m.props, t::kSubject), "");
    EXPECT_TRUE(m.recipients.empty());
}

TEST_F(OutlookClasses, CorpusReportsTakeTheirClass) {
    if (!sfs::is_directory(kReports)) GTEST_SKIP() << kReports << " is absent";
    const std::map<std::string, std::string> expected = {
        {"corpus-multi_address_bounce1", "REPORT.IPM.Note.NDR"},
        {"corpus-multi_address_bounce2", "REPORT.IPM.Note.NDR"},
        {"corpus-multipart_report_multiple_status", "REPORT.IPM.Note.NDR"},
        {"corpus-report_422", "REPORT.IPM.Note.Delayed.DR"},
        {"corpus-report_530", "REPORT.IPM.Note.NDR"},
    };
    for (const auto& [name, cls] : expected) {
        const MessageContent& m = Read(name);
        EXPECT_EQ(Text(m.props, t::kMessageClass), cls) << name;
        EXPECT_FALSE(m.recipients.empty()) << name;
        for (const auto& r : m.recipients) EXPECT_TRUE(r.props.Find(t::kNdrStatusCode)) << name;
    }
    EXPECT_EQ(Read("corpus-multi_address_bounce1").recipients.size(), 5u);
    EXPECT_EQ(Text(Read("corpus-report_530").props, t::kOriginalSubject),
              "Returned mail: User unknown");
}

// What pypff (libpff) and readpst (libpst) show of the same file: the classes, and the
// recipients and attachments of reports and meetings.
TEST_F(OutlookClasses, ReadersSeeTheClassesAndRecipients) {
    if (!sfs::is_directory(kReaders) || !testsupport::RunsLinuxPrograms())
        GTEST_SKIP() << "the PST readers cannot run here";
    const std::string file = testsupport::ShellQuote(fs::Utf8FromPath(state_->pst));
    std::map<std::string, std::map<std::string, Json>> byReader;
    for (const auto& [reader, command] : std::map<std::string, std::string>{
             {"pypff", "timeout 300 /usr/bin/python3 " +
                           fs::Utf8FromPath(kReaders / "pypff_dump.py") + " --full " + file},
             {"readpst", "timeout 300 python3 " + fs::Utf8FromPath(kReaders / "readpst_dump.py") +
                             " --full --fail-on-skip " + file}}) {
        const auto run = testsupport::RunShellCommand(command);
        ASSERT_EQ(run.status, 0) << reader;
        const Json doc = Json::Parse(run.output);
        for (const Json& m : doc["messages"].array) byReader[reader][m.str("folder")] = m;
    }
    auto toNames = [](const Json& m) {
        std::string out;
        for (const Json& a : m["to"].array) out += (out.empty() ? "" : "; ") + a.str("name");
        return out;
    };
    for (const auto& [name, read] : state_->read) {
        SCOPED_TRACE(name);
        for (const auto& [reader, messages] : byReader) {
            auto it = messages.find(name);
            ASSERT_NE(it, messages.end()) << reader << " does not list it";
            const Json& m = it->second;
            EXPECT_EQ(m.str("subject"), Text(read.props, t::kSubject)) << reader;
            EXPECT_GE(m["attachments"].array.size(), read.attachments.size()) << reader;
            if (reader != "pypff") continue;  // readpst has no class and shows the header block
            EXPECT_EQ(m.str("message_class"), Text(read.props, t::kMessageClass));
            EXPECT_EQ(toNames(m), Text(read.props, t::kDisplayTo));
        }
    }
}

TEST(CalendarText, TimesThroughTimeZonesDurationsAndBadData) {
    auto start = [](const std::string& zone, const std::string& lines) {
        auto e = ReadCalendar("BEGIN:VCALENDAR\r\n" + zone + "BEGIN:VEVENT\r\n" + lines +
                              "END:VEVENT\r\nEND:VCALENDAR\r\n");
        return e && e->start ? *e->start : int64_t(-1);
    };
    const std::string berlin = kTimeZone;
    // Around the spring and autumn changes of 2024 (31 March, 27 October).
    EXPECT_EQ(start(berlin, "DTSTART;TZID=Europe/Berlin:20240331T013000\r\n"), 1711845000);
    EXPECT_EQ(start(berlin, "DTSTART;TZID=Europe/Berlin:20240331T033000\r\n"), 1711848600);
    EXPECT_EQ(start(berlin, "DTSTART;TZID=Europe/Berlin:20241027T033000\r\n"), 1729996200);
    EXPECT_EQ(start(berlin, "DTSTART;TZID=Europe/Berlin:20241231T233000\r\n"), 1735684200);
    // The southern hemisphere: summer time across the new year.
    const std::string sydney =
        "BEGIN:VTIMEZONE\r\nTZID:Australia/Sydney\r\nBEGIN:STANDARD\r\nTZOFFSETFROM:+1100\r\n"
        "TZOFFSETTO:+1000\r\nDTSTART:20080406T030000\r\nRRULE:FREQ=YEARLY;BYMONTH=4;BYDAY=1SU\r\n"
        "END:STANDARD\r\nBEGIN:DAYLIGHT\r\nTZOFFSETFROM:+1000\r\nTZOFFSETTO:+1100\r\n"
        "DTSTART:20081005T020000\r\nRRULE:FREQ=YEARLY;BYMONTH=10;BYDAY=1SU\r\nEND:DAYLIGHT\r\n"
        "END:VTIMEZONE\r\n";
    EXPECT_EQ(start(sydney, "DTSTART;TZID=Australia/Sydney:20240115T100000\r\n"), 1705273200);
    EXPECT_EQ(start(sydney, "DTSTART;TZID=Australia/Sydney:20240715T100000\r\n"), 1721001600);
    // Outlook's form: rules from 1601, "5SU" for the last Sunday (October 2024 has four).
    const std::string windows =
        "BEGIN:VTIMEZONE\r\nTZID:W. Europe Standard Time\r\nBEGIN:STANDARD\r\n"
        "DTSTART:16010101T030000\r\nTZOFFSETFROM:+0200\r\nTZOFFSETTO:+0100\r\n"
        "RRULE:FREQ=YEARLY;BYDAY=5SU;BYMONTH=10\r\nEND:STANDARD\r\nBEGIN:DAYLIGHT\r\n"
        "DTSTART:16010101T020000\r\nTZOFFSETFROM:+0100\r\nTZOFFSETTO:+0200\r\n"
        "RRULE:FREQ=YEARLY;BYDAY=5SU;BYMONTH=3\r\nEND:DAYLIGHT\r\nEND:VTIMEZONE\r\n";
    EXPECT_EQ(start(windows, "DTSTART;TZID=W. Europe Standard Time:20241027T033000\r\n"),
              1729996200);
    EXPECT_EQ(start(windows, "DTSTART;TZID=W. Europe Standard Time:20240704T100000\r\n"),
              1720080000);
    EXPECT_EQ(start("", "DTSTART:20240704T080000Z\r\n"), 1720080000);
    // A zone the text does not describe, and malformed dates: no start.
    EXPECT_EQ(start("", "DTSTART;TZID=Mars/Olympus:20240704T080000\r\n"), -1);
    EXPECT_EQ(start(berlin, "DTSTART:2024-07-04T08:00:00Z\r\n"), -1);
    EXPECT_EQ(start(berlin, "DTSTART:20240230T080000Z\r\n"), -1);
    EXPECT_EQ(start(berlin, "DTSTART;TZID=\"unterminated:20240704T080000\r\n"), -1);

    auto allDay = ReadCalendar(
        "BEGIN:VCALENDAR\nMETHOD:request\nBEGIN:VEVENT\n"
        "DTSTART;VALUE=DATE:20240704\nEND:VEVENT\nEND:VCALENDAR\n");
    ASSERT_TRUE(allDay && allDay->start && allDay->end);
    EXPECT_TRUE(allDay->allDay);
    EXPECT_EQ(allDay->method, "REQUEST");
    EXPECT_EQ(*allDay->end - *allDay->start, 86400);
    auto timed = ReadCalendar(
        "BEGIN:VCALENDAR\nBEGIN:VEVENT\nDTSTART:20240704T080000Z\n"
        "DURATION:P1DT2H30M\nEND:VEVENT\nEND:VCALENDAR\n",
        "CANCEL");
    ASSERT_TRUE(timed && timed->start && timed->end);
    EXPECT_EQ(*timed->end - *timed->start, 86400 + 9000);
    EXPECT_EQ(timed->method, "CANCEL");
    EXPECT_FALSE(ReadCalendar("BEGIN:VCALENDAR\nEND:VCALENDAR\n"));
    EXPECT_FALSE(ReadCalendar(std::string(1 << 21, 'x')));
}

}  // namespace
}  // namespace mime

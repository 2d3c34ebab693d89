// Messages written by the tests, imported from real files, checked property by property.
#include <gtest/gtest.h>

#include "mime/import.h"
#include "test_support.h"
#include "tests/support/platform.h"
#include "tnef_writer.h"

namespace mime {
namespace {

using namespace mime::testing;
namespace t = mime::tag;

TEST(ImportMessage, HeaderPropertiesAddressesAndTimes) {
    TempDir dir;
    auto r = ImportText(dir,
                        "Received: from b by c; Tue, 02 Jan 2024 10:00:05 +0000\r\n"
                        "Received: from a by b; Tue, 02 Jan 2024 09:59:00 +0000\r\n"
                        "From: =?UTF-8?B?SsO8cmdlbg==?= <jurgen@example.de>, other@x.org\r\n"
                        "Sender: Desk <desk@example.de>\r\n"
                        "To: Ann <ann@x.org>, team: bob@x.org, \"Carl\" <carl@x.org>;\r\n"
                        "To: dan@x.org\r\n"
                        "Cc: undisclosed-recipients:;\r\n"
                        "Bcc: eve@x.org\r\n"
                        "Reply-To: r1@x.org, R Two <r2@x.org>\r\n"
                        "Subject: =?ISO-8859-1?Q?AW:_Gr=FC=DFe?= =?ISO-8859-1?Q?_aus_K=F6ln?=\r\n"
                        "Date: Tue, 02 Jan 2024 10:59:00 +0100\r\n"
                        "Message-ID: <abc@\r\n example.de>\r\n"
                        "In-Reply-To: <prev@example.de>\r\n"
                        "References: <first@example.de>\r\n <prev@example.de>\r\n"
                        "X-Priority: 1\r\n"
                        "Sensitivity: Private\r\n"
                        "Disposition-Notification-To: jurgen@example.de\r\n"
                        "X-Mailer: Test Mailer 1.0\r\n"
                        "\r\n"
                        "Hello\r\n");
    const auto& p = r.content.props;
    EXPECT_EQ(Utf8(p, t::kSubject), "AW: Gr\u00FC\u00DFe aus K\u00F6ln");
    EXPECT_EQ(Utf8(p, t::kSubjectPrefix), "AW: ");
    EXPECT_EQ(Utf8(p, t::kNormalizedSubject), "Gr\u00FC\u00DFe aus K\u00F6ln");
    EXPECT_EQ(Utf8(p, t::kConversationTopic), "Gr\u00FC\u00DFe aus K\u00F6ln");
    EXPECT_EQ(Utf8(p, t::kSentRepresentingName), "J\u00FCrgen");
    EXPECT_EQ(Utf8(p, t::kSentRepresentingEmailAddress), "jurgen@example.de");
    EXPECT_EQ(Utf8(p, t::kSentRepresentingAddrType), "SMTP");
    EXPECT_EQ(Bytes(p, t::kSentRepresentingSearchKey), std::string("SMTP:JURGEN@EXAMPLE.DE\0", 23));
    EXPECT_EQ(Utf8(p, t::kSenderName), "Desk");
    EXPECT_EQ(Utf8(p, t::kSenderSmtpAddress), "desk@example.de");
    EXPECT_EQ(Utf8(p, t::kDisplayTo), "Ann; bob@x.org; Carl; dan@x.org");
    EXPECT_EQ(Utf8(p, t::kDisplayCc), "");
    EXPECT_EQ(Utf8(p, t::kDisplayBcc), "eve@x.org");
    ASSERT_EQ(r.content.recipients.size(), 5u);
    const auto& carl = r.content.recipients[2].props;
    EXPECT_EQ(Int(carl, t::kRecipientType), 1);
    EXPECT_EQ(Int(carl, t::kRowId), 2);
    EXPECT_EQ(Utf8(carl, t::kDisplayName), "Carl");
    EXPECT_EQ(Utf8(carl, t::kSmtpAddress), "carl@x.org");
    EXPECT_EQ(Int(carl, t::kObjectType), 6);
    EXPECT_EQ(Int(carl, t::kDisplayType), 0);
    EXPECT_EQ(Bytes(carl, t::kEntryId), Bytes(carl, t::kRecordKey));
    EXPECT_EQ(Int(r.content.recipients[4].props, t::kRecipientType), 3);
    EXPECT_EQ(Utf8(p, t::kReplyRecipientNames), "r1@x.org; R Two");
    EXPECT_EQ(Bytes(p, t::kReplyRecipientEntries)[0], 2);

    EXPECT_EQ(UnixTime(p, t::kClientSubmitTime), 1704189540);     // 09:59:00 UTC
    EXPECT_EQ(UnixTime(p, t::kMessageDeliveryTime), 1704189605);  // topmost Received
    EXPECT_EQ(Utf8(p, t::kInternetMessageId), "<abc@example.de>");
    EXPECT_EQ(Utf8(p, t::kInReplyToId), "<prev@example.de>");
    EXPECT_EQ(Utf8(p, t::kInternetReferences), "<first@example.de> <prev@example.de>");
    EXPECT_EQ(Int(p, t::kImportance), 2);
    EXPECT_EQ(Int(p, t::kSensitivity), 2);
    EXPECT_TRUE(Find(p, t::kReadReceiptRequested)->AsBool());
    EXPECT_EQ(Int(p, t::kMessageFlags), t::kMfRead);
    EXPECT_FALSE(Find(p, t::kHasAttach)->AsBool());
    EXPECT_EQ(Utf8(p, t::kMessageClass), "IPM.Note");
    EXPECT_EQ(Bytes(p, t::kSearchKey).size(), 16u);
    // Two References: a reply two levels down.
    EXPECT_EQ(Bytes(p, t::kConversationIndex).size(), 32u);
    std::string headers = Utf8(p, t::kTransportMessageHeaders);
    EXPECT_EQ(headers.rfind("Received: from b by c;", 0), 0u);
    EXPECT_NE(headers.find("Subject: =?ISO-8859-1?Q?AW:_Gr=FC=DFe?="), std::string::npos);
    EXPECT_EQ(headers.substr(headers.size() - 4), "\r\n\r\n");
    const auto* mailer = FindNamed(p, t::kPsInternetHeaders, u"x-mailer");
    ASSERT_TRUE(mailer);
    EXPECT_EQ(mailer->AsUtf8(), "Test Mailer 1.0");
    EXPECT_FALSE(FindNamed(p, t::kPsInternetHeaders, u"received"));
    EXPECT_EQ(Utf8(p, t::kBody), "Hello\r\n");
    EXPECT_EQ(Int(p, t::kNativeBodyInfo), 1);
}

// Every message of a thread shares the conversation GUID (index bytes 6-21), named by the
// thread's first message ID, whether or not that message is among those imported; a reply adds
// a child block per level; Thread-Index is kept as sent.
TEST(ImportMessage, ThreadsShareTheirConversationGuid) {
    TempDir dir;
    auto index = [&dir](const std::string& headers) {
        auto r = ImportText(dir, headers + "Date: Tue, 02 Jan 2024 10:59:00 +0100\r\n\r\nx\r\n");
        return Bytes(r.content.props, t::kConversationIndex);
    };
    const std::string root = index("Message-ID: <root@x.org>\r\n");
    const std::string reply =
        index("Message-ID: <a@x.org>\r\nIn-Reply-To: <root@x.org>\r\nReferences: <root@x.org>\r\n");
    const std::string replyToReply = index(
        "Message-ID: <b@x.org>\r\nIn-Reply-To: <a@x.org>\r\n"
        "References: <root@x.org>\r\n <a@x.org>\r\n");
    const std::string onlyInReplyTo = index("In-Reply-To: <root@x.org>\r\n");
    ASSERT_EQ(root.size(), 22u);
    EXPECT_EQ(reply.size(), 27u);
    EXPECT_EQ(replyToReply.size(), 32u);
    EXPECT_EQ(onlyInReplyTo.size(), 27u);
    EXPECT_EQ(root[0], '\x01');
    const std::string guid = root.substr(6, 16);
    for (const auto& i : {reply, replyToReply, onlyInReplyTo}) EXPECT_EQ(i.substr(6, 16), guid);

    // A thread whose first message is missing: its replies still share one GUID of their own.
    const std::string orphan1 = index("References: <gone@x.org> <c@x.org>\r\n");
    const std::string orphan2 = index("References: <gone@x.org>\r\n");
    EXPECT_EQ(orphan1.substr(6, 16), orphan2.substr(6, 16));
    EXPECT_NE(orphan1.substr(6, 16), guid);

    // No message ID at all: a conversation of its own.
    EXPECT_NE(index("").substr(6, 16), index("").substr(6, 16));

    const std::string kept =
        index("Thread-Index: AdoAAAAAAAAAAAAAAAAAAAAAAAAAAA==\r\nReferences: <root@x.org>\r\n");
    EXPECT_EQ(kept, std::string("\x01\xda") + std::string(20, '\0'));
}

TEST(ImportMessage, DateFallbacks) {
    TempDir dir;
    // No Date: the submit time falls back to the delivery time.
    auto noDate = ImportText(dir, "Received: x; 1 Feb 2020 00:00:00 +0000\nSubject: a\n\nb\n");
    EXPECT_EQ(UnixTime(noDate.content.props, t::kClientSubmitTime), 1580515200);
    // Bad Date and no Received: the file time, never the epoch or garbage.
    std::string path = dir.Write("bad.eml", "Date: yesterday-ish\nSubject: a\n\nb\n");
    testsupport::SetModificationTime(fs::PathFromUtf8(path), 1500000000);
    auto bad = ImportMessageFile(path);
    ASSERT_TRUE(bad.ok);
    EXPECT_EQ(UnixTime(bad.content.props, t::kClientSubmitTime), 1500000000);
    EXPECT_EQ(UnixTime(bad.content.props, t::kMessageDeliveryTime), 1500000000);
    // Date but no Received: the delivery time is the Date.
    auto dated = ImportText(dir, "Date: 1 Feb 2020 01:00:00 +0100\nSubject: a\n\nb\n");
    EXPECT_EQ(UnixTime(dated.content.props, t::kMessageDeliveryTime), 1580515200);
}

TEST(ImportMessage, ImportanceSensitivityAndDraftHeaders) {
    TempDir dir;
    struct Case {
        const char* headers;
        int32_t importance, sensitivity, flags;
    } cases[] = {
        {"X-MSMail-Priority: Low\n", 0, 0, t::kMfRead},
        {"Priority: urgent\nSensitivity: Company-Confidential\n", 2, 3, t::kMfRead},
        {"Importance: Low\nX-Priority: 1\n", 0, 0, t::kMfRead},
        {"X-Unsent: 1\n", 1, 0, t::kMfRead | t::kMfUnsent},
    };
    for (const auto& c : cases) {
        auto r = ImportText(dir, std::string("Subject: s\n") + c.headers + "\nbody\n");
        EXPECT_EQ(Int(r.content.props, t::kImportance), c.importance) << c.headers;
        EXPECT_EQ(Int(r.content.props, t::kSensitivity), c.sensitivity) << c.headers;
        EXPECT_EQ(Int(r.content.props, t::kMessageFlags), c.flags) << c.headers;
    }
    auto prio = ImportText(dir, "Priority: non-urgent\n\nx\n");
    EXPECT_EQ(Int(prio.content.props, t::kPriority), -1);
}

TEST(ImportMessage, CharsetsInHeadersAndBodies) {
    TempDir dir;
    // Undeclared 8-bit headers: UTF-8 when valid, else windows-1252.
    auto utf8 = ImportText(dir,
                           "From: J\xC3\xBCrgen <j@x.de>\nSubject: Gr\xC3\xBC\xC3\x9F"
                           "e\n\nx\n");
    EXPECT_EQ(Utf8(utf8.content.props, t::kSubject), "Gr\u00FC\u00DFe");
    EXPECT_EQ(Utf8(utf8.content.props, t::kSenderName), "J\u00FCrgen");
    auto latin = ImportText(dir,
                            "Subject: Gr\xFC\xDF"
                            "e \x93ok\x94\n\nx\n");
    EXPECT_EQ(Utf8(latin.content.props, t::kSubject),
              "Gr\u00FC\u00DF"
              "e \u201Cok\u201D");
    EXPECT_NE(Utf8(latin.content.props, t::kTransportMessageHeaders).find("Gr\u00FC\u00DF"),
              std::string::npos);

    // Base64 words padded one by one keep all their text, also a character split between two
    // words; a lone padded word and Q words are read as they are.
    auto split = ImportText(dir,
                            "From: =?UTF-8?B?TXlTdXJ2ZXk=?=\n =?UTF-8?B?LmNvbSAmIEM=?=\n"
                            " =?utf-8?b?YXJvbCBBZGE=?= <c@x.com>\n"
                            "To: =?UTF-8?B?w5w=?= =?UTF-8?Q?ber?= <u@x.com>\n"
                            "Subject: =?UTF-8?B?TXlTdXJ2ZXk=?=\n =?UTF-8?B?LmNvbTogIFk=?=\n"
                            " =?UTF-8?B?b3UgaGF2ZSA=?= =?UTF-8?B?w6k=?= =?UTF-8?B?8J+Y?="
                            " =?UTF-8?B?gA==?= =?UTF-8?Q?_91123105?=\n =?UTF-8?B?"
                            "?=\n\nx\n");
    EXPECT_EQ(Utf8(split.content.props, t::kSubject),
              "MySurvey.com:  You have \u00E9\U0001F600 91123105");
    EXPECT_EQ(Utf8(split.content.props, t::kSenderName), "MySurvey.com & Carol Ada");
    EXPECT_EQ(Utf8(split.content.props, t::kDisplayTo), "\u00DCber");
    EXPECT_NE(
        Utf8(split.content.props, t::kTransportMessageHeaders).find("=?UTF-8?B?TXlTdXJ2ZXk=?="),
        std::string::npos);

    // Body labelled ISO-8859-1 holding windows-1252 quotes.
    auto mislabelled = ImportText(dir,
                                  "Subject: q\nContent-Type: text/plain; charset=iso-8859-1\n\n"
                                  "\x93Hi\x94 \x80 caf\xE9\n");
    EXPECT_EQ(Utf8(mislabelled.content.props, t::kBody), "\u201CHi\u201D \u20AC caf\u00E9\n");
    EXPECT_EQ(Int(mislabelled.content.props, t::kInternetCodepage), 1252);

    struct Case {
        const char* charset;
        std::string bytes, text;
        int32_t cp;
    } cases[] = {
        {"ISO-2022-JP", "\x1B$B$3$s$K$A$O\x1B(B", "\u3053\u3093\u306B\u3061\u306F", 50220},
        {"Shift_JIS", "\x82\xB1\x82\xF1", "\u3053\u3093", 932},
        {"KOI8-R", "\xF0\xD2\xC9\xD7\xC5\xD4", "\u041F\u0440\u0438\u0432\u0435\u0442", 20866},
        {"utf-7", "+Jjo-", "\u263A", 65000},
        {"x-made-up", "caf\xE9", "caf\u00E9", 1252},  // read as windows-1252
    };
    for (const auto& c : cases) {
        auto r =
            ImportText(dir, std::string("Subject: s\nContent-Type: text/plain; charset=\"") +
                                c.charset + "\"\nContent-Transfer-Encoding: 8bit\n\n" + c.bytes);
        EXPECT_EQ(Utf8(r.content.props, t::kBody), c.text) << c.charset;
        EXPECT_EQ(Int(r.content.props, t::kInternetCodepage), c.cp) << c.charset;
    }

    // HTML keeps its bytes and code page; one without a Windows code page becomes UTF-8.
    auto sjisHtml = ImportText(dir,
                               "Subject: h\nContent-Type: text/html; charset=shift_jis\n\n"
                               "<p>\x82\xB1\x82\xF1</p>");
    EXPECT_EQ(Bytes(sjisHtml.content.props, t::kHtml), "<p>\x82\xB1\x82\xF1</p>");
    EXPECT_EQ(Int(sjisHtml.content.props, t::kInternetCodepage), 932);
    EXPECT_EQ(Utf8(sjisHtml.content.props, t::kBody), "\u3053\u3093");
    EXPECT_EQ(Int(sjisHtml.content.props, t::kNativeBodyInfo), 3);
    auto utf7Html = ImportText(dir,
                               "Subject: h\nContent-Type: text/html; charset=utf-7\n\n"
                               "<meta charset=\"utf-7\"><p>+Jjo-</p>");
    EXPECT_EQ(Bytes(utf7Html.content.props, t::kHtml), "<meta charset=\"utf-8\"><p>\u263A</p>");
    EXPECT_EQ(Int(utf7Html.content.props, t::kInternetCodepage), 65001);
}

TEST(ImportMessage, AlternativeRelatedAndInlineImages) {
    TempDir dir;
    auto r = ImportText(
        dir,
        "Subject: rich\n"
        "Content-Type: multipart/mixed; boundary=M\n\n"
        "--M\n"
        "Content-Type: multipart/alternative; boundary=A\n\n"
        "--A\nContent-Type: text/plain; charset=utf-8\n\nplain version\n"
        "--A\nContent-Type: multipart/related; boundary=R\n\n"
        "--R\nContent-Type: text/html; charset=utf-8\n\n"
        "<p>see <img src=\"cid:logo@x\"></p>\n"
        "--R\nContent-Type: image/png\nContent-ID: <logo@x>\n"
        "Content-Transfer-Encoding: base64\n\niVBORw0K\n"
        "--R\nContent-Type: image/gif\nContent-ID: <unused@x>\n\nGIF89a\n"
        "--R--\n"
        "--A--\n"
        "--M\nContent-Type: text/calendar; method=REQUEST\n\nBEGIN:VCALENDAR\n"
        "--M\nContent-Type: application/pdf\n"
        "Content-Disposition: attachment; filename*0*=utf-8''R%C3%A9sum;\n"
        " filename*1=\"e 2024.pdf\"; creation-date=\"Mon, 1 Jan 2024 00:00:00 +0000\"\n\n"
        "%PDF\n"
        "--M--\n");
    const auto& p = r.content.props;
    EXPECT_EQ(Bytes(p, t::kHtml), "<p>see <img src=\"cid:logo@x\"></p>");
    EXPECT_EQ(Utf8(p, t::kBody), "plain version");  // the plain alternative, not stripped HTML
    EXPECT_EQ(Int(p, t::kNativeBodyInfo), 3);
    EXPECT_EQ(Int(p, t::kInternetCodepage), 65001);
    ASSERT_EQ(r.content.attachments.size(), 4u);
    const auto& logo = r.content.attachments[0].props;
    EXPECT_EQ(Utf8(logo, t::kAttachContentId), "logo@x");
    EXPECT_TRUE(Find(logo, t::kAttachmentHidden)->AsBool());
    EXPECT_EQ(Int(logo, t::kAttachFlags), 4);
    EXPECT_EQ(Bytes(logo, t::kAttachDataBinary), "\x89PNG\r\n");
    EXPECT_EQ(Utf8(logo, t::kAttachLongFilename), "attachment1.png");
    // Not referenced by the HTML: stays visible so it is not lost to the reader.
    EXPECT_FALSE(Find(r.content.attachments[1].props, t::kAttachmentHidden)->AsBool());
    const auto& ics = r.content.attachments[2].props;
    EXPECT_EQ(Utf8(ics, t::kAttachLongFilename), "invite.ics");
    EXPECT_EQ(Utf8(ics, t::kAttachMimeTag), "text/calendar");
    const auto& pdf = r.content.attachments[3].props;
    EXPECT_EQ(Utf8(pdf, t::kAttachLongFilename), "R\u00E9sume 2024.pdf");
    EXPECT_EQ(Utf8(pdf, t::kAttachExtension), ".pdf");
    EXPECT_EQ(Utf8(pdf, t::kAttachFilename), "RSUME2~1.PDF");
    EXPECT_EQ(Int(pdf, t::kAttachNum), 3);
    EXPECT_EQ(Int(pdf, t::kAttachSize), 4);  // the line end before a boundary is the boundary's
    EXPECT_EQ(Int(pdf, t::kRenderingPosition), -1);
    EXPECT_EQ(UnixTime(pdf, t::kCreationTime), 1704067200);
    EXPECT_EQ(Int(p, t::kMessageFlags), t::kMfRead | t::kMfHasAttach);
    EXPECT_TRUE(Find(p, t::kHasAttach)->AsBool());
    EXPECT_FALSE(FindNamed(p, t::kPsetidCommon, uint32_t(t::kLidSmartNoAttach)));
}

TEST(ImportMessage, OnlyHiddenAttachmentsSetSmartNoAttach) {
    TempDir dir;
    auto r = ImportText(dir,
                        "Subject: x\nContent-Type: multipart/related; boundary=R\n\n"
                        "--R\nContent-Type: text/html\n\n<img src=\"CID:a@b\">\n"
                        "--R\nContent-Type: image/jpeg\nContent-ID: <a@b>\n\nJPEG\n--R--\n");
    ASSERT_EQ(r.content.attachments.size(), 1u);
    EXPECT_EQ(Int(r.content.props, t::kMessageFlags), t::kMfRead | t::kMfHasAttach);
    const auto* smart =
        FindNamed(r.content.props, t::kPsetidCommon, uint32_t(t::kLidSmartNoAttach));
    ASSERT_TRUE(smart);
    EXPECT_TRUE(smart->AsBool());
}

TEST(ImportMessage, InlineTextAndPicturesBecomeOneBody) {
    TempDir dir;
    std::string parts =
        "--M\nContent-Type: text/plain; charset=iso-8859-1; format=flowed\n\nVoil\xE0 the \nphoto "
        "<1>:\n"
        "--M\nContent-Type: image/jpeg; name=p.jpg\nContent-Disposition: %s; "
        "filename=p.jpg\n\nJPEG\n"
        "--M\nContent-Type: text/html\n\n<html><body><b>after</b></body></html>\n--M--\n";
    char inlineParts[1024], attachedParts[1024];
    std::snprintf(inlineParts, sizeof inlineParts, parts.c_str(), "inline");
    std::snprintf(attachedParts, sizeof attachedParts, parts.c_str(), "attachment");
    std::string head = "Subject: pics\nContent-Type: multipart/mixed; boundary=M\n\n";

    auto r = ImportText(dir, head + inlineParts);
    const auto& p = r.content.props;
    ASSERT_EQ(r.content.attachments.size(), 1u);
    const auto& pic = r.content.attachments[0].props;
    std::string cid = Utf8(pic, t::kAttachContentId);
    ASSERT_NE(cid, "<absent>");
    EXPECT_TRUE(Find(pic, t::kAttachmentHidden)->AsBool());
    std::string html = Bytes(p, t::kHtml);
    size_t text = html.find("Voil\u00E0 the photo &lt;1&gt;:");
    size_t img = html.find("<img src=\"cid:" + cid + "\">");
    size_t after = html.find("<b>after</b>");
    ASSERT_NE(text, std::string::npos) << html;
    ASSERT_NE(img, std::string::npos) << html;
    ASSERT_NE(after, std::string::npos) << html;
    EXPECT_LT(text, img);
    EXPECT_LT(img, after);
    EXPECT_EQ(html.find("<body><b>"), std::string::npos);  // inner documents are unwrapped
    EXPECT_EQ(Int(p, t::kInternetCodepage), 65001);
    EXPECT_EQ(Utf8(p, t::kBody), "Voil\u00E0 the photo <1>:\r\nafter\r\n");

    // A picture sent as an attachment keeps the usual reading: first part body, rest attached.
    auto plain = ImportText(dir, head + attachedParts);
    EXPECT_FALSE(Find(plain.content.props, t::kHtml));
    EXPECT_EQ(Utf8(plain.content.props, t::kBody), "Voil\u00E0 the photo <1>:\r\n");
    ASSERT_EQ(plain.content.attachments.size(), 2u);
    EXPECT_FALSE(Find(plain.content.attachments[0].props, t::kAttachmentHidden)->AsBool());
}

TEST(ImportMessage, EmptyHtmlPartStoresNoHtmlBody) {
    // An empty value would be stored without data, which readers report as a damaged body.
    TempDir dir;
    auto alternative = ImportText(dir,
                                  "Subject: a\nContent-Type: multipart/alternative; boundary=A\n\n"
                                  "--A\nContent-Type: text/plain\n\nthe text\n"
                                  "--A\nContent-Type: text/html\n\n\n--A--\n");
    EXPECT_FALSE(Find(alternative.content.props, t::kHtml));
    EXPECT_EQ(Utf8(alternative.content.props, t::kBody), "the text");
    EXPECT_EQ(Int(alternative.content.props, t::kNativeBodyInfo), 1);

    auto htmlOnly = ImportText(dir, "Subject: b\nContent-Type: text/html; charset=utf-8\n\n");
    EXPECT_FALSE(Find(htmlOnly.content.props, t::kHtml));
    EXPECT_EQ(Int(htmlOnly.content.props, t::kNativeBodyInfo), 1);

    // One character of HTML is still an HTML body.
    auto tiny = ImportText(dir, "Subject: c\nContent-Type: text/html\n\n<");
    EXPECT_EQ(Bytes(tiny.content.props, t::kHtml), "<");
    EXPECT_EQ(Int(tiny.content.props, t::kNativeBodyInfo), 3);
}

TEST(ImportMessage, EncodedNamesAndEmbeddedMessages) {
    TempDir dir;
    auto r = ImportText(dir,
                        "Subject: outer\nContent-Type: multipart/mixed; boundary=M\n\n"
                        "--M\nContent-Type: text/plain\n\nsee attached\n"
                        "--M\nContent-Type: application/octet-stream;\n"
                        " name=\"=?iso-2022-jp?B?GyRCRnxLXDhsGyhC?=.txt\"\n\nx\n"
                        "--M\nContent-Type: text/plain; name=\"a:b|c?.txt\"\n"
                        "Content-Disposition: attachment\n\nsecond text\n"
                        "--M\nContent-Type: message/rfc822\n\n"
                        "Subject: inner\nFrom: in@x.org\nDate: 1 Feb 2020 00:00:00 +0000\n"
                        "Content-Type: multipart/mixed; boundary=I\n\n"
                        "--I\nContent-Type: text/plain\n\ninner body\n"
                        "--I\nContent-Type: message/rfc822\n\nSubject: innermost\n\ndeep\n"
                        "--I--\n"
                        "--M\nContent-Type: message/rfc822\nContent-Transfer-Encoding: base64\n\n"
                        "U3ViamVjdDogZW5jb2RlZAoKaW5zaWRlCg==\n"  // "Subject: encoded\n\ninside\n"
                        "--M--\n");
    ASSERT_EQ(r.content.attachments.size(), 4u);
    ASSERT_TRUE(r.content.attachments[3].embedded);  // transfer-encoded, still a message
    EXPECT_EQ(Utf8(r.content.attachments[3].embedded->props, t::kBody), "inside\n");
    EXPECT_EQ(Utf8(r.content.attachments[3].props, t::kDisplayName), "encoded");
    EXPECT_EQ(Utf8(r.content.attachments[0].props, t::kAttachLongFilename),
              "\u65E5\u672C\u8A9E.txt");
    EXPECT_EQ(Utf8(r.content.attachments[1].props, t::kAttachLongFilename), "a_b_c_.txt");
    const auto& emb = r.content.attachments[2];
    EXPECT_EQ(Int(emb.props, t::kAttachMethod), 5);
    EXPECT_EQ(Utf8(emb.props, t::kDisplayName), "inner");
    ASSERT_TRUE(emb.embedded);
    EXPECT_EQ(Utf8(emb.embedded->props, t::kSubject), "inner");
    EXPECT_EQ(Utf8(emb.embedded->props, t::kBody), "inner body");
    EXPECT_EQ(Utf8(emb.embedded->props, t::kSentRepresentingEmailAddress), "in@x.org");
    EXPECT_EQ(UnixTime(emb.embedded->props, t::kClientSubmitTime), 1580515200);
    EXPECT_EQ(Int(emb.embedded->props, t::kMessageFlags), t::kMfRead | t::kMfHasAttach);
    ASSERT_EQ(emb.embedded->attachments.size(), 1u);
    ASSERT_TRUE(emb.embedded->attachments[0].embedded);
    EXPECT_EQ(Utf8(emb.embedded->attachments[0].embedded->props, t::kBody), "deep");
}

TEST(ImportMessage, SmimeSignedAndEncryptedClasses) {
    TempDir dir;
    std::string signedEntity =
        "--S\r\nContent-Type: multipart/mixed; boundary=I\r\n\r\n"
        "--I\r\nContent-Type: text/plain\r\n\r\nsigned text\r\n"
        "--I\r\nContent-Type: application/pdf; name=a.pdf\r\n\r\n%PDF\r\n--I--\r\n"
        "\r\n--S\r\nContent-Type: application/pkcs7-signature; name=smime.p7s\r\n\r\nSIG\r\n"
        "--S--\r\n";
    auto sig = ImportText(dir,
                          "Subject: signed\r\nContent-Type: multipart/signed;\r\n"
                          " protocol=\"application/pkcs7-signature\"; boundary=S\r\n\r\n" +
                              signedEntity);
    const auto& sp = sig.content.props;
    EXPECT_EQ(Utf8(sp, t::kMessageClass), "IPM.Note.SMIME.MultipartSigned");
    EXPECT_EQ(Utf8(sp, t::kBody), "signed text");
    ASSERT_EQ(sig.content.attachments.size(), 1u);
    const auto& blob = sig.content.attachments[0].props;
    EXPECT_EQ(Utf8(blob, t::kAttachMimeTag), "multipart/signed");
    EXPECT_EQ(Utf8(blob, t::kAttachLongFilename), "smime.p7m");
    EXPECT_EQ(Bytes(blob, t::kAttachDataBinary),
              "Content-Type: multipart/signed; protocol=\"application/pkcs7-signature\"; "
              "boundary=S\r\n\r\n" +
                  signedEntity);

    // Saved with LF line ends: the blob gets the CRLF form back.
    std::string lf = signedEntity;
    for (size_t i; (i = lf.find("\r\n")) != std::string::npos;) lf.erase(i, 1);
    auto sigLf = ImportText(dir,
                            "Subject: signed\nContent-Type: multipart/signed;\n"
                            " protocol=\"application/pkcs7-signature\"; boundary=S\n\n" +
                                lf);
    EXPECT_EQ(Bytes(sigLf.content.attachments[0].props, t::kAttachDataBinary),
              Bytes(blob, t::kAttachDataBinary));

    auto enc = ImportText(dir,
                          "Subject: secret\nContent-Type: application/pkcs7-mime; "
                          "smime-type=enveloped-data; name=smime.p7m\n"
                          "Content-Transfer-Encoding: base64\n\nMIAGCSqG\n");
    EXPECT_EQ(Utf8(enc.content.props, t::kMessageClass), "IPM.Note.SMIME");
    EXPECT_FALSE(Find(enc.content.props, t::kBody));
    ASSERT_EQ(enc.content.attachments.size(), 1u);
    EXPECT_EQ(Bytes(enc.content.attachments[0].props, t::kAttachDataBinary),
              "\x30\x80\x06\x09\x2A\x86");
    const auto* ct = FindNamed(enc.content.props, t::kPsInternetHeaders, u"content-type");
    ASSERT_TRUE(ct);
    EXPECT_NE(ct->AsUtf8().find("enveloped-data"), std::string::npos);

    auto p7m = ImportText(
        dir, "Subject: x\nContent-Type: application/octet-stream; name=\"msg.P7M\"\n\nDATA\n");
    EXPECT_EQ(Utf8(p7m.content.props, t::kMessageClass), "IPM.Note.SMIME");
}

TEST(ImportMessage, TnefDecodedOrKept) {
    TempDir dir;
    TnefWriter item;
    item.Attr(1, 0x00069003,
              TnefWriter::PropList({{0x0037001F, TnefWriter::Utf16z(u"Forwarded item")}}))
        .Attr(2, 0x00069002, std::string(14, '\0'))
        .Attr(2, 0x00018010, std::string("in.txt\0", 7))
        .Attr(2, 0x0006800F, "IN");
    TnefWriter w;
    w.Attr(1, 0x00069003, TnefWriter::PropList({{0x10090102, "RTF"}}))
        .Attr(2, 0x00069002, std::string(14, '\0'))
        .Attr(2, 0x00018010, std::string("budget.xls\0", 11))
        .Attr(2, 0x0006800F, "XLSDATA")
        .Attr(2, 0x00069002, std::string(14, '\0'))
        .Attr(2, 0x00069005,
              TnefWriter::PropList({{0x3701000D, std::string(16, '\0') + item.bytes()}}));
    gchar* b64 =
        g_base64_encode(reinterpret_cast<const guchar*>(w.bytes().data()), w.bytes().size());
    std::string encoded = b64;
    g_free(b64);
    std::string head =
        "Subject: t\nContent-Type: multipart/mixed; boundary=M\n\n"
        "--M\nContent-Type: application/ms-tnef; name=winmail.dat\n"
        "Content-Transfer-Encoding: base64\n\n";
    auto good = ImportText(dir, head + encoded + "\n--M--\n");
    ASSERT_EQ(good.content.attachments.size(), 2u);
    const auto& forwarded = good.content.attachments[1];
    EXPECT_EQ(Int(forwarded.props, t::kAttachMethod), 5);
    EXPECT_EQ(Utf8(forwarded.props, t::kDisplayName), "Forwarded item");
    ASSERT_TRUE(forwarded.embedded);
    EXPECT_EQ(Utf8(forwarded.embedded->props, t::kMessageClass), "IPM.Note");
    EXPECT_EQ(Int(forwarded.embedded->props, t::kMessageFlags), t::kMfRead | t::kMfHasAttach);
    ASSERT_EQ(forwarded.embedded->attachments.size(), 1u);
    EXPECT_EQ(Bytes(forwarded.embedded->attachments[0].props, t::kAttachDataBinary), "IN");
    EXPECT_EQ(Utf8(good.content.attachments[0].props, t::kAttachLongFilename), "budget.xls");
    EXPECT_EQ(Bytes(good.content.attachments[0].props, t::kAttachDataBinary), "XLSDATA");
    EXPECT_EQ(Bytes(good.content.props, t::kRtfCompressed), "RTF");
    EXPECT_EQ(Int(good.content.props, t::kNativeBodyInfo), 2);

    auto bad = ImportText(dir, head + "bm90IHRuZWY=\n--M--\n");
    ASSERT_EQ(bad.content.attachments.size(), 1u);
    EXPECT_EQ(Utf8(bad.content.attachments[0].props, t::kAttachLongFilename), "winmail.dat");
    EXPECT_EQ(Utf8(bad.content.attachments[0].props, t::kAttachMimeTag),
              "application/octet-stream");
    EXPECT_EQ(Bytes(bad.content.attachments[0].props, t::kAttachDataBinary), "not tnef");
    ASSERT_FALSE(bad.warnings.empty());
}

}  // namespace
}  // namespace mime

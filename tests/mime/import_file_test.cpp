// File-level behaviour: emlx framing and flags, partial emlx, refusals, hostile inputs,
// attachment data streamed from the file. Pipes and unreadable files are in posix/.
#include <gtest/gtest.h>

#include "mime/import.h"
#include "test_support.h"
#include "tests/support/platform.h"

namespace mime {
namespace {

using namespace mime::testing;
namespace t = mime::tag;

std::string Emlx(const std::string& message, const std::string& plistDict) {
    return std::to_string(message.size()) + "\n" + message +
           "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n" +
           plistDict + "</dict>\n</plist>\n";
}

TEST(ImportFile, EmlxFramingFlagsAndReceivedDate) {
    TempDir dir;
    std::string message = "Subject: emlx\nDate: 1 Feb 2020 00:00:00 +0000\n\nbody text\n";
    struct Case {
        uint64_t flags;
        int32_t messageFlags, icon, lastVerb;
        bool flagged;
    } cases[] = {
        {0, 0, 0x101, -12345, false},                                 // unread
        {1, t::kMfRead, 0x100, -12345, false},                        // read
        {1 | 4, t::kMfRead, 0x105, 102, false},                       // answered
        {1 | 256, t::kMfRead, 0x106, 104, false},                     // forwarded
        {1 | 16, t::kMfRead, 0x100, -12345, true},                    // flagged
        {64, t::kMfUnsent, 0x101, -12345, false},                     // draft
        {(uint64_t(1) << 40) | 1, t::kMfRead, 0x100, -12345, false},  // high bits ignored
    };
    for (const auto& c : cases) {
        auto r = ImportText(dir,
                            Emlx(message,
                                 "<key>date-received</key>\n<integer>1600000000</integer>\n"
                                 "<key>flags</key>\n<integer>" +
                                     std::to_string(c.flags) + "</integer>\n"),
                            "1.emlx");
        const auto& p = r.content.props;
        EXPECT_EQ(Int(p, t::kMessageFlags), c.messageFlags) << c.flags;
        EXPECT_EQ(Int(p, t::kIconIndex), c.icon) << c.flags;
        EXPECT_EQ(Int(p, t::kLastVerbExecuted), c.lastVerb) << c.flags;
        EXPECT_EQ(Int(p, t::kFlagStatus), c.flagged ? 2 : -12345) << c.flags;
        EXPECT_EQ(FindNamed(p, t::kPsetidCommon, uint32_t(t::kLidFlagRequest)) != nullptr,
                  c.flagged);
        // The property list is not part of the message; the count line neither.
        EXPECT_EQ(Utf8(p, t::kBody), "body text\n");
        EXPECT_EQ(Utf8(p, t::kSubject), "emlx");
        EXPECT_EQ(Int(p, t::kMessageSize), int32_t(message.size()));
        EXPECT_EQ(UnixTime(p, t::kMessageDeliveryTime), 1600000000);
        EXPECT_EQ(UnixTime(p, t::kClientSubmitTime), 1580515200);
    }
    // No count line: read as a plain message, with a warning.
    auto plain = ImportText(dir, message, "2.emlx");
    EXPECT_EQ(Utf8(plain.content.props, t::kSubject), "emlx");
    EXPECT_EQ(plain.warnings.size(), 1u);
}

TEST(ImportFile, PartialEmlxPutsStoredPartsBack) {
    TempDir dir;
    std::string message =
        "Subject: partial\nContent-Type: multipart/mixed; boundary=M\n\n"
        "--M\nContent-Type: text/plain\n\nsee files\n"
        "--M\nContent-Type: application/pdf; name=report.pdf\n"
        "Content-Transfer-Encoding: base64\nX-Apple-Content-Length: 9\n\n\n"
        "--M\nContent-Type: multipart/mixed; boundary=N\n\n"
        "--N\nContent-Type: image/png\nContent-Disposition: attachment\n"
        "X-Apple-Content-Length: 4\n\n\n"
        "--N\nContent-Type: application/zip; name=gone.zip\nX-Apple-Content-Length: 100\n\n\n"
        "--N--\n--M--\n";
    std::string path = dir.Write("Mailbox/Messages/4711.partial.emlx", Emlx(message, ""));
    dir.Write("Mailbox/Attachments/4711/2/report.pdf", "%PDF-data");
    dir.Write("Mailbox/Attachments/4711/3.1/picture.png", "PNG!");
    auto r = ImportMessageFile(path);
    ASSERT_TRUE(r.ok) << r.error;
    ASSERT_EQ(r.content.attachments.size(), 3u);
    const auto& pdf = r.content.attachments[0].props;
    EXPECT_EQ(Utf8(pdf, t::kAttachLongFilename), "report.pdf");
    EXPECT_EQ(Bytes(pdf, t::kAttachDataBinary), "%PDF-data");
    EXPECT_EQ(Int(pdf, t::kAttachSize), 9);
    const auto& png = r.content.attachments[1].props;
    EXPECT_EQ(Utf8(png, t::kAttachLongFilename), "picture.png");  // the stored file names it
    EXPECT_EQ(Bytes(png, t::kAttachDataBinary), "PNG!");
    EXPECT_EQ(Bytes(r.content.attachments[2].props, t::kAttachDataBinary), "");
    ASSERT_EQ(r.warnings.size(), 1u);
    EXPECT_NE(r.warnings[0].find("attachment 3.2 of"), std::string::npos) << r.warnings[0];
    const std::string where = fs::Utf8FromPath(dir / "Mailbox/Attachments/4711/3.2");
    EXPECT_NE(r.warnings[0].find(where), std::string::npos) << r.warnings[0];
}

TEST(ImportFile, RefusesWhatIsNotAMessageWithReasons) {
    TempDir dir;
    auto missing = ImportMessageFile(fs::Utf8FromPath(dir.path() / "gone.eml"));
    EXPECT_FALSE(missing.ok);
    EXPECT_NE(missing.error.find("cannot open"), std::string::npos);
    EXPECT_NE(missing.error.find(testsupport::NoSuchFileText()), std::string::npos)
        << missing.error;

    auto folder = ImportMessageFile(dir.str());
    EXPECT_FALSE(folder.ok);
    EXPECT_NE(folder.error.find("folder"), std::string::npos);

    struct Case {
        std::string bytes, reason;
    } cases[] = {
        {"", "the file is empty"},
        {std::string("\x89PNG\r\n\x1A\n\0\0\0\rIHDR\0\0\0\x10\0\0\0\x10\x08\x06\0\0\0", 29),
         "binary data"},
        {std::string(4096, '\0'), "binary data"},
        {"\n\n  \r\n", "only blank lines"},
        {"Just some text that someone saved.\nNo headers here.\n", "not a header field"},
        {"one\ntwo\nthree\nSubject: x\n", "not a header field"},  // too much text before it
    };
    for (const auto& c : cases) {
        auto r = ImportMessageFile(dir.Write("bad.eml", c.bytes));
        EXPECT_FALSE(r.ok) << c.reason;
        EXPECT_NE(r.error.find(c.reason), std::string::npos) << r.error;
        EXPECT_EQ(r.error.rfind("not a message", 0), 0u) << r.error;
    }
    // A MIME entity saved on its own has only Content-* fields, all on its part: a message.
    auto entity = ImportText(dir, "Content-Type: text/plain; charset=utf-8\n\nhello\n");
    EXPECT_EQ(Utf8(entity.content.props, t::kBody), "hello\n");
}

TEST(ImportFile, SkipsWhatMailersPutBeforeTheHeader) {
    TempDir dir;
    for (std::string lead :
         {"\r\n\r\n", "\xEF\xBB\xBF", "Microsoft Mail Internet Headers Version 2.0\r\n",
          "\xEF\xBB\xBF\r\nSaved message\r\n\r\n"}) {
        auto r = ImportText(dir, lead + "From: a@b.c\r\nSubject: found\r\n\r\nbody\r\n");
        EXPECT_EQ(Utf8(r.content.props, t::kSubject), "found");
        EXPECT_EQ(Utf8(r.content.props, t::kSenderEmailAddress), "a@b.c");
        EXPECT_EQ(Utf8(r.content.props, t::kTransportMessageHeaders).rfind("From: a@b.c", 0), 0u);
    }
}

TEST(ImportFile, HostileStructuresStayBounded) {
    TempDir dir;
    // 10,000 nested multiparts.
    std::string deep = "Subject: deep\n";
    for (int i = 0; i < 10000; ++i)
        deep += "Content-Type: multipart/mixed; boundary=\"b" + std::to_string(i) + "\"\n\n--b" +
                std::to_string(i) + "\n";
    deep += "Content-Type: text/plain\n\nbottom\n";
    for (int i = 9999; i >= 0; --i) deep += "--b" + std::to_string(i) + "--\n";
    auto d = ImportText(dir, deep);
    EXPECT_EQ(Utf8(d.content.props, t::kSubject), "deep");
    ASSERT_EQ(d.warnings.size(), 1u);  // reported once, not ten thousand times
    EXPECT_EQ(d.warnings[0].rfind("parts nested too deeply", 0), 0u) << d.warnings[0];

    // A 1 MB header line, folded and unfolded.
    std::string huge(1 << 20, 'a');
    auto h = ImportText(
        dir, "X-Long: " + huge + "\nSubject: after " + huge.substr(0, 10) + "\n\nbody\n");
    EXPECT_EQ(Utf8(h.content.props, t::kSubject), "after aaaaaaaaaa");
    EXPECT_EQ(Utf8(h.content.props, t::kBody), "body\n");
    auto hs = ImportText(dir, "Subject: " + huge + "\n\nbody\n");
    EXPECT_EQ(Utf8(hs.content.props, t::kSubject).size(), huge.size());

    // NUL bytes in headers and body keep the rest of the text.
    auto nul = ImportText(dir, std::string("Subject: a\0b\nFrom: x@y.z\n\nbe\0fore after\n", 40));
    EXPECT_EQ(Utf8(nul.content.props, t::kSenderEmailAddress), "x@y.z");
    EXPECT_NE(Utf8(nul.content.props, t::kBody).find("after"), std::string::npos);

    // Headers only, no body, no blank line; and a body with no headers worth a message.
    auto headersOnly = ImportText(dir, "Subject: only headers");
    EXPECT_EQ(Utf8(headersOnly.content.props, t::kSubject), "only headers");
    // A multipart whose closing boundary never comes.
    auto open = ImportText(dir,
                           "Subject: cut\nContent-Type: multipart/mixed; boundary=X\n\n--X\n"
                           "Content-Type: text/plain\n\nstart of text");
    EXPECT_NE(Utf8(open.content.props, t::kBody).find("start of text"), std::string::npos);
    ASSERT_EQ(open.warnings.size(), 1u);
    EXPECT_NE(open.warnings[0].find("cut file"), std::string::npos) << open.warnings[0];
}

TEST(ImportFile, AttachmentsBeyondTheMemoryBudgetAreStreamed) {
    TempDir dir;
    std::string message = "Subject: many\nContent-Type: multipart/mixed; boundary=M\n\n";
    for (int i = 0; i < 4; ++i)
        message += "--M\nContent-Type: application/octet-stream\n\n" +
                   std::string(500, char('a' + i)) + "\n";
    message += "--M--\n";
    ImportOptions options;
    options.inMemoryAttachmentLimit = 600;
    options.inMemoryTotalLimit = 1100;
    auto r = ImportText(dir, message, "m.eml", options);
    ASSERT_EQ(r.content.attachments.size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        const auto* data = Find(r.content.attachments[i].props, t::kAttachDataBinary);
        ASSERT_TRUE(data);
        EXPECT_EQ(data->IsStream(), i >= 2) << i;
        EXPECT_EQ(Bytes(r.content.attachments[i].props, t::kAttachDataBinary),
                  std::string(500, char('a' + i)));
    }
}

TEST(ImportFile, LargeAttachmentDataStreamsFromTheFile) {
    TempDir dir;
    std::string payload;
    for (int i = 0; i < 5000; ++i) payload += "line " + std::to_string(i) + " of the payload\n";
    gchar* b64 = g_base64_encode(reinterpret_cast<const guchar*>(payload.data()), payload.size());
    std::string encoded;
    for (const char* p = b64; *p; p += std::min<size_t>(76, strlen(p))) {
        encoded.append(p, std::min<size_t>(76, strlen(p)));
        encoded += "\n";
    }
    g_free(b64);
    std::string message =
        "Subject: big\nContent-Type: multipart/mixed; boundary=M\n\n"
        "--M\nContent-Type: text/plain\n\nbody\n"
        "--M\nContent-Type: application/octet-stream; name=big.bin\n"
        "Content-Transfer-Encoding: base64\n\n" +
        encoded + "--M--\n";
    ImportOptions small;
    small.inMemoryAttachmentLimit = 1024;
    for (const char* name : {"big.eml", "9.emlx"}) {
        std::string text = std::string(name) == "9.emlx" ? Emlx(message, "") : message;
        std::string path = dir.Write(name, text);
        auto r = ImportMessageFile(path, small);
        ASSERT_TRUE(r.ok) << r.error;
        ASSERT_EQ(r.content.attachments.size(), 1u);
        const auto* data = Find(r.content.attachments[0].props, t::kAttachDataBinary);
        ASSERT_TRUE(data);
        EXPECT_TRUE(data->IsStream()) << name;
        EXPECT_EQ(data->size(), payload.size()) << name;
        EXPECT_EQ(Bytes(r.content.attachments[0].props, t::kAttachDataBinary), payload) << name;
        // Read twice: the same bytes.
        EXPECT_EQ(Bytes(r.content.attachments[0].props, t::kAttachDataBinary), payload) << name;
        // Removed after the import: reading it says why.
        std::filesystem::remove(path);
        try {
            data->Producer()([](std::span<const uint8_t>) {});
            ADD_FAILURE() << "reading a removed file should fail";
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()).find(testsupport::NoSuchFileText()), std::string::npos)
                << e.what();
        }
    }
}

}  // namespace
}  // namespace mime

#include "mime/tnef.h"

#include <gtest/gtest.h>

#include <map>

#include "tnef_writer.h"

namespace mime {
namespace {

using testing::TnefWriter;

std::span<const uint8_t> Span(const std::string& s) {
    return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

std::string Sample() {
    TnefWriter w;
    w.Attr(1, 0x00069007, std::string("\xE4\x04\0\0\0\0\0\0", 8))  // OEM code page 1252
        .Attr(1, 0x0002800C, "Plain body \x93quoted\x94")
        .Attr(1, 0x00069003, TnefWriter::PropList({{0x10090102, "RTFDATA"}}))
        .Attr(2, 0x00069002, std::string(14, '\0'))
        .Attr(2, 0x00018010, std::string("REPORT~1.PDF\0", 13))
        .Attr(2, 0x0006800F, "%PDF-1.4 data")
        .Attr(2, 0x00069005,
              TnefWriter::PropList({{0x3707001F, TnefWriter::Utf16z(u"Quarterly r\u00E9port.pdf")},
                                    {0x370E001F, TnefWriter::Utf16z(u"application/pdf")}}))
        .Attr(2, 0x00069002, std::string(14, '\0'))
        .Attr(2, 0x00018010, std::string("notes.txt\0", 10))
        .Attr(2, 0x0006800F, "some notes");
    return w.bytes();
}

TEST(Tnef, ReadsAttachmentsAndBodies) {
    std::string error;
    auto content = ParseTnef(Span(Sample()), &error);
    ASSERT_TRUE(content) << error;
    EXPECT_EQ(content->body, "Plain body \u201Cquoted\u201D");
    EXPECT_EQ(std::string(content->rtfCompressed.begin(), content->rtfCompressed.end()), "RTFDATA");
    ASSERT_EQ(content->attachments.size(), 2u);
    const auto& pdf = content->attachments[0];
    EXPECT_EQ(pdf.name, "Quarterly r\u00E9port.pdf");  // long name wins over the 8.3 title
    EXPECT_EQ(pdf.mimeType, "application/pdf");
    EXPECT_EQ(std::string(pdf.data.begin(), pdf.data.end()), "%PDF-1.4 data");
    EXPECT_EQ(content->attachments[1].name, "notes.txt");
    EXPECT_EQ(std::string(content->attachments[1].data.begin(), content->attachments[1].data.end()),
              "some notes");
}

TEST(Tnef, AttachedMessagesAreDecodedWithTheirProperties) {
    TnefWriter inner;
    inner
        .Attr(1, 0x00069003,
              TnefWriter::PropList({{0x0037001F, TnefWriter::Utf16z(u"Inner item")},
                                    {0x0FFF0102, "STORE-ENTRYID"},
                                    {0x0C1A001E, std::string("Ren\xE9\0", 5)}}))
        .Attr(2, 0x00069002, std::string(14, '\0'))
        .Attr(2, 0x00018010, std::string("deep.txt\0", 9))
        .Attr(2, 0x0006800F, "deep data");
    std::string object = std::string(16, '\x07') + inner.bytes();  // interface id, then the stream
    TnefWriter outer;
    outer.Attr(2, 0x00069002, std::string(14, '\0'))
        .Attr(2, 0x00069005, TnefWriter::PropList({{0x3701000D, object}}));
    std::string error;
    auto content = ParseTnef(Span(outer.bytes()), &error);
    ASSERT_TRUE(content) << error;
    ASSERT_EQ(content->attachments.size(), 1u);
    ASSERT_TRUE(content->attachments[0].embedded);
    const auto& msg = *content->attachments[0].embedded;
    std::map<uint32_t, std::string> props;
    for (const auto& v : msg.messageProps) props[v.Tag()] = v.AsUtf8();
    EXPECT_EQ(props[0x0037001F], "Inner item");
    EXPECT_EQ(props[0x0C1A001F], "Ren\u00E9");  // 8-bit string turned Unicode
    EXPECT_FALSE(props.count(0x0FFF0102));      // the sender's store identity is dropped
    ASSERT_EQ(msg.attachments.size(), 1u);
    EXPECT_EQ(msg.attachments[0].name, "deep.txt");
}

TEST(Tnef, RefusesForeignCutAndCorruptStreams) {
    std::string error;
    EXPECT_FALSE(ParseTnef(Span("not tnef at all"), &error));
    EXPECT_EQ(error, "no TNEF signature");
    std::string full = Sample();
    // Every cut inside an attribute is detected, never read past the end.
    for (size_t cut : {size_t(7), size_t(20), full.size() / 2, full.size() - 1}) {
        std::string part = full.substr(0, cut);
        EXPECT_FALSE(ParseTnef(Span(part), &error)) << cut;
    }
    // A property list claiming far more properties than it holds.
    std::string bogus;
    TnefWriter::Put32(bogus, 0x7FFFFFFF);
    TnefWriter w;
    w.Attr(1, 0x00069003, bogus);
    EXPECT_FALSE(ParseTnef(Span(w.bytes()), &error));
    EXPECT_NE(error.find("corrupt"), std::string::npos);
}

}  // namespace
}  // namespace mime

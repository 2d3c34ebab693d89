// Pure rules: charsets, subject prefixes, header-derived values, names, entry ids, emlx framing.
#include <gtest/gtest.h>

#include <map>

#include "mime/address.h"
#include "mime/attachment_name.h"
#include "mime/charset.h"
#include "mime/emlx.h"
#include "mime/flowed_text.h"
#include "mime/header_rules.h"
#include "mime/html_text.h"

namespace mime {
namespace {

TEST(Charset, DecodesLegacyAndMislabelledText) {
    // ISO-8859-1 with C1 bytes is really windows-1252 (curly quotes, euro sign).
    EXPECT_EQ(DecodeToUtf8("\x93quoted\x94 \x80", "iso-8859-1"), "\u201Cquoted\u201D \u20AC");
    EXPECT_EQ(DecodeToUtf8("caf\xE9", "ISO-8859-1"), "caf\u00E9");
    EXPECT_EQ(DecodeToUtf8("caf\xE9", "latin1"), "caf\u00E9");
    // Unlabelled / us-ascii / unknown labels over 8-bit bytes: UTF-8 first, then windows-1252.
    EXPECT_EQ(DecodeToUtf8("caf\xC3\xA9", ""), "caf\u00E9");
    EXPECT_EQ(DecodeToUtf8("caf\xE9", "us-ascii"), "caf\u00E9");
    EXPECT_EQ(DecodeToUtf8("caf\xE9", "x-unknown-8bit"), "caf\u00E9");
    EXPECT_EQ(DecodeToUtf8("caf\xC3\xA9", "unknown-8bit"), "caf\u00E9");
    // Labelled UTF-8 holding a stray legacy byte: nothing is lost.
    EXPECT_EQ(DecodeToUtf8("\xC3\xA9t\xE9", "utf-8"), "\u00E9t\u00E9");
    EXPECT_EQ(DecodeToUtf8("\xF0\x9F\x98\x80", "UTF-8"), "\U0001F600");
    // UTF-8 under a Western label is read as UTF-8.
    EXPECT_EQ(DecodeToUtf8("DISCOVER\xC3\x86", "iso-8859-1"), "DISCOVER\u00C6");
    EXPECT_EQ(EffectiveCharset("caf\xC3\xA9", "windows-1252"), "utf-8");
    EXPECT_EQ(EffectiveCharset("caf\xE9", "windows-1252"), "windows-1252");
}

TEST(Charset, DecodesWindowsSupersetsOfAsianCharsets) {
    // Only the Windows forms hold these: NEC circled digits, Korean and Chinese extensions.
    EXPECT_EQ(DecodeToUtf8("\x87\x40", "shift_jis"), "\u2460");
    EXPECT_EQ(DecodeToUtf8("\xB0\xA1", "ks_c_5601-1987"), "\uAC00");
    EXPECT_EQ(DecodeToUtf8("\xC4\xE3\xBA\xC3", "gb2312"), "\u4F60\u597D");
}

// Decoded by our own code: the Windows build's converter has no UTF-7.
TEST(Charset, DecodesUtf7WithShiftsSurrogatesAndBrokenInput) {
    EXPECT_EQ(DecodeToUtf8("Hi Mom -+Jjo--!", "utf-7"), "Hi Mom -\u263A-!");
    EXPECT_EQ(DecodeToUtf8("A+ImIDkQ.", "UTF-7"), "A\u2262\u0391.");
    EXPECT_EQ(DecodeToUtf8("+ZeVnLIqe-", "unicode-1-1-utf-7"), "\u65E5\u672C\u8A9E");
    EXPECT_EQ(DecodeToUtf8("1 +- 1", "utf-7"), "1 + 1");
    EXPECT_EQ(DecodeToUtf8("+2D3eAA-", "utf-7"), "\U0001F600");
    // A surrogate without its partner and a byte outside ASCII are replaced, the rest kept.
    EXPECT_EQ(DecodeToUtf8("+2D0-x\xE9", "utf-7"), "\uFFFDx\uFFFD");
}

TEST(Charset, MapsCodePagesThroughAliases) {
    const std::map<std::string, uint32_t> expected = {
        {"us-ascii", 20127}, {"UTF-8", 65001},        {"iso-8859-1", 28591}, {"latin1", 28591},
        {"cp1252", 1252},    {"koi8-r", 20866},       {"Shift_JIS", 932},    {"iso-2022-jp", 50220},
        {"gb2312", 936},     {"ks_c_5601-1987", 949}, {"big5", 950},         {"x-nonsense", 0}};
    for (const auto& [label, cp] : expected) EXPECT_EQ(CodePageOf(label), cp) << label;
}

TEST(Subject, SplitsOnlyShortPrefixes) {
    struct Case {
        std::u16string subject, prefix, normalized;
    } cases[] = {
        {u"RE: Lunch", u"RE: ", u"Lunch"},
        {u"Fwd: Lunch", u"Fwd: ", u"Lunch"},
        {u"AW:   Lunch", u"AW: ", u"Lunch"},      // several blanks still a prefix
        {u"SV: ", u"SV: ", u""},                  // nothing after the prefix blanks
        {u"Lunch: today", u"", u"Lunch: today"},  // 5 characters: not a prefix
        {u"10: items", u"", u"10: items"},        // digits never form a prefix
        {u"Re:Lunch", u"", u"Re:Lunch"},          // colon must be followed by a blank
        {u"\u56DE\u590D: hi", u"\u56DE\u590D: ", u"hi"},
        {u"", u"", u""},
    };
    for (const auto& c : cases) {
        auto parts = SplitSubject(c.subject);
        EXPECT_EQ(parts.prefix, c.prefix) << pst::Utf16ToUtf8(c.subject);
        EXPECT_EQ(parts.normalized, c.normalized) << pst::Utf16ToUtf8(c.subject);
    }
}

TEST(Headers, ImportancePriorityAndSensitivity) {
    auto lookup = [](std::map<std::string, std::string> h) {
        return [h](const char* name) -> const char* {
            auto it = h.find(name);
            return it == h.end() ? nullptr : it->second.c_str();
        };
    };
    EXPECT_EQ(ImportanceOf(lookup({})), 1);
    EXPECT_EQ(ImportanceOf(lookup({{"Importance", "high"}, {"X-Priority", "5"}})), 2);
    EXPECT_EQ(ImportanceOf(lookup({{"X-Priority", "1 (Highest)"}})), 2);
    EXPECT_EQ(ImportanceOf(lookup({{"X-Priority", "2"}})), 2);
    EXPECT_EQ(ImportanceOf(lookup({{"X-Priority", "3"}})), 1);
    EXPECT_EQ(ImportanceOf(lookup({{"X-Priority", " 5 (Lowest)"}})), 0);
    EXPECT_EQ(ImportanceOf(lookup({{"X-MSMail-Priority", "Low"}})), 0);
    EXPECT_EQ(ImportanceOf(lookup({{"Priority", "urgent"}})), 2);
    EXPECT_EQ(ImportanceOf(lookup({{"Priority", "non-urgent"}})), 0);
    EXPECT_EQ(ImportanceOf(lookup({{"Importance", "bogus"}, {"X-Priority", "4"}})), 0);
    EXPECT_EQ(PriorityOf(lookup({{"Priority", "Non-Urgent"}})), -1);
    EXPECT_EQ(PriorityOf(lookup({{"Priority", "whenever"}})), std::nullopt);
    EXPECT_EQ(SensitivityOf(lookup({{"Sensitivity", "Company-Confidential"}})), 3);
    EXPECT_EQ(SensitivityOf(lookup({{"Sensitivity", "private"}})), 2);
    EXPECT_EQ(SensitivityOf(lookup({{"Sensitivity", "secret"}})), 0);
}

TEST(Headers, DatesAndHeaderBlocks) {
    EXPECT_EQ(ParseMailDate("Thu, 13 Feb 1969 23:32:54 -0330"), std::nullopt);  // before 1970
    EXPECT_EQ(ParseMailDate("Fri, 21 Nov 1997 09:55:06 -0600"), 880127706);
    EXPECT_EQ(ParseMailDate("Fri, 21 Nov 1997 09:55:06\r\n -0600"), 880127706);
    EXPECT_EQ(ParseMailDate("not a date at all"), std::nullopt);
    EXPECT_EQ(ParseMailDate(""), std::nullopt);
    EXPECT_EQ(ReceivedDate("from a by b; Fri, 21 Nov 1997 15:55:06 +0000"), 880127706);
    EXPECT_EQ(ReceivedDate("from a (comment; with semicolon) by b"), std::nullopt);
    EXPECT_EQ(UnixToFiletime(0), 116444736000000000ULL);
    EXPECT_EQ(NormalizeHeaderBlock("A: 1\nB: 2\r\n\tx\n\n"), "A: 1\r\nB: 2\r\n\tx\r\n\r\n");
    EXPECT_EQ(NormalizeHeaderBlock("A: 1\r\rB"), "A: 1\r\n\r\nB\r\n\r\n");
    EXPECT_EQ(NormalizeHeaderBlock("From a@b.c Sun May  8 19:07:09 2005\nA: 1\n"), "A: 1\r\n\r\n");
    EXPECT_EQ(NormalizeHeaderBlock("From  : a@b.c\n"), "From  : a@b.c\r\n\r\n");  // a field
    EXPECT_EQ(NormalizeHeaderBlock("A: <x.\nb@c>\nB: 2\n"), "A: <x.\r\n b@c>\r\nB: 2\r\n\r\n");
    EXPECT_EQ(NormalizeHeaderBlock("A\nB"), "A\r\n B\r\n\r\n");
    EXPECT_EQ(Unfold(" Re: a\r\n long\r\n\tsubject \r\n"), "Re: a long\tsubject");
    EXPECT_EQ(Unfold(" \r\n\t"), "");
}

TEST(Names, SanitizedShortAndDefaultNames) {
    EXPECT_EQ(SanitizeFileName("a/b:c*?.txt"), "a_b_c__.txt");
    EXPECT_EQ(SanitizeFileName("  report.pdf.. "), "report.pdf");
    EXPECT_EQ(SanitizeFileName("line\r\nbreak.doc"), "line__break.doc");
    EXPECT_EQ(ShortFileName("REPORT.PDF"), "REPORT.PDF");
    EXPECT_EQ(ShortFileName("Quarterly report.pdf"), "QUARTE~1.PDF");
    EXPECT_EQ(ShortFileName("\u65E5\u672C.xlsx"), "ATTACH~1.XLS");
    EXPECT_EQ(ExtensionOf("archive.tar.gz"), ".gz");
    EXPECT_EQ(ExtensionOf("README"), "");
    EXPECT_EQ(ExtensionForMimeType("image/png"), ".png");
    EXPECT_EQ(ExtensionForMimeType("application/x-whatever"), ".dat");
}

TEST(Names, ExtendedParametersJoinDecodeAndFallBack) {
    EXPECT_EQ(ExtendedParameter("attachment; filename*0*=utf-8''R%C3%A9s; filename*1=\"um e.pdf\"",
                                "filename"),
              "R\u00E9sum e.pdf");
    EXPECT_EQ(ExtendedParameter("application/x; name*=iso-8859-1'de'Gr%FC%DFe.txt", "name"),
              "Gr\u00FC\u00DFe.txt");
    // A charset that cannot read the bytes: windows-1252 takes over instead of U+FFFD.
    EXPECT_EQ(ExtendedParameter("x; name*=iso-2022-jp'ja'Dij%8aat.mp3", "name"), "Dij\u0160at.mp3");
    // Segments out of order are joined by index; plain parameters are not extended ones.
    EXPECT_EQ(ExtendedParameter("a; filename*1=b.txt; filename*0*=us-ascii''a", "filename"),
              "ab.txt");
    EXPECT_EQ(ExtendedParameter("a; filename=\"plain.txt\"", "filename"), "");
    EXPECT_EQ(ExtendedParameter("a; xfilename*=utf-8''no", "filename"), "");
}

TEST(Addresses, OneOffEntryIdSearchKeyAndFlatList) {
    auto id = OneOffEntryId({"Ann", "ann@x.org"});
    ASSERT_EQ(id.size(), 24u + 8 + 10 + 20);
    EXPECT_EQ(std::vector<uint8_t>(id.begin(), id.begin() + 4), std::vector<uint8_t>(4, 0));
    EXPECT_EQ(id[4], 0x81);
    EXPECT_EQ(id[19], 0x02);
    EXPECT_EQ(id[22], 0x01);  // flags 0x9001, little-endian
    EXPECT_EQ(id[23], 0x90);
    EXPECT_EQ(id[24], 'A');
    EXPECT_EQ(id[25], 0);
    EXPECT_EQ(id[30], 0);  // "Ann" NUL
    EXPECT_EQ(id[32], 'S');
    auto key = SmtpSearchKey("Ann@X.org");
    EXPECT_EQ(std::string(key.begin(), key.end()), std::string("SMTP:ANN@X.ORG\0", 15));
    auto list = FlatEntryList({{1, 2, 3}, {4, 5, 6, 7, 8}});
    // count 2, size (4+3+1 pad) + (4+5+3 pad) = 20
    ASSERT_EQ(list.size(), 8u + 20);
    EXPECT_EQ(list[0], 2);
    EXPECT_EQ(list[4], 20);
    EXPECT_EQ(list[8], 3);
    EXPECT_EQ(list[16], 5);
    EXPECT_EQ(list[20], 4);
}

TEST(Flowed, JoinsSoftBreaksWithinOneQuoteDepth) {
    std::string text =
        "This is a long \r\nparagraph.\r\n"
        "> quoted soft \r\n> continued\r\n"
        ">> deeper soft \r\n"
        "> back\r\n"
        " From stuffed\r\n"
        "-- \r\n"
        "sig";
    EXPECT_EQ(UnflowText(text, false),
              "This is a long paragraph.\r\n"
              "> quoted soft continued\r\n"
              ">> deeper soft \r\n"
              "> back\r\n"
              "From stuffed\r\n"
              "-- \r\n"
              "sig\r\n");
    EXPECT_EQ(UnflowText("abc \r\ndef\r\n", true), "abcdef\r\n");
    EXPECT_EQ(UnflowText("", false), "");
}

TEST(Html, TextMetaAndCharsetRewrite) {
    std::string html =
        "<html><head><title>T</title><style>p{}</style></head><body><p>Caf&eacute; &amp; "
        "more</p><p>Line<br>two&#x263A;</p><script>x()</script></body></html>";
    EXPECT_EQ(HtmlToText(html), "Caf\u00E9 & more\r\nLine\r\ntwo\u263A");
    std::string doc =
        "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=UTF-7\"><b>x</b>";
    EXPECT_EQ(HtmlMetaCharset(doc), "utf-7");
    EXPECT_EQ(ReplaceHtmlMetaCharset(doc, "utf-8"),
              "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\"><b>x</b>");
    EXPECT_EQ(HtmlMetaCharset("<meta charset='shift_jis'>"), "shift_jis");
}

TEST(Emlx, CountLineAndPropertyList) {
    auto layout = ParseEmlxCountLine("  12  \nSubject: x\n\nbody", 1000);
    ASSERT_TRUE(layout);
    EXPECT_EQ(layout->messageOffset, 7u);
    EXPECT_EQ(layout->messageLength, 12u);
    EXPECT_FALSE(layout->truncated);
    auto cut = ParseEmlxCountLine("500\nabc", 7);
    ASSERT_TRUE(cut);
    EXPECT_TRUE(cut->truncated);
    EXPECT_EQ(cut->messageLength, 3u);
    EXPECT_FALSE(ParseEmlxCountLine("Subject: x\n", 100));
    EXPECT_FALSE(ParseEmlxCountLine("12", 100));

    EmlxLayout l;
    ParseEmlxPlist(
        "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>date-received</key>"
        "<integer>1262304000</integer><key>flags</key><integer>8590195717</integer>"
        "</dict></plist>",
        l);
    EXPECT_EQ(l.dateReceived, 1262304000);
    EXPECT_EQ(l.flags, 8590195717ull);
    EmlxLayout empty;
    ParseEmlxPlist("<plist><dict><key>flags</key></dict>", empty);
    EXPECT_FALSE(empty.flags);
    EXPECT_FALSE(empty.dateReceived);
}

}  // namespace
}  // namespace mime

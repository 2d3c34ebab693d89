// The fast ways in: files parsed from memory must import exactly as files parsed through the
// descriptor, and the built-in base64 decoder must decode exactly as GMime's.
#include <glib.h>
#include <gmime/gmime.h>
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "mime/base64.h"
#include "mime/gmime_support.h"
#include "mime/import.h"
#include "test_support.h"

namespace mime {
namespace {

using namespace mime::testing;
namespace t = mime::tag;

std::string GMimeBase64(std::string_view in, size_t piece) {
    GMimeEncoding state;
    g_mime_encoding_init_decode(&state, GMIME_CONTENT_ENCODING_BASE64);
    std::string out;
    for (size_t at = 0;; at += piece) {
        std::string_view part = in.substr(std::min(at, in.size()), piece);
        std::string buf(g_mime_encoding_outlen(&state, part.size()), '\0');
        const bool last = at + piece >= in.size();
        size_t n = last ? g_mime_encoding_flush(&state, part.data(), part.size(), buf.data())
                        : g_mime_encoding_step(&state, part.data(), part.size(), buf.data());
        out.append(buf, 0, n);
        if (last) return out;
    }
}

std::string Base64Lines(std::string_view raw, size_t wrap = 76) {
    gchar* b64 = g_base64_encode(reinterpret_cast<const guchar*>(raw.data()), raw.size());
    std::string flat(b64), out;
    g_free(b64);
    for (size_t at = 0; at < flat.size(); at += wrap) out += flat.substr(at, wrap) + "\r\n";
    return out;
}

// The decoded bytes followed by the 16 guard bytes after the room DecodeBase64 was given.
std::string OurBase64(std::string_view in) {
    const size_t bound = Base64DecodedBound(in.size());
    std::string out(bound + 16, '\x55');
    const size_t n = DecodeBase64(in, reinterpret_cast<uint8_t*>(out.data()));
    return out.substr(0, n) + out.substr(bound);
}

TEST(Base64, DecodesEverythingAsGMimeDoes) {
    EnsureGMime();
    std::mt19937 rng(7);
    std::vector<std::string> inputs = {"",          "=",
                                       "QQ",        "QQ=",
                                       "QQ==",      "QUI=",
                                       "QUJD",      "QUJDRA",
                                       "QU\r\nJD",  "QUJD=RUZH",
                                       "Q=UJD",     "QUJD\r\n==\r\nRUZH",
                                       "!!QU JD??", "QUJDRE==junk after"};
    // Clean encodings of every length up to 200 bytes, wrapped at 76, 64 and an odd 77.
    for (size_t len = 0; len <= 200; ++len) {
        std::string raw(len, '\0');
        for (auto& c : raw) c = char(rng());
        for (size_t wrap : {76, 64, 77}) inputs.push_back(Base64Lines(raw, wrap));
        ASSERT_EQ(OurBase64(inputs.back()), raw + std::string(16, '\x55')) << len;
    }
    // Noise: alphabet, line ends, blanks, stray bytes and padding anywhere.
    const std::string noise =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/\r\n \t=-_.\x80\xFF";
    for (int i = 0; i < 3000; ++i) {
        std::string s(rng() % 120, ' ');
        for (auto& c : s) c = noise[rng() % (i % 3 == 0 ? noise.size() : 66)];
        inputs.push_back(s);
    }
    for (const auto& in : inputs) {
        const std::string want = GMimeBase64(in, in.size() + 1);
        const std::string got = OurBase64(in);
        ASSERT_EQ(got.substr(0, got.size() - 16), want) << "input: " << in;
        ASSERT_EQ(got.substr(got.size() - 16), std::string(16, '\x55')) << "wrote past the bound";
        // GMime's own result does not depend on how the text is cut into pieces.
        ASSERT_EQ(GMimeBase64(in, 1 + rng() % 7), want) << "input: " << in;
    }
}

// Every property of a message with its streamed values read out, for comparisons. Random
// values (search key, conversation index) are left out.
std::string Describe(const pst::messaging::MessageContent& c) {
    std::string out;
    auto props = [&out](const pst::messaging::PropertySet& set) {
        for (const auto& v : set.values) {
            if (v.Tag() == t::kSearchKey || v.Tag() == t::kConversationIndex) continue;
            out += std::to_string(v.Tag()) + (v.IsStream() ? " stream " : " ") + "=";
            if (v.IsStream())
                v.Producer()(
                    [&out](std::span<const uint8_t> b) { out.append(b.begin(), b.end()); });
            else
                out.append(v.Bytes().begin(), v.Bytes().end());
            out += "\n";
        }
        for (const auto& nv : set.named)
            out += "named " + std::string(nv.value.Bytes().begin(), nv.value.Bytes().end()) + "\n";
    };
    props(c.props);
    for (const auto& r : c.recipients) props(r.props);
    for (const auto& a : c.attachments) {
        out += "attachment\n";
        props(a.props);
        if (a.embedded) out += "embedded\n" + Describe(*a.embedded);
    }
    return out;
}

// Quoted-printable with escapes and soft line breaks everywhere, so that any cut through the
// text falls inside one.
std::string QuotedPrintableLines(std::string_view raw) {
    std::string out, line;
    for (unsigned char c : raw) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "=%02X", c);
        std::string piece = std::isalnum(c) ? std::string(1, char(c)) : std::string(hex);
        if (line.size() + piece.size() > 75) {
            out += line + "=\r\n";
            line.clear();
        }
        line += piece;
    }
    return out + line + "\r\n";
}

TEST(ReadingPaths, MemoryAndDescriptorImportTheSame) {
    TempDir dir;
    std::string binary;
    for (int i = 0; i < 3000; ++i) binary += char(i * 7 + i / 256);
    std::string quoted;
    for (int i = 0; i < 40000; ++i) quoted += char(i % 5 ? 'a' + i % 26 : i % 251);
    const std::string inner =
        "From: In <in@example.org>\r\nSubject: inner\r\nContent-Type: text/plain\r\n\r\n"
        "inner text\r\n";
    const std::string message =
        "Internet headers banner line\r\n"
        "From: A <a@example.org>\r\nTo: B <b@example.org>\r\nSubject: =?utf-8?q?S=C3=BCd?=\r\n"
        "Date: Mon, 1 Jun 2026 10:00:00 +0200\r\nMIME-Version: 1.0\r\n"
        "Content-Type: multipart/mixed; boundary=M\r\n\r\n"
        "--M\r\nContent-Type: multipart/alternative; boundary=A\r\n\r\n"
        "--A\r\nContent-Type: text/plain; charset=iso-8859-1; format=flowed\r\n"
        "Content-Transfer-Encoding: quoted-printable\r\n\r\nCaf=E9 au =\r\nlait \r\nnext\r\n"
        "--A\r\nContent-Type: text/html\r\n\r\n<html><head><meta charset=\"windows-1252\">"
        "</head><body>Caf\xE9 <img src=\"cid:p@x\"></body></html>\r\n--A--\r\n"
        "--M\r\nContent-Type: image/png; name=p.png\r\nContent-ID: <p@x>\r\n"
        "Content-Transfer-Encoding: base64\r\n\r\n" +
        Base64Lines(binary) +
        "--M\r\nContent-Type: application/octet-stream; name=u.bin\r\n"
        "Content-Transfer-Encoding: x-uuencode\r\n\r\nbegin 644 u.bin\r\n#86)C\r\n`\r\nend\r\n"
        "--M\r\nContent-Type: application/octet-stream; name=q.bin\r\n"
        "Content-Transfer-Encoding: quoted-printable\r\n\r\n" +
        QuotedPrintableLines(quoted) + "--M\r\nContent-Type: message/rfc822\r\n\r\n" + inner +
        "--M\r\nContent-Type: message/rfc822\r\nContent-Transfer-Encoding: base64\r\n\r\n" +
        Base64Lines(inner) + "--M--\r\n";
    const std::string emlx = std::to_string(message.size()) + "\n" + message +
                             "<?xml version=\"1.0\"?><plist><dict><key>flags</key>"
                             "<integer>1</integer></dict></plist>";
    // A longer file first: what its bytes leave in a reused buffer must not show in the next.
    const std::string padded = "Subject: big\r\n\r\n" + std::string(900 << 10, 'x') + "\r\n";
    for (const auto& [name, text] : {std::pair<std::string, std::string>{"big.eml", padded},
                                     {"m.eml", message},
                                     {"7.emlx", emlx}}) {
        const std::string path = dir.Write(name, text);
        for (uint64_t attachmentLimit : {uint64_t(4) << 20, uint64_t(100)}) {
            ImportOptions memory, descriptor;
            memory.inMemoryAttachmentLimit = descriptor.inMemoryAttachmentLimit = attachmentLimit;
            descriptor.inMemoryFileLimit = 0;
            auto a = ImportMessageFile(path, memory);
            auto b = ImportMessageFile(path, descriptor);
            ASSERT_TRUE(a.ok && b.ok) << a.error << b.error;
            EXPECT_EQ(a.warnings, b.warnings) << name;
            const std::string described = Describe(a.content);
            EXPECT_EQ(described, Describe(b.content)) << name << " limit " << attachmentLimit;
            if (name != "big.eml") {
                ASSERT_EQ(a.content.attachments.size(), 5u) << name;
                EXPECT_EQ(Bytes(a.content.attachments[0].props, t::kAttachDataBinary), binary);
                EXPECT_EQ(Bytes(a.content.attachments[1].props, t::kAttachDataBinary), "abc");
                const std::string decoded =
                    Bytes(a.content.attachments[2].props, t::kAttachDataBinary);
                EXPECT_TRUE(decoded == quoted) << decoded.size() << " bytes, not " << quoted.size();
                EXPECT_EQ(Utf8(a.content.props, t::kBody), "Caf\xC3\xA9 au lait next\r\n");
                EXPECT_EQ(described.find("xxxx"), std::string::npos);
            }
        }
    }
}

}  // namespace
}  // namespace mime

// The shared corpus of real-world messages: every file imports, a dozen are checked closely.
#include <gtest/gtest.h>

#include <filesystem>

#include "mime/charset.h"
#include "mime/import.h"
#include "test_support.h"

namespace mime {
namespace {

using namespace mime::testing;
namespace t = mime::tag;
namespace sfs = std::filesystem;

sfs::path CorpusDir() {
    return sfs::path(EML2PST_SHARED_DIR) / "corpus" / "eml-public";
}

class Corpus : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!sfs::is_directory(CorpusDir())) GTEST_SKIP() << CorpusDir() << " is absent";
    }
    static ImportResult Load(const std::string& relative) {
        auto r = ImportMessageFile(fs::Utf8FromPath(CorpusDir() / relative));
        EXPECT_TRUE(r.ok) << relative << ": " << r.error;
        return r;
    }
    static std::string AttachmentName(const ImportResult& r, size_t i) {
        return i < r.content.attachments.size()
                   ? Utf8(r.content.attachments[i].props, t::kAttachLongFilename)
                   : "<none>";
    }
};

TEST_F(Corpus, EveryFileImportsAndHoldsWhatAMessageNeeds) {
    size_t files = 0;
    for (const auto& entry : sfs::recursive_directory_iterator(CorpusDir())) {
        if (!entry.is_regular_file() || entry.path().filename() == "README.md") continue;
        ++files;
        auto r = ImportMessageFile(fs::Utf8FromPath(entry.path()));
        if (entry.file_size() == 0) {
            EXPECT_EQ(r.error, "not a message: the file is empty");
            continue;
        }
        ASSERT_TRUE(r.ok) << entry.path() << ": " << r.error;
        const auto& p = r.content.props;
        for (uint32_t tag : {t::kMessageClass, t::kSubject, t::kClientSubmitTime,
                             t::kMessageDeliveryTime, t::kMessageFlags, t::kMessageSize,
                             t::kImportance, t::kSensitivity, t::kDisplayTo, t::kHasAttach})
            EXPECT_TRUE(Find(p, tag)) << entry.path() << " lacks " << std::hex << tag;
        // Dates stay plausible (after 1970, before 2200) whatever the headers say.
        int64_t submit = UnixTime(p, t::kClientSubmitTime);
        EXPECT_GT(submit, 0) << entry.path();
        EXPECT_LT(submit, 7258118400) << entry.path();
        bool flag = (Int(p, t::kMessageFlags) & t::kMfHasAttach) != 0;
        EXPECT_EQ(flag, !r.content.attachments.empty()) << entry.path();
        EXPECT_EQ(Find(p, t::kHasAttach)->AsBool(), flag) << entry.path();
        for (const auto& a : r.content.attachments) {
            EXPECT_TRUE(a.embedded || Find(a.props, t::kAttachDataBinary)) << entry.path();
            if (a.embedded) continue;
            std::string name = Utf8(a.props, t::kAttachLongFilename);
            EXPECT_EQ(name.find_first_of("/\\:*?\"<>|"), std::string::npos) << entry.path();
        }
    }
    EXPECT_GT(files, 90u);
}

TEST_F(Corpus, SubjectsSendersAndBodies) {
    auto basic = Load("plain_emails/basic_email.eml");
    EXPECT_FALSE(Utf8(basic.content.props, t::kSubject).empty());

    auto utf8 = Load("rfc6532/utf8_headers.eml");
    EXPECT_EQ(Utf8(utf8.content.props, t::kSubject), "S\u00E4ying Hello");
    EXPECT_EQ(Utf8(utf8.content.props, t::kSentRepresentingName), "J\u00F6hn Doe");
    EXPECT_EQ(Utf8(utf8.content.props, t::kSentRepresentingEmailAddress),
              "jd\u00F6e@m\u00E4chine.example");

    auto cyr = Load("plain_emails/raw_email_bad_time.eml");
    EXPECT_EQ(Utf8(cyr.content.props, t::kSentRepresentingName),
              "\u0410\u0442\u0438\u043A\u043E\u0432a");
    EXPECT_EQ(Utf8(cyr.content.props, t::kSubjectPrefix), "");  // "[0]:" has a digit

    auto iso2022 = Load("multi_charset/japanese_iso_2022.eml");
    EXPECT_EQ(Utf8(iso2022.content.props, t::kSubject), "\u307E\u307F\u3080\u3081\u3082");
    auto sjis = Load("multi_charset/japanese_shift_jis.eml");
    EXPECT_EQ(Int(sjis.content.props, t::kInternetCodepage), 932);
    std::string sjisBody = Utf8(sjis.content.props, t::kBody);
    EXPECT_EQ(sjisBody.find("\xEF\xBF\xBD"), std::string::npos) << sjisBody;  // no U+FFFD
    EXPECT_TRUE(HasEightBit(sjisBody));

    auto ks = Load("multi_charset/ks_c_5601-1987.eml");
    EXPECT_EQ(Utf8(ks.content.props, t::kSubject).find("\xEF\xBF\xBD"), std::string::npos);
}

TEST_F(Corpus, AttachmentNamesAndEmbeddedMessages) {
    auto nonAscii = Load("attachment_emails/attachment_nonascii_filename.eml");
    EXPECT_EQ(AttachmentName(nonAscii, 0), "ci\u00EBle.txt");

    auto longName = Load("multi_charset/japanese_attachment_long_name.eml");
    EXPECT_EQ(AttachmentName(longName, 0),
              "\u304B\u304D\u304F\u3051\u3053\u304B\u304D\u304F\u3051\u3053\u304B\u304D\u304F"
              "\u3051\u3053\u304B\u304D\u304F\u3051\u3053\u304B\u304D\u304F\u3051\u3053.txt");

    auto rfc822 = Load("attachment_emails/attachment_message_rfc822.eml");
    ASSERT_FALSE(rfc822.content.attachments.empty());
    const auto& emb = rfc822.content.attachments.back();
    EXPECT_EQ(Int(emb.props, t::kAttachMethod), 5);
    ASSERT_TRUE(emb.embedded);
    EXPECT_EQ(Utf8(emb.embedded->props, t::kSubject), "Another PDF");
    EXPECT_EQ(Utf8(emb.props, t::kDisplayName), "Another PDF");
    EXPECT_EQ(Utf8(emb.embedded->props, t::kSentRepresentingName), "Test Tester");

    auto encoded = Load("attachment_emails/attachment_with_encoded_name.eml");
    bool found = false;
    std::function<void(const pst::messaging::MessageContent&)> scan =
        [&](const pst::messaging::MessageContent& m) {
            for (const auto& a : m.attachments) {
                if (Utf8(a.props, t::kAttachLongFilename) == "01 Quien Te Dij\u0160at. Pitbull.mp3")
                    found = true;
                if (a.embedded) scan(*a.embedded);
            }
        };
    scan(encoded.content);
    EXPECT_TRUE(found);
}

TEST_F(Corpus, BadDatesFallBackSanely) {
    auto empty = Load("error_emails/bad_date_header.eml");  // "Date:" with nothing
    auto year3609 = Load("plain_emails/raw_email_bad_time.eml");
    auto stringDate = Load("plain_emails/raw_email_string_in_date_field.eml");
    for (const auto* r : {&empty, &year3609, &stringDate}) {
        int64_t submit = UnixTime(r->content.props, t::kClientSubmitTime);
        EXPECT_GT(submit, 0);
        EXPECT_LT(submit, 7258118400);
    }
    // A Received header still gives the time when Date is unusable.
    EXPECT_LT(UnixTime(year3609.content.props, t::kClientSubmitTime), 1577836800);
}

}  // namespace
}  // namespace mime

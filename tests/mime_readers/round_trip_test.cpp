// Every file of the shared real-world corpus converted into one data file and read back by our
// reader and by three PST readers nobody here wrote, each held against what GMime itself
// decodes from the source file.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>

#include "mime/import.h"
#include "pst/messaging/message_store.h"
#include "pst/messaging/store_verifier.h"
#include "tests/mime_readers/round_trip_views.h"
#include "tests/pst/outlook_rules.h"
#include "tests/support/platform.h"
#include "tests/support/temp_dir.h"

namespace mime::roundtrip {
namespace {

namespace sfs = std::filesystem;
using pst::PropertyValue;
using pst::messaging::MessageStore;

const sfs::path kShared = EML2PST_SHARED_DIR;
const sfs::path kCorpus = kShared / "corpus" / "eml-public";
const sfs::path kReaders = kShared / "tools" / "pst-readers";

struct Case {
    std::string file;    // relative to the corpus
    std::string folder;  // "<corpus folder>/<file name>", one folder per message
    std::optional<MessageView> expected;
    ImportResult import;
};

// Our reader or a third-party one, with what it cannot see or gets wrong on its own.
struct Viewer {
    std::string name, command;
    bool recipientEmails = true;  // pypff has the display strings only
    bool senderIsFrom = false;    // readpst writes the From header it finds in the file
    bool astralWrong = false;     // libpff decodes UTF-16 surrogate pairs wrongly
    // readpst prints the header block we keep (not the properties) and a new MIME tree; the
    // script reads both with Python's email package, see ReadpstSeesHeadersAsGMime().
    bool rebuildsMime = false;
    int status = -1;
    std::string error;
    std::map<std::string, std::vector<MessageView>> byFolder;
};

int RunCommand(const std::string& command, const sfs::path& out, std::string& err) {
    const std::string outFile = fs::Utf8FromPath(out);
    const std::string errFile = outFile + ".err";
    const int status =
        testsupport::RunShellCommand(command + " > " + testsupport::ShellQuote(outFile) + " 2> " +
                                     testsupport::ShellQuote(errFile))
            .status;
    std::ifstream in(fs::PathFromUtf8(errFile));
    err.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return status;
}

std::string Slurp(const sfs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class CorpusRoundTrip : public ::testing::Test {
  protected:
    // The conversion and the readers' dumps are made once and shared by every check.
    struct State {
        testsupport::TempDir dir;
        sfs::path pst;
        std::vector<Case> cases;
        std::string writeError;
        pst::messaging::StoreReport verified;
        std::vector<Viewer> viewers;  // ours first
    };
    static inline std::unique_ptr<State> state_;

    static void SetUpTestSuite() {
        if (!sfs::is_directory(kCorpus)) return;
        state_ = std::make_unique<State>();
        State& s = *state_;
        s.pst = s.dir.path() / "corpus.pst";
        for (const auto& e : sfs::recursive_directory_iterator(kCorpus)) {
            if (!e.is_regular_file() || e.path().filename() == "README.md") continue;
            Case c;
            c.file = fs::Utf8FromPath(sfs::relative(e.path(), kCorpus));
            const sfs::path parent = sfs::relative(e.path().parent_path(), kCorpus);
            c.folder = (parent.empty() || parent == "." ? std::string("(top)")
                                                        : fs::Utf8FromPath(parent)) +
                       "/" + fs::Utf8FromPath(e.path().filename());
            s.cases.push_back(std::move(c));
        }
        std::sort(s.cases.begin(), s.cases.end(),
                  [](const Case& a, const Case& b) { return a.file < b.file; });
        try {
            Convert(s);
            ReadBack(s);
        } catch (const std::exception& e) {
            s.writeError = e.what();
            return;
        }
        s.verified = pst::messaging::VerifyStoreFile(s.pst);
        const std::string py = "timeout 300 python3 ";
        const std::string file = " '" + fs::Utf8FromPath(s.pst) + "'";
        Viewer pypff{"pypff", "timeout 300 /usr/bin/python3 " +
                                  fs::Utf8FromPath(kReaders / "pypff_dump.py") + " --full" + file};
        pypff.recipientEmails = false;
        pypff.astralWrong = true;
        const sfs::path shim =
            sfs::path(EML2PST_SOURCE_DIR) / "tests/mime_readers/readpst_dump_fixed.py";
        Viewer readpst{"readpst", py + fs::Utf8FromPath(shim) + " '" + fs::Utf8FromPath(kReaders) +
                                      "' --full --fail-on-skip" + file};
        readpst.senderIsFrom = true;
        readpst.rebuildsMime = true;
        Viewer pffexport{"pffexport",
                         py + fs::Utf8FromPath(kReaders / "pffexport_dump.py") + " --full" + file};
        pffexport.astralWrong = true;
        for (Viewer r : {pypff, readpst, pffexport}) {
            Dump(s, r);
            s.viewers.push_back(std::move(r));
        }
    }
    static void TearDownTestSuite() { state_.reset(); }

    void SetUp() override {
        if (!sfs::is_directory(kCorpus)) GTEST_SKIP() << kCorpus << " is absent";
        ASSERT_TRUE(state_->writeError.empty()) << state_->writeError;
    }

    static void Convert(State& s) {
        auto store = MessageStore::Create(s.pst, "Corpus");
        store->ValidateIpmTree();
        std::map<std::string, pst::messaging::Nid> parents;
        for (Case& c : s.cases) {
            const std::string source = fs::Utf8FromPath(kCorpus / fs::PathFromUtf8(c.file));
            c.expected = ViewFromGMime(source);
            c.import = ImportMessageFile(source);
            if (!c.import.ok) continue;
            const std::string parent = c.folder.substr(0, c.folder.find('/'));
            if (!parents.count(parent))
                parents[parent] = store->CreateFolder(store->IpmSubtree(), parent);
            const auto folder =
                store->CreateFolder(parents[parent], c.folder.substr(c.folder.find('/') + 1));
            store->AddMessage(folder, c.import.content);
        }
        store->Close();
    }

    static void ReadBack(State& s) {
        Viewer& ours = s.viewers.emplace_back();
        ours.name = "our reader";
        ours.status = 0;
        auto store = MessageStore::Open(s.pst, /*readOnly=*/true);
        for (const auto& [path, info] : store->FolderTree(store->IpmSubtree())) {
            std::string folder = path;
            std::replace(folder.begin(), folder.end(), '\\', '/');
            for (auto nid : store->Messages(info.nid))
                ours.byFolder[folder].push_back(ViewFromContent(store->ReadMessage(nid)));
        }
    }

    static void Dump(const State& s, Viewer& r) {
        const sfs::path out = s.dir.path() / (r.name + ".json");
        r.status = RunCommand(r.command, out, r.error);
        if (r.status != 0) return;
        try {
            Json doc = Json::Parse(Slurp(out));
            for (const Json& m : doc["messages"].array)
                r.byFolder[m.str("folder")].push_back(ViewFromDump(m));
        } catch (const std::exception& e) {
            r.status = -1;
            r.error = e.what();
        }
    }

    // Calls `check(case, viewer, view)` for every imported file and every viewer that ran; a
    // viewer that lists the message other than once is a failure itself.
    template <typename Check>
    static void ForEachView(Check check) {
        for (const Case& c : state_->cases) {
            if (!c.import.ok || !c.expected) continue;
            SCOPED_TRACE(c.file);
            for (const Viewer& v : state_->viewers) {
                if (v.status != 0) continue;
                auto it = v.byFolder.find(c.folder);
                if (it == v.byFolder.end() || it->second.size() != 1) {
                    ADD_FAILURE() << v.name << " lists "
                                  << (it == v.byFolder.end() ? 0 : it->second.size())
                                  << " messages in " << c.folder;
                    continue;
                }
                check(c, v, it->second.front());
            }
        }
    }
};

// Text as a viewer can show it: characters above U+FFFF become U+FFFD for readers that
// decode them wrongly.
std::string Comparable(const Viewer& v, const std::string& text) {
    std::string out = CollapseSpace(text);
    if (!v.astralWrong) return out;
    std::string folded;
    for (size_t i = 0; i < out.size(); ++i) {
        if ((uint8_t(out[i]) & 0xF8) == 0xF0 && i + 3 < out.size()) {
            folded += "\xEF\xBF\xBD";
            i += 3;
        } else {
            folded += out[i];
        }
    }
    return folded;
}

bool SameAddress(const std::string& a, const std::string& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](char x, char y) { return std::tolower(x) == std::tolower(y); });
}

// A name GMime decoded must come back; a mailbox without one may show its address instead.
bool SameName(const std::string& expected, const std::string& seen, const std::string& email) {
    if (expected.empty()) return seen.empty() || SameAddress(seen, email);
    return CollapseSpace(expected) == CollapseSpace(seen);
}

// Where Python's email package, reading the header block readpst prints, cannot agree with
// GMime: raw 8-bit header text (compat32 turns it into U+FFFD), and malformed fields the two
// parsers read differently.
bool ReadpstSeesHeadersAsGMime(const Case& c) {
    static const std::set<std::string> kMalformed = {
        "error_emails/bad_encoded_subject.eml",           // no From: readpst supplies its own
        "mime_emails/raw_email11.eml",                    // quoted name equal to the address
        "mime_emails/raw_email_with_binary_encoded.eml",  // two Subject fields: first or last
        "mime_emails/raw_email_with_multipart_mixed_quoted_boundary.eml",  // the same
        "error_emails/missing_body.eml",                // "<Undisclosed-Recipient:@host;>"
        "plain_emails/mix_caps_content_type.eml",       // no mailbox in From: GMime keeps the text
        "plain_emails/raw_email_incorrect_header.eml",  // a non-header line ends Python's headers
        "plain_emails/raw_email_multiple_from.eml",     // two addresses without a comma
        "plain_emails/raw_email_with_at_display_name.eml",  // unquoted '@' in a display name
        "rfc2822/example10.eml",                            // nested comments
        "rfc2822/example13.eml",                            // a field folded over a non-header line
    };
    if (kMalformed.count(c.file)) return false;
    std::ifstream in(kCorpus / fs::PathFromUtf8(c.file), std::ios::binary);
    std::string line;
    while (std::getline(in, line) && line != "" && line != "\r")
        for (char ch : line)
            if (uint8_t(ch) >= 0x80) return false;
    return true;
}

std::string AsciiOnly(const std::string& text) {
    std::string out;
    for (char c : text)
        if (uint8_t(c) < 0x80) out += c;
    return out;
}

// Where two texts part, with some context, for failure messages.
std::string Difference(const std::string& a, const std::string& b) {
    size_t i = 0;
    while (i < a.size() && i < b.size() && a[i] == b[i]) ++i;
    size_t from = i < 20 ? 0 : i - 20;
    return "at " + std::to_string(i) + ": \"" + a.substr(from, 60) + "\" vs \"" +
           b.substr(from, 60) + "\"";
}

std::string Show(const std::vector<Address>& list) {
    std::string out;
    for (const auto& a : list) out += "[" + a.name + " <" + a.email + ">]";
    return out;
}

TEST_F(CorpusRoundTrip, EveryFileConvertsAndEveryReaderOpensTheResult) {
    const State& s = *state_;
    size_t imported = 0;
    for (const Case& c : s.cases) {
        if (sfs::file_size(kCorpus / fs::PathFromUtf8(c.file)) == 0) {
            EXPECT_FALSE(c.import.ok) << c.file;  // an empty file is no message
            continue;
        }
        EXPECT_TRUE(c.import.ok) << c.file << ": " << c.import.error;
        EXPECT_TRUE(c.expected) << c.file << ": GMime builds no message";
        imported += c.import.ok;
    }
    EXPECT_GT(imported, 90u);
    EXPECT_TRUE(s.verified.Ok()) << ::testing::PrintToString(s.verified.errors);
    EXPECT_EQ(s.verified.messages, imported);
    for (const Viewer& v : s.viewers) EXPECT_EQ(v.status, 0) << v.name << ": " << v.error;
    pst::messaging::testing::ExpectOutlookRules(s.pst);
}

TEST_F(CorpusRoundTrip, SubjectAndSenderAreWhatGMimeDecodes) {
    ForEachView([](const Case& c, const Viewer& v, const MessageView& seen) {
        const MessageView& e = *c.expected;
        if (v.rebuildsMime && !ReadpstSeesHeadersAsGMime(c)) return;
        EXPECT_EQ(Comparable(v, seen.subject), Comparable(v, e.subject)) << v.name;
        std::string name = v.senderIsFrom ? e.fromName : e.senderName;
        std::string email = v.senderIsFrom ? e.fromEmail : e.senderEmail;
        EXPECT_TRUE(SameAddress(seen.senderEmail, email))
            << v.name << ": " << seen.senderEmail << " vs " << email;
        EXPECT_TRUE(SameName(Comparable(v, name), Comparable(v, seen.senderName), email))
            << v.name << ": " << seen.senderName << " vs " << name;
        if (v.name != "our reader") return;  // the readers show one of the two only
        EXPECT_TRUE(SameAddress(seen.fromEmail, e.fromEmail))
            << seen.fromEmail << " vs " << e.fromEmail;
        EXPECT_TRUE(SameName(e.fromName, seen.fromName, e.fromEmail))
            << seen.fromName << " vs " << e.fromName;
    });
}

// The recipient rows of a delivery report: the recipients it reports on, not its addressee.
std::optional<std::vector<Address>> ReportedRecipients(const Case& c) {
    const PropertyValue* cls = c.import.content.props.Find(0x001A001F);
    const std::string name = cls ? cls->AsUtf8() : "";
    if (name.rfind("REPORT.", 0) != 0 || name.size() < 3 || name.substr(name.size() - 2) != "DR")
        return std::nullopt;
    std::vector<Address> rows;
    for (const auto& r : c.import.content.recipients)
        rows.push_back({r.props.Find(0x3001001F)->AsUtf8(), r.props.Find(0x3003001F)->AsUtf8()});
    return rows;
}

TEST_F(CorpusRoundTrip, ToAndCcRecipientsAreWhatGMimeDecodes) {
    ForEachView([](const Case& c, const Viewer& v, const MessageView& seen) {
        if (v.rebuildsMime && !ReadpstSeesHeadersAsGMime(c)) return;
        const std::vector<Address> none;
        const auto reported = v.rebuildsMime ? std::nullopt : ReportedRecipients(c);
        for (auto [got, expected] : {std::pair{&seen.to, reported ? &*reported : &c.expected->to},
                                     std::pair{&seen.cc, reported ? &none : &c.expected->cc}}) {
            bool same = got->size() == expected->size();
            if (!v.recipientEmails) {
                // Display strings only: names joined with "; ", which names may hold too.
                std::string names, expectedNames;
                for (const auto& a : *got) names += (names.empty() ? "" : "; ") + a.name;
                for (const auto& b : *expected)
                    expectedNames +=
                        (expectedNames.empty() ? "" : "; ") + (b.name.empty() ? b.email : b.name);
                same = Comparable(v, names) == Comparable(v, expectedNames);
                EXPECT_TRUE(same) << v.name << ": " << names << " vs " << expectedNames;
                continue;
            }
            for (size_t i = 0; same && i < got->size(); ++i) {
                const Address& a = (*got)[i];
                const Address& b = (*expected)[i];
                same = SameAddress(a.email, b.email) &&
                       SameName(Comparable(v, b.name), Comparable(v, a.name), b.email);
            }
            EXPECT_TRUE(same) << v.name << ": " << Show(*got) << " vs " << Show(*expected);
        }
    });
}

TEST_F(CorpusRoundTrip, BodyTextAndHtmlPresenceAreWhatGMimeDecodes) {
    ForEachView([](const Case& c, const Viewer& v, const MessageView& seen) {
        const MessageView& e = *c.expected;
        // Inline pictures next to the text may be shown in an HTML body made for them.
        if (e.hasHtml || !e.inlinePictures) {
            EXPECT_EQ(seen.hasHtml, e.hasHtml) << v.name;
        }
        if (!e.bodyText) return;  // a body made from HTML has nothing GMime gives to compare with
        ASSERT_TRUE(seen.bodyText) << v.name;
        std::string got = Comparable(v, *seen.bodyText), expected = Comparable(v, *e.bodyText);
        if (e.bodyCharsetGuessed) {  // only the ASCII text is held against GMime's guess
            got = CollapseSpace(AsciiOnly(got));
            expected = CollapseSpace(AsciiOnly(expected));
        }
        EXPECT_TRUE(got == expected) << v.name << " " << Difference(got, expected);
    });
}

// Every attachment GMime decodes comes back byte for byte, nothing is added but the inline
// text parts that are not the body, and attached messages stay messages.
TEST_F(CorpusRoundTrip, AttachmentBytesAreWhatGMimeDecodes) {
    static const std::string kEmpty = Sha256("", 0), kNewline = Sha256("\n", 1);
    ForEachView([](const Case& c, const Viewer& v, const MessageView& seen) {
        const MessageView& e = *c.expected;
        std::multiset<std::string> got, allowed;
        size_t gotEmbedded = 0, embedded = 0;
        for (const auto& a : seen.attachments) {
            if (a.embedded) ++gotEmbedded;
            // readpst leaves out empty attachments and adds empty ones of its own.
            else if (!v.rebuildsMime || (a.sha256 != kEmpty && a.sha256 != kNewline))
                got.insert(a.sha256);
        }
        std::string missing;
        for (const auto& a : e.attachments) {
            if (a.embedded) {
                ++embedded;
            } else if (v.rebuildsMime &&
                       (a.sha256 == kEmpty || a.label.rfind("message/", 0) == 0)) {
                allowed.insert(a.sha256);  // readpst writes message/* parts in its own shape
            } else if (auto it = got.find(a.sha256); it != got.end()) {
                got.erase(it);
            } else {
                missing += " [" + a.label + "]";
            }
        }
        for (const auto& a : e.otherText) allowed.insert(a.sha256);
        // readpst writes delivery reports and their parts in its own shape.
        const bool reshaped =
            v.rebuildsMime &&
            std::any_of(e.attachments.begin(), e.attachments.end(),
                        [](const AttachmentView& a) { return a.label.rfind("message/", 0) == 0; });
        if (reshaped) got.clear();
        std::string extra;
        for (const auto& sha : got)
            if (!allowed.count(sha)) extra += " " + sha.substr(0, 12);
        EXPECT_EQ(missing, "") << v.name << " lacks these";
        EXPECT_EQ(extra, "") << v.name << " has data GMime does not decode";
        if (!v.rebuildsMime) {
            EXPECT_EQ(gotEmbedded, embedded) << v.name;
        }
        if (v.name == "our reader") {
            std::multiset<std::string> inner, expectedInner;
            for (const auto& a : seen.signedParts) inner.insert(a.sha256);
            for (const auto& a : e.signedParts) expectedInner.insert(a.sha256);
            EXPECT_EQ(inner, expectedInner) << "attachments inside the signed entity";
        }
    });
}

}  // namespace
}  // namespace mime::roundtrip

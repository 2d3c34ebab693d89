// Files we write, read by three PST readers nobody here wrote (readpst, pffexport, pypff):
// each must see the folder tree, the messages, their senders, recipients, bodies and
// attachment bytes that went in. reader_check.py holds each dump against what was written.

#include <cstdio>
#include <fstream>
#include <sstream>

#include "pst/verify.h"
#include "tests/pst/messaging/store_fixture.h"
#include "tests/pst/outlook_rules.h"
#include "tests/support/json_string.h"

namespace pst::messaging {
namespace {

using testing::MakeAttachment;
using testing::MakeMessage;
using testing::MakeRecipient;
using testing::Pattern;
using testing::TempDir;

constexpr auto Json = testsupport::JsonString;

std::string Utf8(const MessageContent& m, uint32_t tag) {
    const PropertyValue* v = m.props.Find(tag);
    return v ? v->AsUtf8() : "";
}

int Run(const std::string& command, std::string* output) {
    FILE* p = popen((command + " 2>&1").c_str(), "r");
    if (!p) return -1;
    char buf[4096];
    output->clear();
    while (size_t n = fread(buf, 1, sizeof buf, p)) output->append(buf, n);
    return pclose(p);
}

// What the test wrote, in the dump layout of the reader scripts (bodies as text, attachment
// bytes in files beside it).
class Expectation {
  public:
    explicit Expectation(const std::filesystem::path& dir) : dir_(dir) {}

    void add(const std::string& folder, const MessageContent& m) {
        std::ostringstream o;
        o << "{\"folder\": " << Json(folder) << ", \"subject\": " << Json(Utf8(m, 0x0037001F))
          << ", \"sender_name\": " << Json(Utf8(m, 0x0C1A001F))
          << ", \"sender_email\": " << Json(Utf8(m, 0x0C1F001F));
        const char* kinds[] = {"to", "cc", "bcc"};
        for (int type = 1; type <= 3; ++type) {
            o << ", \"" << kinds[type - 1] << "\": [";
            bool first = true;
            for (const auto& r : m.recipients) {
                if (r.props.Find(0x0C150003)->AsInt32() != type) continue;
                o << (first ? "" : ", ")
                  << "{\"name\": " << Json(r.props.Find(0x3001001F)->AsUtf8())
                  << ", \"email\": " << Json(r.props.Find(0x3003001F)->AsUtf8()) << "}";
                first = false;
            }
            o << "]";
        }
        const PropertyValue* text = m.props.Find(0x1000001F);
        const PropertyValue* html = m.props.Find(0x10130102);
        o << ", \"body_text\": " << (text ? Json(text->AsUtf8()) : "null") << ", \"body_html\": "
          << (html ? Json(std::string(html->Bytes().begin(), html->Bytes().end())) : "null")
          << ", \"attachments\": [";
        for (size_t i = 0; i < m.attachments.size(); ++i) {
            const Attachment& a = m.attachments[i];
            const PropertyValue* name = a.props.Find(0x3707001F);
            if (!name) name = a.props.Find(0x3001001F);
            o << (i ? ", " : "") << "{\"name\": " << Json(name ? name->AsUtf8() : "")
              << ", \"embedded\": " << (a.embedded ? "true" : "false");
            if (!a.embedded) {
                const auto file = dir_ / ("attachment-" + std::to_string(files_++) + ".bin");
                const auto& bytes = a.props.Find(0x37010102)->Bytes();
                std::ofstream(file, std::ios::binary)
                    .write(reinterpret_cast<const char*>(bytes.data()),
                           std::streamsize(bytes.size()));
                o << ", \"file\": " << Json(fs::Utf8FromPath(file));
            }
            o << "}";
        }
        o << "]}";
        messages_.push_back(o.str());
    }

    // The folder list as our own reader gives it; the test checks its own folders are in it.
    std::filesystem::path write(const MessageStore& store) {
        std::ostringstream o;
        o << "{\"folders\": [{\"path\": \"\", \"items\": "
          << store.GetFolderInfo(store.IpmSubtree()).contentCount << "}";
        for (auto [path, info] : store.FolderTree(store.IpmSubtree())) {
            std::replace(path.begin(), path.end(), '\\', '/');
            paths_.push_back(path);
            o << ", {\"path\": " << Json(path) << ", \"items\": " << info.contentCount << "}";
        }
        o << "], \"messages\": [";
        for (size_t i = 0; i < messages_.size(); ++i) o << (i ? ",\n" : "") << messages_[i];
        o << "]}\n";
        const auto file = dir_ / "expected.json";
        std::ofstream(file) << o.str();
        return file;
    }

    const std::vector<std::string>& paths() const { return paths_; }

  private:
    std::filesystem::path dir_;
    std::vector<std::string> messages_;
    std::vector<std::string> paths_;
    size_t files_ = 0;
};

// Runs each reader's dumper on `pst` and holds its dump against `expected`.
void ExpectReadersAgree(const std::filesystem::path& pst, const std::filesystem::path& expected,
                        const std::filesystem::path& work) {
    const auto tools = testing::SharedDir() / "tools/pst-readers";
    const std::string check = std::string("/usr/bin/python3 ") + EML2PST_SOURCE_DIR +
                              "/tests/pst/readers/reader_check.py ";
    const std::pair<const char*, std::string> readers[] = {
        {"pypff", "/usr/bin/python3 " + fs::Utf8FromPath(tools / "pypff_dump.py")},
        {"pffexport", "python3 " + fs::Utf8FromPath(tools / "pffexport_dump.py")},
        {"readpst", "python3 " + fs::Utf8FromPath(tools / "readpst_dump.py") + " --fail-on-skip"}};
    for (const auto& [name, dumper] : readers) {
        const auto dump = work / (std::string(name) + ".json");
        std::string log;
        ASSERT_EQ(Run(dumper + " " + fs::Utf8FromPath(pst) + " > " + fs::Utf8FromPath(dump), &log),
                  0)
            << name << " could not read " << pst << ":\n"
            << log.substr(0, 3000);
        EXPECT_EQ(Run("PST_READERS=" + fs::Utf8FromPath(tools) + " " + check +
                          fs::Utf8FromPath(expected) + " " + fs::Utf8FromPath(dump) + " " + name,
                      &log),
                  0)
            << name << " sees something else than was written:\n"
            << log.substr(0, 6000);
    }
}

bool HaveReaders() {
    return std::filesystem::exists(testing::SharedDir() / "tools/pst-readers");
}

void ExpectSound(const std::filesystem::path& file) {
    const VerifyReport report = pst::Verify(file);
    for (const auto& e : report.errors) ADD_FAILURE() << file << ": " << e;
}

TEST(ReaderMatrixTest, EmptyStoreShowsItsDefaultFoldersAndNoMessages) {
    TempDir dir;
    const auto file = dir / "empty.pst";
    Expectation want(dir.path());
    std::filesystem::path expected;
    {
        auto store = MessageStore::Create(file, "Leer – Ä");
        store->ValidateIpmTree();
        store->Commit();
        expected = want.write(*store);
        store->Close();
    }
    ExpectSound(file);
    EXPECT_GE(want.paths().size(), 2u);  // the default folders under the IPM subtree
    if (!HaveReaders()) GTEST_SKIP() << "no shared reader tools";
    ExpectReadersAgree(file, expected, dir.path());
}

TEST(ReaderMatrixTest, FoldersRecipientsBodiesAndAttachmentsReadAlike) {
    TempDir dir;
    const auto file = dir / "matrix.pst";
    Expectation want(dir.path());
    std::filesystem::path expected;
    const std::vector<std::string> deep = {"Größe – Ü", "Ébène", "Четвёртый", "日本語の箱"};
    {
        auto store = MessageStore::Create(file, "Matrix");
        store->ValidateIpmTree();
        store->SetAutoCommitInterval(500);
        Nid parent = store->IpmSubtree();
        std::string path;
        for (const auto& name : deep) {
            parent = store->CreateFolder(parent, name);
            path += (path.empty() ? "" : "/") + name;
        }
        MessageContent bottom = MakeMessage("Ganz unten – ✓", "Unterste Ebene.\r\nZweite Zeile.");
        store->AddMessage(parent, bottom);
        want.add(path, bottom);

        const Nid bulk = store->CreateFolder(store->IpmSubtree(), "Bulk");
        for (int i = 0; i < 1000; ++i) {
            MessageContent m =
                MakeMessage("Bulk " + std::to_string(i), "Body " + std::to_string(i) + " – ü",
                            132000000000000000ull + uint64_t(i) * 600000000);
            store->AddMessage(bulk, m);
            want.add("Bulk", m);
        }

        const Nid cases = store->CreateFolder(store->IpmSubtree(), "Fälle");
        auto add = [&](MessageContent m) {
            store->AddMessage(cases, m);
            want.add("Fälle", m);
        };
        MessageContent none = MakeMessage("No recipients", "Nobody gets this.");
        none.recipients.clear();
        add(none);
        MessageContent one = MakeMessage("One recipient", "Just Bob.");
        one.recipients.resize(1);
        add(one);
        MessageContent many = MakeMessage("Three hundred recipients", "A big list.");
        many.recipients.clear();
        for (int i = 0; i < 300; ++i) {
            const int type = i < 150 ? 1 : i < 250 ? 2 : 3;
            many.recipients.push_back(MakeRecipient(type, "Empfänger " + std::to_string(i),
                                                    "r" + std::to_string(i) + "@example.org"));
        }
        add(many);
        MessageContent html = MakeMessage("HTML body", "Plain twin: Grüße");
        const std::string markup = "<html><body><p>Grüße <b>fett</b></p></body></html>";
        html.props.Set(
            PropertyValue(0x10130102, std::vector<uint8_t>(markup.begin(), markup.end())));
        html.props.Set(PropertyValue::Int32(0x3FDE0003, 65001));
        add(html);
        MessageContent sizes = MakeMessage("Attachment sizes", "See the attachments.");
        for (size_t n :
             {size_t(0), size_t(1), size_t(8191), size_t(8192), size_t(8193), size_t(1) << 20})
            sizes.attachments.push_back(
                MakeAttachment("size-" + std::to_string(n) + ".bin", Pattern(n, uint32_t(n) + 3)));
        add(sizes);
        MessageContent big = MakeMessage("Twenty megabytes", "One large attachment.");
        big.attachments.push_back(MakeAttachment("twenty.bin", Pattern(20u << 20, 20)));
        add(big);
        // Subjects beginning with a non-ASCII character, and one with a prefix: readers take
        // the stored form's marker off, never part of the text.
        for (const char* subject : {"Élan vital", "日本語", "RE: Ärger"}) {
            MessageContent m = MakeMessage(subject, "Subject test.");
            m.props.Set(PropertyValue::StringUtf8(0x003D001F, subject[0] == 'R' ? "RE: " : ""));
            add(m);
        }
        MessageContent fwd = MakeMessage("Forwarded message", "The original is attached.");
        Attachment inner;
        // Named after the message it holds, as mail clients name such attachments.
        inner.props.Set(PropertyValue::StringUtf8(0x3001001F, "Original"));
        inner.embedded = std::make_shared<MessageContent>(MakeMessage("Original", "inner body"));
        inner.embedded->attachments.push_back(MakeAttachment("inner.txt", {'h', 'i'}));
        fwd.attachments.push_back(inner);
        add(fwd);

        store->Commit();
        expected = want.write(*store);
        store->Close();
    }
    ExpectSound(file);
    testing::ExpectOutlookRules(file);
    // Our own reader keeps the embedded message's own attachment (no reader dump shows it).
    {
        auto store = MessageStore::Open(file, true);
        const Nid cases = *store->FindSubfolder(store->IpmSubtree(), "Fälle");
        size_t checked = 0;
        for (Nid m : store->Messages(cases)) {
            const MessageContent c = store->ReadMessage(m);
            if (Utf8(c, 0x0037001F) != "Forwarded message") continue;
            ASSERT_EQ(c.attachments.size(), 1u);
            ASSERT_TRUE(c.attachments[0].embedded);
            ASSERT_EQ(c.attachments[0].embedded->attachments.size(), 1u);
            EXPECT_EQ(c.attachments[0].embedded->attachments[0].props.Find(0x37010102)->Bytes(),
                      (std::vector<uint8_t>{'h', 'i'}));
            ++checked;
        }
        EXPECT_EQ(checked, 1u);
    }
    std::string deepPath;
    for (const auto& name : deep) deepPath += (deepPath.empty() ? "" : "/") + name;
    EXPECT_NE(std::find(want.paths().begin(), want.paths().end(), deepPath), want.paths().end());
    if (!HaveReaders()) GTEST_SKIP() << "no shared reader tools";
    ExpectReadersAgree(file, expected, dir.path());
}

}  // namespace
}  // namespace pst::messaging

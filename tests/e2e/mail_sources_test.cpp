// Mail kept the way other clients keep it: Thunderbird profiles (mbox files, ".sbd" subfolder
// directories, ".msf" indexes), Apple Mail's exported "NAME.mbox" bundles and Maildir folders,
// converted through the command line and read back by our own reader and by readers nobody
// here wrote.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include "fs/path_forms.h"
#include "pst/messaging/message_store.h"
#include "tests/e2e/cli_fixture.h"

namespace e2e {
namespace {

std::string Envelope() {
    return "From ann@example.org Tue Nov  3 10:00:00 2026\n";
}

// An mbox of messages with the given subjects, each with the given extra header lines.
std::string Mbox(const std::vector<std::pair<std::string, std::string>>& messages) {
    std::string box;
    for (const auto& [subject, extra] : messages)
        box += Envelope() + extra + Message(subject) + "\n";
    return box;
}

std::string ReadText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

struct Stored {
    int32_t flags = 0, icon = 0, verb = 0, flagStatus = 0;
    int64_t delivered = 0;  // FILETIME
    std::string body;
};

// Every stored message of the file by "<folder path>/<subject>", read with our own reader.
std::map<std::string, Stored> StoredMessages(const std::filesystem::path& pst) {
    using pst::messaging::MessageStore;
    auto store = MessageStore::Open(pst, true);
    std::map<std::string, Stored> found;
    auto top = store->IpmSubtree();
    std::vector<std::pair<std::string, pst::ndb::Nid>> folders{{"", top}};
    for (auto [path, info] : store->FolderTree(top)) {
        std::replace(path.begin(), path.end(), '\\', '/');
        folders.push_back({path, info.nid});
    }
    for (const auto& [path, nid] : folders) {
        for (auto m : store->Messages(nid)) {
            auto content = store->ReadMessage(m);
            auto int32 = [&](uint32_t tag) {
                const auto* v = content.props.Find(tag);
                return v ? v->AsInt32() : 0;
            };
            const auto* subject = content.props.Find(0x0037001F);
            const auto* body = content.props.Find(0x1000001F);
            const auto* delivered = content.props.Find(0x0E060040);
            Stored s{int32(0x0E070003),
                     int32(0x10800003),
                     int32(0x10810003),
                     int32(0x10900003),
                     delivered ? int64_t(delivered->AsTime()) : 0,
                     body ? body->AsUtf8() : ""};
            found[path + "/" + (subject ? subject->AsUtf8() : "")] = s;
        }
    }
    return found;
}

class MailSources : public EndToEnd {
  protected:
    Result Convert(const std::string& source, const std::string& pst,
                   const std::string& more = "") {
        return RunCommand(cli + " convert --quiet " + more + " " + Quote(Source(source)) + " " +
                          Quote(pst));
    }
};

TEST_F(MailSources, AThunderbirdProfileKeepsItsFoldersNamesAndStates) {
    const std::string local = "profile/Mail/Local Folders/";
    // Read; replied and flagged; forwarded; expunged (deleted, waiting for compaction).
    src.file(local + "Inbox", Mbox({{"read", "X-Mozilla-Status: 0001\n"},
                                    {"replied", "X-Mozilla-Status: 0007\n"},
                                    {"forwarded", "X-Mozilla-Status: 1000\n"},
                                    {"expunged", "X-Mozilla-Status: 0009\n"}}));
    src.file(local + "Inbox.msf", "// <!-- <mdb:mork:z v=\"1.4\"/> -->");
    src.file(local + "Inbox.sbd/Wörk", Mbox({{"w1", ""}, {"w2", ""}}));
    src.file(local + "Inbox.sbd/Wörk.sbd/日本語", Mbox({{"deep", ""}}));
    src.file(local + "Sent", Mbox({{"sent", "X-Mozilla-Status: 0001\n"}}));
    src.file(local + "Trash", "");  // an empty folder is an empty file
    src.file("profile/Mail/pop.example.org/Inbox", Mbox({{"pop", ""}}));

    const std::string pst = fs::Utf8FromPath(out / "local.pst");
    const std::string json = fs::Utf8FromPath(out / "local.json");
    Result r = Convert("profile/Mail/Local Folders", pst, "--json " + Quote(json));
    ASSERT_EQ(r.status, 0) << r.out;
    const std::string summary = ReadText(out / "local.json");
    // Found: 4 + 1 (.msf) + 2 + 1 + 1 + 1 (Trash); messages: all in the mbox files but the
    // expunged one.
    EXPECT_NE(summary.find("\"queued\": 10, \"messageFiles\": 7"), std::string::npos) << summary;

    // The profile's mail folder holds one mailbox per account.
    Result m = RunCommand(cli + " convert --mailboxes --quiet " + Quote(Source("profile/Mail")) +
                          " " + Quote(out.str()));
    ASSERT_EQ(m.status, 0) << m.out;
    EXPECT_TRUE(std::filesystem::exists(out / "Local Folders.pst"));
    CheckWithReaders(fs::Utf8FromPath(out / "pop.example.org.pst"), {{"Inbox", 1}});

    // Repeated: every message is found in its folder already.
    Result again = Convert("profile/Mail/Local Folders", pst, "--json " + Quote(json));
    ASSERT_EQ(again.status, 0) << again.out;
    EXPECT_NE(ReadText(out / "local.json").find("\"alreadyStored\": 7"), std::string::npos);

    // What the first run stored, read back.
    auto stored = StoredMessages(out / "local.pst");
    ASSERT_EQ(stored.size(), 7u);
    EXPECT_EQ(stored["Inbox/read"].flags & 1, 1);
    EXPECT_EQ(stored["Inbox/replied"].verb, 102);
    EXPECT_EQ(stored["Inbox/replied"].flagStatus, 2);
    EXPECT_EQ(stored["Inbox/forwarded"].flags & 1, 0);
    EXPECT_EQ(stored["Inbox/forwarded"].icon, 0x106);
    EXPECT_EQ(stored["Inbox/Wörk/w2"].flags & 1, 1);  // no state kept: read, as files are
    EXPECT_TRUE(stored.count("Sent Items/sent"));
    CheckWithReaders(
        pst, {{"Inbox", 3}, {"Inbox/Wörk", 2}, {"Inbox/Wörk/日本語", 1}, {"Sent Items", 1}});
}

TEST_F(MailSources, AppleBundlesBecomeFoldersNamedWithoutTheirSuffix) {
    src.file("export/Archive.mbox/mbox", Mbox({{"a1", ""}, {"a2", ""}}));
    src.file("export/Archive.mbox/Info.plist", "<plist/>");
    src.file("export/Archive.mbox/2019.mbox/mbox", Mbox({{"old", ""}}));
    const std::string pst = fs::Utf8FromPath(out / "apple.pst");
    Result r = Convert("export", pst);
    ASSERT_EQ(r.status, 0) << r.out;
    CheckWithReaders(pst, {{"Archive", 2}, {"Archive/2019", 1}});
}

TEST_F(MailSources, MaildirInfoLettersBecomeStatesAndTrashedMessagesGoToDeletedItems) {
    // Names cannot hold ":" on Windows, where Maildir writers use "!".
    const std::string info = fs::kPathSeparator == '\\' ? "!2," : ":2,";
    src.file("Maildir/cur/1.host" + info + "S", Message("seen"));
    src.file("Maildir/cur/2.host" + info + "RS", Message("replied"));
    src.file("Maildir/cur/3.host" + info + "F", Message("flagged"));
    src.file("Maildir/cur/4.host" + info + "PS", Message("passed"));
    src.file("Maildir/cur/5.host" + info + "ST", Message("trashed"));
    src.file("Maildir/new/6.host", "From someone Tue Nov  3 10:00:00 2026\n" + Message("new"));
    src.file("Maildir/tmp/7.host", Message("being delivered"));
    src.file("Maildir/Work/cur/8.host" + info + "S", Message("work"));
    src.dir("Maildir/Work/new");
    // Maildir++ subfolders, as servers keep them: ".Sent" and ".Lists.Team" (Lists/Team).
    src.file("Maildir/.Sent/cur/9.host" + info + "S", Message("sent"));
    src.dir("Maildir/.Sent/new");
    src.file("Maildir/.Lists.Team/new/10.host", Message("team"));
    src.dir("Maildir/.Lists.Team/cur");
    src.dir("Maildir/.Lists/cur");
    src.dir("Maildir/.Lists/new");
    src.file("Maildir/dovecot-uidlist", "3 V1 N11\n");
    const std::string pst = fs::Utf8FromPath(out / "maildir.pst");
    Result r = Convert("Maildir", pst);
    ASSERT_EQ(r.status, 0) << r.out;

    // Again, with one more trashed message among the others: only that one is new.
    src.file("Maildir/cur/11.host" + info + "T", Message("trashed too"));
    const std::string json = fs::Utf8FromPath(out / "maildir.json");
    ASSERT_EQ(Convert("Maildir", pst, "--json " + Quote(json)).status, 0);
    const std::string summary = ReadText(out / "maildir.json");
    EXPECT_NE(summary.find("\"converted\": 1,"), std::string::npos) << summary;
    EXPECT_NE(summary.find("\"alreadyStored\": 9"), std::string::npos) << summary;

    auto stored = StoredMessages(out / "maildir.pst");
    ASSERT_EQ(stored.size(), 10u);
    EXPECT_EQ(stored["/seen"].flags & 1, 1);
    EXPECT_EQ(stored["/replied"].verb, 102);
    EXPECT_EQ(stored["/flagged"].flags & 1, 0);
    EXPECT_EQ(stored["/flagged"].flagStatus, 2);
    EXPECT_EQ(stored["/passed"].verb, 104);
    EXPECT_EQ(stored["/new"].flags & 1, 0);  // a Maildir file starting "From " is no mbox
    EXPECT_TRUE(stored.count("Deleted Items/trashed"));
    EXPECT_TRUE(stored.count("Work/work"));
    EXPECT_TRUE(stored.count("Lists/Team/team"));

    CheckWithReaders(
        pst, {{"/", 5}, {"Deleted Items", 2}, {"Work", 1}, {"Sent Items", 1}, {"Lists/Team", 1}});
}

TEST_F(MailSources, AwkwardMboxFilesLoseNoMessageAndNameTheOneThatFails) {
    // A "From " line in a body: unquoted within a paragraph, unquoted after a blank line but no
    // envelope, mboxrd-quoted, and one a Content-Length covers.
    src.file(
        "box/Bodies",
        Envelope() +
            "Subject: one\n\nbody\nFrom here on\n\nFrom me to you\n>From quoted\n>>From twice\n\n" +
            Envelope() +
            "Subject: counted\nContent-Length: 54\n\nbefore\n\nFrom ann@example.org Tue Nov  3 "
            "10:00:00 2026\n\n" +
            Envelope() + "Subject: last\n\nend\n");
    // Windows line ends throughout.
    src.file("box/Crlf",
             "From a Tue Nov  3 10:00:00 2026\r\nSubject: c1\r\n\r\nx\r\n\r\n"
             "From b Tue Nov  3 10:00:00 2026\r\nSubject: c2\r\n\r\ny\r\n");
    // No header at all in the second; the third cut in the middle of its parts.
    src.file("box/Damaged", Envelope() + "Subject: fine\n\nok\n\n" + Envelope() +
                                "\nno header\n\n" + Envelope() +
                                "Subject: cut\nContent-Type: multipart/mixed; boundary=b\n\n--b\n"
                                "Content-Type: text/plain\n\nhalf");
    src.file("box/notes.txt", "Not an mbox\nFrom ann@example.org Tue Nov  3 10:00:00 2026\n");
    const std::string pst = fs::Utf8FromPath(out / "box.pst");
    const std::string json = fs::Utf8FromPath(out / "box.json");
    Result r = Convert("box", pst, "--json " + Quote(json));
    EXPECT_EQ(r.status, 1) << r.out;
    const std::string summary = ReadText(out / "box.json");
    // After the file's name (JSON doubles the separators of a Windows path).
    const size_t second = Envelope().size() + 19;
    EXPECT_NE(summary.find("Damaged, message 2 at byte " + std::to_string(second)),
              std::string::npos)
        << summary;
    EXPECT_NE(summary.find("\"failed\": 1"), std::string::npos) << summary;
    EXPECT_NE(summary.find("\"warned\": 1"), std::string::npos) << summary;

    auto stored = StoredMessages(out / "box.pst");
    EXPECT_EQ(stored.size(), 7u);
    EXPECT_EQ(stored["Bodies/one"].body,
              "body\nFrom here on\n\nFrom me to you\nFrom quoted\n>From twice\n");
    EXPECT_NE(stored["Bodies/counted"].body.find("2026"), std::string::npos);
    // Without a Date field, delivered when its envelope line says (2026-11-03 10:00:00 UTC).
    EXPECT_EQ(stored["Bodies/one"].delivered, (1793700000 + 11644473600LL) * 10000000);
    EXPECT_TRUE(stored.count("Bodies/last"));
    EXPECT_TRUE(stored.count("Crlf/c2"));
    EXPECT_TRUE(stored.count("Damaged/cut"));
    CheckWithReaders(pst, {{"Bodies", 3}, {"Crlf", 2}, {"Damaged", 2}});
}

}  // namespace
}  // namespace e2e

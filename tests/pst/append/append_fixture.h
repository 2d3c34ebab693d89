#pragma once

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/pst/messaging/store_fixture.h"
#include "tests/support/json_string.h"
#include "tests/support/platform.h"

namespace pst::messaging::testing {

// The Unicode data files Outlook made, in the shared corpus.
inline const std::vector<std::string>& OutlookSamples() {
    static const std::vector<std::string> names{"outlook-pst-rs_Empty.pst", "pstsdk_sample1.pst",
                                                "tika_testPST_variousBodyTypes.pst",
                                                "tika_testPST.pst"};
    return names;
}

inline std::filesystem::path CorpusFile(const std::string& name) {
    return SharedDir() / "corpus/pst" / name;
}

// A writable copy of a corpus file (the corpus files are read-only).
inline std::filesystem::path WritableCopy(const std::string& name, const TempDir& dir) {
    const auto copy = dir / name;
    std::filesystem::copy_file(CorpusFile(name), copy);
    std::filesystem::permissions(copy, std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::add);
    return copy;
}

inline std::vector<uint8_t> FileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline int RunCommand(const std::string& command, std::string* output = nullptr) {
    FILE* p = popen((command + " 2>&1").c_str(), "r");
    if (!p) return -1;
    char buf[4096];
    std::string text;
    while (size_t n = fread(buf, 1, sizeof buf, p)) text.append(buf, n);
    if (output) *output = text;
    return pclose(p);
}

using testsupport::JsonString;

// Message number i of an append: every one has an attachment, every 50th a second one that
// needs a data tree; odd ones are unread.
inline MessageContent AppendedMessage(const std::string& tag, int i) {
    MessageContent m = MakeMessage(tag + " message " + std::to_string(i),
                                   "Body " + std::to_string(i) + " of " + tag,
                                   132000000000000000ull + uint64_t(i) * 600000000);
    m.props.Set(PropertyValue::Int32(0x0E070003, i % 2 ? 0 : 1));
    m.attachments.push_back(
        MakeAttachment("file" + std::to_string(i) + ".bin", Pattern(200 + i * 3, uint32_t(i))));
    if (i % 50 == 0)
        m.attachments.push_back(MakeAttachment("large.bin", Pattern(30000, uint32_t(i) + 7)));
    return m;
}

// The subjects of a folder's messages, in table order.
inline std::vector<std::string> Subjects(const MessageStore& store, Nid folder) {
    std::vector<std::string> out;
    for (Nid m : store.Messages(folder))
        out.push_back(store.ReadMessage(m).props.Find(0x0037001F)->AsUtf8());
    return out;
}

inline void Append(const std::filesystem::path& file, const std::string& tag, int count,
                   const std::string& folderName) {
    auto store = MessageStore::Open(file);
    store->ValidateIpmTree();
    const Nid inbox = *store->GetDefaultFolder(DefaultFolder::kInbox);
    const Nid folder = store->FindSubfolder(inbox, folderName).value_or(0)
                           ? *store->FindSubfolder(inbox, folderName)
                           : store->CreateFolder(inbox, folderName);
    for (int i = 0; i < count; ++i) store->AddMessage(folder, AppendedMessage(tag, i));
    store->Close();
}

}  // namespace pst::messaging::testing

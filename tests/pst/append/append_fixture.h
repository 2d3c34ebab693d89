#pragma once

#include "tests/support/json_string.h"
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/pst/messaging/store_fixture.h"

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
    m.props.set(PropertyValue::Int32(0x0E070003, i % 2 ? 0 : 1));
    m.attachments.push_back(
        MakeAttachment("file" + std::to_string(i) + ".bin", Pattern(200 + i * 3, uint32_t(i))));
    if (i % 50 == 0)
        m.attachments.push_back(MakeAttachment("large.bin", Pattern(30000, uint32_t(i) + 7)));
    return m;
}

}  // namespace pst::messaging::testing

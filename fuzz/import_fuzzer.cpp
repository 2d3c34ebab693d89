// libFuzzer target: one input is one message file, taken through the whole import and into a
// data file, then read back. Inputs that start with a digit are named .emlx, so the byte-count
// line and property list of that format are reached too.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "mime/import.h"
#include "pst/messaging/message_store.h"

namespace {

namespace fs = std::filesystem;
namespace pm = pst::messaging;

// Messages a data file takes before it is replaced: the store stays small and each input costs
// about the same.
constexpr int kMessagesPerFile = 200;

struct Workspace {
    fs::path dir;
    std::unique_ptr<pm::MessageStore> store;
    pm::Nid folder = 0;
    int messages = 0;
    int files = 0;

    Workspace() {
        std::string pattern =
            (fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path()) /
            "eml2pst-fuzz-XXXXXX";
        if (!mkdtemp(pattern.data())) std::abort();
        dir = pattern;
    }
    ~Workspace() {
        store.reset();
        std::error_code ec;
        fs::remove_all(dir, ec);
    }

    pm::MessageStore& Store() {
        if (store && messages < kMessagesPerFile) return *store;
        store.reset();
        const fs::path file = dir / ("out" + std::to_string(files++ % 2) + ".pst");
        fs::remove(file);
        store = pm::MessageStore::Create(file, "Fuzz");
        store->SetAutoCommitInterval(0);  // nothing needs to reach the disk
        folder = store->CreateFolder(store->IpmSubtree(), "In");
        messages = 0;
        return *store;
    }
};

// Reads every value, so attachment data left in the file is decoded as a writer would.
void Drain(const pm::PropertySet& props) {
    for (const auto& v : props.values) {
        if (!v.IsStream()) continue;
        uint64_t total = 0;
        v.Producer()([&total](std::span<const uint8_t> chunk) { total += chunk.size(); });
        if (total != v.size()) std::abort();  // a stream must deliver the size it announced
    }
}

void Drain(const pm::MessageContent& content) {
    Drain(content.props);
    for (const auto& r : content.recipients) Drain(r.props);
    for (const auto& a : content.attachments) {
        Drain(a.props);
        if (a.embedded) Drain(*a.embedded);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Workspace ws;
    const bool emlx = size > 0 && data[0] >= '0' && data[0] <= '9';
    const fs::path input = ws.dir / (emlx ? "in.emlx" : "in.eml");
    {
        std::ofstream out(input, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
    }
    mime::ImportOptions options;
    options.inMemoryAttachmentLimit = 4096;  // streamed attachments get their share of inputs
    mime::ImportResult result = mime::ImportMessageFile(input.string(), options);
    if (!result.ok) {
        if (result.error.empty()) std::abort();  // a refusal always says why
        return 0;
    }
    Drain(result.content);
    pm::MessageStore& store = ws.Store();
    pm::Nid nid = store.AddMessage(ws.folder, result.content);
    ++ws.messages;
    pm::MessageContent back = store.ReadMessage(nid);
    if (back.attachments.size() != result.content.attachments.size() ||
        back.recipients.size() != result.content.recipients.size())
        std::abort();  // what was written must read back whole
    return 0;
}

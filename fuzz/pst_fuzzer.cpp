// libFuzzer target: one input is one data file. It is checked by the verifier, listed, and
// opened for adding a folder and a message, as `convert` does with an existing file. Opening
// for adding must refuse (leaving the file as it was) or succeed, and a file it accepted must
// take the add and stay as sound as the verifier found it.
//
// Before use, the CRCs of the header, of every page and of every block the BBT pages list are
// computed anew, so that mutations reach the structures behind them instead of all ending at
// a CRC check (which the unit tests cover).
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "pst/messaging/message_store.h"
#include "pst/messaging/store_verifier.h"
#include "pst/ndb/block.h"
#include "pst/ndb/bytes.h"
#include "pst/ndb/header.h"
#include "pst/ndb/page.h"

namespace {

namespace stdfs = std::filesystem;
namespace pm = pst::messaging;
namespace nd = pst::ndb;

struct Workspace {
    stdfs::path dir;
    Workspace() {
        std::string pattern = (stdfs::is_directory("/dev/shm") ? stdfs::path("/dev/shm")
                                                               : stdfs::temp_directory_path()) /
                              "eml2pst-pst-fuzz-XXXXXX";
        if (!mkdtemp(pattern.data())) std::abort();
        dir = pattern;
    }
    ~Workspace() {
        std::error_code ec;
        stdfs::remove_all(dir, ec);
    }
};

std::vector<uint8_t> ReadAll(const stdfs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void Reseal(std::vector<uint8_t>& file) {
    if (file.size() < nd::kHeaderSize) return;
    uint8_t* h = file.data();
    nd::Put32(h + 4, nd::HeaderPartialCrc(h));
    nd::Put32(h + 524, nd::HeaderFullCrc(h));
    for (size_t ib = nd::kDListOffset; ib + nd::kPageSize <= file.size(); ib += nd::kPageSize) {
        nd::PageImage page;
        std::copy_n(file.begin() + ptrdiff_t(ib), nd::kPageSize, page.begin());
        const uint8_t type = page[496];
        if (type < nd::kPtypeBbt || type > nd::kPtypeDList || page[497] != type) continue;
        nd::SealPage(page, nd::PageType(type), nd::Get64(page.data() + 504), ib);
        std::copy(page.begin(), page.end(), file.begin() + ptrdiff_t(ib));
        const nd::BtPageInfo info = nd::ReadBtPageInfo(page);
        if (type != nd::kPtypeBbt || info.cLevel != 0 || info.cbEnt != 24) continue;
        for (size_t i = 0; i < info.cEnt && i < 20; ++i) {
            const uint8_t* e = page.data() + 24 * i;
            const nd::Bid bid = nd::Get64(e);
            const nd::Ib at = nd::Get64(e + 8);
            const uint16_t cb = nd::Get16(e + 16);
            const uint64_t size = nd::BlockDiskSize(cb);
            if (cb > nd::kMaxBlockData || at % 64 != 0 || at > file.size() ||
                size > file.size() - at)
                continue;
            nd::SealBlockImage(std::span(file).subspan(at, size), cb, bid, at);
        }
    }
}

pm::MessageContent SmallMessage() {
    pm::MessageContent m;
    m.props.Set(pst::PropertyValue::String(0x001A001F, u"IPM.Note"));
    m.props.Set(pst::PropertyValue::String(0x0037001F, u"fuzz"));
    m.props.Set(pst::PropertyValue::Int32(0x0E070003, 0));
    pm::NamedValue named;
    named.name.guid[0] = 0x42;
    named.name.name = std::u16string(u"x-fuzz");
    named.value = pst::PropertyValue::String(0x8000001F, u"v");
    m.props.named.push_back(named);
    pm::Recipient r;
    r.props.Set(pst::PropertyValue::Int32(0x0C150003, 1));
    r.props.Set(pst::PropertyValue::String(0x3001001F, u"a@b"));
    m.recipients.push_back(r);
    return m;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Workspace ws;
    static const pm::MessageContent message = SmallMessage();
    std::vector<uint8_t> bytes(data, data + size);
    Reseal(bytes);
    const stdfs::path path = ws.dir / "in.pst";
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }

    // verify: reports, never throws.
    const pm::StoreReport before = pm::VerifyStoreFile(path);

    // list: may fail with a cause, nothing worse.
    try {
        auto store = pm::MessageStore::Open(path, true);
        store->FolderTree(store->IpmSubtree());
    } catch (const std::exception&) {
    }

    // convert into it: refused before any write, or added to in full.
    std::unique_ptr<pm::MessageStore> store;
    try {
        store = pm::MessageStore::Open(path);
    } catch (const std::exception&) {
        if (ReadAll(path) != bytes) {
            std::fprintf(stderr, "a refused file was changed\n");
            std::abort();
        }
        return 0;
    }
    try {
        store->ValidateIpmTree();
        pm::Nid folder = store->IpmSubtree();
        if (auto existing = store->FindSubfolder(folder, "Fuzz"))
            folder = *existing;
        else
            folder = store->CreateFolder(folder, "Fuzz");
        store->AddMessage(folder, message);
        store->Close();
    } catch (const std::exception& e) {
        // Everything an add touches was checked before it was let in.
        std::fprintf(stderr, "accepted file failed the add: %s\n", e.what());
        std::abort();
    }
    store.reset();
    if (before.Ok()) {
        const pm::StoreReport after = pm::VerifyStoreFile(path);
        if (!after.Ok()) {
            std::fprintf(stderr, "a sound file is faulty after the add: %s\n",
                         after.errors[0].c_str());
            std::abort();
        }
    }
    return 0;
}

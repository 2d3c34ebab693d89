#include "pst/ltp/verify.h"

#include <algorithm>
#include <functional>
#include <set>
#include <stdexcept>

#include "pst/ltp/byte_io.h"
#include "pst/ltp/heap.h"
#include "pst/ltp/property.h"
#include "pst/ltp/value_store.h"

namespace pst::ltp {
namespace {

constexpr uint32_t kRowIdTag = 0x67F20003;
constexpr uint32_t kRowVerTag = 0x67F30003;

bool KnownClientSig(uint8_t sig) {
    switch (sig) {
        case 0x6C:
        case 0x7C:
        case 0x8C:
        case 0x9C:
        case 0xA5:
        case 0xAC:
        case 0xB5:
        case 0xBC:
        case 0xCC:
            return true;
        default:
            return false;
    }
}

size_t HeaderSize(size_t i) {
    if (i == 0) return 12;
    return (i >= 8 && (i - 8) % 128 == 0) ? 66 : 2;
}

int CompareKeys(std::span<const uint8_t> a, std::span<const uint8_t> b) {
    for (size_t i = a.size(); i-- > 0;) {
        if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
    }
    return 0;
}

class Verifier {
  public:
    Verifier(const ndb::NodeDatabase& db, const ndb::SubnodeMap& subnodes)
        : db_(db), subnodes_(subnodes) {}

    std::vector<std::string> Run(ndb::Bid data, std::optional<uint8_t> expected) {
        try {
            if (!CheckBlocks(data)) return findings_;
            heap_.emplace(db_, data);
            uint8_t sig = heap_->ClientSig();
            if (expected && sig != *expected) {
                // Checked as what it must be: a table whose heap claims to hold something
                // else is unreadable to every reader that goes by the signature.
                Fail("HN: bClientSig " + Hex(sig) + ", expected " + Hex(*expected));
                sig = *expected;
            }
            if (sig == kClientSigPc) CheckPc();
            if (sig == kClientSigTc) CheckTc();
            if (sig == kClientSigBth) CheckBth(heap_->UserRoot(), 0, 0, "BTH");
        } catch (const std::exception& e) {
            Fail(std::string("unreadable: ") + e.what());
        }
        return findings_;
    }

  private:
    void Fail(const std::string& what) { findings_.push_back(what); }

    // Raw block layout: headers, page maps, item bounds, fill levels of absent blocks.
    bool CheckBlocks(ndb::Bid data) {
        auto leaves = db_.DataBlocks(data);
        if (leaves.empty()) {
            Fail("HN: empty data stream");
            return false;
        }
        if (leaves.size() > kMaxHeapBlocks) Fail("HN: more than 65536 blocks");
        const size_t before = findings_.size();
        for (size_t i = 0; i < leaves.size(); ++i) {
            auto raw = db_.ReadBlock(leaves[i]);
            const std::string where = "HN block " + std::to_string(i) + ": ";
            const size_t hdr = HeaderSize(i);
            if (raw.size() < hdr + 4) {
                Fail(where + "too short (" + std::to_string(raw.size()) + " bytes)");
                continue;
            }
            if (i == 0) {
                if (raw[2] != 0xEC) Fail(where + "bSig " + Hex(raw[2]) + ", not 0xEC");
                if (!KnownClientSig(raw[3])) Fail(where + "unknown bClientSig " + Hex(raw[3]));
            }
            size_t ibHnpm = Get16(raw, 0);
            if (ibHnpm < hdr || ibHnpm + 4 > raw.size() || ibHnpm % 2 != 0) {
                Fail(where + "ibHnpm " + std::to_string(ibHnpm) + " misplaced");
                continue;
            }
            size_t cAlloc = Get16(raw, ibHnpm), cFree = Get16(raw, ibHnpm + 2);
            if (ibHnpm + 4 + 2 * (cAlloc + 1) > raw.size()) {
                Fail(where + "page map overruns the block");
                continue;
            }
            size_t prev = Get16(raw, ibHnpm + 4), freed = 0;
            if (prev != hdr) Fail(where + "first item at " + std::to_string(prev));
            for (size_t k = 1; k <= cAlloc; ++k) {
                size_t next = Get16(raw, ibHnpm + 4 + 2 * k);
                if (next < prev || next > ibHnpm) {
                    Fail(where + "item " + std::to_string(k) + " bounds " + std::to_string(prev) +
                         ".." + std::to_string(next));
                    break;
                }
                if (next - prev > kMaxHeapItem)
                    Fail(where + "item " + std::to_string(k) + " over 3580 bytes");
                if (next == prev) ++freed;
                prev = next;
            }
            if (freed != cFree) {
                Fail(where + "cFree " + std::to_string(cFree) + " but " + std::to_string(freed) +
                     " empty items");
            }
            // Fill levels of blocks that do not exist must be 0.
            size_t mapOffset = i == 0 ? 8 : hdr == 66 ? 2 : 0;
            size_t mapBlocks = i == 0 ? 8 : hdr == 66 ? 128 : 0;
            for (size_t b = 0; b < mapBlocks; ++b) {
                if (i + b < leaves.size()) continue;
                uint8_t byte = raw[mapOffset + b / 2];
                if (((b & 1) ? byte >> 4 : byte & 0xF) != 0) {
                    Fail(where + "fill level set for absent block " + std::to_string(i + b));
                    break;
                }
            }
        }
        return findings_.size() == before;
    }

    struct Record {
        std::vector<uint8_t> key, data;
    };

    // Checks a BTH and returns its records in order.
    std::vector<Record> CheckBth(Hid header, uint8_t wantKey, uint8_t wantData,
                                 const std::string& what) {
        std::vector<Record> out;
        auto hdr = heap_->Read(header);
        if (hdr.size() != 8 || hdr[0] != 0xB5) {
            Fail(what + ": header " + Hex(header) + " is not a BTHHEADER");
            return out;
        }
        uint8_t cbKey = hdr[1], cbEnt = hdr[2], levels = hdr[3];
        Hid root = Get32(hdr, 4);
        if (cbKey != 2 && cbKey != 4 && cbKey != 8 && cbKey != 16)
            Fail(what + ": cbKey " + std::to_string(cbKey));
        if (cbEnt < 1 || cbEnt > 32) Fail(what + ": cbEnt " + std::to_string(cbEnt));
        if ((wantKey && cbKey != wantKey) || (wantData && cbEnt != wantData)) {
            Fail(what + ": key/data sizes " + std::to_string(cbKey) + "/" + std::to_string(cbEnt));
            return out;
        }
        if (root == 0) {
            if (levels != 0) Fail(what + ": empty but bIdxLevels " + std::to_string(levels));
            return out;
        }
        std::set<Hid> walked;
        std::function<std::vector<uint8_t>(Hid, int)> walk = [&](Hid node, int level) {
            // An index item reached twice (a cycle, or shared by two parents) is walked once.
            if (!walked.insert(node).second) {
                Fail(what + ": item " + Hex(node) + " is reached twice");
                return std::vector<uint8_t>{};
            }
            auto item = heap_->Read(node);
            size_t rs = cbKey + (level == 0 ? cbEnt : 4);
            if (item.empty() || item.size() % rs != 0) {
                Fail(what + ": item " + Hex(node) + " of " + std::to_string(item.size()) +
                     " bytes is not whole records");
                return std::vector<uint8_t>{};
            }
            for (size_t off = 0; off < item.size(); off += rs) {
                std::vector<uint8_t> key(item.begin() + off, item.begin() + off + cbKey);
                if (level == 0) {
                    if (!out.empty() && CompareKeys(out.back().key, key) >= 0) {
                        Fail(what + ": keys not ascending at " + Hex(node));
                    }
                    out.push_back({key, std::vector<uint8_t>(item.begin() + off + cbKey,
                                                             item.begin() + off + rs)});
                } else {
                    auto first = walk(Get32(item, off + cbKey), level - 1);
                    if (!first.empty() && first != key) {
                        Fail(what + ": index key in " + Hex(node) +
                             " differs from its child's first key");
                    }
                }
            }
            return std::vector<uint8_t>(item.begin(), item.begin() + cbKey);
        };
        walk(root, levels);
        return out;
    }

    bool HnidResolves(uint32_t hnid, const std::string& where) {
        if (hnid == 0) return true;
        if (IsHid(hnid)) {
            try {
                heap_->Read(hnid);
            } catch (const std::exception&) {
                Fail(where + ": HID " + Hex(hnid) + " names no item");
                return false;
            }
            return true;
        }
        if (!subnodes_.count(hnid)) {
            Fail(where + ": subnode " + Hex(hnid) + " missing");
            return false;
        }
        return true;
    }

    void CheckValue(uint32_t tag, uint32_t hnid, const std::string& where) {
        if (!HnidResolves(hnid, where)) return;
        uint16_t type = PropTypeOf(tag);
        if (hnid == 0) {
            if (type == kPtypObject) Fail(where + ": object without a value");
            return;
        }
        if (IsHid(hnid)) {
            try {
                CheckValueBytes(tag, heap_->Read(hnid));
            } catch (const std::invalid_argument& e) {
                Fail(where + ": " + e.what());
            }
        } else if (type == kPtypString && db_.StreamSize(subnodes_.at(hnid).data) % 2 != 0) {
            Fail(where + ": UTF-16 string of odd length");
        }
        if (type == kPtypObject && IsHid(hnid)) {
            uint32_t nid = Get32(heap_->Read(hnid), 0);
            if (!subnodes_.count(nid)) Fail(where + ": object subnode " + Hex(nid) + " missing");
        }
    }

    void CheckPc() {
        auto records = CheckBth(heap_->UserRoot(), 2, 6, "PC");
        for (const auto& r : records) {
            uint16_t type = Get16(r.data, 0);
            uint32_t tag = MakeTag(Get16(r.key, 0), type);
            uint32_t value = Get32(r.data, 2);
            const std::string where = "PC property " + Hex(tag);
            switch (PcValueKind(type)) {
                case ValueKind::kInline:
                    break;
                case ValueKind::kFixedHid:
                    if (!IsHid(value) || value == 0) {
                        Fail(where + ": fixed-size value not in a heap item");
                    } else {
                        CheckValue(tag, value, where);
                    }
                    break;
                case ValueKind::kHnid:
                    CheckValue(tag, value, where);
                    break;
            }
        }
    }

    void CheckTc() {
        auto info = heap_->Read(heap_->UserRoot());
        if (info.size() < 22 || info[0] != 0x7C) {
            Fail("TC: user root is not a TCINFO");
            return;
        }
        const size_t cCols = info[1];
        if (info.size() != 22 + 8 * cCols) {
            Fail("TC: TCINFO of " + std::to_string(info.size()) + " bytes for " +
                 std::to_string(cCols) + " columns");
            return;
        }
        uint16_t rgib[4];
        for (int i = 0; i < 4; ++i) rgib[i] = Get16(info, 2 + 2 * i);
        if (!(rgib[0] <= rgib[1] && rgib[1] <= rgib[2] && rgib[2] <= rgib[3]))
            Fail("TC: rgib out of order");
        if (rgib[3] != rgib[2] + (cCols + 7) / 8)
            Fail("TC: CEB size does not match the column count");
        if (Get32(info, 18) != 0) Fail("TC: hidIndex not 0");
        struct Col {
            uint32_t tag;
            uint16_t ib;
            uint8_t cb, bit;
        };
        std::vector<Col> cols;
        std::set<uint8_t> bits;
        std::vector<std::pair<size_t, size_t>> slots;
        for (size_t i = 0; i < cCols; ++i) {
            size_t o = 22 + 8 * i;
            Col c{Get32(info, o), Get16(info, o + 4), info[o + 6], info[o + 7]};
            const std::string where = "TC column " + Hex(c.tag);
            if (!cols.empty() && cols.back().tag >= c.tag)
                Fail(where + ": columns not sorted by tag");
            if (c.bit >= cCols || !bits.insert(c.bit).second)
                Fail(where + ": iBit " + std::to_string(c.bit));
            size_t inl = InlineSize(PropTypeOf(c.tag));
            if (c.cb != (inl == 0 ? 4 : inl))
                Fail(where + ": cbData " + std::to_string(c.cb) + " for its type");
            bool inGroup = c.cb >= 4   ? c.ib + c.cb <= rgib[0]
                           : c.cb == 2 ? c.ib >= rgib[0] && c.ib + 2 <= rgib[1]
                                       : c.ib >= rgib[1] && c.ib + 1 <= rgib[2];
            if (!inGroup)
                Fail(where + ": ibData " + std::to_string(c.ib) + " outside its size group");
            if (c.tag == kRowIdTag && (c.ib != 0 || c.bit != 0))
                Fail("TC: RowId not at offset 0, bit 0");
            if (c.tag == kRowVerTag && (c.ib != 4 || c.bit != 1))
                Fail("TC: RowVer not at offset 4, bit 1");
            slots.push_back({c.ib, c.ib + c.cb});
            cols.push_back(c);
        }
        std::sort(slots.begin(), slots.end());
        for (size_t i = 1; i < slots.size(); ++i) {
            if (slots[i].first < slots[i - 1].second)
                Fail("TC: column slots overlap at " + std::to_string(slots[i].first));
        }
        if (!findings_.empty()) return;
        const size_t rowSize = rgib[3];

        auto index = CheckBth(Get32(info, 10), 4, 4, "TC RowIndex");
        const size_t n = index.size();
        const uint32_t hnidRows = Get32(info, 14);
        if ((hnidRows == 0) != (n == 0)) {
            Fail("TC: hnidRows " + Hex(hnidRows) + " with " + std::to_string(n) + " rows");
            return;
        }
        if (n == 0) return;
        std::vector<uint8_t> rows;
        if (IsHid(hnidRows)) {
            rows = heap_->Read(hnidRows);
        } else if (!subnodes_.count(hnidRows)) {
            Fail("TC: row matrix subnode " + Hex(hnidRows) + " missing");
            return;
        } else {
            auto blocks = db_.DataBlocks(subnodes_.at(hnidRows).data);
            const size_t perBlock = ndb::kMaxBlockData / rowSize;
            for (size_t b = 0; b < blocks.size(); ++b) {
                auto raw = db_.ReadBlock(blocks[b]);
                bool last = b + 1 == blocks.size();
                if (!last && raw.size() != ndb::kMaxBlockData) {
                    Fail("TC: row block " + std::to_string(b) + " not full (" +
                         std::to_string(raw.size()) + " bytes)");
                }
                size_t take = last ? raw.size() / rowSize * rowSize : perBlock * rowSize;
                rows.insert(rows.end(), raw.begin(), raw.begin() + std::min(take, raw.size()));
            }
        }
        if (rows.size() < n * rowSize) {
            Fail("TC: row matrix holds " + std::to_string(rows.size() / rowSize) +
                 " rows, RowIndex " + std::to_string(n));
            return;
        }
        std::vector<bool> seen(n, false);
        for (const auto& r : index) {
            uint32_t id = Get32(r.key, 0), at = Get32(r.data, 0);
            const std::string where = "TC row " + Hex(id);
            if (at >= n || seen[at]) {
                Fail(where + ": row index " + std::to_string(at) + " invalid or repeated");
                continue;
            }
            seen[at] = true;
            std::span<const uint8_t> row(rows.data() + at * rowSize, rowSize);
            if (Get32(row, 0) != id)
                Fail(where + ": first DWORD " + Hex(Get32(row, 0)) + " differs");
            auto bitSet = [&](uint8_t bit) {
                return (row[rgib[2] + bit / 8] & (0x80 >> (bit % 8))) != 0;
            };
            if (!bitSet(0)) Fail(where + ": RowId cell marked absent");
            for (size_t bit = cCols; bit < (rgib[3] - rgib[2]) * 8u; ++bit) {
                if (bitSet(uint8_t(bit))) Fail(where + ": spare CEB bit set");
            }
            for (const auto& c : cols) {
                if (InlineSize(PropTypeOf(c.tag)) == 0 && bitSet(c.bit)) {
                    CheckValue(c.tag, Get32(row, c.ib), where + " column " + Hex(c.tag));
                }
            }
            if (findings_.size() > 50) return;  // enough to see what is wrong
        }
    }

    const ndb::NodeDatabase& db_;
    const ndb::SubnodeMap& subnodes_;
    std::optional<Heap> heap_;
    std::vector<std::string> findings_;
};

}  // namespace

std::optional<uint8_t> HeapClientSig(const ndb::NodeDatabase& db, ndb::Bid data) {
    if (data == 0) return std::nullopt;
    auto leaves = db.DataBlocks(data);
    if (leaves.empty()) return std::nullopt;
    auto first = db.ReadBlock(leaves[0]);
    if (first.size() < 12 || first[2] != 0xEC) return std::nullopt;
    return first[3];
}

std::vector<std::string> VerifyHeapNode(const ndb::NodeDatabase& db, ndb::Bid data,
                                        const ndb::SubnodeMap& subnodes,
                                        std::optional<uint8_t> clientSig) {
    return Verifier(db, subnodes).Run(data, clientSig);
}

}  // namespace pst::ltp

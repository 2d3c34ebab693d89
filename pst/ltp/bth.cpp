#include "pst/ltp/bth.h"

#include <stdexcept>
#include <string>

#include "pst/ltp/byte_io.h"

namespace pst::ltp {
namespace {

constexpr uint8_t kBthType = 0xB5;

}  // namespace

Hid BTree::Create(Heap& heap, uint8_t cbKey, uint8_t cbEnt) {
    if (cbKey != 2 && cbKey != 4 && cbKey != 8 && cbKey != 16) {
        throw std::invalid_argument("BTH: key size " + std::to_string(cbKey) +
                                    " not 2, 4, 8 or 16");
    }
    if (cbEnt < 1 || cbEnt > 32) {
        throw std::invalid_argument("BTH: data size " + std::to_string(cbEnt) + " not in 1..32");
    }
    std::vector<uint8_t> hdr{kBthType, cbKey, cbEnt, 0, 0, 0, 0, 0};
    return heap.Allocate(hdr);
}

BTree::BTree(Heap& heap, Hid header) : heap_(&heap), header_(header) {
    auto hdr = heap.Read(header);
    if (hdr.size() < 8 || hdr[0] != kBthType) {
        throw std::runtime_error("BTH: item " + Hex(header) + " is not a BTH header");
    }
    cbKey_ = hdr[1];
    cbEnt_ = hdr[2];
    levels_ = hdr[3];
    root_ = Get32(hdr, 4);
    if ((cbKey_ != 2 && cbKey_ != 4 && cbKey_ != 8 && cbKey_ != 16) || cbEnt_ < 1 || cbEnt_ > 32) {
        throw std::runtime_error("BTH: header " + Hex(header) + " has bad sizes key " +
                                 std::to_string(cbKey_) + " data " + std::to_string(cbEnt_));
    }
}

void BTree::StoreHeader() {
    std::vector<uint8_t> hdr{kBthType, cbKey_, cbEnt_, levels_, 0, 0, 0, 0};
    Put32(hdr, 4, root_);
    header_ = heap_->Replace(header_, hdr);  // same size: stays in place
}

void BTree::CheckKey(std::span<const uint8_t> key) const {
    if (key.size() != cbKey_) {
        throw std::invalid_argument("BTH: key of " + std::to_string(key.size()) +
                                    " bytes, tree uses " + std::to_string(cbKey_));
    }
}

int BTree::Compare(const uint8_t* a, std::span<const uint8_t> b) const {
    for (size_t i = cbKey_; i-- > 0;) {
        if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
    }
    return 0;
}

size_t BTree::ChildFor(const std::vector<uint8_t>& item, std::span<const uint8_t> key,
                       size_t rs) const {
    size_t n = item.size() / rs;
    // Binary search for the last record with key <= `key`.
    size_t lo = 0, hi = n;
    while (lo < hi) {
        size_t mid = (lo + hi) / 2;
        if (Compare(item.data() + mid * rs, key) <= 0) {
            lo = mid + 1;
        } else {
            hi = mid;
        }
    }
    return lo == 0 ? 0 : lo - 1;
}

std::optional<std::vector<uint8_t>> BTree::Find(std::span<const uint8_t> key) const {
    auto d = FindView(key);
    if (!d) return std::nullopt;
    return std::vector<uint8_t>(d->begin(), d->end());
}

std::optional<std::span<const uint8_t>> BTree::FindView(std::span<const uint8_t> key) const {
    CheckKey(key);
    Hid node = root_;
    if (node == 0) return std::nullopt;
    // Views, not copies: nothing changes the heap during a lookup.
    for (int level = levels_; level > 0; --level) {
        std::span<const uint8_t> item = heap_->View(node);
        if (item.empty() || Compare(item.data(), key) > 0) return std::nullopt;
        const size_t rs = RecordSize(level);
        size_t lo = 0, hi = item.size() / rs;
        while (lo < hi) {
            size_t mid = (lo + hi) / 2;
            if (Compare(item.data() + mid * rs, key) <= 0) {
                lo = mid + 1;
            } else {
                hi = mid;
            }
        }
        node = Get32(item, (lo == 0 ? 0 : lo - 1) * rs + cbKey_);
    }
    std::span<const uint8_t> leaf = heap_->View(node);
    size_t rs = RecordSize(0);
    size_t lo = 0, hi = leaf.size() / rs;
    while (lo < hi) {
        size_t mid = (lo + hi) / 2;
        int c = Compare(leaf.data() + mid * rs, key);
        if (c == 0) return leaf.subspan(mid * rs + cbKey_, cbEnt_);
        if (c < 0) {
            lo = mid + 1;
        } else {
            hi = mid;
        }
    }
    return std::nullopt;
}

Hid BTree::InsertAt(Hid node, int level, std::span<const uint8_t> key,
                    std::span<const uint8_t> data, std::optional<Split>& split) {
    std::vector<uint8_t>& item = path_[size_t(level)];
    const std::span<const uint8_t> stored = heap_->View(node);
    item.assign(stored.begin(), stored.end());
    size_t rs = RecordSize(level);
    size_t pos = 0;
    if (level == 0) {
        size_t lo = 0, hi = item.size() / rs;
        while (lo < hi) {
            size_t mid = (lo + hi) / 2;
            int c = Compare(item.data() + mid * rs, key);
            if (c == 0) {
                std::copy(data.begin(), data.end(), item.begin() + mid * rs + cbKey_);
                return heap_->Replace(node, item);
            }
            if (c < 0) {
                lo = mid + 1;
            } else {
                hi = mid;
            }
        }
        pos = lo;
        item.insert(item.begin() + pos * rs, rs, 0);
        std::copy(key.begin(), key.end(), item.begin() + pos * rs);
        std::copy(data.begin(), data.end(), item.begin() + pos * rs + cbKey_);
    } else {
        size_t i = ChildFor(item, key, rs);
        Hid child = Get32(item, i * rs + cbKey_);
        std::optional<Split> childSplit;
        Hid moved = InsertAt(child, level - 1, key, data, childSplit);
        Put32(item, i * rs + cbKey_, moved);
        // A key below every key of the tree becomes the first key of the leftmost path.
        if (i == 0 && Compare(item.data(), key) > 0)
            std::copy(key.begin(), key.end(), item.begin());
        if (!childSplit) return heap_->Replace(node, item);
        pos = i + 1;
        item.insert(item.begin() + pos * rs, rs, 0);
        std::copy(childSplit->key.begin(), childSplit->key.end(), item.begin() + pos * rs);
        Put32(item, pos * rs + cbKey_, childSplit->hid);
    }
    size_t n = item.size() / rs;
    if (n <= MaxRecords(level)) return heap_->Replace(node, item);
    // Appending at the right edge (ascending keys, the usual case) leaves the left item full;
    // elsewhere split in halves.
    size_t keep = (pos == n - 1) ? n - 1 : n / 2;
    std::vector<uint8_t> right(item.begin() + keep * rs, item.end());
    item.resize(keep * rs);
    Hid left = heap_->Replace(node, item);
    split =
        Split{std::vector<uint8_t>(right.begin(), right.begin() + cbKey_), heap_->Allocate(right)};
    return left;
}

void BTree::SetLeaf(std::span<const uint8_t> records) {
    const size_t rs = RecordSize(0);
    if (records.empty() || records.size() % rs != 0 || records.size() / rs > MaxRecords(0))
        throw std::invalid_argument("BTH: " + std::to_string(records.size()) +
                                    " bytes are not the records of one leaf");
    if (root_ == 0) {
        root_ = heap_->Allocate(records);
        levels_ = 0;
        StoreHeader();
        return;
    }
    if (levels_ != 0 || heap_->ItemSize(root_) != records.size())
        throw std::invalid_argument("BTH: the tree is not one leaf of as many records");
    const Hid leaf = heap_->Replace(root_, records);
    if (leaf != root_) {
        root_ = leaf;
        StoreHeader();
    }
}

void BTree::Put(std::span<const uint8_t> key, std::span<const uint8_t> data) {
    CheckKey(key);
    if (data.size() != cbEnt_) {
        throw std::invalid_argument("BTH: data of " + std::to_string(data.size()) +
                                    " bytes, tree uses " + std::to_string(cbEnt_));
    }
    if (root_ == 0) {
        std::vector<uint8_t> rec(key.begin(), key.end());
        rec.insert(rec.end(), data.begin(), data.end());
        root_ = heap_->Allocate(rec);
        levels_ = 0;
        StoreHeader();
        return;
    }
    std::optional<Split> split;
    if (path_.size() <= levels_) path_.resize(size_t{levels_} + 1);
    Hid root = InsertAt(root_, levels_, key, data, split);
    if (split) {
        auto left = heap_->Read(root);
        std::vector<uint8_t> idx(left.begin(), left.begin() + cbKey_);
        AppendLe(idx, root, 4);
        idx.insert(idx.end(), split->key.begin(), split->key.end());
        AppendLe(idx, split->hid, 4);
        root = heap_->Allocate(idx);
        ++levels_;
    }
    if (root != root_ || split) {
        root_ = root;
        StoreHeader();
    }
}

BTree::Erased BTree::EraseAt(Hid node, int level, std::span<const uint8_t> key) {
    Erased r;
    r.hid = node;
    auto item = heap_->Read(node);
    size_t rs = RecordSize(level);
    size_t n = item.size() / rs;
    if (n == 0 || Compare(item.data(), key) > 0) return r;
    size_t i = ChildFor(item, key, rs);  // on a leaf: the last record with key <= key
    if (level == 0) {
        if (Compare(item.data() + i * rs, key) != 0) return r;
        r.found = true;
        item.erase(item.begin() + i * rs, item.begin() + (i + 1) * rs);
    } else {
        Hid child = Get32(item, i * rs + cbKey_);
        Erased c = EraseAt(child, level - 1, key);
        if (!c.found) return r;
        r.found = true;
        if (c.emptied) {
            item.erase(item.begin() + i * rs, item.begin() + (i + 1) * rs);
        } else {
            Put32(item, i * rs + cbKey_, c.hid);
            std::copy(c.firstKey.begin(), c.firstKey.end(), item.begin() + i * rs);
        }
    }
    if (item.empty()) {
        heap_->Free(node);
        r.emptied = true;
        r.hid = 0;
        return r;
    }
    r.firstKey.assign(item.begin(), item.begin() + cbKey_);
    r.hid = heap_->Replace(node, item);
    return r;
}

bool BTree::Erase(std::span<const uint8_t> key) {
    CheckKey(key);
    if (root_ == 0) return false;
    Erased r = EraseAt(root_, levels_, key);
    if (!r.found) return false;
    root_ = r.hid;
    if (r.emptied) levels_ = 0;
    // An index root with one child is replaced by that child.
    while (root_ != 0 && levels_ > 0 && heap_->ItemSize(root_) == RecordSize(levels_)) {
        Hid only = Get32(heap_->Read(root_), cbKey_);
        heap_->Free(root_);
        root_ = only;
        --levels_;
    }
    StoreHeader();
    return true;
}

void BTree::Visit(
    Hid node, int level,
    const std::function<void(std::span<const uint8_t>, std::span<const uint8_t>)>& f) const {
    auto item = heap_->Read(node);
    size_t rs = RecordSize(level);
    std::span<const uint8_t> s(item);
    for (size_t off = 0; off + rs <= item.size(); off += rs) {
        if (level == 0) {
            f(s.subspan(off, cbKey_), s.subspan(off + cbKey_, cbEnt_));
        } else {
            Visit(Get32(s, off + cbKey_), level - 1, f);
        }
    }
}

void BTree::ForEach(
    const std::function<void(std::span<const uint8_t>, std::span<const uint8_t>)>& f) const {
    if (root_ != 0) Visit(root_, levels_, f);
}

size_t BTree::Count() const {
    size_t n = 0;
    ForEach([&n](auto, auto) { ++n; });
    return n;
}

std::optional<uint64_t> BTree::FindUint(uint64_t key) const {
    std::vector<uint8_t> k;
    AppendLe(k, key, cbKey_ > 8 ? 8 : cbKey_);
    k.resize(cbKey_, 0);
    auto d = Find(k);
    if (!d) return std::nullopt;
    return GetLe(*d, 0, d->size() > 8 ? 8 : d->size());
}

void BTree::PutUint(uint64_t key, uint64_t data) {
    std::vector<uint8_t> k, d;
    AppendLe(k, key, cbKey_ > 8 ? 8 : cbKey_);
    k.resize(cbKey_, 0);
    AppendLe(d, data, cbEnt_ > 8 ? 8 : cbEnt_);
    d.resize(cbEnt_, 0);
    Put(k, d);
}

bool BTree::EraseUint(uint64_t key) {
    std::vector<uint8_t> k;
    AppendLe(k, key, cbKey_ > 8 ? 8 : cbKey_);
    k.resize(cbKey_, 0);
    return Erase(k);
}

}  // namespace pst::ltp

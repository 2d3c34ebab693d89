#pragma once

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "pst/ndb/bytes.h"
#include "pst/ndb/errors.h"
#include "pst/ndb/header.h"
#include "pst/ndb/page.h"
#include "pst/ndb/types.h"

namespace pst::ndb {

// One entry of the block B-tree.
struct BbtEntry {
    Bid bid = 0;
    Ib ib = 0;
    uint16_t cb = 0;
    uint16_t cRef = 0;
    friend bool operator==(const BbtEntry&, const BbtEntry&) = default;
};

struct NbtTraits {
    using Entry = NodeEntry;
    static constexpr PageType kType = kPtypeNbt;
    static constexpr uint8_t kEntrySize = 32;
    static constexpr uint8_t kLeafMax = 15;
    static constexpr bool kNidKeys = true;
    static uint64_t Key(const Entry& e) { return e.nid; }
    static Entry Read(const uint8_t* p) {
        // Only the low 32 bits of the 8-byte NID field count.
        return {Get32(p), Get64(p + 8), Get64(p + 16), Get32(p + 24)};
    }
    static void Write(uint8_t* p, const Entry& e) {
        Put64(p, e.nid);
        Put64(p + 8, e.data);
        Put64(p + 16, e.sub);
        Put32(p + 24, e.parent);
        Put32(p + 28, 0);
    }
};

struct BbtTraits {
    using Entry = BbtEntry;
    static constexpr PageType kType = kPtypeBbt;
    static constexpr uint8_t kEntrySize = 24;
    static constexpr uint8_t kLeafMax = 20;
    static constexpr bool kNidKeys = false;
    static uint64_t Key(const Entry& e) { return BidKey(e.bid); }
    static Entry Read(const uint8_t* p) {
        return {Get64(p), Get64(p + 8), Get16(p + 16), Get16(p + 18)};
    }
    static void Write(uint8_t* p, const Entry& e) {
        Put64(p, e.bid);
        Put64(p + 8, e.ib);
        Put16(p + 16, e.cb);
        Put16(p + 18, e.cRef);
        Put32(p + 20, 0);
    }
};

// A copy-on-write B-tree of 512-byte pages. Pages are loaded on demand and kept in memory
// while they are dirty; Flush() writes each dirty page once, bottom-up, to a new place, and
// records the places of the pages it replaced so that they can be freed after the commit.
template <class Traits>
class BTree {
  public:
    using Entry = typename Traits::Entry;
    // Reads the page at `ref`, checking its trailer; throws on damage.
    using PageReader = std::function<PageImage(const Bref& ref)>;
    // Gives a finished page a BID and a place, seals and writes it.
    using PageStore = std::function<Bref(PageImage& page, PageType type)>;

    void Open(const Bref& root, PageReader reader) {
        reader_ = std::move(reader);
        root_ = ReadNode(root, kAnyLevel);
        retired_.clear();
        held_ = 0;
    }

    void CreateEmpty(PageReader reader) {
        reader_ = std::move(reader);
        root_ = std::make_unique<Node>();
        retired_.clear();
        held_ = 0;
    }

    std::optional<Entry> Find(uint64_t key) {
        Node* n = root_.get();
        while (n->level > 0) {
            const size_t i = ChildCountAtOrBelow(*n, key);
            if (i == 0) return std::nullopt;
            n = &Load(n->children[i - 1], n->level - 1);
        }
        auto it = LowerBound(*n, key);
        if (it == n->entries.end() || Traits::Key(*it) != key) return std::nullopt;
        return *it;
    }

    // Inserts or replaces the entry with the same key.
    void Put(const Entry& e) {
        auto split = Insert(*root_, e);
        if (split) {
            auto top = std::make_unique<Node>();
            top->level = static_cast<uint8_t>(root_->level + 1);
            const uint64_t firstKey = root_->FirstKey();
            top->children.push_back(Child{firstKey, {}, std::move(root_)});
            top->children.push_back(std::move(*split));
            root_ = std::move(top);
        }
    }

    bool Erase(uint64_t key) {
        if (!Find(key)) return false;
        EraseIn(*root_, key);
        // The tree gets lower when the top holds a single child.
        while (root_->level > 0 && root_->children.size() <= 1) {
            if (root_->children.empty()) {
                root_ = std::make_unique<Node>();
                break;
            }
            Child& only = root_->children.front();
            Load(only, root_->level - 1);
            std::unique_ptr<Node> child = std::move(only.node);
            root_ = std::move(child);
        }
        return true;
    }

    bool Dirty() const { return root_->dirty; }
    uint8_t RootLevel() const { return root_->level; }

    Bref Flush(const PageStore& store) { return FlushNode(*root_, store); }

    // Places of pages replaced since the last call.
    std::vector<Bref> TakeRetired() { return std::exchange(retired_, {}); }

    // After a commit: once more than `keep` pages below the root were loaded or made since the
    // last time, forgets all the clean ones. Keeping them up to then spares the next commits
    // re-reading the pages they look up again (reference counts of shared blocks).
    void Prune(size_t keep = 0) {
        if (held_ <= keep) return;
        for (auto& c : root_->children) {
            if (c.node && !c.node->dirty) c.node.reset();
        }
        held_ = 0;
    }

    // Every entry in key order. Pages not loaded yet are read without being kept.
    void ForEach(const std::function<void(const Entry&)>& fn) {
        std::set<Ib> seen;
        Visit(*root_, fn, nullptr, seen);
    }
    // Every page's location (the root's too, when it has one) and every entry.
    void ForEachPage(const std::function<void(const Bref&, uint8_t level)>& pageFn,
                     const std::function<void(const Entry&)>& fn) {
        if (!root_->dirty) pageFn(root_->bref, root_->level);
        std::set<Ib> seen;
        Visit(*root_, fn, &pageFn, seen);
    }

  private:
    static constexpr int kAnyLevel = -1;

    struct Node;
    struct Child {
        uint64_t key = 0;
        Bref bref;
        std::unique_ptr<Node> node;
    };
    struct Node {
        uint8_t level = 0;
        bool dirty = true;
        Bref bref;
        std::vector<Entry> entries;
        std::vector<Child> children;
        size_t Count() const { return level == 0 ? entries.size() : children.size(); }
        uint64_t FirstKey() const {
            return level == 0 ? Traits::Key(entries.front()) : children.front().key;
        }
    };

    static size_t MaxEntries(const Node& n) {
        return n.level == 0 ? Traits::kLeafMax : kBtEntryMax;
    }

    // Appending keys leave ~90% full pages; other splits halve the page.
    static size_t KeepOnSplit(const Node& n, bool append) {
        return append ? MaxEntries(n) * 9 / 10 : n.Count() / 2;
    }

    static typename std::vector<Entry>::iterator LowerBound(Node& n, uint64_t key) {
        return std::lower_bound(n.entries.begin(), n.entries.end(), key,
                                [](const Entry& e, uint64_t k) { return Traits::Key(e) < k; });
    }

    static size_t ChildCountAtOrBelow(const Node& n, uint64_t key) {
        auto it = std::upper_bound(n.children.begin(), n.children.end(), key,
                                   [](uint64_t k, const Child& c) { return k < c.key; });
        return static_cast<size_t>(it - n.children.begin());
    }

    void Touch(Node& n) {
        if (!n.dirty) {
            retired_.push_back(n.bref);
            n.dirty = true;
        }
    }

    std::unique_ptr<Node> ReadNode(const Bref& ref, int expectedLevel) {
        const PageImage page = reader_(ref);
        const BtPageInfo info = ReadBtPageInfo(page);
        const std::string where = "B-tree page " + Hex(ref.bid) + " at " + Hex(ref.ib);
        if (expectedLevel != kAnyLevel && info.cLevel != expectedLevel) {
            throw NdbError(where + ": level " + std::to_string(info.cLevel) + ", expected " +
                               std::to_string(expectedLevel),
                           NdbError::Cause::Damaged);
        }
        const uint8_t cbEnt = info.cLevel == 0 ? Traits::kEntrySize : kBtEntrySize;
        if (info.cbEnt != cbEnt || info.cEnt * size_t{cbEnt} > 488) {
            throw NdbError(where + ": entry size " + std::to_string(info.cbEnt) + " or count " +
                               std::to_string(info.cEnt) + " is wrong",
                           NdbError::Cause::Damaged);
        }
        auto n = std::make_unique<Node>();
        n->level = info.cLevel;
        n->dirty = false;
        n->bref = ref;
        for (size_t i = 0; i < info.cEnt; ++i) {
            const uint8_t* p = page.data() + i * cbEnt;
            if (n->level == 0) {
                n->entries.push_back(Traits::Read(p));
            } else {
                const BtChildRef c = ReadBtEntry(p, Traits::kNidKeys);
                n->children.push_back(Child{c.key, {c.bid, c.ib}, nullptr});
            }
        }
        if (n->level > 0 && n->children.empty()) {
            throw NdbError(where + ": no entries", NdbError::Cause::Damaged);
        }
        return n;
    }

    Node& Load(Child& c, int level) {
        if (!c.node) {
            c.node = ReadNode(c.bref, level);
            ++held_;
        }
        return *c.node;
    }

    std::optional<Child> Split(Node& n, bool append) {
        auto right = std::make_unique<Node>();
        ++held_;
        right->level = n.level;
        const size_t keep = KeepOnSplit(n, append);
        if (n.level == 0) {
            right->entries.assign(n.entries.begin() + keep, n.entries.end());
            n.entries.resize(keep);
        } else {
            for (size_t i = keep; i < n.children.size(); ++i) {
                right->children.push_back(std::move(n.children[i]));
            }
            n.children.resize(keep);
        }
        const uint64_t key = right->FirstKey();
        return Child{key, {}, std::move(right)};
    }

    std::optional<Child> Insert(Node& n, const Entry& e) {
        Touch(n);
        const uint64_t key = Traits::Key(e);
        if (n.level == 0) {
            auto it = LowerBound(n, key);
            if (it != n.entries.end() && Traits::Key(*it) == key) {
                *it = e;
                return std::nullopt;
            }
            const bool append = it == n.entries.end();
            n.entries.insert(it, e);
            if (n.entries.size() > MaxEntries(n)) return Split(n, append);
            return std::nullopt;
        }
        size_t i = ChildCountAtOrBelow(n, key);
        if (i > 0) --i;
        Node& child = Load(n.children[i], n.level - 1);
        auto grown = Insert(child, e);
        n.children[i].key = child.FirstKey();
        if (grown) {
            n.children.insert(n.children.begin() + static_cast<ptrdiff_t>(i + 1),
                              std::move(*grown));
            if (n.children.size() > MaxEntries(n)) {
                return Split(n, i + 2 == n.children.size());
            }
        }
        return std::nullopt;
    }

    void EraseIn(Node& n, uint64_t key) {
        Touch(n);
        if (n.level == 0) {
            auto it = LowerBound(n, key);
            if (it != n.entries.end() && Traits::Key(*it) == key) n.entries.erase(it);
            return;
        }
        const size_t i = ChildCountAtOrBelow(n, key) - 1;
        Node& child = Load(n.children[i], n.level - 1);
        EraseIn(child, key);
        if (child.Count() == 0) {
            n.children.erase(n.children.begin() + static_cast<ptrdiff_t>(i));
            return;
        }
        n.children[i].key = child.FirstKey();
        MergeIfSparse(n, i);
    }

    // Joins a page that fell under a third full with a neighbour when both fit in one page.
    void MergeIfSparse(Node& n, size_t i) {
        Node& child = *n.children[i].node;
        if (child.Count() * 3 >= MaxEntries(child) || n.children.size() < 2) return;
        const size_t left = i + 1 < n.children.size() ? i : i - 1;
        Node& l = Load(n.children[left], n.level - 1);
        Node& r = Load(n.children[left + 1], n.level - 1);
        if (l.Count() + r.Count() > MaxEntries(l) * 9 / 10) return;
        Touch(l);
        Touch(r);
        if (l.level == 0) {
            l.entries.insert(l.entries.end(), r.entries.begin(), r.entries.end());
        } else {
            for (auto& c : r.children) l.children.push_back(std::move(c));
        }
        n.children.erase(n.children.begin() + static_cast<ptrdiff_t>(left + 1));
        n.children[left].key = l.FirstKey();
    }

    Bref FlushNode(Node& n, const PageStore& store) {
        if (!n.dirty) return n.bref;
        PageImage page{};
        const uint8_t cbEnt = n.level == 0 ? Traits::kEntrySize : kBtEntrySize;
        if (n.level == 0) {
            for (size_t i = 0; i < n.entries.size(); ++i) {
                Traits::Write(page.data() + i * cbEnt, n.entries[i]);
            }
        } else {
            for (size_t i = 0; i < n.children.size(); ++i) {
                Child& c = n.children[i];
                if (c.node && c.node->dirty) c.bref = FlushNode(*c.node, store);
                WriteBtEntry(page.data() + i * cbEnt, {c.key, c.bref.bid, c.bref.ib});
            }
        }
        WriteBtPageInfo(page, {static_cast<uint8_t>(n.Count()), static_cast<uint8_t>(488 / cbEnt),
                               cbEnt, n.level, 0});
        n.bref = store(page, Traits::kType);
        n.dirty = false;
        return n.bref;
    }

    // `seen` holds the committed pages visited: a page that two parents share would make the
    // walk grow with every level it is shared at.
    void Visit(Node& n, const std::function<void(const Entry&)>& fn,
               const std::function<void(const Bref&, uint8_t)>* pageFn, std::set<Ib>& seen) {
        if (n.level == 0) {
            for (const auto& e : n.entries) fn(e);
            return;
        }
        for (auto& c : n.children) {
            if ((!c.node || !c.node->dirty) && !seen.insert(c.bref.ib).second) {
                throw NdbError("B-tree page " + Hex(c.bref.bid) + " at " + Hex(c.bref.ib) +
                                   " is reached twice",
                               NdbError::Cause::Damaged);
            }
            if (c.node) {
                if (pageFn && !c.node->dirty) (*pageFn)(c.bref, c.node->level);
                Visit(*c.node, fn, pageFn, seen);
            } else {
                auto temp = ReadNode(c.bref, n.level - 1);
                if (pageFn) (*pageFn)(c.bref, temp->level);
                Visit(*temp, fn, pageFn, seen);
            }
        }
    }

    PageReader reader_;
    std::unique_ptr<Node> root_;
    std::vector<Bref> retired_;
    size_t held_ = 0;  // pages loaded or made below the root since the last prune
};

}  // namespace pst::ndb

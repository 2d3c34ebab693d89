#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "pst/ndb/layout.h"
#include "pst/ndb/types.h"

namespace pst::ndb {

// The blocks a transaction wrote, as a sorted flat list: new BIDs only grow, so adding one
// appends. A removed BID stays in place marked with bit 0, which no BID key has.
class NewBlockSet {
  public:
    void Add(Bid bid) {
        if (bids_.empty() || bids_.back() < bid) {
            bids_.push_back(bid);
        } else {
            bids_.insert(std::lower_bound(bids_.begin(), bids_.end(), bid), bid);
        }
    }
    bool Contains(Bid key) const {
        auto it = std::lower_bound(bids_.begin(), bids_.end(), key);
        return it != bids_.end() && *it == key;
    }
    // False when the block was not added or was removed already.
    bool Remove(Bid key) {
        auto it = std::lower_bound(bids_.begin(), bids_.end(), key);
        if (it == bids_.end() || *it != key) return false;
        *it |= 1;
        return true;
    }
    // Every BID added, removed ones included (bit 0 set), in ascending order.
    const std::vector<Bid>& All() const { return bids_; }
    void Clear() { bids_.clear(); }

  private:
    std::vector<Bid> bids_;
};

}  // namespace pst::ndb

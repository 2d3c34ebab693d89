#pragma once

#include <cstddef>
#include <mutex>
#include <vector>

namespace pst {

// A few large buffers reused from one use to the next, by whichever thread comes: no fresh
// pages to fault in each time. Shared rather than kept per thread because MinGW runs the
// destructors of thread-local objects on freed storage when a thread ends. Make one with
// `new` and never destroy it: threads may use it until the process exits.
template <typename T>
class KeptPool {
  public:
    KeptPool(T* (*make)(), void (*drop)(T*)) : make_(make), drop_(drop) {
        free_.reserve(kMaxKept);  // so that Give() never allocates
    }
    KeptPool(const KeptPool&) = delete;
    KeptPool& operator=(const KeptPool&) = delete;

    T* Take() {
        {
            std::lock_guard lock(mutex_);
            if (!free_.empty()) {
                T* item = free_.back();
                free_.pop_back();
                return item;
            }
        }
        return make_();
    }

    void Give(T* item) {
        {
            std::lock_guard lock(mutex_);
            if (free_.size() < kMaxKept) {
                free_.push_back(item);
                return;
            }
        }
        drop_(item);
    }

  private:
    static constexpr size_t kMaxKept = 8;  // more than the threads that use one at once
    T* (*make_)();
    void (*drop_)(T*);
    std::mutex mutex_;
    std::vector<T*> free_;
};

}  // namespace pst

#include "engine/text_list.h"

#include <utility>

#include "engine/ordinal_compare.h"

namespace engine {
namespace {

// The middle of first..last, rounded to the nearest whole number with halves to even.
long Middle(long first, long last) {
    long sum = first + last;
    long half = sum / 2;
    if (sum % 2 == 0) return half;
    return half % 2 == 0 ? half : half + 1;
}

}  // namespace

void SortTextRange(std::vector<std::string>& list, long first, long last, ui::Shell& shell) {
    // Recursion only on the smaller side keeps the stack shallow on any input.
    while (first < last) {
        const std::string pivot = list[size_t(Middle(first, last))];
        long i = first, j = last;
        do {
            shell.Yield();
            while (SortsBefore(list[size_t(i)], pivot) && i < last) ++i;
            while (SortsBefore(pivot, list[size_t(j)]) && j > first) --j;
            if (i <= j) {
                std::swap(list[size_t(i)], list[size_t(j)]);
                shell.Yield();
                ++i;
                --j;
            }
        } while (i <= j);
        if (j - first < last - i) {
            if (first < j) SortTextRange(list, first, j, shell);
            first = i;
        } else {
            if (i < last) SortTextRange(list, i, last, shell);
            last = j;
        }
    }
}

void RemoveRepeats(std::vector<std::string>& list, ui::Shell& shell) {
    const size_t n = list.size();
    for (size_t j = 0; j < n; ++j) {
        shell.Yield();
        if (list[j].empty()) continue;
        size_t k = 1;
        while (j + k < n && list[j + k] == list[j]) {
            list[j + k].clear();
            ++k;
        }
    }
    size_t kept = 0;
    for (size_t j = 0; j < n; ++j) {
        shell.Yield();
        if (!list[j].empty()) {
            if (kept != j) list[kept] = std::move(list[j]);
            ++kept;
        }
    }
    if (kept > 0) list.resize(kept);
}

}  // namespace engine

// Which of n places are still live, counted in O(log n): how many live places
// lie below a place, and where the k-th live one is. A Fenwick tree, so a
// burst of deletes from a shown order costs no pass over the whole order each.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class LiveCount {
  public:
    // n places, all live.
    void Reset(size_t n) {
        tree_.assign(n + 1, 0);
        for (size_t i = 1; i <= n; ++i) {
            tree_[i] += 1;
            const size_t up = i + (i & (~i + 1));
            if (up <= n)
                tree_[up] += tree_[i];
        }
        top_ = 1;
        while (top_ * 2 <= n)
            top_ *= 2;
    }
    void Clear() {
        tree_.clear();
        top_ = 0;
    }
    // Place `i` (live) is no more.
    void Remove(size_t i) {
        for (++i; i < tree_.size(); i += i & (~i + 1))
            --tree_[i];
    }
    // Live places below `i`.
    size_t Below(size_t i) const {
        size_t count = 0;
        for (; i > 0; i -= i & (~i + 1))
            count += tree_[i];
        return count;
    }
    // The place of the live one with `k` live ones below it.
    size_t Find(size_t k) const {
        size_t at = 0;
        for (size_t step = top_; step > 0; step /= 2) {
            const size_t next = at + step;
            if (next < tree_.size() && tree_[next] <= k) {
                at = next;
                k -= tree_[next];
            }
        }
        return at; // 1-based `at + 1`, as a 0-based place
    }

  private:
    std::vector<uint32_t> tree_;
    size_t top_ = 0;
};

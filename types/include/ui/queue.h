// Queue<Record>: an in-memory ordered list of fixed-layout records, addressed by 1-based position.
//
// Queues are shared between the window's thread and callback threads, so every operation is atomic
// under the queue's own lock; a compound operation (read, change, write back) that must not be
// interleaved uses locked(). Callers keep their own record buffer: get() loads it, put() stores it
// back at a position, add() appends a copy of it.
//
// Storage is a list of blocks of at most kBlock records with a prefix index, so that inserting in key
// order and deleting runs of records cost O(kBlock + count/kBlock) instead of moving the whole queue:
// a remote tree of 100,000 nodes stays cheap to grow and to prune.
#pragma once

#include <algorithm>
#include <atomic>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "ui/text.h"

namespace ui {

namespace detail {
template <typename T>
std::weak_ordering compareField(const T& a, const T& b) {
  if constexpr (std::is_convertible_v<const T&, std::string_view>) {
    return compareText(std::string_view(a), std::string_view(b));
  } else {
    return a < b ? std::weak_ordering::less
                 : (b < a ? std::weak_ordering::greater : std::weak_ordering::equivalent);
  }
}
}  // namespace detail

// A comparator over one or more fields, each ascending: by(&Rec::NAME), by(&Rec::A, &Rec::B).
// Text fields compare without their trailing blanks.
template <typename... Members>
auto by(Members... members) {
  return [=](const auto& a, const auto& b) {
    std::weak_ordering result = std::weak_ordering::equivalent;
    ((result == 0 ? (result = detail::compareField(a.*members, b.*members), 0) : 0), ...);
    return result < 0;
  };
}

// A comparator over one field, descending.
template <typename Member>
auto byDescending(Member member) {
  return [=](const auto& a, const auto& b) { return detail::compareField(b.*member, a.*member) < 0; };
}

template <typename Record>
class Queue {
 public:
  using record_type = Record;
  static constexpr std::size_t kBlock = 128;

  Queue() = default;
  Queue(const Queue&) = delete;
  Queue& operator=(const Queue&) = delete;

  std::size_t count() const {
    std::lock_guard lock(mutex_);
    return size_;
  }

  // Loads the record at pos (1-based) into out. False, and out untouched, when pos is out of range.
  bool get(std::size_t pos, Record& out) const {
    std::lock_guard lock(mutex_);
    const Record* r = at(pos);
    if (!r) return false;
    out = *r;
    return true;
  }

  // Stores rec at pos, replacing what was there. False when pos is out of range.
  bool put(std::size_t pos, const Record& rec) {
    std::lock_guard lock(mutex_);
    Record* r = at(pos);
    if (!r) return false;
    *r = rec;
    touch();
    return true;
  }

  // Appends a copy of rec; returns its position.
  std::size_t add(const Record& rec) {
    std::lock_guard lock(mutex_);
    insertAt(size_ + 1, rec);
    return size_;
  }

  // Inserts rec so that it becomes position pos (1 .. count + 1); returns pos, or 0 when out of range.
  std::size_t addAt(std::size_t pos, const Record& rec) {
    std::lock_guard lock(mutex_);
    if (pos == 0 || pos > size_ + 1) return 0;
    insertAt(pos, rec);
    return pos;
  }

  // Inserts rec in key order, after any records with an equal key. The queue is assumed to be in
  // that order already (sort() first). Returns the new position.
  template <typename Less>
  std::size_t addSorted(const Record& rec, Less less) {
    std::lock_guard lock(mutex_);
    const std::size_t pos = upperBound(rec, less);
    insertAt(pos, rec);
    return pos;
  }

  // Finds, by binary search in a queue ordered by less, the first record whose key equals probe's;
  // loads it into out and returns its position, or 0 (out untouched) when there is none.
  template <typename Less>
  std::size_t getByKey(const Record& probe, Less less, Record& out) const {
    std::lock_guard lock(mutex_);
    const std::size_t pos = lowerBound(probe, less);
    const Record* r = at(pos);
    if (!r || less(probe, *r)) return 0;
    out = *r;
    return pos;
  }

  // Scans from position `from` for the first record that satisfies pred; loads it and returns its
  // position, or 0.
  template <typename Pred>
  std::size_t find(Pred pred, Record& out, std::size_t from = 1) const {
    std::lock_guard lock(mutex_);
    for (std::size_t pos = std::max<std::size_t>(from, 1); pos <= size_; ++pos) {
      const Record* r = at(pos);
      if (pred(*r)) {
        out = *r;
        return pos;
      }
    }
    return 0;
  }

  // Deletes the record at pos. False when pos is out of range.
  bool del(std::size_t pos) { return delRange(pos, 1) == 1; }

  // Deletes up to n records starting at pos; returns how many were deleted.
  std::size_t delRange(std::size_t pos, std::size_t n) {
    std::lock_guard lock(mutex_);
    return eraseRange(pos, n);
  }

  // Empties the queue.
  void free() {
    std::lock_guard lock(mutex_);
    blocks_.clear();
    starts_.clear();
    size_ = 0;
    touch();
  }

  // Sorts the queue with a strict weak order (stable: equal keys keep their order).
  template <typename Less>
  void sort(Less less) {
    std::lock_guard lock(mutex_);
    sortRecords(less);
  }

  // Calls f(position, record) for every record in order, under the lock. f must not use this queue.
  template <typename F>
  void forEach(F&& f) const {
    std::lock_guard lock(mutex_);
    std::size_t pos = 0;
    for (const auto& block : blocks_)
      for (const auto& r : block) f(++pos, r);
  }

  // A copy of every record, in order.
  std::vector<Record> snapshot() const {
    std::lock_guard lock(mutex_);
    return flatten();
  }

  // Runs f(Access&) with the queue locked for a compound change; Access offers the same operations
  // without taking the lock again.
  class Access;
  template <typename F>
  decltype(auto) locked(F&& f) {
    std::lock_guard lock(mutex_);
    Access access(*this);
    return std::forward<F>(f)(access);
  }

  // Incremented by every change; views compare it to know whether to read the queue again.
  std::uint64_t version() const noexcept { return version_.load(std::memory_order_acquire); }

 private:
  void touch() noexcept { version_.fetch_add(1, std::memory_order_acq_rel); }

  // Block and offset of 1-based position pos (pos may be size_ + 1, the end).
  std::pair<std::size_t, std::size_t> locate(std::size_t pos) const {
    const std::size_t index = pos - 1;
    auto it = std::upper_bound(starts_.begin(), starts_.end(), index);
    std::size_t b = static_cast<std::size_t>(it - starts_.begin());
    b = b == 0 ? 0 : b - 1;
    return {b, index - (starts_.empty() ? 0 : starts_[b])};
  }

  const Record* at(std::size_t pos) const {
    if (pos == 0 || pos > size_) return nullptr;
    auto [b, i] = locate(pos);
    return &blocks_[b][i];
  }
  Record* at(std::size_t pos) { return const_cast<Record*>(std::as_const(*this).at(pos)); }

  void insertAt(std::size_t pos, const Record& rec) {
    if (blocks_.empty()) {
      blocks_.emplace_back();
      blocks_.back().reserve(kBlock);
      starts_.assign(1, 0);
    }
    std::size_t b, i;
    if (pos == size_ + 1) {
      b = blocks_.size() - 1;
      i = blocks_[b].size();
    } else {
      std::tie(b, i) = locate(pos);
    }
    auto& block = blocks_[b];
    block.insert(block.begin() + static_cast<std::ptrdiff_t>(i), rec);
    ++size_;
    if (block.size() > kBlock) {
      // Split in two halves so that appends at the end keep filling whole blocks.
      std::vector<Record> tail(std::make_move_iterator(block.begin() + kBlock / 2),
                               std::make_move_iterator(block.end()));
      block.erase(block.begin() + kBlock / 2, block.end());
      tail.reserve(kBlock);
      blocks_.insert(blocks_.begin() + static_cast<std::ptrdiff_t>(b + 1), std::move(tail));
      reindex();
    } else {
      for (std::size_t k = b + 1; k < starts_.size(); ++k) ++starts_[k];
    }
    touch();
  }

  std::size_t eraseRange(std::size_t pos, std::size_t n) {
    if (pos == 0 || pos > size_ || n == 0) return 0;
    n = std::min(n, size_ - pos + 1);
    std::size_t left = n;
    auto [b, i] = locate(pos);
    while (left > 0) {
      auto& block = blocks_[b];
      const std::size_t take = std::min(left, block.size() - i);
      block.erase(block.begin() + static_cast<std::ptrdiff_t>(i),
                  block.begin() + static_cast<std::ptrdiff_t>(i + take));
      left -= take;
      if (block.empty())
        blocks_.erase(blocks_.begin() + static_cast<std::ptrdiff_t>(b));
      else
        ++b;
      i = 0;
    }
    size_ -= n;
    reindex();
    touch();
    return n;
  }

  template <typename Less>
  void sortRecords(Less& less) {
    std::vector<Record> all = flatten();
    std::stable_sort(all.begin(), all.end(), less);
    rebuild(std::move(all));
    touch();
  }

  void reindex() {
    starts_.resize(blocks_.size());
    std::size_t s = 0;
    for (std::size_t k = 0; k < blocks_.size(); ++k) {
      starts_[k] = s;
      s += blocks_[k].size();
    }
  }

  template <typename Less>
  std::size_t lowerBound(const Record& probe, Less& less) const {
    std::size_t lo = 1, hi = size_ + 1;  // answer in [lo, hi]
    while (lo < hi) {
      const std::size_t mid = lo + (hi - lo) / 2;
      if (less(*at(mid), probe))
        lo = mid + 1;
      else
        hi = mid;
    }
    return lo;
  }
  template <typename Less>
  std::size_t upperBound(const Record& probe, Less& less) const {
    std::size_t lo = 1, hi = size_ + 1;
    while (lo < hi) {
      const std::size_t mid = lo + (hi - lo) / 2;
      if (less(probe, *at(mid)))
        hi = mid;
      else
        lo = mid + 1;
    }
    return lo;
  }

  std::vector<Record> flatten() const {
    std::vector<Record> all;
    all.reserve(size_);
    for (const auto& block : blocks_) all.insert(all.end(), block.begin(), block.end());
    return all;
  }
  void rebuild(std::vector<Record> all) {
    blocks_.clear();
    for (std::size_t k = 0; k < all.size(); k += kBlock) {
      const std::size_t end = std::min(all.size(), k + kBlock);
      blocks_.emplace_back(std::make_move_iterator(all.begin() + static_cast<std::ptrdiff_t>(k)),
                           std::make_move_iterator(all.begin() + static_cast<std::ptrdiff_t>(end)));
    }
    size_ = all.size();
    reindex();
  }

  mutable std::mutex mutex_;
  std::vector<std::vector<Record>> blocks_;
  std::vector<std::size_t> starts_;  // position (0-based) of each block's first record
  std::size_t size_ = 0;
  std::atomic<std::uint64_t> version_{0};
};

// Unlocked operations for use inside Queue::locked().
template <typename Record>
class Queue<Record>::Access {
 public:
  explicit Access(Queue& q) : q_(q) {}
  std::size_t count() const { return q_.size_; }
  bool get(std::size_t pos, Record& out) const {
    const Record* r = q_.at(pos);
    if (!r) return false;
    out = *r;
    return true;
  }
  Record* at(std::size_t pos) { return q_.at(pos); }
  bool put(std::size_t pos, const Record& rec) {
    Record* r = q_.at(pos);
    if (!r) return false;
    *r = rec;
    q_.touch();
    return true;
  }
  std::size_t add(const Record& rec) {
    q_.insertAt(q_.size_ + 1, rec);
    return q_.size_;
  }
  std::size_t addAt(std::size_t pos, const Record& rec) {
    if (pos == 0 || pos > q_.size_ + 1) return 0;
    q_.insertAt(pos, rec);
    return pos;
  }
  template <typename Less>
  std::size_t addSorted(const Record& rec, Less less) {
    const std::size_t pos = q_.upperBound(rec, less);
    q_.insertAt(pos, rec);
    return pos;
  }
  template <typename Less>
  std::size_t getByKey(const Record& probe, Less less, Record& out) const {
    const std::size_t pos = q_.lowerBound(probe, less);
    const Record* r = q_.at(pos);
    if (!r || less(probe, *r)) return 0;
    out = *r;
    return pos;
  }
  std::size_t delRange(std::size_t pos, std::size_t n) { return q_.eraseRange(pos, n); }
  bool del(std::size_t pos) { return delRange(pos, 1) == 1; }
  template <typename Less>
  void sort(Less less) {
    q_.sortRecords(less);
  }

 private:
  Queue& q_;
};

}  // namespace ui

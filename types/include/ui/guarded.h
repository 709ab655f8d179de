// A value shared between the window's thread and callback threads, guarded by its own lock.
// Every read is a copy taken under the lock, every write replaces the value under the lock, so no
// reader ever sees half a text.
#pragma once

#include <mutex>
#include <string_view>
#include <utility>

namespace ui {

template <typename T>
class Guarded {
 public:
  Guarded() = default;
  explicit Guarded(T v) : value_(std::move(v)) {}
  Guarded(const Guarded&) = delete;
  Guarded& operator=(const Guarded&) = delete;

  T get() const {
    std::lock_guard lock(mutex_);
    return value_;
  }
  void set(const T& v) {
    std::lock_guard lock(mutex_);
    value_ = v;
  }
  // Assigns anything T can be assigned from (a text field takes a string_view and cuts it).
  template <typename U>
  Guarded& operator=(U&& v) {
    std::lock_guard lock(mutex_);
    value_ = std::forward<U>(v);
    return *this;
  }
  // Runs f(T&) under the lock, for read-modify-write. f must not touch this Guarded again.
  template <typename F>
  decltype(auto) with(F&& f) {
    std::lock_guard lock(mutex_);
    return std::forward<F>(f)(value_);
  }
  template <typename F>
  decltype(auto) with(F&& f) const {
    std::lock_guard lock(mutex_);
    return std::forward<F>(f)(std::as_const(value_));
  }

 private:
  mutable std::mutex mutex_;
  T value_{};
};

}  // namespace ui

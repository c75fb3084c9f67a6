// A fixed-size array of plain records on the heap, taken through the codec
// layers' allocation wrappers so that running out of memory is an ordinary
// failure (allocate returns false) rather than an exception, and freed with
// its owner on every path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "zvfec/codec_session.h"

template <class T>
class of_array {
  static_assert(std::is_trivially_copyable_v<T>);

 public:
  of_array() = default;
  of_array(const of_array &) = delete;
  of_array &operator=(const of_array &) = delete;
  ~of_array() { of_free(items_); }

  // n items, uninitialised (zeroed by allocate_zeroed), in place of the
  // previous ones; false, with the array empty, when memory is short or n
  // items would not fit in memory's size type.
  bool allocate(size_t n) { return reset(n, false); }
  bool allocate_zeroed(size_t n) { return reset(n, true); }

  T *get() { return items_; }
  const T *get() const { return items_; }
  T &operator[](size_t i) { return items_[i]; }
  const T &operator[](size_t i) const { return items_[i]; }

 private:
  bool reset(size_t n, bool zeroed) {
    of_free(items_);
    items_ = nullptr;
    if (n > SIZE_MAX / sizeof(T)) return false;
    // Never a request for 0 bytes, which may be answered with none.
    const size_t bytes = n != 0 ? n * sizeof(T) : 1;
    items_ = static_cast<T *>(zeroed ? of_calloc(1, bytes) : of_malloc(bytes));
    return items_ != nullptr;
  }

  T *items_ = nullptr;
};

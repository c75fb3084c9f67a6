// A growable LIFO of plain records on the heap, taken through the codec
// layers' allocation wrappers so that running out of memory is an ordinary
// failure (push returns false) rather than an exception or a crash. The
// decoders keep their pending work here instead of on the thread's stack.
#pragma once

#include <cstdint>
#include <type_traits>

#include "zvfec/codec_session.h"

template <class T>
class of_stack {
  static_assert(std::is_trivially_copyable_v<T>);

 public:
  of_stack() = default;
  of_stack(const of_stack &) = delete;
  of_stack &operator=(const of_stack &) = delete;
  ~of_stack() { of_free(items_); }

  // False, and the stack unchanged, when memory is short.
  bool push(const T &item) {
    if (size_ == capacity_) {
      const uint32_t grown = capacity_ == 0 ? 16 : capacity_ * 2;
      void *p = of_realloc(items_, sizeof(T) * grown);
      if (p == nullptr) return false;
      items_ = static_cast<T *>(p);
      capacity_ = grown;
    }
    items_[size_++] = item;
    return true;
  }
  bool empty() const { return size_ == 0; }
  uint32_t size() const { return size_; }
  T &top() { return items_[size_ - 1]; }
  void pop() { --size_; }
  // Drops the items from index size on.
  void truncate(uint32_t size) { size_ = size; }
  T &operator[](uint32_t i) { return items_[i]; }
  T *data() { return items_; }

 private:
  T *items_ = nullptr;
  uint32_t size_ = 0;
  uint32_t capacity_ = 0;
};

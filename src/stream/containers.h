// Containers of the stream layer that keep their memory: once they have held
// as much as a stream needs, taking and releasing packets allocates nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace zv::stream {

// Bytes whose capacity only grows; growing keeps nothing unless asked to.
class Buffer {
 public:
  uint8_t *data() { return data_.get(); }
  const uint8_t *data() const { return data_.get(); }
  size_t capacity() const { return capacity_; }

  // At least n bytes, contents undefined.
  void reserve(size_t n) {
    if (n > capacity_) grow(n, false);
  }
  // At least n bytes, the first `keep` bytes kept.
  void reserve_keeping(size_t n, size_t keep) {
    if (n > capacity_) grow(n, true, keep);
  }
  // Zeros from byte `from` up to byte `to`, the bytes before kept: a media
  // buffer grown into a whole symbol for the session code.
  void zero_pad(size_t from, size_t to) {
    reserve_keeping(to, from);
    std::memset(data_.get() + from, 0, to - from);
  }

 private:
  void grow(size_t n, bool copy, size_t keep = 0) {
    // Room for a common packet at once, so that most buffers grow only once.
    const size_t cap = (n < 1536 ? 1536 : n + 255) & ~size_t{255};
    std::unique_ptr<uint8_t[]> next(new uint8_t[cap]);
    if (copy && keep > 0) std::memcpy(next.get(), data_.get(), keep);
    data_ = std::move(next);
    capacity_ = cap;
  }

  std::unique_ptr<uint8_t[]> data_;
  size_t capacity_ = 0;
};

// A first-in first-out queue on a ring of slots that doubles when full.
template <class T>
class Fifo {
 public:
  bool empty() const { return size_ == 0; }
  size_t size() const { return size_; }
  T &front() { return slots_[head_]; }
  void push(T v) {
    if (size_ == slots_.size()) grow();
    slots_[(head_ + size_) & (slots_.size() - 1)] = v;
    ++size_;
  }
  T pop() {
    T v = slots_[head_];
    head_ = (head_ + 1) & (slots_.size() - 1);
    --size_;
    return v;
  }

 private:
  void grow() {
    std::vector<T> next(slots_.empty() ? 16 : 2 * slots_.size());
    for (size_t i = 0; i < size_; ++i) next[i] = slots_[(head_ + i) & (slots_.size() - 1)];
    slots_ = std::move(next);
    head_ = 0;
  }

  std::vector<T> slots_;
  size_t head_ = 0, size_ = 0;
};

// Records taken from a pool by index and given back; the records keep what
// they own (their buffers) for the next use.
template <class T>
class Pool {
 public:
  uint32_t take() {
    if (free_.empty()) {
      items_.emplace_back();
      return static_cast<uint32_t>(items_.size() - 1);
    }
    const uint32_t i = free_.back();
    free_.pop_back();
    return i;
  }
  void give_back(uint32_t i) { free_.push_back(i); }
  T &operator[](uint32_t i) { return items_[i]; }
  const T &operator[](uint32_t i) const { return items_[i]; }

 private:
  std::vector<T> items_;
  std::vector<uint32_t> free_;
};

inline constexpr uint32_t kNone = UINT32_MAX;

inline uint64_t mix64(uint64_t x) {
  x ^= x >> 33;
  x *= 0xFF51AFD7ED558CCDull;
  x ^= x >> 33;
  x *= 0xC4CEB9FE1A85EC53ull;
  return x ^ (x >> 33);
}

// A hash table from two-part keys to record indices: open addressing with
// linear probing, deletion by backward shift, at most half full.
class IndexMap {
 public:
  struct Key {
    uint64_t a, b;
    bool operator==(const Key &) const = default;
  };

  // The value of key, or kNone.
  uint32_t find(const Key &key) const {
    if (slots_.empty()) return kNone;
    for (size_t i = home(key);; i = next(i)) {
      if (slots_[i].value == kNone) return kNone;
      if (slots_[i].key == key) return slots_[i].value;
    }
  }
  // Sets key to value (replacing what it had).
  void put(const Key &key, uint32_t value) {
    if (2 * (count_ + 1) > slots_.size()) grow();
    for (size_t i = home(key);; i = next(i)) {
      if (slots_[i].value == kNone) {
        slots_[i] = {key, value};
        ++count_;
        return;
      }
      if (slots_[i].key == key) {
        slots_[i].value = value;
        return;
      }
    }
  }
  // Removes key if it maps to value.
  void erase(const Key &key, uint32_t value) {
    if (slots_.empty()) return;
    size_t i = home(key);
    for (;; i = next(i)) {
      if (slots_[i].value == kNone) return;
      if (slots_[i].key == key) break;
    }
    if (slots_[i].value != value) return;
    // Backward shift: pull later members of the probe run into the hole.
    for (size_t j = next(i);; j = next(j)) {
      if (slots_[j].value == kNone) break;
      const size_t h = home(slots_[j].key);
      // Move j into i when its home does not lie in (i, j] (cyclically).
      if ((j > i && (h <= i || h > j)) || (j < i && h <= i && h > j)) {
        slots_[i] = slots_[j];
        i = j;
      }
    }
    slots_[i].value = kNone;
    --count_;
  }

 private:
  struct Slot {
    Key key{};
    uint32_t value = kNone;
  };
  size_t home(const Key &k) const {
    return mix64(k.a * 0x9E3779B97F4A7C15ull ^ k.b) & (slots_.size() - 1);
  }
  size_t next(size_t i) const { return (i + 1) & (slots_.size() - 1); }
  void grow() {
    std::vector<Slot> old = std::move(slots_);
    slots_.assign(old.empty() ? 64 : 2 * old.size(), Slot{});
    count_ = 0;
    for (const Slot &s : old)
      if (s.value != kNone) put(s.key, s.value);
  }

  std::vector<Slot> slots_;
  size_t count_ = 0;
};

}  // namespace zv::stream

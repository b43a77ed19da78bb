// The growable numeric array used by all numeric code.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <type_traits>

namespace tavrix {

// A heap block of trivially copyable elements with an element count and a
// capacity. It either owns its block or wraps a caller's buffer; growing a
// wrapped array copies the caller's data into a block of its own and leaves
// the caller's buffer alone, so later writes no longer reach the caller.
//
// Growth rule: the capacity never shrinks; a larger count raises it to at
// least 16 and then doubles it (saturating at 2^31 - 1) until it suffices.
// New elements are zero. resizeExact() reallocates to exactly the count.
template <class T>
class DynArray {
  static_assert(std::is_trivially_copyable_v<T>);

 public:
  static constexpr int32_t kMaxCapacity = 0x7FFFFFFF;

  DynArray() = default;
  explicit DynArray(int32_t count) { resize(count); }
  DynArray(const T* first, int32_t count) {
    resize(count);
    if (count > 0) std::memcpy(data_, first, sizeof(T) * static_cast<size_t>(count));
  }

  // An array of count elements whose values are undefined until written: for
  // outputs that are filled completely, without zeroing them first.
  static DynArray uninitialised(int32_t count) {
    DynArray a;
    if (count < 1) return a;
    a.data_ = static_cast<T*>(std::malloc(sizeof(T) * static_cast<size_t>(count)));
    if (!a.data_) throw std::bad_alloc();
    a.size_ = a.capacity_ = count;
    return a;
  }

  // A non-owning view of the caller's buffer; capacity = count.
  static DynArray wrap(T* buffer, int32_t count) {
    DynArray a;
    a.data_ = buffer;
    a.size_ = count;
    a.capacity_ = count;
    a.owns_ = false;
    return a;
  }

  DynArray(const DynArray& other) : DynArray(other.data_, other.size_) {}
  DynArray& operator=(const DynArray& other) {
    if (this != &other) {
      DynArray copy(other);
      swap(copy);
    }
    return *this;
  }
  DynArray(DynArray&& other) noexcept { swap(other); }
  DynArray& operator=(DynArray&& other) noexcept {
    DynArray moved(static_cast<DynArray&&>(other));
    swap(moved);
    return *this;
  }
  ~DynArray() { freeBlock(); }

  void swap(DynArray& other) noexcept {
    std::swap(data_, other.data_);
    std::swap(size_, other.size_);
    std::swap(capacity_, other.capacity_);
    std::swap(owns_, other.owns_);
  }

  // Sets the element count, growing the block by the growth rule when needed.
  // Throws std::bad_alloc when memory runs out (caught at the C interface).
  void resize(int32_t count) {
    if (count < 0) count = 0;
    if (count > capacity_) {
      int32_t newCapacity = std::max<int32_t>(capacity_, 16);
      while (newCapacity < count)
        newCapacity = newCapacity > 0x3FFFFFFF ? kMaxCapacity : newCapacity * 2;
      reallocate(newCapacity);
    } else if (count > size_) {
      std::memset(static_cast<void*>(data_ + size_), 0, sizeof(T) * static_cast<size_t>(count - size_));
    }
    size_ = count;
  }

  // Reallocates to exactly count elements, even when the block is large enough.
  void resizeExact(int32_t count) {
    if (count < 0) count = 0;
    reallocate(count);
    size_ = count;
  }

  void clear() { size_ = 0; }

  T* data() { return data_; }
  const T* data() const { return data_; }
  int32_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  int32_t capacity() const { return capacity_; }
  bool ownsData() const { return owns_; }
  T& operator[](int32_t i) { return data_[i]; }
  const T& operator[](int32_t i) const { return data_[i]; }
  T* begin() { return data_; }
  T* end() { return data_ + size_; }
  const T* begin() const { return data_; }
  const T* end() const { return data_ + size_; }

 private:
  // New zero-filled block of newCapacity elements holding the current ones.
  void reallocate(int32_t newCapacity) {
    T* block = static_cast<T*>(std::calloc(static_cast<size_t>(std::max<int32_t>(newCapacity, 1)), sizeof(T)));
    if (!block) throw std::bad_alloc();
    const int32_t keep = std::min(size_, newCapacity);
    if (data_ && keep > 0) std::memcpy(static_cast<void*>(block), data_, sizeof(T) * static_cast<size_t>(keep));
    freeBlock();
    data_ = block;
    capacity_ = newCapacity;
    owns_ = true;
  }
  void freeBlock() {
    if (owns_) std::free(data_);
    data_ = nullptr;
  }

  T* data_ = nullptr;
  int32_t size_ = 0;
  int32_t capacity_ = 0;
  bool owns_ = true;
};

}  // namespace tavrix

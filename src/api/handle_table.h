// Process-wide object tables behind the integer handles of the C interface.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

namespace tavrix {

// 255 slots, 0..254. A constructor takes the lowest free slot; a destructor
// frees the object and gives the slot back. A handle outside 0..254 behaves as
// an empty slot, so every export can look a handle up without range checks of
// its own.
template <class T>
class HandleTable {
 public:
  static constexpr int32_t kSlots = 255;

  // Lowest free slot, or -1 when the table is full.
  int32_t freeSlot() const {
    for (int32_t i = 0; i < kSlots; ++i)
      if (!slots_[i]) return i;
    return -1;
  }

  // Stores a new zero-initialised object in the lowest free slot and returns
  // the slot, or -1 (nothing allocated) when the table is full.
  int32_t create() {
    const int32_t slot = freeSlot();
    if (slot < 0) return -1;
    slots_[slot] = std::make_unique<T>();
    return slot;
  }

  // Takes over an object built elsewhere; -1 (object freed) when full.
  int32_t adopt(std::unique_ptr<T> object) {
    const int32_t slot = freeSlot();
    if (slot < 0) return -1;
    slots_[slot] = std::move(object);
    return slot;
  }

  T* find(int32_t handle) const {
    if (handle < 0 || handle >= kSlots) return nullptr;
    return slots_[handle].get();
  }

  // Frees the object in the slot; false when the slot was empty.
  bool release(int32_t handle) {
    if (!find(handle)) return false;
    slots_[handle].reset();
    return true;
  }

  // Forgets every object without freeing it (library start-up: a table is
  // cleared, not emptied, so that objects created before cannot be freed
  // twice by a host that re-initialises).
  void forgetAll() {
    for (auto& slot : slots_) static_cast<void>(slot.release());
  }

 private:
  std::array<std::unique_ptr<T>, kSlots> slots_{};
};

}  // namespace tavrix

#include "engine/key_positions.h"

namespace quelvane {

KeyPositions::KeyPositions(std::size_t expected) {
    std::size_t capacity = 16;
    while (capacity < expected * 2)
        capacity *= 2;  // at most half full: short probe runs
    slots_.resize(capacity);
    mask_ = capacity - 1;
}

std::size_t KeyPositions::SlotOf(EntryKey key) const {
    // Both halves of the key mixed into 64 bits, then a multiplicative hash (Fibonacci hashing).
    const std::uint64_t packed = static_cast<std::uint64_t>(static_cast<std::uint32_t>(key.FileId))
                                     << 32 |
                                 static_cast<std::uint32_t>(key.BlockId);
    const std::uint64_t mixed = (packed ^ (packed >> 29)) * 0x9E3779B97F4A7C15ull;
    std::size_t slot = static_cast<std::size_t>(mixed >> 32) & mask_;
    while (slots_[slot].Position != kFree && slots_[slot].Key != key)
        slot = (slot + 1) & mask_;
    return slot;
}

void KeyPositions::Put(EntryKey key, std::size_t position, bool overwrite) {
    Slot& slot = slots_[SlotOf(key)];
    if (slot.Position != kFree && !overwrite)
        return;
    slot.Key = key;
    slot.Position = static_cast<std::uint32_t>(position);
}

std::size_t KeyPositions::Find(EntryKey key) const {
    const std::uint32_t position = slots_[SlotOf(key)].Position;
    return position == kFree ? kAbsent : position;
}

}  // namespace quelvane

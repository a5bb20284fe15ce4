// A flat hash map from EntryKey to a table position: the lookup behind pruning and the replace
// pass, linear in the table's size where a scan per entry would be quadratic.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/entry_table.h"

namespace quelvane {

class KeyPositions {
  public:
    explicit KeyPositions(std::size_t expected);

    // Records `position` for `key`; with `overwrite` false a key keeps its first position.
    void Put(EntryKey key, std::size_t position, bool overwrite);
    // The position recorded for `key`, or kAbsent.
    std::size_t Find(EntryKey key) const;

    static constexpr std::size_t kAbsent = static_cast<std::size_t>(-1);

  private:
    static constexpr std::uint32_t kFree = 0xFFFFFFFFu;
    struct Slot {
        EntryKey Key;
        std::uint32_t Position = kFree;  // tables stay far below 2^32 entries
    };
    std::size_t SlotOf(EntryKey key) const;

    std::vector<Slot> slots_;
    std::size_t mask_ = 0;
};

}  // namespace quelvane

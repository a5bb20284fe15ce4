#include "engine/merge_patch.h"

#include <algorithm>
#include <tuple>

#include "engine/change_list.h"
#include "engine/key_positions.h"
#include "engine/write_target_file.h"

namespace quelvane {
namespace {

// How the insert pass places entries, worked out once so that no entry is placed one by one.
//
// Think of the target's entries as fixed, with a gap in front of each (gap i in front of entry i)
// and one at the end (gap n). Every new entry lands in some gap, and inside a gap in one of three
// runs, in this order:
//   Behind  entries of the FileId of entry i-1, when that is the last target entry of its FileId
//           (the "behind the last entry with its FileId" rule);
//   Between entries of FileIds the target does not hold, ascending by FileId; such a FileId goes
//           into the gap of the first target entry with a greater FileId (gap n if none), since
//           every entry in an earlier gap has a FileId no greater;
//   Before  entries of the FileId of entry i, which is the first target entry of that FileId
//           with a BlockId greater than theirs (the "in front of" rule).
// Within each run entries are ascending by (FileId, BlockId), and equal keys in the reverse of
// their patch order, because each placement puts an entry behind everything not greater than it.
// The differential tests check this against the rules applied position by position.
enum class Run { Behind = 0, Between = 1, Before = 2 };

struct Placement {
    std::size_t Gap = 0;
    Run Where = Run::Behind;
    EntryKey Key;
    std::size_t LaterFirst = 0;  // 0 for the last patch entry: equal keys go in this order
    std::size_t PatchIndex = 0;

    auto SortKey() const { return std::tie(Gap, Where, Key, LaterFirst); }
};

// The target's entries grouped by FileId, each group in list order with the running maximum of
// its BlockIds: the first entry of a FileId with a BlockId above B is the first whose running
// maximum is above B.
class TargetShape {
  public:
    explicit TargetShape(const std::vector<TableEntry>& entries) {
        const std::size_t n = entries.size();
        runningMaxFileId_.resize(n);
        byFileId_.resize(n);
        for (std::size_t i = 0; i < n; ++i) {
            const IndexEntry& entry = entries[i].Entry;
            runningMaxFileId_[i] =
                i == 0 ? entry.FileId : std::max(runningMaxFileId_[i - 1], entry.FileId);
            byFileId_[i] = {entry.FileId, entry.BlockId, i};
        }
        // Members start in list order, so a stable sort by FileId alone groups them with each
        // group in list order; a target sorted by key (the normal case) needs no sort at all.
        const auto byFileId = [](const Member& a, const Member& b) { return a.FileId < b.FileId; };
        if (!std::is_sorted(byFileId_.begin(), byFileId_.end(), byFileId)) {
            std::stable_sort(byFileId_.begin(), byFileId_.end(), byFileId);
        }
        for (std::size_t i = 1; i < n; ++i) {
            if (byFileId_[i].FileId == byFileId_[i - 1].FileId) {
                byFileId_[i].RunningMaxBlockId =
                    std::max(byFileId_[i].RunningMaxBlockId, byFileId_[i - 1].RunningMaxBlockId);
            }
        }
    }

    Placement Place(EntryKey key) const {
        Placement placement;
        placement.Key = key;
        const auto group =
            std::equal_range(byFileId_.begin(), byFileId_.end(), key.FileId, FileIdOrder{});
        if (group.first == group.second) {
            const auto greater =
                std::upper_bound(runningMaxFileId_.begin(), runningMaxFileId_.end(), key.FileId);
            placement.Gap = static_cast<std::size_t>(greater - runningMaxFileId_.begin());
            placement.Where = Run::Between;
            return placement;
        }
        const auto greater = std::upper_bound(
            group.first, group.second, key.BlockId,
            [](std::int32_t blockId, const Member& m) { return blockId < m.RunningMaxBlockId; });
        if (greater != group.second) {
            placement.Gap = greater->Position;
            placement.Where = Run::Before;
        } else {
            placement.Gap = (group.second - 1)->Position + 1;
            placement.Where = Run::Behind;
        }
        return placement;
    }

  private:
    struct Member {
        std::int32_t FileId;
        std::int32_t RunningMaxBlockId;
        std::size_t Position;
    };
    struct FileIdOrder {
        bool operator()(const Member& m, std::int32_t fileId) const { return m.FileId < fileId; }
        bool operator()(std::int32_t fileId, const Member& m) const { return fileId < m.FileId; }
    };

    std::vector<std::int32_t> runningMaxFileId_;
    std::vector<Member> byFileId_;
};

// A key as one number in the same order: each signed half offset into the unsigned range.
std::uint64_t Packed(EntryKey key) {
    const auto half = [](std::int32_t value) {
        return static_cast<std::uint32_t>(value) ^ 0x80000000u;
    };
    return static_cast<std::uint64_t>(half(key.FileId)) << 32 | half(key.BlockId);
}

// std::lower_bound without a branch to mispredict at each step (the keys looked up fall anywhere):
// the half that holds the answer is chosen by a conditional move.
std::size_t FirstNotBelow(const std::vector<std::uint64_t>& keys, std::uint64_t key) {
    if (keys.empty())
        return 0;
    const std::uint64_t* base = keys.data();
    for (std::size_t length = keys.size(); length > 1;) {
        const std::size_t half = length / 2;
        base = base[half] < key ? base + half : base;
        length -= half;
    }
    return static_cast<std::size_t>(base - keys.data()) + (*base < key ? 1 : 0);
}

// The replace pass. Returns the positions of the patch entries left for the insert pass, in
// patch order; counts in `superseding` the entries that an earlier one of their key supersedes.
std::vector<std::size_t> ReplaceMatchingEntries(std::vector<TableEntry>& target,
                                                const std::vector<TableEntry>& patch,
                                                std::size_t* superseding) {
    // The first target position with a key: a binary search in a sorted target (over the keys
    // alone, packed as numbers: a fifth of the table's bytes to search), else a hash.
    const bool sorted = IsSortedByKey(target);
    KeyPositions firstInTarget(sorted ? 0 : target.size());
    std::vector<std::uint64_t> sortedKeys;
    if (sorted) {
        sortedKeys.reserve(target.size());
        for (const TableEntry& row : target)
            sortedKeys.push_back(Packed(EntryKey::Of(row.Entry)));
    }
    for (std::size_t i = 0; i < target.size() && !sorted; ++i) {
        firstInTarget.Put(EntryKey::Of(target[i].Entry), i, /*overwrite=*/false);
    }
    const auto find = [&](EntryKey key) {
        if (!sorted)
            return firstInTarget.Find(key);
        const std::uint64_t packed = Packed(key);
        const std::size_t at = FirstNotBelow(sortedKeys, packed);
        return at != sortedKeys.size() && sortedKeys[at] == packed ? at : KeyPositions::kAbsent;
    };
    // Told in patch order, against the target as it was. Where the patch holds a key of the
    // target more than once, the first entry takes its place and each later one is superseded by
    // it: listed and counted as such, so that every replaced line is an entry of the result.
    std::vector<bool> taken(ListingChanges() ? target.size() : 0, false);
    for (std::size_t a = 0; a < patch.size() && ListingChanges(); ++a) {
        const IndexEntry& entry = patch[a].Entry;
        const std::size_t position = find(EntryKey::Of(entry));
        const bool replaces = position != KeyPositions::kAbsent;
        const bool superseded = replaces && taken[position];
        if (replaces)
            taken[position] = true;
        if (superseded) {
            ListChange({Change::Superseded, kPatchFileName, entry.FileId, entry.BlockId,
                        entry.Length, kNoLength});
        } else {
            ListChange({replaces ? Change::Replaced : Change::Added, kPatchFileName, entry.FileId,
                        entry.BlockId, replaces ? target[position].Entry.Length : kNoLength,
                        entry.Length});
        }
    }
    // From the last patch entry to the first, so the first one with a key is the one that stays;
    // each entry that finds its place taken by a later one already supersedes that one.
    std::vector<std::size_t> left;
    std::vector<bool> replaced(target.size(), false);
    for (std::size_t a = patch.size(); a-- > 0;) {
        const std::size_t position = find(EntryKey::Of(patch[a].Entry));
        if (position != KeyPositions::kAbsent) {
            target[position] = patch[a];
            *superseding += replaced[position] ? 1u : 0u;
            replaced[position] = true;
        } else {
            left.push_back(a);
        }
    }
    std::reverse(left.begin(), left.end());
    return left;
}

void InsertNewEntries(std::vector<TableEntry>& target, const std::vector<TableEntry>& patch,
                      const std::vector<std::size_t>& left) {
    const TargetShape shape(target);
    std::vector<Placement> placements;
    placements.reserve(left.size());
    for (std::size_t k = 0; k < left.size(); ++k) {
        Placement placement = shape.Place(EntryKey::Of(patch[left[k]].Entry));
        placement.LaterFirst = left.size() - 1 - k;
        placement.PatchIndex = left[k];
        placements.push_back(placement);
    }
    std::sort(placements.begin(), placements.end(),
              [](const Placement& a, const Placement& b) { return a.SortKey() < b.SortKey(); });

    std::vector<TableEntry> merged;
    merged.reserve(target.size() + placements.size());
    auto next = placements.begin();
    for (std::size_t gap = 0; gap <= target.size(); ++gap) {
        for (; next != placements.end() && next->Gap == gap; ++next) {
            merged.push_back(patch[next->PatchIndex]);
        }
        if (gap < target.size())
            merged.push_back(target[gap]);
    }
    target = std::move(merged);
}

}  // namespace

MergeCounts MergePatch(EntryTable& target, EntryTable& patch) {
    // The target now refers to blocks in the patch's file too: it keeps that file open.
    for (auto& source : patch.Sources) {
        if (std::find(target.Sources.begin(), target.Sources.end(), source) ==
            target.Sources.end()) {
            target.Sources.push_back(source);
        }
    }
    patch.Sources.clear();

    std::size_t superseded = 0;
    const std::vector<std::size_t> left =
        ReplaceMatchingEntries(target.Entries, patch.Entries, &superseded);
    if (!left.empty())
        InsertNewEntries(target.Entries, patch.Entries, left);
    const MergeCounts counts{patch.Entries.size() - left.size() - superseded, left.size(),
                             superseded};
    patch.Entries.clear();
    return counts;
}

}  // namespace quelvane

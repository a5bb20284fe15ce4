// Pruning and merging: the fast engine against the plain rules, applied position by position,
// on thousands of random table pairs. (A worked example of the rules runs with the whole runs.)
#include <gtest/gtest.h>

#include <random>

#include "engine/merge_patch.h"
#include "engine/prune_target_duplicates.h"
#include "tests/plain_rules.h"

namespace quelvane::testing {
namespace {

// Random tables from small key ranges, so that duplicates are common, with negative ids, entries
// with and without data, sorted or not. Each entry's Extra is a distinct tag.
class RandomTables {
  public:
    explicit RandomTables(std::uint32_t seed) : random_(seed) {}

    std::vector<TableEntry> Draw(std::int32_t maxSize, std::uint32_t firstTag) {
        const std::int32_t fileRange = Pick(1, 6), blockRange = Pick(1, 8);
        std::vector<TableEntry> table(static_cast<std::size_t>(Pick(0, maxSize)));
        for (auto& row : table) {
            const bool data = Pick(0, 2) != 0;
            row.Entry = {Pick(-2, fileRange), Pick(-2, blockRange), data ? Pick(1, 1000) : -1,
                         data ? Pick(1, 50) : 0, firstTag++};
            if (data)
                row.Block = {&source_, row.Entry.Offset, row.Entry.Length};
        }
        if (Pick(0, 1) == 1) {
            std::stable_sort(table.begin(), table.end(), [](const auto& a, const auto& b) {
                return EntryKey::Of(a.Entry) < EntryKey::Of(b.Entry);
            });
        }
        return table;
    }

  private:
    std::int32_t Pick(std::int32_t low, std::int32_t high) {
        return std::uniform_int_distribution<std::int32_t>(low, high)(random_);
    }
    std::mt19937 random_;
    SourceFile source_{kNoFile, 0};
};

TEST(PruneAndMerge, MatchThePlainRulesOnRandomTables) {
    for (std::uint32_t seed = 1; seed <= 5000; ++seed) {
        RandomTables random(seed);
        const auto target = random.Draw(seed % 7 == 0 ? 3 : 40, 0);
        const auto patch = random.Draw(seed % 11 == 0 ? 2 : 30, 1000);
        auto expectedTarget = target, expectedPatch = patch;
        PlainPruneTargetDuplicates(expectedTarget);
        EntryTable fastTarget{target, {}}, fastPatch{patch, {}};
        PruneTargetDuplicates(fastTarget);
        ASSERT_EQ(fastTarget.Entries, expectedTarget) << "prune differs, seed " << seed;
        PlainMergePatch(expectedTarget, expectedPatch);
        MergePatch(fastTarget, fastPatch);
        ASSERT_EQ(fastTarget.Entries, expectedTarget) << "merge differs, seed " << seed;
        ASSERT_EQ(fastPatch.Count(), 0u);
    }
    // The merge on targets that were never pruned: the first entry with a key is replaced.
    for (std::uint32_t seed = 1; seed <= 2000; ++seed) {
        RandomTables random(seed * 7919u);
        auto expectedTarget = random.Draw(30, 0), expectedPatch = random.Draw(20, 1000);
        EntryTable target{expectedTarget, {}}, patch{expectedPatch, {}};
        PlainMergePatch(expectedTarget, expectedPatch);
        MergePatch(target, patch);
        ASSERT_EQ(target.Entries, expectedTarget) << "unpruned, seed " << seed;
    }
}

}  // namespace
}  // namespace quelvane::testing

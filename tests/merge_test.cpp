// Pruning and merging: the fast engine against the plain rules on thousands of random pairs.
#include <gtest/gtest.h>

#include <random>

#include "engine/merge_patch.h"
#include "engine/prune_target_duplicates.h"
#include "tests/plain_rules.h"

namespace quelvane::testing {
namespace {

// Small key ranges, so that duplicates are common; negative ids; sorted or not; distinct Extras.
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

// On every third pair the merge also takes the target unpruned: the first entry with a key is
// the one replaced.
TEST(PruneAndMerge, MatchThePlainRulesOnRandomTables) {
    for (std::uint32_t seed = 1; seed <= 6000; ++seed) {
        RandomTables random(seed);
        const auto target = random.Draw(seed % 7 == 0 ? 3 : 40, 0);
        const auto patch = random.Draw(seed % 11 == 0 ? 2 : 30, 1000);
        auto expectedTarget = target, expectedPatch = patch;
        EntryTable fastTarget{target, {}}, fastPatch{patch, {}};
        if (seed % 3 != 0) {
            PlainPruneTargetDuplicates(expectedTarget);
            ASSERT_EQ(PruneTargetDuplicates(fastTarget), target.size() - expectedTarget.size());
            ASSERT_EQ(fastTarget.Entries, expectedTarget) << "prune differs, seed " << seed;
        }
        const std::size_t replaced = PlainMergePatch(expectedTarget, expectedPatch);
        const MergeCounts counts = MergePatch(fastTarget, fastPatch);
        ASSERT_EQ(fastTarget.Entries, expectedTarget) << "merge differs, seed " << seed;
        ASSERT_EQ(counts.Replaced, replaced) << "seed " << seed;
        ASSERT_EQ(counts.Added, patch.size() - replaced) << "seed " << seed;
        ASSERT_EQ(fastPatch.Count(), 0u);
    }
}

}  // namespace
}  // namespace quelvane::testing

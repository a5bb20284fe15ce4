// Pruning and merging: the fast engine against the plain rules, applied position by position,
// on thousands of random table pairs, and one worked example that checks the rules themselves.
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

TEST(PruneAndMerge, WorkedExample) {
    std::uint32_t tag = 0;
    const auto table = [&](std::vector<std::pair<std::int32_t, std::int32_t>> keys) {
        EntryTable result;
        for (const auto& [fileId, blockId] : keys)
            result.Entries.push_back({{fileId, blockId, -1, 0, tag++}, {}});
        return result;
    };
    EntryTable target = table({{1, 1}, {1, 1}, {1, 4}, {2, 3}, {5, 0}});
    EntryTable patch = table({{1, 4}, {2, 1}, {1, 2}, {7, 1}, {7, 1}, {3, 7}, {2, 9}, {1, 4}});
    PruneTargetDuplicates(target);
    MergePatch(target, patch);
    std::vector<std::tuple<std::int32_t, std::int32_t, std::uint32_t>> result;
    for (const TableEntry& row : target.Entries)
        result.emplace_back(row.Entry.FileId, row.Entry.BlockId, row.Entry.Extra);
    // (1,1): the later duplicate; (1,4): the first of the patch's two; the equal new keys (7,1)
    // side by side in the reverse of their patch order.
    EXPECT_EQ(result, (decltype(result){{1, 1, 1},
                                        {1, 2, 7},
                                        {1, 4, 5},
                                        {2, 1, 6},
                                        {2, 3, 3},
                                        {2, 9, 11},
                                        {3, 7, 10},
                                        {5, 0, 4},
                                        {7, 1, 9},
                                        {7, 1, 8}}));
}

}  // namespace
}  // namespace quelvane::testing

// Pruning and merging: the fast engine against the plain rules on thousands of random pairs.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "engine/change_list.h"
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

std::vector<std::string> told;  // the changes told, as the command prints them

std::string Line(const char* kind, const char* file, const IndexEntry& entry, std::string before,
                 std::string after) {
    return std::string(kind) + "\t" + file + "\t" + std::to_string(entry.FileId) + "\t" +
           std::to_string(entry.BlockId) + "\t" + before + "\t" + after;
}

// On every third pair the merge also takes the target unpruned: the first entry with a key is
// the one replaced. The changes told are the plain rules' too: each entry the prune drops, in
// target order; then each patch entry in patch order, replacing (with the length of the first
// target entry of its key) or added.
TEST(PruneAndMerge, MatchThePlainRulesOnRandomTables) {
    SetChangeSink([](const ChangeLine& change) { told.push_back(ChangeText(change)); });
    for (std::uint32_t seed = 1; seed <= 6000; ++seed) {
        RandomTables random(seed);
        const auto target = random.Draw(seed % 7 == 0 ? 3 : 40, 0);
        const auto patch = random.Draw(seed % 11 == 0 ? 2 : 30, 1000);
        auto expectedTarget = target, expectedPatch = patch;
        EntryTable fastTarget{target, {}}, fastPatch{patch, {}};
        std::vector<std::string> expectedLines;
        told.clear();
        if (seed % 3 != 0) {
            PlainPruneTargetDuplicates(expectedTarget);
            for (const TableEntry& row : target) {  // Extras are distinct: the ones gone
                if (std::none_of(expectedTarget.begin(), expectedTarget.end(),
                                 [&](const TableEntry& kept) { return kept == row; })) {
                    expectedLines.push_back(Line("dropped-duplicate", "verdata.mul", row.Entry,
                                                 std::to_string(row.Entry.Length), "-"));
                }
            }
            ASSERT_EQ(PruneTargetDuplicates(fastTarget), target.size() - expectedTarget.size());
            ASSERT_EQ(fastTarget.Entries, expectedTarget) << "prune differs, seed " << seed;
        }
        const auto pruned = expectedTarget;
        const std::size_t replacing = PlainMergePatch(expectedTarget, expectedPatch);
        // The list is the truth of the file: a patch entry that replaces is "replaced" when it is
        // in the result, else "superseded" (Extras are distinct: membership tells).
        std::size_t superseded = 0;
        for (const TableEntry& row : patch) {
            const auto first = std::find_if(pruned.begin(), pruned.end(),
                                            [&](const TableEntry& t) { return SameKey(t, row); });
            const bool replaces = first != pruned.end();
            const bool kept = std::find(expectedTarget.begin(), expectedTarget.end(), row) !=
                              expectedTarget.end();
            superseded += replaces && !kept ? 1 : 0;
            expectedLines.push_back(replaces && !kept
                                        ? Line("superseded", "patchdata.mul", row.Entry,
                                               std::to_string(row.Entry.Length), "-")
                                        : Line(replaces ? "replaced" : "added", "patchdata.mul",
                                               row.Entry,
                                               replaces ? std::to_string(first->Entry.Length) : "-",
                                               std::to_string(row.Entry.Length)));
        }
        const MergeCounts counts = MergePatch(fastTarget, fastPatch);
        ASSERT_EQ(fastTarget.Entries, expectedTarget) << "merge differs, seed " << seed;
        ASSERT_EQ(counts.Replaced, replacing - superseded) << "seed " << seed;
        ASSERT_EQ(counts.Superseded, superseded) << "seed " << seed;
        ASSERT_EQ(counts.Added, patch.size() - replacing) << "seed " << seed;
        ASSERT_EQ(fastPatch.Count(), 0u);
        ASSERT_EQ(told, expectedLines) << "seed " << seed;
    }
    SetChangeSink(nullptr);
}

}  // namespace
}  // namespace quelvane::testing

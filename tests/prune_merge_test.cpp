// Pruning and merging: the worked cases by hand, then the fast engine against the plain rules on
// thousands of random table pairs.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "engine/merge_patch.h"
#include "engine/prune_target_duplicates.h"
#include "tests/plain_rules.h"

namespace quelvane::testing {
namespace {

using Keys = std::vector<std::pair<std::int32_t, std::int32_t>>;

// Each entry gets a distinct Extra (its tag), so a test can tell entries with one key apart.
std::vector<TableEntry> Table(const Keys& keys, std::uint32_t firstTag) {
    std::vector<TableEntry> table;
    for (const auto& [fileId, blockId] : keys) {
        table.push_back({{fileId, blockId, -1, 0, firstTag++}, {}});
    }
    return table;
}

Keys KeysOf(const std::vector<TableEntry>& table) {
    Keys keys;
    for (const auto& row : table)
        keys.emplace_back(row.Entry.FileId, row.Entry.BlockId);
    return keys;
}

std::vector<std::uint32_t> TagsOf(const std::vector<TableEntry>& table) {
    std::vector<std::uint32_t> tags;
    for (const auto& row : table)
        tags.push_back(row.Entry.Extra);
    return tags;
}

std::vector<TableEntry> Merged(const Keys& target, const Keys& patch) {
    EntryTable t{Table(target, 0), {}};
    EntryTable p{Table(patch, 100), {}};
    MergePatch(t, p);
    EXPECT_EQ(p.Count(), 0u) << "the merge empties the patch";
    return t.Entries;
}

TEST(PruneTargetDuplicates, KeepsTheLastEntryOfEachKeyInOrder) {
    struct Case {
        Keys In;
        Keys Out;
        std::vector<std::uint32_t> Tags;
    };
    const Case cases[] = {
        {{{1, 1}, {2, 2}, {1, 1}, {2, 2}, {3, 3}}, {{1, 1}, {2, 2}, {3, 3}}, {2, 3, 4}},
        {{{1, 1}, {1, 2}, {1, 1}, {1, 3}, {1, 2}, {1, 1}}, {{1, 3}, {1, 2}, {1, 1}}, {3, 4, 5}},
        {{{1, 1}, {2, 2}, {2, 2}}, {{1, 1}, {2, 2}}, {0, 2}},
        {{{5, 5}, {5, 5}, {5, 5}}, {{5, 5}}, {2}},
        {{{1, 2}, {2, 1}}, {{1, 2}, {2, 1}}, {0, 1}},
        {{{7, 7}}, {{7, 7}}, {0}},
        {{}, {}, {}},
    };
    for (const Case& c : cases) {
        EntryTable table{Table(c.In, 0), {}};
        PruneTargetDuplicates(table);
        EXPECT_EQ(KeysOf(table.Entries), c.Out);
        EXPECT_EQ(TagsOf(table.Entries), c.Tags);
    }
}

TEST(MergePatch, WorkedExample) {
    const auto result =
        Merged({{1, 1}, {1, 4}, {2, 3}, {5, 0}}, {{1, 4}, {2, 1}, {1, 2}, {3, 7}, {2, 9}, {6, 1}});
    EXPECT_EQ(KeysOf(result),
              (Keys{{1, 1}, {1, 2}, {1, 4}, {2, 1}, {2, 3}, {2, 9}, {3, 7}, {5, 0}, {6, 1}}));
    EXPECT_EQ(result[2].Entry.Extra, 100u) << "(1,4) is the patch's entry";
}

TEST(MergePatch, PlacesEachNewEntryByTheRules) {
    struct Case {
        const char* Name;
        Keys Target, Patch, Out;
        std::vector<std::uint32_t> Tags;
    };
    const Case cases[] = {
        {"equal keys held by the target: the first patch entry stays",
         {{1, 1}, {2, 3}, {4, 4}},
         {{2, 3}, {2, 3}},
         {{1, 1}, {2, 3}, {4, 4}},
         {0, 100, 2}},
        {"equal new keys: next to each other, reversed",
         {{1, 1}, {9, 9}},
         {{7, 1}, {7, 1}},
         {{1, 1}, {7, 1}, {7, 1}, {9, 9}},
         {0, 101, 100, 1}},
        {"new FileId in front of the first greater one",
         {{1, 1}, {4, 1}},
         {{3, 5}},
         {{1, 1}, {3, 5}, {4, 1}},
         {0, 100, 1}},
        {"behind the last entry of its FileId",
         {{2, 1}, {2, 3}, {7, 0}},
         {{2, 5}},
         {{2, 1}, {2, 3}, {2, 5}, {7, 0}},
         {0, 1, 100, 2}},
        {"several new entries of one FileId end up sorted",
         {{1, 1}, {3, 1}},
         {{2, 6}, {2, 5}, {2, 7}},
         {{1, 1}, {2, 5}, {2, 6}, {2, 7}, {3, 1}},
         {0, 101, 100, 102, 1}},
        {"negative BlockId sorts first",
         {{1, 0}, {1, 1}, {3, 3}},
         {{1, -1}},
         {{1, -1}, {1, 0}, {1, 1}, {3, 3}},
         {100, 0, 1, 2}},
        {"unsorted target: in front of the first greater BlockId",
         {{1, 5}, {2, 1}, {1, 3}},
         {{1, 4}},
         {{1, 4}, {1, 5}, {2, 1}, {1, 3}},
         {100, 0, 1, 2}},
        {"smallest FileId goes first, greatest last",
         {{5, 5}},
         {{9, 0}, {-3, 0}},
         {{-3, 0}, {5, 5}, {9, 0}},
         {101, 0, 100}},
        {"one entry each, same key", {{3, 3}}, {{3, 3}}, {{3, 3}}, {100}},
        {"one entry each, smaller BlockId", {{3, 3}}, {{3, 2}}, {{3, 2}, {3, 3}}, {100, 0}},
        {"one entry each, greater BlockId", {{3, 3}}, {{3, 4}}, {{3, 3}, {3, 4}}, {0, 100}},
        {"empty target takes the patch in order",
         {},
         {{2, 2}, {1, 1}, {2, 1}},
         {{1, 1}, {2, 1}, {2, 2}},
         {101, 102, 100}},
        {"empty patch leaves the target", {{4, 4}, {1, 1}}, {}, {{4, 4}, {1, 1}}, {0, 1}},
    };
    for (const Case& c : cases) {
        const auto result = Merged(c.Target, c.Patch);
        EXPECT_EQ(KeysOf(result), c.Out) << c.Name;
        EXPECT_EQ(TagsOf(result), c.Tags) << c.Name;
    }
}

TEST(MergePatch, ReplacedEntryTakesThePatchBlockAndTheTargetKeepsThePatchFileOpen) {
    SourceFile targetFile(kNoFile, 0), patchFile(kNoFile, 0);
    EntryTable target{{{{1, 1, 50, 10, 7}, {&targetFile, 50, 10}}}, {}};
    EntryTable patch{{{{1, 1, -1, 0, 9}, {}}, {{1, 2, 80, 4, 8}, {&patchFile, 80, 4}}},
                     {std::make_shared<SourceFile>(kNoFile, 0)}};
    const auto patchSource = patch.Sources[0];
    MergePatch(target, patch);
    ASSERT_EQ(target.Count(), 2u);
    EXPECT_EQ(target.Entries[0], (TableEntry{{1, 1, -1, 0, 9}, {}})) << "data replaced by none";
    EXPECT_EQ(target.Entries[1].Block, (DataBlock{&patchFile, 80, 4}));
    ASSERT_EQ(target.Sources.size(), 1u);
    EXPECT_EQ(target.Sources[0], patchSource);
    EXPECT_TRUE(patch.Sources.empty());
}

// Random tables drawn from small key ranges, so that duplicates are common, with negative ids,
// entries with and without data, and targets both sorted and not.
class RandomTables {
  public:
    explicit RandomTables(std::uint32_t seed) : random_(seed) {}

    std::vector<TableEntry> Draw(std::size_t maxSize, std::uint32_t firstTag) {
        const std::int32_t fileRange = Pick(1, 6);
        const std::int32_t blockRange = Pick(1, 8);
        std::vector<TableEntry> table(
            static_cast<std::size_t>(Pick(0, static_cast<std::int32_t>(maxSize))));
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
    constexpr std::uint32_t kSeeds = 5000;
    for (std::uint32_t seed = 1; seed <= kSeeds; ++seed) {
        RandomTables random(seed);
        const auto target = random.Draw(seed % 7 == 0 ? 3 : 40, 0);
        const auto patch = random.Draw(seed % 11 == 0 ? 2 : 30, 1000);

        auto expectedTarget = target;
        auto expectedPatch = patch;
        PlainPruneTargetDuplicates(expectedTarget);
        EntryTable fastTarget{target, {}};
        PruneTargetDuplicates(fastTarget);
        ASSERT_EQ(fastTarget.Entries, expectedTarget) << "prune differs, seed " << seed;

        PlainMergePatch(expectedTarget, expectedPatch);
        EntryTable fastPatch{patch, {}};
        MergePatch(fastTarget, fastPatch);
        ASSERT_EQ(fastTarget.Entries, expectedTarget) << "merge differs, seed " << seed;
        ASSERT_TRUE(expectedPatch.empty());
    }
}

// The merge also takes an unpruned target (first match wins), which the run never hands it but
// which the rules still define.
TEST(MergePatch, MatchesThePlainRulesOnUnprunedTargets) {
    for (std::uint32_t seed = 1; seed <= 2000; ++seed) {
        RandomTables random(seed * 7919u);
        auto expectedTarget = random.Draw(30, 0);
        auto expectedPatch = random.Draw(20, 1000);
        EntryTable target{expectedTarget, {}};
        EntryTable patch{expectedPatch, {}};
        PlainMergePatch(expectedTarget, expectedPatch);
        MergePatch(target, patch);
        ASSERT_EQ(target.Entries, expectedTarget) << "seed " << seed;
    }
}

}  // namespace
}  // namespace quelvane::testing

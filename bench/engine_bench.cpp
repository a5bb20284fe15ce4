// Prune and merge on full-size tables (65535 entries), the fast engine beside the plain rules
// applied position by position.
#include <benchmark/benchmark.h>

#include <malloc.h>

#include <algorithm>
#include <random>

#include "engine/merge_patch.h"
#include "engine/prune_target_duplicates.h"
#include "tests/plain_rules.h"

namespace {

using quelvane::EntryTable;
using quelvane::TableEntry;

constexpr std::int32_t kFull = 65535;

enum class Shape { Sorted, Duplicates, Unsorted };

struct Pair {
    std::vector<TableEntry> Target, Patch;
};

// A target of 65535 entries and a patch that replaces about a third of its keys and adds as many
// new ones; the patch is sized so that the result still fits 65535 entries after pruning.
Pair MakePair(Shape shape) {
    std::mt19937 random(7);
    Pair pair;
    for (std::int32_t k = 0; k < kFull; ++k) {
        const std::int32_t fileId = k / 2000;
        const std::int32_t blockId =
            shape == Shape::Duplicates ? (k % 2000) / 4 * 2 : (k % 2000) * 2;
        pair.Target.push_back({{fileId, blockId, 100, 10, 0}, {}});
    }
    if (shape == Shape::Unsorted)
        std::shuffle(pair.Target.begin(), pair.Target.end(), random);
    const std::int32_t patchCount = shape == Shape::Duplicates ? 20000 : 10000;
    for (std::int32_t k = 0; k < patchCount; ++k) {
        const auto& near = pair.Target[std::uniform_int_distribution<std::size_t>(
            0, pair.Target.size() - 1)(random)];
        const std::int32_t blockId = near.Entry.BlockId + (k % 2 == 0 ? 0 : 1);
        pair.Patch.push_back({{near.Entry.FileId, blockId, -1, 0, 1}, {}});
    }
    return pair;
}

void Fast(benchmark::State& state, Shape shape) {
    const Pair pair = MakePair(shape);
    for (auto _ : state) {
        state.PauseTiming();
        EntryTable target{pair.Target, {}}, patch{pair.Patch, {}};
        state.ResumeTiming();
        quelvane::PruneTargetDuplicates(target);
        quelvane::MergePatch(target, patch);
        benchmark::DoNotOptimize(target.Entries.data());
    }
}

void Plain(benchmark::State& state, Shape shape) {
    const Pair pair = MakePair(shape);
    for (auto _ : state) {
        state.PauseTiming();
        auto target = pair.Target;
        auto patch = pair.Patch;
        state.ResumeTiming();
        quelvane::testing::PlainPruneTargetDuplicates(target);
        quelvane::testing::PlainMergePatch(target, patch);
        benchmark::DoNotOptimize(target.data());
    }
}

BENCHMARK_CAPTURE(Fast, sorted_target, Shape::Sorted)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Fast, duplicate_keys, Shape::Duplicates)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Fast, unsorted_target, Shape::Unsorted)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Plain, sorted_target, Shape::Sorted)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK_CAPTURE(Plain, duplicate_keys, Shape::Duplicates)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK_CAPTURE(Plain, unsorted_target, Shape::Unsorted)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

}  // namespace

// Freed memory stays in the process between iterations, so that each iteration measures the
// engine and not the first touch of fresh pages, which a real run pays once (on this virtual
// machine about 2 us per 4 KiB page: some 2 ms for the 3 MB of a full-size merge).
int main(int argc, char** argv) {
    mallopt(M_MMAP_THRESHOLD, 256 << 20);
    mallopt(M_TRIM_THRESHOLD, 512 << 20);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

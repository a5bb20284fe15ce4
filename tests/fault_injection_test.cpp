// Every I/O operation of a run, failed in turn: whatever fails, "verdata.mul" is exactly as it
// was or exactly the patched result, "patchdata.mul" is untouched, no temporary file is left and
// no file stays open.
#include <gtest/gtest.h>

#include <cstdio>

#include "engine/entry_table.h"
#include "engine/write_target_file.h"
#include "shell/run_patch.h"
#include "tests/file_builder.h"
#include "tests/test_platform.h"

namespace quelvane::testing {
namespace {

struct Fixture {
    const char* Name;
    Bytes Target, Patch;
};

std::vector<Fixture> Fixtures() {
    return {
        {"replacements, insertions and duplicates",
         FileBuilder()
             .WithData(1, 1, 300, 'a')
             .WithData(1, 2, 10, 'b')
             .WithData(1, 1, 20, 'c')  // the later duplicate of (1,1)
             .Entry({2, 2, -1, 0, 4})
             .WithData(40, 1, 8, 'x')  // dropped on loading
             .Build(),
         FileBuilder()
             .WithData(1, 2, 50, 'P')
             .WithData(1, 3, 7, 'Q')
             .Entry({2, 2, 0, 12, 5})
             .WithData(0, 9, 3, 'R')
             .Build()},
        {"overlapping and reversed blocks, entries without data",
         FileBuilder()
             .Entry({3, 1, 84, 16, 0})
             .Entry({3, 2, 64, 30, 0})
             .Entry({3, 3, 64, 30, 0})
             .Data(Bytes(40, 'o'))
             .Build(),
         FileBuilder().Entry({3, 0, -1, 0, 1}).WithData(4, 4, 1, 'z').Build()},
        {"empty target", FileBuilder().Build(), FileBuilder().WithData(5, 5, 64, 'e').Build()},
        // Blocks long enough to be copied on their own, one longer than the copy buffer, between
        // short ones that are gathered.
        {"long and short blocks",
         FileBuilder()
             .WithData(6, 1, 70000, 'l')
             .WithData(6, 2, 5, 's')
             .WithData(6, 3, (1 << 20) + 4000, 'L')
             .Build(),
         FileBuilder().WithData(6, 2, 100000, 'p').WithData(6, 4, 9, 'q').Build()},
    };
}

struct Outcome {
    bool Completed = false;
    std::uint32_t StopCode = 0;  // 0 when no error stop
};

Outcome RunOnce() {
    Outcome outcome;
    try {
        outcome.Completed = RunPatch();
    } catch (const ProcessEnded& end) {
        outcome.StopCode = end.ExitCode;
        // The process would end here; the test releases what it held without further checks.
        TargetTable = EntryTable{};
        PatchTable = EntryTable{};
    }
    return outcome;
}

bool MovesBytes(Operation operation) {
    return operation == Operation::Read || operation == Operation::Write ||
           operation == Operation::Copy;
}

std::uint32_t ShortNumber(Operation operation) {
    return operation == Operation::Write ? 101u : 100u;
}

TEST(FaultInjection, EveryFailingOperationLeavesTheTargetWholeAndNoTemporaryFile) {
    std::size_t injected = 0;
    for (const Fixture& fixture : Fixtures()) {
        for (const bool kernelCopy : {true, false}) {
            // A clean run: the operations to fail, and the result to expect.
            MemoryFileSystem clean;
            clean.KernelCopy = kernelCopy;
            clean.Files = {{"verdata.mul", fixture.Target}, {"patchdata.mul", fixture.Patch}};
            std::vector<Operation> operations;
            {
                TestPlatform counting(clean);
                ASSERT_TRUE(RunOnce().Completed) << fixture.Name;
                operations = counting.Operations;
            }
            const Bytes patched = clean.Files["verdata.mul"];
            ASSERT_NE(patched, fixture.Target);

            for (std::size_t k = 1; k <= operations.size(); ++k) {
                const Operation operation = operations[k - 1];
                std::vector<SystemError> kinds = {28};  // a system error (a full disk on POSIX)
                // A short transfer; not for the copy that only finds out the system cannot.
                if (MovesBytes(operation) && (kernelCopy || operation != Operation::Copy)) {
                    kinds.push_back(0);
                }
                for (const SystemError error : kinds) {
                    SCOPED_TRACE(std::string(fixture.Name) + ": operation " + std::to_string(k) +
                                 " (" + OperationName(operation) + "), " +
                                 (error != 0 ? "system error" : "short transfer") +
                                 (kernelCopy ? ", kernel copy" : ", buffered copy"));
                    MemoryFileSystem files;
                    files.KernelCopy = kernelCopy;
                    files.Files = {{"verdata.mul", fixture.Target},
                                   {"patchdata.mul", fixture.Patch}};
                    TestPlatform platform(files);
                    platform.InjectedFault = Fault{k, error};
                    const Outcome outcome = RunOnce();
                    ++injected;
                    ASSERT_TRUE(platform.FaultHit);

                    ASSERT_FALSE(outcome.Completed);
                    if (outcome.StopCode != 0) {
                        EXPECT_EQ(outcome.StopCode, error != 0 ? error : ShortNumber(operation));
                        ASSERT_FALSE(platform.Boxes.empty());
                        EXPECT_EQ(platform.Boxes.back().Caption, "Error");
                    } else {
                        // Only opening, creating and replacing are answered by a box of their own.
                        ASSERT_EQ(platform.Boxes.size(), 1u);
                        EXPECT_TRUE(operation == Operation::Open ||
                                    operation == Operation::Create ||
                                    operation == Operation::Replace)
                            << OperationName(operation);
                    }
                    EXPECT_EQ(files.Files["verdata.mul"], fixture.Target);
                    EXPECT_EQ(files.Files["patchdata.mul"], fixture.Patch);
                    EXPECT_EQ(files.Files.count(std::string(kTemporaryFileName)), 0u);
                    EXPECT_EQ(files.Files.size(), 2u);
                    EXPECT_EQ(files.OpenHandles(), 0);
                }
            }
        }
    }
    std::printf("[ fault injection ] %zu faults injected\n", injected);
    EXPECT_GT(injected, 100u);
}

}  // namespace
}  // namespace quelvane::testing

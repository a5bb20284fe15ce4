// The whole run on arbitrary pairs of files. Input: the target's length (two bytes), the target,
// the patch. A completed run's file meets the writing rules and comes back byte for byte when
// loaded and written again; a failed run leaves the target as it was; the patch never changes;
// nothing is left behind or open.
#include <cstdint>
#include <cstdlib>

#include "engine/load_entry_table.h"
#include "engine/write_target_file.h"
#include "tests/test_files.h"
#include "tests/test_platform.h"

using namespace quelvane;
using namespace quelvane::testing;

// A broken invariant ends the run; the crash report names its line.
#define Require(condition) \
    if (!(condition))      \
    std::abort()

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return 0;
    static TempDirectory directory;
    const std::size_t rest = size - 2;
    const std::size_t targetSize = (data[0] | static_cast<std::size_t>(data[1]) << 8) % (rest + 1);
    const Bytes target(data + 2, data + 2 + targetSize);
    const Bytes patch(data + 2 + targetSize, data + size);
    WriteFileBytes("verdata.mul", target);
    WriteFileBytes("patchdata.mul", patch);

    TestPlatform platform;
    platform.KernelCopy = (data[0] & 1) != 0;
    bool completed = false;
    platform.Press(completed);
    Require(platform.Live.empty());
    Require(directory.Names() == (std::vector<std::string>{"patchdata.mul", "verdata.mul"}));
    Require(ReadFileBytes("patchdata.mul") == patch);
    if (!completed) {
        Require(ReadFileBytes("verdata.mul") == target);
        return 0;
    }
    const Bytes written = ReadFileBytes("verdata.mul");
    Require(Render(written).rfind("broken", 0) != 0);
    // Written again without pruning: equal new keys in a file are pruned by a second run.
    WriteFileBytes("patchdata.mul", FileBuilder().Build());
    Require(LoadEntryTable("verdata.mul", "", TargetTable));
    Require(LoadEntryTable("patchdata.mul", "", PatchTable));
    Require(WriteTargetFile(TargetTable, PatchTable, FinalPlace{kCurrentDirectory, "verdata.mul"}));
    Require(ReadFileBytes("verdata.mul") == written);
    return 0;
}

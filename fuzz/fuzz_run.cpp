// The whole run on arbitrary pairs of files, on real files in a fresh directory (scripts/fuzz.sh
// puts it in memory).
//
// Input: two bytes giving the target's length (little-endian, taken modulo what is there), the
// target, then the patch. Checked: a completed run leaves a file that meets every writing rule
// and that, loaded and written again, comes back byte for byte (so it loads to the same table
// and lays out to the same offsets); a run that fails in any way leaves the target unchanged;
// the patch is never changed; no temporary file is left and no file stays open.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "engine/load_entry_table.h"
#include "engine/write_target_file.h"
#include "shell/run_patch.h"
#include "tests/test_files.h"
#include "tests/test_platform.h"

namespace {

using namespace quelvane::testing;

// A broken invariant ends the run; the crash report names its line.
#define Require(condition) \
    if (!(condition))      \
    std::abort()

bool RunOnce() {
    try {
        return quelvane::RunPatch();
    } catch (const ProcessEnded&) {
        quelvane::TargetTable = quelvane::EntryTable{};
        quelvane::PatchTable = quelvane::EntryTable{};
        return false;
    }
}

}  // namespace

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
    const bool completed = RunOnce();
    const std::vector<std::string> pair = {"patchdata.mul", "verdata.mul"};
    Require(platform.Live.empty());
    Require(directory.Names() == pair);
    Require(ReadFileBytes("patchdata.mul") == patch);
    if (!completed) {
        Require(ReadFileBytes("verdata.mul") == target);
        return 0;
    }
    const Bytes written = ReadFileBytes("verdata.mul");
    Require(Render(written).rfind("broken", 0) != 0);
    // Loaded and written again without a patch (and without pruning, which a file with equal
    // new keys would be changed by), the file comes back byte for byte.
    WriteFileBytes("patchdata.mul", FileBuilder().Build());
    Require(quelvane::LoadEntryTable("verdata.mul", "", quelvane::TargetTable));
    Require(quelvane::LoadEntryTable("patchdata.mul", "", quelvane::PatchTable));
    Require(quelvane::WriteTargetFile(quelvane::TargetTable, quelvane::PatchTable));
    Require(ReadFileBytes("verdata.mul") == written);
    return 0;
}

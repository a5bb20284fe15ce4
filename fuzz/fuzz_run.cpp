// The whole run on arbitrary pairs of files, over the in-memory file system.
//
// Input: two bytes giving the target's length (little-endian, taken modulo what is there), the
// target, then the patch. Checked: a completed run leaves a file that meets every writing rule
// and that, loaded and written again, comes back byte for byte (so it loads to the same table
// and lays out to the same offsets); a run that fails in any way leaves the target unchanged and
// no temporary file; no file stays open.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "engine/entry_table.h"
#include "engine/little_endian.h"
#include "engine/load_entry_table.h"
#include "engine/write_target_file.h"
#include "shell/run_patch.h"
#include "tests/test_platform.h"

namespace {

using quelvane::testing::Bytes;
using quelvane::testing::MemoryFileSystem;
using quelvane::testing::ProcessEnded;
using quelvane::testing::TestPlatform;

// Ends the run with the broken invariant's line, for the crash report.
#define Require(condition)                                                                   \
    do {                                                                                     \
        if (!(condition)) {                                                                  \
            std::fprintf(stderr, "invariant broken at line %d: %s\n", __LINE__, #condition); \
            std::abort();                                                                    \
        }                                                                                    \
    } while (false)

bool RunOnce() {
    try {
        return quelvane::RunPatch();
    } catch (const ProcessEnded&) {
        quelvane::TargetTable = quelvane::EntryTable{};
        quelvane::PatchTable = quelvane::EntryTable{};
        return false;
    }
}

void CheckWritingRules(const Bytes& file) {
    Require(file.size() >= 4);
    const std::int32_t count = quelvane::ReadInt32(file.data());
    Require(count >= 0 && count <= 65535);
    std::int64_t next = 4 + 20 * static_cast<std::int64_t>(count);
    Require(static_cast<std::int64_t>(file.size()) >= next);
    for (std::int32_t k = 0; k < count; ++k) {
        const unsigned char* e = file.data() + 4 + 20 * k;
        const std::int32_t fileId = quelvane::ReadInt32(e);
        const std::int32_t offset = quelvane::ReadInt32(e + 8);
        const std::int32_t length = quelvane::ReadInt32(e + 12);
        Require(fileId <= 33);
        if (offset == -1) {
            Require(length == 0);
            continue;
        }
        Require(offset == next && length > 0);
        next += length;
    }
    Require(static_cast<std::int64_t>(file.size()) == next);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return 0;
    const std::size_t rest = size - 2;
    const std::size_t targetSize = (data[0] | static_cast<std::size_t>(data[1]) << 8) % (rest + 1);
    const Bytes target(data + 2, data + 2 + targetSize);
    const Bytes patch(data + 2 + targetSize, data + size);

    MemoryFileSystem files;
    files.KernelCopy = (data[0] & 1) != 0;
    files.Files = {{"verdata.mul", target}, {"patchdata.mul", patch}};
    {
        TestPlatform platform(files);
        const bool completed = RunOnce();
        Require(files.OpenHandles() == 0);
        Require(files.Files.count(std::string(quelvane::kTemporaryFileName)) == 0);
        Require(files.Files["patchdata.mul"] == patch);
        if (!completed) {
            Require(files.Files["verdata.mul"] == target);
            return 0;
        }
    }
    const Bytes written = files.Files["verdata.mul"];
    CheckWritingRules(written);
    // Loaded and written again without a patch (and without pruning, which a file with
    // equal new keys would be changed by), the file comes back byte for byte.
    files.Files["patchdata.mul"] = {0, 0, 0, 0};
    TestPlatform platform(files);
    Require(quelvane::LoadEntryTable("verdata.mul", "", quelvane::TargetTable));
    Require(quelvane::LoadEntryTable("patchdata.mul", "", quelvane::PatchTable));
    Require(quelvane::WriteTargetFile(quelvane::TargetTable, quelvane::PatchTable));
    Require(files.Files["verdata.mul"] == written);
    return 0;
}

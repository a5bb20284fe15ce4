#include "engine/block_copy.h"

#include <algorithm>
#include <memory>

#include "support/error_stop.h"
#include "support/io_check.h"
#include "support/locations.h"

namespace quelvane {
namespace {

// Large enough that the system's per-call cost disappears behind the bytes moved, small enough
// for the memory of a 32-bit process to stay flat.
constexpr std::uint32_t kBufferSize = 1u << 20;
// The in-kernel copy moves at most this much per call, so no count overflows 32 bits.
constexpr std::uint32_t kKernelChunk = 1u << 30;

class Copier {
  public:
    explicit Copier(FileHandle target) : target_(target) {}

    void Copy(const CopyRange& range) {
        std::int64_t done = 0;
        if (kernelCopyWorks_)
            done = CopyInKernel(range);
        if (done < range.Length)
            CopyThroughBuffer(range, done);
    }

  private:
    // Returns how much was copied: all of it, or 0 when the system cannot copy this pair.
    std::int64_t CopyInKernel(const CopyRange& range) {
        std::int64_t done = 0;
        while (done < range.Length) {
            const auto chunk = static_cast<std::uint32_t>(
                std::min<std::int64_t>(range.Length - done, kKernelChunk));
            const Transfer moved =
                Os().CopyRange(range.Source->Handle, range.Offset + done, target_, chunk);
            if (moved.error == kCopyUnsupported && done == 0) {
                kernelCopyWorks_ = false;
                return 0;
            }
            if (moved.error != 0 && moved.error != kCopyUnsupported) {
                ErrorStop(moved.error, kLocationWriteCopy);
            }
            if (moved.moved != chunk)
                ErrorStop(kErrorShortRead, kLocationReadCopy);
            done += chunk;
        }
        return done;
    }

    void CopyThroughBuffer(const CopyRange& range, std::int64_t done) {
        if (!buffer_)
            buffer_ = std::make_unique<unsigned char[]>(kBufferSize);
        CheckedSeek(range.Source->Handle, static_cast<std::int32_t>(range.Offset + done),
                    kLocationSeekCopy);
        while (done < range.Length) {
            const auto chunk = static_cast<std::uint32_t>(
                std::min<std::int64_t>(range.Length - done, kBufferSize));
            CheckedRead(range.Source->Handle, buffer_.get(), chunk, kLocationReadCopy);
            CheckedWrite(target_, buffer_.get(), chunk, kLocationWriteCopy);
            done += chunk;
        }
    }

    FileHandle target_;
    bool kernelCopyWorks_ = true;
    std::unique_ptr<unsigned char[]> buffer_;
};

}  // namespace

std::vector<CopyRange> PlanCopyRanges(const EntryTable& table) {
    std::vector<CopyRange> ranges;
    for (const TableEntry& row : table.Entries) {
        if (!row.Entry.HasData() || row.Block.Length == 0)
            continue;
        const DataBlock& block = row.Block;
        if (!ranges.empty() && ranges.back().Source == block.Source &&
            ranges.back().Offset + ranges.back().Length == block.Offset) {
            ranges.back().Length += block.Length;
        } else {
            ranges.push_back({block.Source, block.Offset, block.Length});
        }
    }
    return ranges;
}

void CopyBlocks(const EntryTable& table, FileHandle target) {
    Copier copier(target);
    for (const CopyRange& range : PlanCopyRanges(table))
        copier.Copy(range);
}

}  // namespace quelvane

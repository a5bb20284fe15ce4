#include "engine/block_copy.h"

#include <algorithm>
#include <functional>
#include <memory>

#include "support/error_stop.h"
#include "support/io_check.h"
#include "support/locations.h"
#include "support/progress.h"

namespace quelvane {
namespace {

// Large enough that the system's per-call cost disappears behind the bytes moved, small enough
// for the memory of a 32-bit process to stay flat.
constexpr std::uint32_t kBufferSize = 1u << 20;
// The in-kernel copy moves at most this much per call. Measured with bench/copy_call_sizes.cpp on
// a 981 MB file (Linux 6.18, ext4): 1 MiB calls cost 0.36 s of CPU, 4 to 1024 MiB calls 0.28 to
// 0.30 s; 16 MiB lies in the flat part, keeps the progress fine-grained, and no count comes near
// 32 bits. It costs no memory: the bytes never leave the kernel.
constexpr std::uint32_t kKernelChunk = 16u << 20;
// Ranges at least this long are copied on their own. Shorter ones are gathered: a table of many
// small scattered blocks then costs a few large reads and writes instead of a call per block.
constexpr std::int64_t kGatherBelow = 64 * 1024;
// Gathered ranges of one source this close together are read in one go: reading the bytes in
// between costs less than another read. One such read stays within kBufferSize, so a platform
// that reads into a buffer of its own first (Windows) needs no more than that.
constexpr std::int64_t kJoinReadsWithin = 8 * 1024;
// Bounds the bookkeeping of one gathered batch, however short its ranges.
constexpr int kPositionBits = 13;
constexpr std::size_t kMaxGatheredRanges = std::size_t{1} << kPositionBits;

// One range of bytes to copy: `Length` bytes at `Offset` of `Source`.
struct CopyRange {
    const SourceFile* Source = nullptr;
    std::int64_t Offset = 0;
    std::int64_t Length = 0;
};

// `Reports`: the bytes written so far are reported as progress. A copier that does not is a type
// of its own, so that the copy of the blocks, in its per-block loop, is compiled as before.
template <bool Reports>
class Copier {
  public:
    // `written` bytes of the `total` of the new file are in it already (the head and index).
    Copier(FileHandle target, std::int64_t written, std::int64_t total)
        : target_(target), written_(written), total_(total) {}

    void Copy(const CopyRange& range) {
        if (range.Length < kGatherBelow) {
            Gather(range);
            return;
        }
        WriteGathered();  // keeps the target's bytes in table order
        CopyAlone(range);
    }

    // A range on its own, whatever its length: in the kernel where it can, else buffered.
    void CopyAlone(const CopyRange& range) {
        std::int64_t done = 0;
        if (kernelCopyWorks_)
            done = CopyInKernel(range);
        if (done < range.Length)
            CopyThroughBuffer(range, done);
    }

    void Finish() { WriteGathered(); }

  private:
    // A gathered range and where its bytes go in the gather buffer.
    struct Piece {
        const SourceFile* Source;
        std::int64_t Offset;
        std::uint32_t Length;
        std::uint32_t At;
        std::int64_t End() const { return Offset + Length; }
    };

    static std::unique_ptr<unsigned char[]>& Allocated(std::unique_ptr<unsigned char[]>& buffer) {
        if (!buffer)
            buffer = std::make_unique_for_overwrite<unsigned char[]>(kBufferSize);
        return buffer;
    }

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
            Wrote(chunk);
        }
        return done;
    }

    void CopyThroughBuffer(const CopyRange& range, std::int64_t done) {
        unsigned char* buffer = Allocated(copyBuffer_).get();
        while (done < range.Length) {
            const auto chunk = static_cast<std::uint32_t>(
                std::min<std::int64_t>(range.Length - done, kBufferSize));
            CheckedReadAt(range.Source->Handle, range.Offset + done, buffer, chunk,
                          kLocationReadCopy);
            CheckedWrite(target_, buffer, chunk, kLocationWriteCopy);
            done += chunk;
            Wrote(chunk);
        }
    }

    void Gather(const CopyRange& range) {
        if (gathered_ + range.Length > kBufferSize || pieces_.size() == kMaxGatheredRanges)
            WriteGathered();
        pieces_.push_back(
            {range.Source, range.Offset, static_cast<std::uint32_t>(range.Length), gathered_});
        gathered_ += static_cast<std::uint32_t>(range.Length);
    }

    // Copies the gathered batch to the target in table order, one of two ways, whichever costs
    // less for it. Read in source order, whatever order the table wants them in, neighbours share
    // a read and a file read backwards is still read forwards; the batch then goes out in one
    // write. But where most ranges would need a read of their own (blocks stored in no order of
    // the index's, or the patch's blocks among the target's), the system's relay moves each
    // range with no copy out and back: measured on a Linux 6.18 ext4 file of 65535 blocks of
    // 0.5-1.5 KiB in random order, 50 ms against 57 for a read per block and the writes.
    void WriteGathered() {
        if (pieces_.empty())
            return;
        const std::size_t reads = PlanReads();
        std::uint32_t relayed = 0;
        if (relayWorks_ && reads * 2 > pieces_.size())
            relayed = Relay();
        if (relayed < gathered_) {
            unsigned char* gathered = Allocated(gatherBuffer_).get();
            ReadPlanned(gathered);
            CheckedWrite(target_, gathered + relayed, gathered_ - relayed, kLocationWriteCopy);
        }
        Wrote(gathered_);
        pieces_.clear();
        gathered_ = 0;
    }

    // Orders the batch's ranges by source and place, and groups them into the reads they need:
    // ranges of one source close enough together share one. Returns the number of reads.
    std::size_t PlanReads() {
        // Each range as one number, (source, offset, position in the batch), so that ordering
        // them compares numbers: the source's rank in the batch, then the offset (below 2^31),
        // then the position (below kMaxGatheredRanges).
        bySource_.clear();
        sources_.clear();
        for (std::size_t k = 0; k < pieces_.size(); ++k) {
            const Piece& piece = pieces_[k];
            auto rank = static_cast<std::uint64_t>(
                std::find(sources_.begin(), sources_.end(), piece.Source) - sources_.begin());
            if (rank == sources_.size())
                sources_.push_back(piece.Source);
            bySource_.push_back(rank << (31 + kPositionBits) |
                                static_cast<std::uint64_t>(piece.Offset) << kPositionBits | k);
        }
        // Blocks stored in index order, or backwards, need no sort.
        if (!std::is_sorted(bySource_.begin(), bySource_.end())) {
            if (std::is_sorted(bySource_.rbegin(), bySource_.rend()))
                std::reverse(bySource_.begin(), bySource_.end());
            else
                std::sort(bySource_.begin(), bySource_.end());
        }
        readEnds_.clear();
        for (std::size_t first = 0; first < bySource_.size();) {
            const Piece& lead = InSourceOrder(first);
            std::int64_t end = lead.End();
            std::size_t last = first + 1;
            // Ranges that overlap the one before start a read of their own.
            for (; last < bySource_.size(); ++last) {
                const Piece& piece = InSourceOrder(last);
                if (piece.Source != lead.Source || piece.Offset < end ||
                    piece.Offset - end > kJoinReadsWithin ||
                    piece.End() - lead.Offset > kBufferSize) {
                    break;
                }
                end = piece.End();
            }
            readEnds_.push_back(last);
            first = last;
        }
        return readEnds_.size();
    }

    const Piece& InSourceOrder(std::size_t k) const {
        return pieces_[bySource_[k] & ((1u << kPositionBits) - 1)];
    }

    // Makes the planned reads. A shared read is scattered: each range's bytes go straight to
    // their place in the batch, the bytes between ranges to a scratch area.
    void ReadPlanned(unsigned char* gathered) {
        std::size_t first = 0;
        for (const std::size_t last : readEnds_) {
            const Piece& lead = InSourceOrder(first);
            parts_.assign(1, {gathered + lead.At, lead.Length});
            for (std::size_t k = first + 1; k < last; ++k) {
                const Piece& piece = InSourceOrder(k);
                const std::int64_t end = InSourceOrder(k - 1).End();
                if (piece.Offset > end)
                    parts_.push_back({skipped_, static_cast<std::uint32_t>(piece.Offset - end)});
                parts_.push_back({gathered + piece.At, piece.Length});
            }
            CheckedReadScattered(lead.Source->Handle, lead.Offset, parts_.data(), parts_.size(),
                                 kLocationReadCopy);
            first = last;
        }
    }

    // Hands the batch, in table order, to the system's relay. Returns the bytes it put in the
    // target: all of them, or where it gave up because the system cannot relay these files (the
    // rest is then read, and the relay not asked again).
    std::uint32_t Relay() {
        ranges_.clear();
        for (const Piece& piece : pieces_)
            ranges_.push_back({piece.Source->Handle, piece.Offset, piece.Length});
        const Transfer moved = Os().CopyRanges(ranges_.data(), ranges_.size(), target_);
        if (moved.error == kCopyUnsupported) {
            relayWorks_ = false;
            return moved.moved;
        }
        if (moved.error != 0)
            ErrorStop(moved.error, kLocationWriteCopy);
        if (moved.moved != gathered_)
            ErrorStop(kErrorShortRead, kLocationReadCopy);
        return moved.moved;
    }

    void Wrote(std::uint32_t bytes) {
        written_ += bytes;
        if constexpr (Reports)
            ReportProgress(written_, total_);
    }

    FileHandle target_;
    std::int64_t written_, total_;
    bool kernelCopyWorks_ = true;
    bool relayWorks_ = true;
    std::vector<Piece> pieces_;               // the batch, in table order
    std::vector<std::uint64_t> bySource_;     // the same in source order, numbered by PlanReads
    std::vector<const SourceFile*> sources_;  // the batch's sources, by their rank there
    std::vector<std::size_t> readEnds_;       // where each planned read's ranges end in bySource_
    std::vector<FileRange> ranges_;
    std::uint32_t gathered_ = 0;  // bytes gathered so far
    std::unique_ptr<unsigned char[]> gatherBuffer_;
    std::unique_ptr<unsigned char[]> copyBuffer_;
    std::vector<ReadPart> parts_;
    unsigned char skipped_[kJoinReadsWithin];  // the bytes between ranges that share a read
};

}  // namespace

void CopyBlocks(const EntryTable& table, FileHandle target, std::int64_t written,
                std::int64_t total) {
    // Ranges are made as the table is walked, not listed first: a list of 65535 would cost
    // memory and page faults for nothing.
    Copier<true> copier(target, written, total);
    CopyRange range;
    for (const TableEntry& row : table.Entries) {
        if (!row.Entry.HasData() || row.Block.Length == 0)
            continue;
        const DataBlock& block = row.Block;
        if (range.Source == block.Source && range.Offset + range.Length == block.Offset) {
            range.Length += block.Length;
            continue;
        }
        if (range.Length != 0)
            copier.Copy(range);
        range = {block.Source, block.Offset, block.Length};
    }
    if (range.Length != 0)
        copier.Copy(range);
    copier.Finish();
}

void CopyWholeFile(const SourceFile& source, FileHandle target) {
    Copier<false> copier(target, 0, 0);
    copier.CopyAlone({&source, 0, source.Size});
}

}  // namespace quelvane

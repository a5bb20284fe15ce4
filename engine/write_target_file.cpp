#include "engine/write_target_file.h"

#include <algorithm>
#include <string>
#include <vector>

#include "engine/assign_offsets.h"
#include "engine/block_copy.h"
#include "engine/index_slices.h"
#include "engine/keep_backup.h"
#include "engine/merge_patch.h"
#include "engine/stale_name.h"
#include "support/boxes.h"
#include "support/commit_point.h"
#include "support/error_stop.h"
#include "support/io_check.h"
#include "support/locations.h"
#include "support/progress.h"

namespace quelvane {
namespace {

// What keeps the merged table from being written, or empty when it fits.
std::string CheckLimits(const EntryTable& table) {
    const auto count = static_cast<std::int64_t>(table.Count());
    if (count > kMaxEntryCount) {
        return "the result has " + std::to_string(count) + " entries, " +
               std::to_string(count - kMaxEntryCount) + " more than the limit of " +
               std::to_string(kMaxEntryCount);
    }
    const std::int64_t size = WrittenFileSize(table);
    if (size > kMaxFileSize) {
        return "the result would be " + std::to_string(size) + " bytes long, " +
               std::to_string(size - kMaxFileSize) + " more than the limit of " +
               std::to_string(kMaxFileSize);
    }
    return {};
}

// Writes the head and the whole index. Returns the bytes written.
std::int64_t WriteHeadAndIndex(const EntryTable& table, FileHandle file) {
    std::int64_t written = 0;
    ForEachIndexSlice(table, [&](const unsigned char* bytes, std::uint32_t size) {
        CheckedWrite(file, bytes, size, kLocationWriteIndex);
        written += size;
    });
    return written;
}

bool Refuse(EntryTable& target, EntryTable& patch, std::string_view text, SystemError reason = 0) {
    ReleaseTable(patch);
    ReleaseTable(target);
    ReportProgressEnded();
    ShowErrorBox(text, reason);
    return false;
}

// Gives up the temporary file after a refused step: it goes, through its own handle, and the
// target stays as it was.
void Abandon(FileHandle file, const FinalPlace& temporary) {
    (void)Os().Discard(file, temporary.Directory, temporary.Name);
    ForgetRemoveOnErrorStop();
}

}  // namespace

bool LayOutTarget(EntryTable& target, EntryTable& patch, MergeCounts* counts,
                  std::size_t* resultEntries, std::int64_t* resultBytes) {
    const MergeCounts merged = MergePatch(target, patch);
    if (counts != nullptr)
        *counts = merged;
    if (resultEntries != nullptr)
        *resultEntries = target.Count();
    if (resultBytes != nullptr)
        *resultBytes = WrittenFileSize(target);
    if (const std::string limit = CheckLimits(target); !limit.empty()) {
        return Refuse(target, patch, std::string(kWriteErrorText) + ": " + limit);
    }
    AssignOffsets(target);
    return true;
}

bool WriteLaidOutTarget(EntryTable& target, EntryTable& patch, const FinalPlace& place,
                        std::string_view backup, ReplaceStage* afterReplace,
                        SystemError* afterReplaceError) {
    // The target's own file, loaded first and still open: the new file takes its attributes.
    const FileHandle model = target.Sources.empty() ? kNoFile : target.Sources.front()->Handle;
    SystemError error = 0;

    // A backup's name that is not free for it refuses the run before anything is made.
    const bool keepBackup = !backup.empty() && model != kNoFile;
    if (keepBackup) {
        if (const BackupName name = CheckBackupName(place.Directory, backup); !name.Refusal.empty())
            return Refuse(target, patch, name.Refusal, name.Error);
    }

    // The new file goes beside the target, in the directory held since the target was found.
    // It is created only where nothing of its name exists, so no file or link planted under
    // that name is ever followed. Only when the name is taken (a stale one from an earlier crash:
    // the run's lock keeps any other run's away) is it removed, as a name, and the create tried
    // once more.
    const FinalPlace temporary{place.Directory, place.Name + std::string(kTemporarySuffix)};
    FileHandle file = kNoFile;
    error = MadeAfterStale(temporary.Directory, temporary.Name, [&] {
        SystemError created = 0;
        file = Os().CreateNew(temporary.Directory, temporary.Name, model, &created);
        return created;
    });
    if (file == kNoFile)
        return Refuse(target, patch, kWriteErrorText, error);
    RemoveOnErrorStop(file, temporary.Directory, temporary.Name);
    // Everything done to the new file goes through its handle, never through its name again.
    if (model != kNoFile && (error = Os().KeepAttributes(model, file)) != 0) {
        Abandon(file, temporary);
        return Refuse(target, patch, kWriteErrorText, error);
    }

    const std::int64_t total = WrittenFileSize(target);
    ReportProgress(0, total);
    const std::int64_t written = WriteHeadAndIndex(target, file);
    ReportProgress(written, total);
    CopyBlocks(target, file, written, total);
    ReportProgressFlushing(total);
    CheckedFlush(file, kLocationFlushTarget);

    // Only the file that was loaded is replaced: if its name now stands for another file (a link
    // or a file swapped in during the run), that one is left alone and the run refused.
    if (model != kNoFile && (error = Os().StillNames(place.Directory, place.Name, model)) != 0) {
        Abandon(file, temporary);
        return Refuse(target, patch, kWriteErrorText, error);
    }
    // The backup is made last, from the file that was loaded, and is on disk before the rename:
    // whatever the rename does, the old file is never without a name.
    if (keepBackup && (error = KeepBackup(*target.Sources.front(), place.Directory, backup)) != 0) {
        Abandon(file, temporary);
        return Refuse(target, patch, BackupRefusalText(backup), error);
    }
    // The sources are closed before the replace: Windows cannot replace a file that this process
    // holds without sharing delete. The new file stays open: Windows renames it through its
    // handle where it can; the replace closes it, whatever.
    ReleaseTable(patch);
    ReleaseTable(target);
    // The rename is the commit point: a terminating signal waits until it is known whether it
    // took place, so that the signal either finds the old file (the replace has removed the new
    // one when it refused) or the new file and a completed run. The replace owns the new file
    // from here: it is never removed by its name again.
    ReplaceStage stage = ReplaceStage::NotReplaced;
    HoldSignalsForCommit();
    ForgetRemoveOnErrorStop();
    error = Os().Replace(place.Directory, file, temporary.Name, place.Name, &stage);
    ReleaseSignalsAfterCommit(stage != ReplaceStage::NotReplaced);
    ReportProgressEnded();
    if (stage == ReplaceStage::NotReplaced) {
        ShowErrorBox(kWriteErrorText, error);
        return false;
    }
    if (afterReplace != nullptr)
        *afterReplace = stage;
    if (afterReplaceError != nullptr)
        *afterReplaceError = error;
    return true;
}

std::string BackupRefusalText(std::string_view backup) {
    return "cannot keep the old verdata.mul as '" + std::string(backup) + "'";
}

std::string UnconfirmedText(ReplaceStage stage) {
    const char* step = stage == ReplaceStage::FlushingDirectory ? "flushing the directory"
                       : stage == ReplaceStage::FlushingFile    ? "flushing it to disk"
                                                                : "closing it";
    return std::string(kTargetFileName) + " was replaced, but " + step + " failed";
}

bool WriteTargetFile(EntryTable& target, EntryTable& patch, const FinalPlace& place) {
    return LayOutTarget(target, patch, nullptr) && WriteLaidOutTarget(target, patch, place);
}

}  // namespace quelvane

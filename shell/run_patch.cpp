#include "shell/run_patch.h"

#include <chrono>
#include <string>

#include "engine/already_holds.h"
#include "engine/assign_offsets.h"
#include "engine/entry_table.h"
#include "engine/keep_backup.h"
#include "engine/load_entry_table.h"
#include "engine/prune_target_duplicates.h"
#include "engine/write_target_file.h"
#include "support/boxes.h"
#include "support/commit_point.h"

namespace quelvane {
namespace {

constexpr std::string_view kTargetOpenErrorText = "Error opening Verdata.mul";
constexpr std::uint32_t kLockRetryMilliseconds = 100;
std::string lockedPath;

// Where "verdata.mul" finally leads, found once at the start of a run, and the lock that keeps
// other runs off it; its directory and the lock are held until the write is over, whichever way
// it ends.
class TargetPlace {
  public:
    // The lock goes before any box of the run shows: the box waits for a click, and by then the
    // run's outcome is settled (its own file gone or in place), so another run may start.
    TargetPlace() {
        held = this;
        SetBeforeBox([] { held->Unlock(); });
    }
    ~TargetPlace() {
        SetBeforeBox(nullptr);
        held = nullptr;
        Unlock();
        Os().CloseDirectory(place_.Directory);  // none held until a resolution succeeds
    }
    TargetPlace(const TargetPlace&) = delete;
    TargetPlace& operator=(const TargetPlace&) = delete;

    // Finds the place and takes its lock: exclusive to write, shared to only read; while another
    // run holds it, tried again every 100 ms for up to `wait` milliseconds (kWaitForever: until
    // it is free).
    bool Take(bool exclusive, std::int64_t wait) {
        error_ = Os().Resolve(kTargetFileName, &place_);
        if (error_ == 0)
            error_ = Os().Lock(place_, exclusive, &lock_);
        if (error_ == kRunInProgress || error_ == kLockedByCaller)
            lockedPath = Os().LockedPath(place_);
        if (error_ != kRunInProgress || wait == 0)
            return error_ == 0;
        ShowNotice(Notice::WaitingForRun, kTargetFileName);
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait);
        while (error_ == kRunInProgress &&
               (wait == kWaitForever || std::chrono::steady_clock::now() < end)) {
            Os().Pause(kLockRetryMilliseconds);
            error_ = Os().Lock(place_, exclusive, &lock_);
        }
        return error_ == 0;
    }
    const FinalPlace& Place() const { return place_; }
    SystemError Error() const { return error_; }

  private:
    void Unlock() {
        Os().Unlock(lock_);
        lock_ = kNoLock;
    }

    static inline TargetPlace* held = nullptr;  // the run's place, one at a time
    FinalPlace place_;
    SystemError error_ = 0;
    LockHandle lock_ = kNoLock;
};

// Both tables let go (their files closed), for a run that stops before the write.
void ReleaseTables() {
    ReleaseTable(PatchTable);
    ReleaseTable(TargetTable);
}

// The run up to the end of the write (a dry run: up to the limits), under the place's lock.
bool PatchUnderLock(const RunOptions& options, RunSummary& summary) {
    TargetPlace target;
    if (!target.Take(!options.DryRun, options.WaitMilliseconds)) {
        ShowErrorBox(kTargetOpenErrorText, target.Error());
        return false;
    }
    if (!LoadEntryTable(target.Place(), kTargetFileName, kTargetOpenErrorText, TargetTable,
                        options.DryRun ? OpenMode::ReadOnly : OpenMode::ReadWrite)) {
        return false;
    }
    // The patch is only read: a read-only patch is applied, not refused.
    if (!LoadEntryTable(kPatchFileName, "Error opening Patchdata.mul", PatchTable,
                        OpenMode::ReadOnly)) {
        ReleaseTable(TargetTable);
        return false;
    }
    summary.TargetEntries = TargetTable.Count() + TargetTable.LeftOut;
    summary.TargetLeftOut = TargetTable.LeftOut;
    summary.PatchEntries = PatchTable.Count() + PatchTable.LeftOut;
    summary.PatchLeftOut = PatchTable.LeftOut;
    summary.DuplicatesDropped = PruneTargetDuplicates(TargetTable);
    MergeCounts merged;
    const auto laidOut = LayOutTarget(TargetTable, PatchTable, &merged, &summary.ResultEntries,
                                      &summary.ResultBytes);
    summary.Replaced = merged.Replaced;
    summary.Added = merged.Added;
    summary.Superseded = merged.Superseded;
    summary.Counted = true;
    if (!laidOut)
        return false;
    // A result that is the file already (the same patch applied again) is not written at all:
    // no temporary file, no backup, no rename; the file keeps its inode, times and links.
    if (AlreadyHolds(TargetTable)) {
        summary.AlreadyHeld = true;
        ReleaseTables();
        return true;
    }
    if (options.BeforeWrite != nullptr && !options.BeforeWrite()) {
        ReleaseTables();
        return false;
    }
    const FinalPlace& place = target.Place();
    std::string backup;
    if (options.Backup.Control != BackupControl::None) {
        if (const SystemError error =
                BackupNameFor(place.Directory, place.Name, options.Backup, &backup);
            error != 0) {
            ReleaseTables();
            ShowErrorBox(BackupRefusalText(place.Name + options.Backup.Suffix), error);
            return false;
        }
    }
    if (!options.DryRun) {
        return WriteLaidOutTarget(TargetTable, PatchTable, place, backup, &summary.AfterReplace,
                                  &summary.AfterReplaceError);
    }
    // Where the backup would be a copy, its bytes are counted with the result's.
    std::int64_t backupBytes = 0;
    if (!backup.empty()) {
        const BackupName name = CheckBackupName(place.Directory, backup);
        if (!name.Refusal.empty()) {
            ReleaseTables();
            ShowErrorBox(name.Refusal, name.Error);
            return false;
        }
        ShowNotice(name.ReplacesEarlier ? Notice::BackupWouldReplace : Notice::BackupWouldBeMade,
                   backup);
        if (!Os().GivesSecondNames(place.Directory) && !TargetTable.Sources.empty())
            backupBytes = TargetTable.Sources.front()->Size;
    }
    const std::string temporary = place.Name + std::string(kTemporarySuffix);
    const WriteProbe probe =
        Os().CanWrite(place.Directory, place.Name, temporary, summary.ResultBytes);
    summary.NotWritable = probe.Error;
    summary.RefusingDirectory = probe.RefusingDirectory;
    if (probe.Error == 0 && backupBytes != 0 &&
        (summary.NotWritable = Os().HasRoom(place.Directory, summary.ResultBytes + backupBytes)) !=
            0) {
        summary.BackupNotKept = backup;
    }
    if (probe.StaleTemporary)
        ShowNotice(Notice::StaleWouldBeRemoved, temporary);
    ReleaseTables();
    return true;
}

}  // namespace

const std::string& RefusingLockPath() {
    return lockedPath;
}

bool RunPatch(const RunOptions& options) {
    RunSummary summary;
    const bool completed = PatchUnderLock(options, summary);
    if (options.Summary != nullptr)
        *options.Summary = summary;
    if (!completed)
        return false;
    if (options.DryRun || !options.PauseAndSayDone)
        return true;
    // A signal after the replace cuts the pause short: the run is complete, and ends so at once.
    if (!InterruptedAfterCommit())
        Os().Pause(kDonePauseMilliseconds);
    if (summary.AfterReplace != ReplaceStage::Done)
        ShowWarningBox(UnconfirmedText(summary.AfterReplace), summary.AfterReplaceError);
    else
        ShowInformationBox("Done.");
    return true;
}

}  // namespace quelvane

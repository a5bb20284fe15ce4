#include "shell/run_patch.h"

#include "engine/assign_offsets.h"
#include "engine/entry_table.h"
#include "engine/load_entry_table.h"
#include "engine/prune_target_duplicates.h"
#include "engine/write_target_file.h"
#include "support/boxes.h"

namespace quelvane {
namespace {

constexpr std::string_view kTargetOpenErrorText = "Error opening Verdata.mul";
// What a place that was never resolved holds as its error: it has no directory to close.
constexpr SystemError kNotResolved = 0xFFFFFFFFu;

// Where "verdata.mul" finally leads, found once at the start of a run; its directory is held
// until the run ends, whichever way it ends.
class TargetPlace {
  public:
    TargetPlace() = default;
    ~TargetPlace() {
        if (error_ == 0)
            Os().CloseDirectory(place_.Directory);
    }
    TargetPlace(const TargetPlace&) = delete;
    TargetPlace& operator=(const TargetPlace&) = delete;

    bool Resolve() {
        error_ = Os().Resolve(kTargetFileName, &place_);
        return error_ == 0;
    }
    const FinalPlace& Place() const { return place_; }
    SystemError Error() const { return error_; }

  private:
    FinalPlace place_;
    SystemError error_ = kNotResolved;
};

}  // namespace

bool RunPatch(const RunOptions& options) {
    TargetPlace target;
    if (!target.Resolve()) {
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
    RunSummary summary;
    summary.TargetEntries = TargetTable.Count();
    summary.TargetLeftOut = TargetTable.LeftOut;
    summary.PatchEntries = PatchTable.Count();
    summary.PatchLeftOut = PatchTable.LeftOut;
    summary.DuplicatesDropped = PruneTargetDuplicates(TargetTable);
    MergeCounts merged;
    if (!LayOutTarget(TargetTable, PatchTable, &merged))
        return false;
    summary.Replaced = merged.Replaced;
    summary.Added = merged.Added;
    summary.ResultEntries = TargetTable.Count();
    summary.ResultBytes = WrittenFileSize(TargetTable);
    if (options.DryRun) {
        summary.NotWritable = Os().CanWrite(target.Place().Directory, target.Place().Name);
        ReleaseTable(PatchTable);
        ReleaseTable(TargetTable);
    } else if (!WriteLaidOutTarget(TargetTable, PatchTable, target.Place())) {
        return false;
    }
    if (options.Summary != nullptr)
        *options.Summary = summary;
    if (options.DryRun || !options.PauseAndSayDone)
        return true;
    Os().Pause(kDonePauseMilliseconds);
    ShowInformationBox("Done.");
    return true;
}

}  // namespace quelvane

#include "shell/run_patch.h"

#include "engine/entry_table.h"
#include "engine/load_entry_table.h"
#include "engine/prune_target_duplicates.h"
#include "engine/write_target_file.h"
#include "support/boxes.h"

namespace quelvane {
namespace {

constexpr std::string_view kTargetOpenErrorText = "Error opening Verdata.mul";

// Where "verdata.mul" finally leads, found once at the start of a run; its directory is held
// until the run ends, whichever way it ends.
class TargetPlace {
  public:
    TargetPlace() = default;
    ~TargetPlace() {
        if (resolved_)
            Os().CloseDirectory(place_.Directory);
    }
    TargetPlace(const TargetPlace&) = delete;
    TargetPlace& operator=(const TargetPlace&) = delete;

    bool Resolve() {
        resolved_ = Os().Resolve(kTargetFileName, &place_) == 0;
        return resolved_;
    }
    const FinalPlace& Place() const { return place_; }

  private:
    FinalPlace place_;
    bool resolved_ = false;
};

}  // namespace

bool RunPatch() {
    TargetPlace target;
    if (!target.Resolve()) {
        ShowErrorBox(kTargetOpenErrorText);
        return false;
    }
    if (!LoadEntryTable(target.Place(), kTargetFileName, kTargetOpenErrorText, TargetTable,
                        OpenMode::ReadWrite)) {
        return false;
    }
    // The patch is only read: a read-only patch is applied, not refused.
    if (!LoadEntryTable(kPatchFileName, "Error opening Patchdata.mul", PatchTable,
                        OpenMode::ReadOnly)) {
        ReleaseTable(TargetTable);
        return false;
    }
    PruneTargetDuplicates(TargetTable);
    if (!WriteTargetFile(TargetTable, PatchTable, target.Place()))
        return false;
    Os().Pause(kDonePauseMilliseconds);
    ShowInformationBox("Done.");
    return true;
}

}  // namespace quelvane

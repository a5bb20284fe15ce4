#include "shell/run_patch.h"

#include "engine/entry_table.h"
#include "engine/load_entry_table.h"
#include "engine/prune_target_duplicates.h"
#include "engine/write_target_file.h"
#include "support/boxes.h"

namespace quelvane {

bool RunPatch() {
    if (!LoadEntryTable(kTargetFileName, "Error opening Verdata.mul", TargetTable,
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
    if (!WriteTargetFile(TargetTable, PatchTable))
        return false;
    Os().Pause(kDonePauseMilliseconds);
    ShowInformationBox("Done.");
    return true;
}

}  // namespace quelvane

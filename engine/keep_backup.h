// The target's old file kept under a second name when a run replaces it (the command's
// --backup; the window keeps none).
#pragma once

#include <string>
#include <string_view>

#include "engine/entry_table.h"

namespace quelvane {

// What a backup's name allows. `Refusal` is set (the box's text, "Error writing Verdata.mul: the
// backup's name 'verdata.mul.orig' is a directory", with `Error` the system's reason when the name
// could not be looked at) when something other than a regular file has it: a directory, a link
// or anything else of the name is someone else's, never replaced, never followed. Otherwise
// `ReplacesEarlier` tells whether a regular file (an earlier backup) has it, which the backup
// replaces.
struct BackupName {
    std::string Refusal;
    SystemError Error = 0;
    bool ReplacesEarlier = false;
};
BackupName CheckBackupName(DirectoryHandle directory, std::string_view backup);

// Makes `backup` in `directory` the target's old file `source` (open since it was loaded; a
// `backup` that already is a second name of it is left as it is, the backup made):
// a second name of it where the system can give one (no bytes copied, everything of it the same),
// else a flushed copy with its bits, owner and times. Either is made under
// the backup's name and kTemporarySuffix, then renamed over an earlier backup and the directory
// flushed, so that the name holds the earlier backup or this one, never a part of one, and is
// durable before the caller's rename makes the target the new file. Returns 0, else the reason,
// with nothing of it left; a copy that would not fit is refused before it is begun (the system's
// code for a full disk). A failed read or write of the copy ends in the error stop.
SystemError KeepBackup(const SourceFile& source, DirectoryHandle directory,
                       std::string_view backup);

}  // namespace quelvane

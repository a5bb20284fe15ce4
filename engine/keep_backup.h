// The target's old file kept under a second name when a run replaces it (the command's
// --backup; the window keeps none).
#pragma once

#include <string>
#include <string_view>

#include "engine/entry_table.h"

namespace quelvane {

// How a backup was made.
enum class BackupKind : std::uint8_t {
    Link,  // a second name of the old file itself: no bytes copied, everything of it the same
    Copy,  // where the file system gives no second name: its bytes, bits, owner and times
};

// Why `backup` in `directory` cannot take a backup, in words for the user ("the backup's name
// 'verdata.mul.orig' is a directory"); empty when nothing has the name or a regular file has (an
// earlier backup, which the backup replaces). A directory, a link or anything else of the name
// is someone else's: never replaced, never followed.
std::string BackupRefusal(DirectoryHandle directory, std::string_view backup, SystemError* error);
// Whether a regular file has the name already (the backup would replace it).
bool BackupReplacesEarlier(DirectoryHandle directory, std::string_view backup);

// Makes `backup` in `directory` the target's old file `source` (open since it was loaded):
// a second name of it where the system can give one, else a flushed copy. Either is made under
// the backup's name and kTemporarySuffix, then renamed over an earlier backup and the directory
// flushed, so that the name holds the earlier backup or this one, never a part of one, and is
// durable before the caller's rename makes the target the new file. Returns 0, else the reason,
// with nothing of it left. A failed read or write of the copy ends in the error stop.
SystemError KeepBackup(const SourceFile& source, DirectoryHandle directory, std::string_view backup,
                       BackupKind* kind);

}  // namespace quelvane

#include "engine/keep_backup.h"

#include "engine/block_copy.h"
#include "engine/stale_name.h"
#include "engine/write_target_file.h"
#include "support/boxes.h"
#include "support/error_stop.h"
#include "support/io_check.h"
#include "support/locations.h"

namespace quelvane {
namespace {

// The copy, with what the system keeps on the old file and its times, flushed.
SystemError Copied(const SourceFile& source, DirectoryHandle directory, const std::string& name,
                   FileHandle* file) {
    SystemError error = MadeAfterStale(directory, name, [&] {
        SystemError created = 0;
        *file = Os().CreateNew(directory, name, source.Handle, &created);
        return created;
    });
    if (error != 0)
        return error;
    RemoveOnErrorStop(*file, directory, name, Temporary::Backup);
    CopyWholeFile(source, *file);
    // The times last: writing the bytes set them.
    if ((error = Os().KeepAttributes(source.Handle, *file)) == 0 &&
        (error = Os().KeepTimes(source.Handle, *file)) == 0) {
        CheckedFlush(*file, kLocationFlushBackup);
        return 0;
    }
    (void)Os().Discard(*file, directory, name);
    *file = kNoFile;
    ForgetRemoveOnErrorStop(Temporary::Backup);
    return error;
}

}  // namespace

BackupName CheckBackupName(DirectoryHandle directory, std::string_view backup) {
    BackupName name;
    NameKind kind = NameKind::Nothing;
    if ((name.Error = Os().KindOf(directory, backup, &kind)) != 0) {
        name.Refusal = kWriteErrorText;
    } else if (kind != NameKind::Nothing && kind != NameKind::RegularFile) {
        const char* what = kind == NameKind::Directory ? "a directory"
                           : kind == NameKind::Link    ? "a symbolic link"
                                                       : "not a regular file";
        name.Refusal = std::string(kWriteErrorText) + ": the backup's name '" +
                       std::string(backup) + "' is " + what;
    }
    name.ReplacesEarlier = kind == NameKind::RegularFile;
    return name;
}

SystemError KeepBackup(const SourceFile& source, DirectoryHandle directory,
                       std::string_view backup) {
    // A name that is already the old file's own (a link made by hand) is the backup made: a
    // rename between two names of one file would do nothing and leave the temporary name.
    if (Os().StillNames(directory, backup, source.Handle) == 0)
        return 0;
    const std::string temporary = std::string(backup) + std::string(kTemporarySuffix);
    SystemError error = MadeAfterStale(
        directory, temporary, [&] { return Os().LinkFile(source.Handle, directory, temporary); });
    FileHandle file = kNoFile;
    if (error == 0) {
        // Renamed through a handle where the system renames so: the link, opened as itself.
        file = Os().OpenExisting(directory, temporary, OpenMode::ReadOnly, &error);
        if (file == kNoFile) {
            (void)Os().Remove(directory, temporary);
            return error;
        }
        RemoveOnErrorStop(file, directory, temporary, Temporary::Backup);
    } else if (error == kLinkUnsupported) {  // no second name here: a copy, where it fits
        if ((error = Os().HasRoom(directory, source.Size)) != 0 ||
            (error = Copied(source, directory, temporary, &file)) != 0)
            return error;
    } else {
        return error;
    }
    // Refused, the replace removes the backup's temporary file itself.
    ReplaceStage stage = ReplaceStage::NotReplaced;
    ForgetRemoveOnErrorStop(Temporary::Backup);
    return Os().Replace(directory, file, temporary, backup, &stage);
}

}  // namespace quelvane

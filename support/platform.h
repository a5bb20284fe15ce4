// The one narrow interface between Quelvane and the operating system.
//
// The engine and the shell reach files, message boxes, the pause and the end of the process only
// through this interface. Two real implementations sit behind it (Win32 and POSIX); test doubles
// (a fault-injecting wrapper of the real one) are installed through the same interface.
//
// Error codes are the system's own (Windows error numbers there, errno values on POSIX) and are
// never translated: the error stop reports them unchanged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quelvane {

// An open file, as the implementation that opened it knows it. 0 is never a valid handle.
using FileHandle = std::uintptr_t;
inline constexpr FileHandle kNoFile = 0;

// A directory held open for the length of a run, so that names in it keep meaning the same
// directory whatever happens meanwhile to the path that led there. kCurrentDirectory is no held
// directory: names are resolved against the current directory, as given.
using DirectoryHandle = std::uintptr_t;
inline constexpr DirectoryHandle kCurrentDirectory = 0;

// Where a name finally leads: the directory that holds the file (held open by Resolve, or the
// current directory) and the file's own name in it.
struct FinalPlace {
    DirectoryHandle Directory = kCurrentDirectory;
    std::string Name;
};

// The lock that keeps runs on one file apart, as the implementation that took it knows it.
using LockHandle = std::uintptr_t;
inline constexpr LockHandle kNoLock = 0;

// An opaque window that owns a message box; kNoWindow means no owner.
using WindowHandle = void*;
inline constexpr WindowHandle kNoWindow = nullptr;

// The system's error code of a failed operation; 0 means success.
using SystemError = std::uint32_t;

struct Transfer {
    SystemError error = 0;    // the system refused the operation
    std::uint32_t moved = 0;  // bytes that moved (may be short of the request)
};

// One part of a scattered read: the next `Size` bytes go to `Buffer`.
struct ReadPart {
    void* Buffer = nullptr;
    std::uint32_t Size = 0;
};

// A range of a file to copy: `Size` bytes from byte `Position` of `File`.
struct FileRange {
    FileHandle File = kNoFile;
    std::int64_t Position = 0;
    std::uint32_t Size = 0;
};

// What a dry run finds when it asks whether the target could be written.
struct WriteProbe {
    SystemError Error = 0;          // why it could not be, or 0
    std::string RefusingDirectory;  // when it is the directory that refuses new files: its path
    bool StaleTemporary = false;    // a file or link has the temporary file's name already
};

// How far a replace came. Once the rename has put the new file in place, the target *is* the
// new file, whatever fails after it: the caller must not report it as unchanged.
enum class ReplaceStage : std::uint8_t {
    NotReplaced,        // the target is as it was
    FlushingDirectory,  // renamed; flushing the directory that holds the name failed
    FlushingFile,       // renamed through the new file's handle; flushing the file failed
    ClosingFile,        // renamed and flushed; closing the new file failed
    Done,               // renamed and durable
};

// What a name in a directory stands for, the name itself: a link is a link, followed nowhere.
enum class NameKind : std::uint8_t { Nothing, RegularFile, Directory, Link, Other };

// What a file is opened for. Both ask others to only read it meanwhile.
enum class OpenMode {
    ReadWrite,  // read and write access: tells early that the file cannot be replaced
    ReadOnly,   // read access only: a read-only file can still be read
};

// Message box styles, with the values the Windows user interface uses for them.
enum BoxStyle : std::uint32_t {
    kBoxPlain = 0,
    kBoxError = 0x10,        // MB_ICONERROR
    kBoxWarning = 0x30,      // MB_ICONWARNING
    kBoxInformation = 0x40,  // MB_ICONINFORMATION
};

// What this build cannot do at all (ListNames where no backup is kept).
inline constexpr SystemError kUnsupported = 0xFFFFFFF7u;

class Platform {
  public:
    virtual ~Platform() = default;

    // Finds the file that `name` (in the current directory) finally stands for: `name` itself or,
    // where the system follows symbolic links and `name` is one (or a chain of them), the file at
    // the end of the chain, so that a replace changes that file and leaves the links as they
    // are. The directory that holds it is opened once, here; every later step of the run goes
    // relative to it, so a link swapped meanwhile redirects nothing. A name that leads nowhere
    // is no error here: opening it fails. `place->Directory` is closed with CloseDirectory.
    virtual SystemError Resolve(std::string_view name, FinalPlace* place) = 0;
    virtual void CloseDirectory(DirectoryHandle directory) = 0;

    // Takes, without waiting, the lock that keeps runs on the file at `place` apart: exclusive
    // for a run that writes, shared for one that only reads (a dry run). It is taken on what the
    // resolution found, so that every way of reaching the same file meets the same lock, whatever
    // the path, link or directory spelling that led there. kRunInProgress when another run holds
    // it. The process's end releases it too.
    virtual SystemError Lock(const FinalPlace& place, bool exclusive, LockHandle* lock) = 0;
    virtual void Unlock(LockHandle lock) = 0;
    // What Lock locks, as a path for a message that names it ("a lock taken on DIR"), or empty
    // where the lock is no file's (a named object).
    virtual std::string LockedPath(const FinalPlace& /*place*/) { return {}; }

    // Opens an existing regular file of `directory`. In a held directory the name must be the
    // file's own: a link there is not followed (the open fails). Anything but a regular file (a
    // directory, FIFO, socket or device) is refused with kNotRegularFile at once, never waited
    // for. Returns kNoFile on failure, with the system's code in `error` when it is not null.
    virtual FileHandle OpenExisting(DirectoryHandle directory, std::string_view name, OpenMode mode,
                                    SystemError* error) = 0;
    // Whether a run could write `name` in `directory` as it would: open it for writing, make
    // `temporary` beside it (no directory of that name in the way) and fill it with `bytes`
    // (the file system has that much free); and whether a stale `temporary` is there, which the
    // run would remove. Opens and changes nothing.
    virtual WriteProbe CanWrite(DirectoryHandle directory, std::string_view name,
                                std::string_view temporary, std::int64_t bytes) = 0;
    // Creates a new file for reading and writing, only where nothing of that name exists: an
    // existing file or link of the name, a dangling link included, is never followed, reused or
    // cut, and refuses the create with kNameTaken. Where the system sets them at the create
    // (Windows: the access-control list set on `model` itself, its encryption and compression),
    // the new file takes them from `model`, the open target (kNoFile: none), so that it never
    // exists with broader rights than the target. kNoFile on failure.
    virtual FileHandle CreateNew(DirectoryHandle directory, std::string_view name, FileHandle model,
                                 SystemError* error) = 0;

    // Reads or writes up to `size` bytes at the current position.
    virtual Transfer Read(FileHandle file, void* buffer, std::uint32_t size) = 0;
    virtual Transfer Write(FileHandle file, const void* buffer, std::uint32_t size) = 0;
    // Reads up to `size` bytes at byte `position`, in one call where the system allows. The
    // current position afterwards is unspecified.
    virtual Transfer ReadAt(FileHandle file, std::int64_t position, void* buffer,
                            std::uint32_t size) = 0;
    // Reads the bytes from `position` on into `parts` in turn, as one read of their total size,
    // in as few calls as the system allows. The current position afterwards is unspecified.
    virtual Transfer ReadScattered(FileHandle file, std::int64_t position, const ReadPart* parts,
                                   std::size_t count) = 0;
    // Copies `size` bytes from `source` at `sourcePosition` to the current position of `target`,
    // inside the system where it can. Returns kCopyUnsupported in `error` (with nothing moved)
    // when the system cannot do it for this pair; the caller then copies through a buffer.
    virtual Transfer CopyRange(FileHandle source, std::int64_t sourcePosition, FileHandle target,
                               std::uint32_t size) = 0;
    // Appends the `count` ranges, in turn, at the current position of `target`, their bytes moved
    // inside the system and never read into this process, where it can: then a short range far
    // from any other costs no read of its own. `moved` counts the bytes that reached `target`, in
    // order. kCopyUnsupported in `error` means the system cannot do it here: the caller copies
    // the bytes from `moved` on itself.
    virtual Transfer CopyRanges(const FileRange* ranges, std::size_t count, FileHandle target) = 0;
    // Positions the file at a signed 32-bit byte position from its start. A negative position
    // fails with the system's own error; a position beyond the end succeeds.
    virtual SystemError Seek(FileHandle file, std::int32_t position) = 0;
    virtual SystemError Size(FileHandle file, std::int64_t* size) = 0;
    // Forces the file's content to the disk.
    virtual SystemError Flush(FileHandle file) = 0;
    virtual SystemError Close(FileHandle file) = 0;

    // Gives `file` what the system keeps on the open file `model` and lets a process carry over:
    // on POSIX its permission bits and, where the process may set them, its owner and group; on
    // Windows, as far as the file system takes them, its attributes and creation time.
    virtual SystemError KeepAttributes(FileHandle model, FileHandle file) = 0;
    // Gives `file` the last access and modification times of `model`, so that a copy of it
    // shows the same age.
    virtual SystemError KeepTimes(FileHandle model, FileHandle file) = 0;
    // What `name` in `directory` is now (Nothing where there is no such name).
    virtual SystemError KindOf(DirectoryHandle directory, std::string_view name,
                               NameKind* kind) = 0;
    // Gives the open file `file` one more name, `name` in `directory`: the same file, not a copy.
    // Only where nothing of that name exists (kNameTaken); kLinkUnsupported where the file
    // system or the system gives a file no second name, or not this one (the caller copies).
    virtual SystemError LinkFile(FileHandle file, DirectoryHandle directory,
                                 std::string_view name) = 0;
    // 0 when `name` in `directory` is still the open file `file` (not a link to it);
    // kNameMoved when it is another file or a link now, or the system's code when it is gone.
    virtual SystemError StillNames(DirectoryHandle directory, std::string_view name,
                                   FileHandle file) = 0;
    // Puts the new file `file` (open and flushed, named `replacement` in `directory`) in place of
    // `target` there in one atomic step, durable once it returns 0. `file` is closed on every
    // path; refused before the rename, the new file is removed first, as Discard removes it. A
    // close that fails before the rename refuses it with the close's error. `stage` tells how far
    // it came: on an error after the rename, the step that failed.
    virtual SystemError Replace(DirectoryHandle directory, FileHandle file,
                                std::string_view replacement, std::string_view target,
                                ReplaceStage* stage) = 0;
    // Removes the run's own new file `file`, named `name` in `directory`, and closes it: through
    // its handle where the system can (Windows), before the handle is closed, so that no name is
    // deleted after its handle has gone and a holder that shares delete cannot keep it; else by
    // its name in the held directory while it is still open (POSIX, where the run's lock keeps
    // other runs away). Returns the first error; the handle is closed whatever.
    virtual SystemError Discard(FileHandle file, DirectoryHandle directory,
                                std::string_view name) = 0;
    // Removes a file that this run created itself. A name that does not exist is not an error.
    virtual SystemError Remove(DirectoryHandle directory, std::string_view name) = 0;
    // Whether `bytes` more fit on the file system of `directory`: 0, ENOSPC (the system's code
    // for a full disk), or the reason it could not be asked. Where it cannot be asked, 0.
    virtual SystemError HasRoom(DirectoryHandle /*directory*/, std::int64_t /*bytes*/) { return 0; }
    // Whether the file system of `directory` can give a file a second name (FAT and exFAT
    // cannot): where not, a backup is a copy, whose bytes a dry run counts.
    virtual bool GivesSecondNames(DirectoryHandle /*directory*/) { return true; }
    // The names in `directory` (not "." and ".."), for a numbered backup's next number.
    // kUnsupported where the build keeps no backups (Windows: the window keeps none).
    virtual SystemError ListNames(DirectoryHandle /*directory*/,
                                  std::vector<std::string>* /*names*/) {
        return kUnsupported;
    }
    // Removes whatever a name left from before stands for, as a name: a link itself, never what
    // it points to; a read-only file too. Leaves nothing behind that could stop a later run. A
    // name that does not exist is not an error; a directory is not removed (kTemporaryIsDirectory).
    virtual SystemError RemoveStale(DirectoryHandle directory, std::string_view name) = 0;

    // Shows a modal message box and returns once it has been dismissed.
    virtual void ShowMessage(WindowHandle owner, std::string_view text, std::string_view caption,
                             std::uint32_t style) = 0;
    virtual void Pause(std::uint32_t milliseconds) = 0;
    // Ends the process with the exit code; never returns to the caller.
    [[noreturn]] virtual void EndProcess(std::uint32_t exitCode) = 0;
};

// The code CopyRange and CopyRanges report when the system cannot copy between these files.
inline constexpr SystemError kCopyUnsupported = 0xFFFFFFFFu;
// The code StillNames reports when the name now stands for another file than the open one.
inline constexpr SystemError kNameMoved = 0xFFFFFFFEu;
// The code Lock reports when another run holds the lock.
inline constexpr SystemError kRunInProgress = 0xFFFFFFFDu;
// The code OpenExisting reports for a name that is not a regular file.
inline constexpr SystemError kNotRegularFile = 0xFFFFFFFCu;
// The code a run reports when a directory has the name of its temporary file.
inline constexpr SystemError kTemporaryIsDirectory = 0xFFFFFFFBu;
// The code CreateNew reports when something of the name exists already.
inline constexpr SystemError kNameTaken = 0xFFFFFFFAu;
// The code LinkFile reports when the file cannot be given a second name.
inline constexpr SystemError kLinkUnsupported = 0xFFFFFFF9u;
// Lock: the lock is held through a descriptor that this process was started with (a wrapper
// such as flock(1) on the same directory): no wait can end while the run itself keeps it.
inline constexpr SystemError kLockedByCaller = 0xFFFFFFF8u;

// The platform in force: the real one of this build unless a test has installed another.
Platform& Os();
// Installs `platform` (nullptr restores the real one). Returns the one it replaces.
Platform* InstallPlatform(Platform* platform);
// The real implementation of this build.
Platform& NativePlatform();

}  // namespace quelvane

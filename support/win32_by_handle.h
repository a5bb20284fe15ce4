// Windows: renaming and deleting an open file through its handle (NtSetInformationFile, with
// every option the file system has), and reading the name a handle has now.
#pragma once

#include <windows.h>

#include <string>

#include "support/platform.h"
#include "support/rename_ways_win32.h"

namespace quelvane {

// What the name of the open file `file` now ends in, compared with `name`: whether it is `name`,
// another name, or not known (the system would not say).
enum class Named { Is, Other, Unknown };
Named NameOf(HANDLE file, const std::string& name);

// Renames `file` (opened with DELETE access) over `name` in `folder` (a handle, or null for the
// current folder's full path) the best way the system has, always through the handle: the
// POSIX-semantics rename (Windows 10 1607 on, NTFS), which replaces a name that others hold open
// with delete sharing (they keep the old file), ignoring a read-only name (1809 on); then the
// same without ignoring read-only; then the classic rename, which refuses a name held open and a
// read-only one. Each way is tried whatever refused the one before: file systems, filters and
// older systems answer a call or flag they lack with codes of their own. A refusal by a passing
// holder is retried for about 2 s. A refusal whose handle names `name` all the same (an SMB
// server that renamed, and whose answer was lost) is the rename done. Returns 0, or the first
// refusal that is about the files (else the last one).
SystemError RenameOver(HANDLE file, HANDLE folder, const std::string& name);

// Marks `file` (opened with DELETE access) for deletion through its handle: with POSIX
// semantics where the system has them (Windows 10 1709 on, NTFS), so that its name goes at once
// even while a scanner or an indexer holds it with delete sharing; else, on any refusal, the
// classic way, where the name goes when the last handle to it closes.
SystemError MarkForDeletion(HANDLE file);

// The folder of a run for a rename relative to it: the one the run holds, or for none the
// current directory, opened here. Where no handle to it can be had, none: a rename then names
// the full path (FullNtPath), never the invalid handle, which stands for the process itself.
class Folder {
  public:
    explicit Folder(DirectoryHandle held)
        : handle_(held != kCurrentDirectory ? reinterpret_cast<HANDLE>(held) : OpenFolder(".")),
          owned_(held == kCurrentDirectory) {}
    ~Folder() {
        if (owned_ && handle_ != INVALID_HANDLE_VALUE)
            ::CloseHandle(handle_);
    }
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;
    // Never INVALID_HANDLE_VALUE, which is the current process's own pseudo-handle.
    HANDLE Handle() const { return handle_ != INVALID_HANDLE_VALUE ? handle_ : nullptr; }

    // A folder handle that a rename can name things relative to, and that never stands in the
    // way of anything done to the folder meanwhile. Traverse is the right to reach what is in a
    // folder by name, which is all a relative rename asks of it: a drop folder that lets files
    // be added but not listed still gives it.
    static HANDLE OpenFolder(const char* path);

  private:
    HANDLE handle_;
    bool owned_;
};

}  // namespace quelvane

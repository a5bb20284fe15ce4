// The ways Windows renames a file through its handle, best first, and which one the last rename
// took: for the tests, which run under systems that have some of them and not others.
#pragma once

#include <cstdint>

namespace quelvane {

enum class RenameWay : int {
    PosixIgnoringReadOnly = 0,  // FileRenameInformationEx with POSIX semantics, read-only ignored
    Posix = 1,                  // the same without ignoring read-only (Windows 10 1607 to 1803)
    Classic = 2,                // FileRenameInformation, ReplaceIfExists
    None = 3,                   // no rename has succeeded yet
};

RenameWay LastRenameWay();
// Leaves out the ways before `way`, as a system without them would refuse them.
void StartRenamesAt(RenameWay way);
// For the tests, as file systems and servers answer: every way before the classic one refused
// with `code` (0: none); a rename that took place reported as refused with `code` (0: as it
// went), as an SMB server whose answer was lost; no handle to be had on a run's folder; the
// POSIX-semantics disposition refused with `code` (0: none).
void RefuseRenameWaysWith(std::uint32_t code);
void ReportDoneRenamesAs(std::uint32_t code);
void RefuseFolderHandles(bool refuse);
void RefuseExDispositionWith(std::uint32_t code);

}  // namespace quelvane

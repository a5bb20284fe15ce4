// The error stop: the one way a run ends on a failure that nothing handles.
//
// It shows the runtime-error box (no owner, caption "Error", no icon), then ends the process with
// the error number as exit code. Before the box it closes and removes the temporary file of a
// write in progress, so a stopped run leaves nothing behind.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "support/platform.h"

namespace quelvane {

enum ErrorNumber : std::uint32_t {
    kErrorShortRead = 100,    // a read delivered fewer bytes than asked for
    kErrorShortWrite = 101,   // a write wrote fewer bytes than asked for
    kErrorOutOfMemory = 203,  // memory could not be allocated
    kErrorUnhandled = 217,    // any other failure that nothing handles
};

// The box text: "Runtime error NNN at XXXXXXXX". The number is right-aligned so that its last
// digit is the 17th character; a number of more than four digits cannot fit in front of that
// place, so it is written in full after one blank and the text grows. The location is upper-case
// hexadecimal, right-aligned over eight zeros.
std::string FormatRuntimeError(std::uint32_t number, std::uint32_t location);

// Shows the runtime-error box and ends the process with `number` as exit code.
[[noreturn]] void ErrorStop(std::uint32_t number, std::uint32_t location);

// What a stop about to happen is about, in words that name the file and the place ("patchdata.mul:
// entry 3 (FileId 1, BlockId 2): its block ends past the end of the file ..."), for a front end
// that says more than the box (the box itself stays as it is). Empty when there is nothing more.
void SetStopDetail(std::string detail);
const std::string& StopDetail();

// True from the moment an error stop begins: no run may start while its box is up.
bool ErrorStopInProgress();

// A temporary file (`name` in `directory`) that the error stop closes and removes before its box,
// and a terminating signal removes before the process ends: one of the result, and one of a
// backup being made while the result waits for its rename.
enum class Temporary : std::size_t { Result = 0, Backup = 1 };
inline constexpr std::size_t kTemporaryKinds = 2;
void RemoveOnErrorStop(FileHandle file, DirectoryHandle directory, std::string_view name,
                       Temporary kind = Temporary::Result);
void ForgetRemoveOnErrorStop(Temporary kind = Temporary::Result);
// The file registered above of kind `index`, if any: safe to call from a signal handler.
bool PendingTemporaryFile(std::size_t index, DirectoryHandle* directory, const char** name);

// Ends the process at once with `exitCode`, without a box, after removing the temporary files
// as the error stop does: a run stopped at a safe point because the session is ending.
[[noreturn]] void EndWithoutBox(std::uint32_t exitCode);

// Routes allocation failures (203) and unhandled exceptions (217) to the error stop.
void InstallErrorStopHandlers();

}  // namespace quelvane

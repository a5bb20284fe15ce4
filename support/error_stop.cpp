#include "support/error_stop.h"

#include <atomic>
#include <cstdlib>
#include <exception>
#include <new>

#include "support/boxes.h"
#include "support/locations.h"
#include "support/progress.h"

namespace quelvane {
namespace {

// Read by the window's thread while a run's thread may be stopping.
std::atomic<bool> stopping = false;
FileHandle pendingFile = kNoFile;
DirectoryHandle pendingDirectory = kCurrentDirectory;
std::string pendingName;

// Clears the flag again only if the end of the process unwinds instead of ending it, which only
// a test's platform does; the real platforms never return from EndProcess.
struct StopScope {
    StopScope() { stopping = true; }
    ~StopScope() { stopping = false; }
    StopScope(const StopScope&) = delete;
    StopScope& operator=(const StopScope&) = delete;
};

void RemovePendingFile() {
    if (pendingName.empty())
        return;
    // Errors are ignored: the process is ending with the error that brought us here.
    if (pendingFile != kNoFile)
        (void)Os().Close(pendingFile);
    (void)Os().Remove(pendingDirectory, pendingName);
    ForgetRemoveOnErrorStop();
}

}  // namespace

std::string FormatRuntimeError(std::uint32_t number, std::uint32_t location) {
    std::string text = "Runtime error     at 00000000";
    const std::string digits = std::to_string(number);
    if (digits.size() <= 4) {
        text.replace(17 - digits.size(), digits.size(), digits);
    } else {
        text = "Runtime error " + digits + " at 00000000";
    }
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (std::size_t place = text.size(); location != 0; location >>= 4) {
        text[--place] = kHex[location & 0xF];
    }
    return text;
}

void ErrorStop(std::uint32_t number, std::uint32_t location) {
    const StopScope scope;
    RemovePendingFile();
    ReportProgressEnded();
    ShowStopBox(FormatRuntimeError(number, location), number);
    Os().EndProcess(number);
    std::abort();  // not reached: ending the process does not return
}

bool ErrorStopInProgress() {
    return stopping;
}

void RemoveOnErrorStop(FileHandle file, DirectoryHandle directory, std::string_view name) {
    pendingFile = file;
    pendingDirectory = directory;
    pendingName = name;
}

void ForgetRemoveOnErrorStop() {
    pendingFile = kNoFile;
    pendingDirectory = kCurrentDirectory;
    pendingName.clear();
}

void InstallErrorStopHandlers() {
    std::set_new_handler([] { ErrorStop(kErrorOutOfMemory, kLocationAllocate); });
    std::set_terminate([] { ErrorStop(kErrorUnhandled, kLocationUnhandled); });
}

}  // namespace quelvane

#include "support/error_stop.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <csignal>
#include <cstdlib>
#include <exception>
#include <new>
#include <utility>

#include "support/boxes.h"
#include "support/locations.h"
#include "support/progress.h"

namespace quelvane {
namespace {

// Read by the window's thread while a run's thread may be stopping.
std::atomic<bool> stopping = false;

// The temporary file to remove, kept so that a signal handler can read it at any moment: the
// name in a fixed buffer, and a flag set only once the rest is in place.
struct Pending {
    volatile std::sig_atomic_t Set = 0;
    FileHandle File = kNoFile;
    DirectoryHandle Directory = kCurrentDirectory;
    std::array<char, 1024> Name{};
};
std::array<Pending, kTemporaryKinds> pending;
std::string stopDetail;

// Clears the flag again only if the end of the process unwinds instead of ending it, which only
// a test's platform does; the real platforms never return from EndProcess.
struct StopScope {
    StopScope() { stopping = true; }
    ~StopScope() { stopping = false; }
    StopScope(const StopScope&) = delete;
    StopScope& operator=(const StopScope&) = delete;
};

void RemovePendingFiles() {
    for (std::size_t index = 0; index < kTemporaryKinds; ++index) {
        Pending& file = pending[index];
        if (file.Set == 0)
            continue;
        // Errors are ignored: the process is ending with the error that brought us here. A file
        // still open goes through its handle.
        if (file.File != kNoFile)
            (void)Os().Discard(file.File, file.Directory, file.Name.data());
        else
            (void)Os().Remove(file.Directory, file.Name.data());
        ForgetRemoveOnErrorStop(static_cast<Temporary>(index));
    }
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
    RemovePendingFiles();
    ReportProgressEnded();
    ShowStopBox(FormatRuntimeError(number, location), number);
    Os().EndProcess(number);
    std::abort();  // not reached: ending the process does not return
}

void EndWithoutBox(std::uint32_t exitCode) {
    const StopScope scope;
    RemovePendingFiles();
    Os().EndProcess(exitCode);
    std::abort();  // not reached
}

void SetStopDetail(std::string detail) {
    stopDetail = std::move(detail);
}
const std::string& StopDetail() {
    return stopDetail;
}

bool ErrorStopInProgress() {
    return stopping;
}

void RemoveOnErrorStop(FileHandle file, DirectoryHandle directory, std::string_view name,
                       Temporary kind) {
    Pending& slot = pending[static_cast<std::size_t>(kind)];
    slot.Set = 0;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    slot.File = file;
    slot.Directory = directory;
    const std::size_t length = std::min(name.size(), slot.Name.size() - 1);
    std::copy_n(name.data(), length, slot.Name.data());
    slot.Name[length] = '\0';
    std::atomic_signal_fence(std::memory_order_seq_cst);
    slot.Set = length == name.size() ? 1 : 0;  // a name cut short is not this run's
}

void ForgetRemoveOnErrorStop(Temporary kind) {
    Pending& slot = pending[static_cast<std::size_t>(kind)];
    slot.Set = 0;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    slot.File = kNoFile;
    slot.Directory = kCurrentDirectory;
}

bool PendingTemporaryFile(std::size_t index, DirectoryHandle* directory, const char** name) {
    if (index >= kTemporaryKinds || pending[index].Set == 0)
        return false;
    *directory = pending[index].Directory;
    *name = pending[index].Name.data();
    return true;
}

void InstallErrorStopHandlers() {
    std::set_new_handler([] { ErrorStop(kErrorOutOfMemory, kLocationAllocate); });
    std::set_terminate([] { ErrorStop(kErrorUnhandled, kLocationUnhandled); });
}

}  // namespace quelvane

// Windows: calls retried while a passing holder refuses them (a virus scanner or an indexer holds a
// fresh file for a moment; a name whose delete is still under way refuses a create).
#pragma once

#include <windows.h>

#include <string>

#include "support/platform.h"

namespace quelvane {

inline SystemError LastError() {
    return static_cast<SystemError>(::GetLastError());
}

// Whether a refusal may come from a passing holder: a virus scanner or an indexer holding a fresh
// file for a moment, or a name whose delete is still under way.
inline bool Passing(SystemError error) {
    return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ||
           error == ERROR_LOCK_VIOLATION;
}

// Runs `attempt` (true on success) until it succeeds, or fails for a reason other than
// `retryOn`, or about 2 s have gone by. Returns the last error, 0 on success.
template <typename Attempt, typename RetryOn>
SystemError Retried(Attempt attempt, RetryOn retryOn) {
    constexpr DWORD kRetryForMs = 2000, kStepMs = 50;
    const DWORD start = ::GetTickCount();
    for (;;) {
        if (attempt())
            return 0;
        const SystemError error = LastError();
        if (!retryOn(error) || ::GetTickCount() - start >= kRetryForMs)
            return error;
        ::Sleep(kStepMs);
    }
}

// CreateFileA, retried while refused as `retryOn` says.
template <typename RetryOn>
HANDLE RetriedCreate(const std::string& name, DWORD access, DWORD share, DWORD disposition,
                     DWORD flags, RetryOn retryOn, SystemError* error) {
    HANDLE handle = INVALID_HANDLE_VALUE;
    const SystemError failed = Retried(
        [&] {
            handle =
                ::CreateFileA(name.c_str(), access, share, nullptr, disposition, flags, nullptr);
            return handle != INVALID_HANDLE_VALUE;
        },
        retryOn);
    if (failed != 0 && error != nullptr)
        *error = failed;
    ::SetLastError(failed);
    return handle;
}

inline bool Sharing(SystemError error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

}  // namespace quelvane

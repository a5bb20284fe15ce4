// Windows: the lock that keeps runs on one folder apart, and what tells one file from another.
#pragma once

#include <windows.h>

#include "support/file_identity.h"
#include "support/platform.h"

namespace quelvane {

// What tells one file or folder from every other: FILE_ID_INFO where the volume gives one
// (Windows 8 and Server 2012 on: a 64-bit volume serial and a 128-bit file id, unique on ReFS
// too), else the volume serial and the 64-bit file index, else (both 0, as some NAS servers
// answer) its full path.
FileIdentity IdentityOf(HANDLE file);

// Takes, without waiting, a named mutex of the current folder's identity (LockName), so that
// every spelling of the folder's path meets the same one; it belongs to the calling thread, and
// Windows releases it when that thread or the process ends, however. Its name is the session's
// own (Local\\): a user of another session cannot make or hold it to refuse this one's runs,
// and runs of two sessions on one folder are kept apart by the target's own sharing (opened for
// writing, others may only read it: the second is "Error opening"). kRunInProgress while another
// run holds it; a name of this session that this user may not open is said as what it is
// (access denied), not as a run.
SystemError TakeRunLock(LockHandle* lock);
void ReleaseRunLock(LockHandle lock);

}  // namespace quelvane

// Windows has no terminating signals to hold: a logoff or shutdown waits for the run instead.
#include "support/commit_point.h"

namespace quelvane {

void HoldSignalsForCommit() {}
void ReleaseSignalsAfterCommit(bool) {}
bool InterruptedAfterCommit() {
    return false;
}

}  // namespace quelvane

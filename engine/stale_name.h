// A name the run makes for a file of its own, which an earlier run that was cut off may have left.
#pragma once

#include <string_view>

#include "support/boxes.h"
#include "support/platform.h"

namespace quelvane {

// Runs `make` (0, or the system's reason); when the name is taken, removes what has it as a
// stale name (a link goes, never what it points to; a directory refuses), says so, and runs
// `make` once more.
template <typename Make>
SystemError MadeAfterStale(DirectoryHandle directory, std::string_view name, Make make) {
    SystemError error = make();
    if (error == kNameTaken && (error = Os().RemoveStale(directory, name)) == 0) {
        ShowNotice(Notice::StaleRemoved, name);
        error = make();
    }
    return error;
}

}  // namespace quelvane

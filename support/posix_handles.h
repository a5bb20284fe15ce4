// How a POSIX file descriptor is carried in a FileHandle: shifted by one, so that descriptor 0
// is a handle like any other and kNoFile (0) stays free.
#pragma once

#include "support/platform.h"

namespace quelvane {

inline int Descriptor(FileHandle file) {
    return static_cast<int>(file) - 1;
}
inline FileHandle Handle(int descriptor) {
    return static_cast<FileHandle>(descriptor) + 1;
}

}  // namespace quelvane

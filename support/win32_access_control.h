// Windows: the access-control list that a new file takes from the file it replaces.
#pragma once

#include <windows.h>

#include <vector>

namespace quelvane {

// The access-control list of `model` when it is set on the file itself (its own entries, or
// protected from the folder's), as a self-relative descriptor for a create; empty when the list
// is only handed down by the folder, so that the new file gets the same from the folder, or
// cannot be read.
std::vector<unsigned char> OwnAccessControl(HANDLE model);

}  // namespace quelvane

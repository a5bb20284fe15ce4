// What tells one file or folder from another on Windows, and the name of the lock that keeps
// runs on one folder apart: plain data and text, so that the tests can check them anywhere.
#pragma once

#include <cstdint>
#include <string>

namespace quelvane {

// A file's identity as Windows gives it: FILE_ID_INFO's 64-bit volume serial and 128-bit id
// (all 0 where the system or volume has none), the older 32-bit volume serial and 64-bit file
// index (0 where none), and its final path (empty where none).
struct FileIdentity {
    std::uint64_t Volume = 0;
    unsigned char Id[16] = {};
    std::uint32_t OldVolume = 0;
    std::uint64_t Index = 0;
    std::string Path;
};

// The session-local name of the lock of the folder `identity` stands for: from the 128-bit id
// where there is one, else from the file index, else from the path (upper-cased, as Windows
// compares names); empty when none of them is known.
std::string LockName(const FileIdentity& identity);

// Whether two identities are of one file, by the best of the three that both have.
bool SameFile(const FileIdentity& one, const FileIdentity& other);

}  // namespace quelvane

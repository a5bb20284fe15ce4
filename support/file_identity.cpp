#include "support/file_identity.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

namespace quelvane {
namespace {

bool HasId(const FileIdentity& identity) {
    return std::any_of(std::begin(identity.Id), std::end(identity.Id),
                       [](unsigned char byte) { return byte != 0; });
}

std::string Hex(std::uint64_t value, int digits) {
    char text[17];
    std::snprintf(text, sizeof text, "%0*llX", digits, static_cast<unsigned long long>(value));
    return text;
}

// FNV-1a over the path's upper-cased bytes: a name's length is bounded, a path's is not.
std::uint64_t PathHash(const std::string& path) {
    std::uint64_t hash = 14695981039346656037ull;
    for (const char c : path) {
        hash ^= static_cast<unsigned char>(std::toupper(static_cast<unsigned char>(c)));
        hash *= 1099511628211ull;
    }
    return hash;
}

}  // namespace

std::string LockName(const FileIdentity& identity) {
    std::string name = "Local\\Quelvane-";
    if (HasId(identity)) {
        name += Hex(identity.Volume, 16) + "-";
        for (const unsigned char byte : identity.Id)
            name += Hex(byte, 2);
        return name;
    }
    if (identity.Index != 0)
        return name + "index-" + Hex(identity.OldVolume, 8) + "-" + Hex(identity.Index, 16);
    if (!identity.Path.empty())
        return name + "path-" + Hex(PathHash(identity.Path), 16);
    return "";
}

bool SameFile(const FileIdentity& one, const FileIdentity& other) {
    if (HasId(one) && HasId(other))
        return one.Volume == other.Volume && std::memcmp(one.Id, other.Id, sizeof one.Id) == 0;
    if (one.Index != 0 && other.Index != 0)
        return one.OldVolume == other.OldVolume && one.Index == other.Index;
    const auto upper = [](unsigned char c) { return std::toupper(c); };
    return !one.Path.empty() && one.Path.size() == other.Path.size() &&
           std::equal(one.Path.begin(), one.Path.end(), other.Path.begin(), [&](char a, char b) {
               return upper(static_cast<unsigned char>(a)) == upper(static_cast<unsigned char>(b));
           });
}

}  // namespace quelvane

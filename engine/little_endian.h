// The file format's numbers: little-endian, two's complement, whatever the host's byte order.
#pragma once

#include <cstdint>

namespace quelvane {

inline std::uint32_t ReadUint32(const unsigned char* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

inline std::int32_t ReadInt32(const unsigned char* bytes) {
    return static_cast<std::int32_t>(ReadUint32(bytes));
}

inline void WriteUint32(unsigned char* bytes, std::uint32_t value) {
    bytes[0] = static_cast<unsigned char>(value);
    bytes[1] = static_cast<unsigned char>(value >> 8);
    bytes[2] = static_cast<unsigned char>(value >> 16);
    bytes[3] = static_cast<unsigned char>(value >> 24);
}

inline void WriteInt32(unsigned char* bytes, std::int32_t value) {
    WriteUint32(bytes, static_cast<std::uint32_t>(value));
}

}  // namespace quelvane

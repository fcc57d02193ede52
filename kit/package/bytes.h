// Little-endian integers in the byte buffers of property sets and tables.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kit {

inline void AppendUint16(std::vector<std::uint8_t>& bytes, std::uint32_t value) {
    bytes.push_back(static_cast<std::uint8_t>(value & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>((value >> 8) & 0xFF));
}

inline void AppendUint32(std::vector<std::uint8_t>& bytes, std::uint32_t value) {
    AppendUint16(bytes, value & 0xFFFF);
    AppendUint16(bytes, value >> 16);
}

// Overwrites the four bytes at `at`.
inline void PutUint32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<std::uint8_t>((value >> (8 * i)) & 0xFF);
}

inline std::uint32_t Uint32At(const std::vector<std::uint8_t>& bytes, std::size_t at) {
    return std::uint32_t(bytes[at]) | std::uint32_t(bytes[at + 1]) << 8 |
           std::uint32_t(bytes[at + 2]) << 16 | std::uint32_t(bytes[at + 3]) << 24;
}

} // namespace kit

// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#pragma once
// The client's reply records: fixed-size byte buffers whose few fields this
// program reads at fixed offsets, little-endian, whatever the host's order.

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

using ServerInfoRecord = std::array<std::byte, 148>;
using CacheInfoRecord = std::array<std::byte, 236>;

namespace ServerInfoField {
/* Current server utilisation in percent, signed 32-bit. */
inline constexpr std::size_t Utilization = 24;
} // namespace ServerInfoField

namespace CacheInfoField {
/* Cumulative count of cache requests, 32-bit. */
inline constexpr std::size_t CacheRequests = 156;
/* Cumulative count of cache hits, 32-bit. */
inline constexpr std::size_t CacheHits = 160;
} // namespace CacheInfoField

/* Reads the little-endian 32-bit field at `offset`; the offset must leave 4 bytes. */
inline std::uint32_t ReadField32(std::span<const std::byte> record, std::size_t offset) {
    std::uint32_t value;
    std::memcpy(&value, record.subspan(offset, sizeof value).data(), sizeof value);
    if constexpr (std::endian::native == std::endian::big)
        value = __builtin_bswap32(value);
    return value;
}

/* Writes `value` little-endian at `offset`: the other direction, for the clients that fill records. */
inline void WriteField32(std::span<std::byte> record, std::size_t offset, std::uint32_t value) {
    if constexpr (std::endian::native == std::endian::big)
        value = __builtin_bswap32(value);
    std::memcpy(record.subspan(offset, sizeof value).data(), &value, sizeof value);
}

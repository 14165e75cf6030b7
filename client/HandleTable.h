// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#pragma once
// A fixed table of open handles, each standing for one `Slot`. A handle is its
// index + 1, so never 0, and never past the table: a stale or made-up number
// finds nothing. Every backend and the router keep their handles in one.

#include "ClientLibrary.h"

#include <array>
#include <cstddef>
#include <optional>

template <typename Slot, std::size_t Size>
class HandleTable {
public:
    static constexpr std::size_t Capacity = Size;

    /* Opens a handle for `slot`; empty when every handle is in use. */
    std::optional<ConnectionHandle> Open(Slot slot) {
        for (std::size_t i = 0; i < Size; ++i)
            if (!m_entries[i]) {
                m_entries[i] = std::move(slot);
                return ConnectionHandle(i + 1);
            }
        return std::nullopt;
    }
    /* The slot of an open handle, or null. */
    Slot* Find(ConnectionHandle handle) {
        if (handle < 1 || handle > Size || !m_entries[handle - 1])
            return nullptr;
        return &*m_entries[handle - 1];
    }
    /* Closes an open handle; false for one that is not. */
    bool Close(ConnectionHandle handle) {
        if (Find(handle) == nullptr)
            return false;
        m_entries[handle - 1].reset();
        return true;
    }
    bool Full() const {
        for (const auto& e : m_entries)
            if (!e)
                return false;
        return true;
    }

private:
    std::array<std::optional<Slot>, Size> m_entries{};
};

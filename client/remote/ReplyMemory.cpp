// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#include "ReplyMemory.h"

#include <algorithm>
#include <cstring>
#include <utility>

ReplyMemory::ReplyMemory(std::size_t poolBytes, std::size_t ownBytes, std::size_t ticketBytes)
    : m_pool(poolBytes), m_own(ownBytes), m_ticket(std::max(ticketBytes, ownBytes)) {}

ReplyMemory::Buffer::Buffer(Buffer&& other) noexcept
    : m_memory(std::exchange(other.m_memory, nullptr)), m_data(std::move(other.m_data)),
      m_size(std::exchange(other.m_size, 0)), m_capacity(std::exchange(other.m_capacity, 0)),
      m_charged(std::exchange(other.m_charged, 0)) {}

ReplyMemory::Buffer& ReplyMemory::Buffer::operator=(Buffer&& other) noexcept {
    if (this != &other) {
        Release();
        m_memory = std::exchange(other.m_memory, nullptr);
        m_data = std::move(other.m_data);
        m_size = std::exchange(other.m_size, 0);
        m_capacity = std::exchange(other.m_capacity, 0);
        m_charged = std::exchange(other.m_charged, 0);
    }
    return *this;
}

ReplyMemory::Append ReplyMemory::Buffer::Add(std::string_view bytes, std::size_t limit) {
    if (m_memory == nullptr || bytes.size() > limit - std::min(limit, m_size))
        return Append::Full;
    const std::size_t needed = m_size + bytes.size();
    if (needed > m_capacity) {
        ReplyMemory& memory = *m_memory;
        std::size_t grown = std::max({needed, 2 * m_capacity, memory.m_own});
        if (grown > memory.m_own)
            grown = std::max(grown, memory.m_ticket);
        grown = std::min(grown, std::max(limit, needed));
        const std::size_t charge = grown > memory.m_own ? grown - memory.m_own : 0;
        if (charge > m_charged && memory.m_used + (charge - m_charged) > memory.m_pool)
            return Append::Pause;
        char* moved = static_cast<char*>(std::realloc(m_data.get(), grown));
        if (moved == nullptr)
            return Append::Full;
        (void)m_data.release();
        m_data.reset(moved);
        m_capacity = grown;
        memory.m_used = memory.m_used - m_charged + charge;
        m_charged = charge;
    }
    if (!bytes.empty())
        std::memcpy(m_data.get() + m_size, bytes.data(), bytes.size());
    m_size = needed;
    return Append::Taken;
}

void ReplyMemory::Buffer::Clear(std::size_t keep) {
    m_size = 0;
    if (keep == 0 || m_capacity > keep)
        Release();
}

void ReplyMemory::Buffer::Release() {
    m_data.reset();
    m_size = 0;
    m_capacity = 0;
    if (m_memory != nullptr) {
        m_memory->m_used -= m_charged;
        ++m_memory->m_returns; // even a return of nothing: a cheap, certain wake-up
    }
    m_charged = 0;
}

// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#pragma once
// The memory that replies are read into, bounded over all of them. Each buffer
// holds a small share of its own; whatever it grows beyond that is taken from one
// pool, and goes back to it whenever the buffer is released, cleared of its excess
// or destroyed, so the bound cannot leak. Any return counts as a wake-up for a
// transfer that paused because the pool was spent. One thread only.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>

class ReplyMemory {
public:
    /* `poolBytes` over all buffers beyond their own `ownBytes` each; a buffer that passes its
       own share takes at least `ticketBytes` at once, so that a reply of up to that size
       never pauses half-way while holding part of the pool. */
    ReplyMemory(std::size_t poolBytes, std::size_t ownBytes, std::size_t ticketBytes);
    ReplyMemory(const ReplyMemory&) = delete;
    ReplyMemory& operator=(const ReplyMemory&) = delete;

    /* What the buffers hold beyond their own shares together: 0 when none holds more. */
    std::size_t Used() const { return m_used; }
    /* Counts the returns: a paused transfer tries again once it has moved. */
    std::uint64_t Returns() const { return m_returns; }

    enum class Append { Taken, Pause, Full };

    /* One reply's bytes. It grows with realloc, which moves a large block by remapping its
       pages instead of copying them, so a big reply never needs twice its size. */
    class Buffer {
    public:
        /* A buffer without memory: it takes nothing. */
        Buffer() = default;
        explicit Buffer(ReplyMemory& memory) : m_memory(&memory) {}
        Buffer(Buffer&& other) noexcept;
        Buffer& operator=(Buffer&& other) noexcept;
        ~Buffer() { Release(); }

        /* Appends `bytes`: Full past `limit` (keeping what it had), Pause when the pool cannot
           cover the growth now, else Taken. */
        Append Add(std::string_view bytes, std::size_t limit);
        std::string_view View() const { return {m_data.get(), m_size}; }
        std::size_t Capacity() const { return m_capacity; }
        /* The memory it takes from; null for one without. */
        ReplyMemory* Memory() const { return m_memory; }
        /* Empties it; with `keep` of 0, or a capacity beyond `keep`, it gives its memory back. */
        void Clear(std::size_t keep);
        /* Empties it and gives every byte back to the pool. */
        void Release();

    private:
        struct Free {
            void operator()(char* p) const { std::free(p); }
        };
        ReplyMemory* m_memory = nullptr;
        std::unique_ptr<char, Free> m_data;
        std::size_t m_size = 0;
        std::size_t m_capacity = 0;
        std::size_t m_charged = 0; // of the capacity, the part taken from the pool
    };

private:
    std::size_t m_pool;
    std::size_t m_own;
    std::size_t m_ticket;
    std::size_t m_used = 0;
    std::uint64_t m_returns = 0;
};

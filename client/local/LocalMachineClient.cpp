// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#include "LocalMachineClient.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

namespace {

/* The line of `text` that begins with `key` followed by a blank, without the key; empty if none. */
std::optional<std::string_view> findLine(std::string_view text, std::string_view key) {
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        const std::string_view line = text.substr(0, end);
        if (line.size() > key.size() && line.starts_with(key) && line[key.size()] == ' ')
            return line.substr(key.size());
        text.remove_prefix(std::min(end + 1, text.size()));
    }
    return std::nullopt;
}

/* Parses the next blank-separated unsigned number of `fields` and consumes it; empty if garbled. */
std::optional<std::uint64_t> takeNumber(std::string_view& fields) {
    const std::size_t start = fields.find_first_not_of(' ');
    if (start == std::string_view::npos)
        return std::nullopt;
    fields.remove_prefix(start);
    std::uint64_t value = 0;
    const auto [end, ec] = std::from_chars(fields.data(), fields.data() + fields.size(), value);
    if (ec != std::errc{} || (end != fields.data() + fields.size() && *end != ' '))
        return std::nullopt;
    fields.remove_prefix(std::size_t(end - fields.data()));
    return value;
}

/* The single number after `key` in a "key value" file such as vmstat. */
std::optional<std::uint64_t> findValue(std::string_view text, std::string_view key) {
    std::optional<std::string_view> fields = findLine(text, key);
    if (!fields)
        return std::nullopt;
    std::optional<std::uint64_t> value = takeNumber(*fields);
    if (!value || fields->find_first_not_of(' ') != std::string_view::npos)
        return std::nullopt;
    return value;
}

} // namespace

LocalMachineClient::LocalMachineClient(std::string procRoot)
    : m_statPath(procRoot + "/stat"), m_vmstatPath(procRoot + "/vmstat"),
      m_hostnamePath(std::move(procRoot) + "/sys/kernel/hostname") {}

ClientResult LocalMachineClient::ClientInit(void*, void*) {
    return 0;
}

ClientResult LocalMachineClient::GetPrimaryConnRef(ConnRef& ref) {
    ref = LocalRef;
    return 0;
}

ClientResult LocalMachineClient::ScanConnRefs(ScanIterator& iterator, ConnRef& ref) {
    if (iterator != 0)
        return NoMoreConnections;
    iterator = 1;
    ref = LocalRef;
    return 0;
}

ClientResult LocalMachineClient::GetConnRefInfo(ConnRef ref, std::uint32_t infoType,
                                                std::uint32_t bufferLength, unsigned char* buffer) {
    if (buffer == nullptr)
        bufferLength = 0;
    // On failure the caller still finds a valid (empty) text.
    if (bufferLength > 0)
        buffer[0] = '\0';
    if (ref != LocalRef)
        return UnknownConnRef;
    if (infoType != ConnInfoServerName)
        return UnknownInfoType;
    std::optional<std::string_view> name = readFile(m_hostnamePath);
    if (!name)
        return ProcUnreadable;
    while (name->ends_with('\n'))
        name->remove_suffix(1);
    if (bufferLength == 0)
        return 0;
    const std::size_t length = std::min<std::size_t>(name->size(), bufferLength - 1);
    std::memcpy(buffer, name->data(), length);
    buffer[length] = '\0';
    return 0;
}

ClientResult LocalMachineClient::NWCCOpenConnByRef(ConnRef ref, std::uint32_t, std::uint32_t,
                                                   ConnectionHandle& handle) {
    if (ref != LocalRef)
        return UnknownConnRef;
    if (m_handles.Full())
        return TooManyOpen;
    // Without a starting point the first utilisation could not be measured.
    const std::optional<CpuTimes> now = readCpuTimes();
    if (!now)
        return ProcUnreadable;
    handle = *m_handles.Open(HandleSlot{*now});
    return 0;
}

ClientResult LocalMachineClient::CloseConn(ConnectionHandle handle) {
    return m_handles.Close(handle) ? 0 : InvalidHandle;
}

ClientResult LocalMachineClient::GetServerInfoRecord(ConnectionHandle handle,
                                                     ServerInfoRecord& record) {
    record.fill(std::byte{0});
    HandleSlot* slot = m_handles.Find(handle);
    if (slot == nullptr)
        return InvalidHandle;
    const std::optional<CpuTimes> now = readCpuTimes();
    if (!now)
        return ProcUnreadable;
    const std::int32_t percent = BusyPercent(slot->since, *now);
    slot->since = *now;
    WriteField32(record, ServerInfoField::Utilization, std::uint32_t(percent));
    return 0;
}

ClientResult LocalMachineClient::GetCacheInfoRecord(ConnectionHandle handle,
                                                    CacheInfoRecord& record) {
    record.fill(std::byte{0});
    if (m_handles.Find(handle) == nullptr)
        return InvalidHandle;
    const std::optional<std::string_view> text = readFile(m_vmstatPath);
    if (!text)
        return ProcUnreadable;
    // Every fault counts as a request; a fault that did not need the disk counts as a hit.
    const std::optional<std::uint64_t> faults = findValue(*text, "pgfault");
    const std::optional<std::uint64_t> majorFaults = findValue(*text, "pgmajfault");
    // Major faults are a subset of all faults; anything else is not a sound reading.
    if (!faults || !majorFaults || *majorFaults > *faults)
        return ProcUnreadable;
    // The record's counters are 32-bit: they keep the low bits and wrap as the client's would.
    WriteField32(record, CacheInfoField::CacheRequests, std::uint32_t(*faults));
    WriteField32(record, CacheInfoField::CacheHits, std::uint32_t(*faults - *majorFaults));
    return 0;
}

std::optional<std::string_view> LocalMachineClient::readFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    // /proc hands out its text in pieces, so read until the end or a full buffer.
    std::size_t size = 0;
    bool failed = false;
    while (size < m_buffer.size()) {
        const ssize_t n = ::read(fd, m_buffer.data() + size, m_buffer.size() - size);
        if (n == 0)
            break;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            failed = true;
            break;
        }
        size += std::size_t(n);
    }
    bool truncated = false;
    if (!failed && size == m_buffer.size()) {
        char probe;
        ssize_t n;
        while ((n = ::read(fd, &probe, 1)) < 0 && errno == EINTR) {
        }
        truncated = n != 0;
    }
    ::close(fd);
    if (failed)
        return std::nullopt;
    std::string_view text(m_buffer.data(), size);
    if (truncated) {
        // A line cut at the end of the buffer would give a wrong number: keep whole lines only.
        const std::size_t lastNewline = text.rfind('\n');
        if (lastNewline == std::string_view::npos)
            return std::nullopt;
        text = text.substr(0, lastNewline + 1);
    }
    return text;
}

std::optional<CpuTimes> LocalMachineClient::readCpuTimes() {
    const std::optional<std::string_view> text = readFile(m_statPath);
    return text ? parseCpuLine(*text) : std::nullopt;
}

// The fields are user nice system idle iowait irq softirq steal guest guest_nice. Guest time is
// already part of user and nice, so it is left out; kernels before 2.6 give only the first four.
std::optional<CpuTimes>
LocalMachineClient::parseCpuLine(std::string_view stat) {
    constexpr int CountedFields = 8;
    constexpr int IdleField = 3;
    constexpr int IowaitField = 4;
    std::optional<std::string_view> fields = findLine(stat, "cpu");
    if (!fields)
        return std::nullopt;
    CpuTimes times;
    std::uint64_t idle = 0;
    int parsed = 0;
    for (; parsed < CountedFields && fields->find_first_not_of(' ') != std::string_view::npos;
         ++parsed) {
        const std::optional<std::uint64_t> value = takeNumber(*fields);
        if (!value || __builtin_add_overflow(times.total, *value, &times.total))
            return std::nullopt;
        if (parsed == IdleField || parsed == IowaitField)
            idle += *value; // cannot overflow: the total, which holds both, did not
    }
    if (parsed <= IdleField)
        return std::nullopt;
    times.busy = times.total - idle;
    return times;
}

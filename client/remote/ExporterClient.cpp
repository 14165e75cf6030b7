// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#include "ExporterClient.h"

#include "BusyShare.h"
#include "ScrapeThread.h"

#include <algorithm>
#include <cstring>
#include <numeric>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

std::string Seconds(std::chrono::milliseconds duration) {
    const auto tenths = (duration.count() + 50) / 100;
    std::string text = std::to_string(tenths / 10);
    if (tenths % 10 != 0) {
        text += '.';
        text += std::to_string(tenths % 10);
    }
    text += " s";
    return text;
}

} // namespace

ExporterClient::ExporterClient(std::vector<ConnectionEntry> servers, ExporterTiming timing,
                               std::ostream& errors)
    : m_servers(std::move(servers)), m_timing(timing), m_errors(errors),
      m_thread(std::make_unique<ScrapeThread>(m_servers, timing)), m_names(m_servers.size()),
      m_nameResults(m_servers.size(), NoAnswer) {}

ExporterClient::~ExporterClient() = default;

std::size_t ExporterClient::ServerCount() const {
    return m_servers.size();
}

void ExporterClient::ScanNames() {
    std::vector<std::size_t> all(m_servers.size());
    std::iota(all.begin(), all.end(), std::size_t(0));
    m_thread->Restart(all, false);
    m_thread->WaitForAnswers(all, Clock::now() + m_timing.scan);
    m_thread->EndScan(all);
    for (std::size_t server : all) {
        const ServerAnswer answer = m_thread->Answer(server);
        std::array<char, 256>& name = m_names[server];
        name.fill('\0');
        m_nameResults[server] = answer.answered ? answer.result : NoAnswer;
        std::string reason = answer.reason;
        if (!answer.answered)
            reason = "no answer in " + Seconds(m_timing.scan);
        else if (answer.result == 0 && answer.name.empty())
            reason = "the exporter gives no node name fit for a list";
        if (answer.answered && answer.result == 0)
            std::memcpy(name.data(), answer.name.data(), std::min(answer.name.size(), name.size() - 1));
        if (name[0] == '\0')
            m_errors << m_servers[server].url << ": " << reason << '\n';
    }
    m_errors.flush();
}

ClientResult ExporterClient::ServerName(std::size_t server, std::uint32_t bufferLength,
                                        unsigned char* buffer) {
    if (buffer == nullptr)
        bufferLength = 0;
    if (bufferLength > 0)
        buffer[0] = '\0';
    if (server >= m_servers.size())
        return UnknownServer;
    if (m_nameResults[server] != 0)
        return m_nameResults[server];
    if (bufferLength == 0)
        return 0;
    const std::array<char, 256>& name = m_names[server];
    const std::size_t length = std::min<std::size_t>(std::strlen(name.data()), bufferLength - 1);
    std::memcpy(buffer, name.data(), length);
    buffer[length] = '\0';
    return 0;
}

ClientResult ExporterClient::Open(std::size_t server, ConnectionHandle& handle) {
    if (server >= m_servers.size())
        return UnknownServer;
    auto slot = std::find_if(m_slots.begin(), m_slots.end(),
                             [](const HandleSlot& candidate) { return !candidate.open; });
    if (slot == m_slots.end())
        return TooManyOpen;

    // Another handle on the same server keeps its records; a first one starts from nothing.
    const std::size_t servers[] = {server};
    m_thread->Restart(servers, !m_thread->Watched(server));
    m_thread->Watch(server, true);
    m_thread->WaitForAnswers(servers, Clock::now() + m_timing.open);
    const ServerAnswer answer = m_thread->Answer(server);
    const ClientResult result = answer.answered ? answer.result : NoAnswer;
    if (result != 0) {
        m_thread->Watch(server, false);
        m_thread->EndScan(servers);
        return result;
    }
    m_thread->EndScan(servers); // it stays wanted as long as it is watched
    *slot = HandleSlot{true, false, server};
    handle = ConnectionHandle(slot - m_slots.begin()) + 1;
    return 0;
}

ClientResult ExporterClient::Close(ConnectionHandle handle) {
    HandleSlot* slot = openSlot(handle);
    if (slot == nullptr)
        return InvalidHandle;
    // The server's connection stays alive for the next open, and its thread stops scraping.
    slot->open = false;
    m_thread->Watch(slot->server, false);
    return 0;
}

ExporterClient::HandleSlot* ExporterClient::openSlot(ConnectionHandle handle) {
    if (handle < 1 || handle > ConnectionHandle(MaxHandles) || !m_slots[handle - 1].open)
        return nullptr;
    return &m_slots[handle - 1];
}

ClientResult ExporterClient::failed(HandleSlot& slot, ClientResult result) {
    if (!slot.reported) {
        // Once a handle, when it first fails: the window suspends its sampling then.
        slot.reported = true;
        const ServerAnswer answer = m_thread->Answer(slot.server);
        m_errors << m_servers[slot.server].url << ": ";
        if (result == NoAnswer)
            m_errors << "no good answer in " << Seconds(m_timing.stale)
                     << (answer.reason.empty() ? "" : "; last: ");
        m_errors << answer.reason << std::endl;
    }
    return result;
}

ClientResult ExporterClient::ServerInfo(ConnectionHandle handle, ServerInfoRecord& record) {
    record.fill(std::byte{0});
    HandleSlot* slot = openSlot(handle);
    if (slot == nullptr)
        return InvalidHandle;
    const ServerReading reading = m_thread->Reading(slot->server);
    if (reading.failure != 0)
        return failed(*slot, reading.failure);
    if (!reading.newest || Clock::now() - reading.newestAt > m_timing.stale)
        return failed(*slot, NoAnswer);
    const std::int32_t percent =
        reading.previous ? BusyPercent(reading.previous->cpu, reading.newest->cpu) : 0;
    WriteField32(record, ServerInfoField::Utilization, std::uint32_t(percent));
    return 0;
}

ClientResult ExporterClient::CacheInfo(ConnectionHandle handle, CacheInfoRecord& record) {
    record.fill(std::byte{0});
    HandleSlot* slot = openSlot(handle);
    if (slot == nullptr)
        return InvalidHandle;
    const ServerReading reading = m_thread->Reading(slot->server);
    if (reading.failure != 0)
        return failed(*slot, reading.failure);
    if (!reading.newest || Clock::now() - reading.newestAt > m_timing.stale)
        return failed(*slot, NoAnswer);
    // As the stand-in counts them: every fault a request, one that did not need the disk a hit.
    const ScrapeRecord& newest = *reading.newest;
    WriteField32(record, CacheInfoField::CacheRequests, std::uint32_t(newest.faults));
    WriteField32(record, CacheInfoField::CacheHits,
                 std::uint32_t(newest.faults - newest.majorFaults));
    return 0;
}

// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#include "FleetTransport.h"

#include "ExporterClient.h"
#include "PrometheusReply.h"
#include "ScrapeOptions.h"

namespace {

/* What the overview's replies may hold together beyond their own share, and the share; a
   growing reply takes a megabyte at a time. */
constexpr std::size_t PoolBytes = MaxApiReplyBytes;
constexpr std::size_t OwnBytes = 64 * 1024;
constexpr std::size_t TicketBytes = std::size_t(1) << 20;

} // namespace

std::string FleetFailure(CURLcode result, long status, std::string_view error,
                         std::chrono::milliseconds timeout) {
    switch (result) {
    case CURLE_OK:
        if (status == 401)
            return "HTTP 401: the password is refused";
        if (status == 403)
            return "HTTP 403: access is refused";
        return "HTTP " + std::to_string(status);
    case CURLE_COULDNT_CONNECT:
        return "down: connection refused";
    case CURLE_OPERATION_TIMEDOUT:
        return "no answer in " + InSeconds(timeout) + " s";
    case CURLE_COULDNT_RESOLVE_HOST:
        return "down: the name is not known";
    case CURLE_WRITE_ERROR:
    case CURLE_FILESIZE_EXCEEDED:
        return "bad answer: the reply is too long";
    default:
        return std::string(error.empty() ? curl_easy_strerror(result) : error);
    }
}

FleetTransport::FleetTransport(CurlLoop& loop)
    : m_loop(loop), m_memory(PoolBytes, OwnBytes, TicketBytes) {
    // An API request's timeouts, and a scrape's.
    m_timing.scan = m_timing.open = m_timing.stale = Timeout;
}

FleetGet FleetTransport::Get() {
    return [this](const ConnectionEntry& request, FleetDone done) {
        // The requests of a discovery line carry its job; an exporter's scrape has none.
        const bool api = !request.discoverJob.empty();
        std::string why;
        ScrapeHandle handle =
            MakeScrapeHandle(request, m_timing, why, api ? HandleUse::Api : HandleUse::Scrape);
        if (!handle.easy) {
            done(FleetFetch{false, why, {}});
            return;
        }
        const std::size_t limit = api ? MaxApiReplyBytes : ExporterClient::MaxReplyBytes;
        m_loop.Get(std::move(handle), m_memory, limit, [done = std::move(done)](FinishedTransfer& t) {
            FleetFetch fetch;
            fetch.ok = t.result == CURLE_OK && t.status == 200;
            if (!fetch.ok)
                fetch.failure = FleetFailure(t.result, t.status, t.error, Timeout);
            fetch.body = t.body.View();
            done(fetch);
        });
    };
}

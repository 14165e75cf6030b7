// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#include "ExporterClient.h"

#include "BusyShare.h"
#include "ExporterText.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

struct EasyCleanup {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct MultiCleanup {
    void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
struct UrlCleanup {
    void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
using EasyHandle = std::unique_ptr<CURL, EasyCleanup>;
using MultiHandle = std::unique_ptr<CURLM, MultiCleanup>;

// Only what the statistics need: the exporter then runs three collectors instead of dozens.
constexpr const char* Query = "collect[]=cpu&collect[]=vmstat&collect[]=uname";

constexpr long ReceiveBufferBytes = 4096;

/* libcurl's process-wide set-up, done once before the first handle. */
bool CurlReady() {
    static const bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    return ready;
}

/* The table's URL with the query appended; empty when libcurl cannot parse it. */
std::string ScrapeUrl(const std::string& base) {
    const std::unique_ptr<CURLU, UrlCleanup> url(curl_url());
    char* text = nullptr;
    if (!url || curl_url_set(url.get(), CURLUPART_URL, base.c_str(), 0) != CURLUE_OK ||
        curl_url_set(url.get(), CURLUPART_QUERY, Query, CURLU_APPENDQUERY) != CURLUE_OK ||
        curl_url_get(url.get(), CURLUPART_URL, &text, 0) != CURLUE_OK)
        return {};
    std::string result(text);
    curl_free(text);
    return result;
}

/* What one finished transfer means: 0 for a reply worth parsing, a code that holds until the
   server is opened again, or empty for a failure that the next scrape may not repeat
   (refused, reset, timed out), which only the missing answer in time turns into a code. */
std::optional<ClientResult> Outcome(CURLcode code, long status) {
    switch (code) {
    case CURLE_OK:
        if (status == 200)
            return 0;
        if (status == 401 || status == 403)
            return ExporterClient::Refused;
        return ExporterClient::BadAnswer;
    case CURLE_FILESIZE_EXCEEDED:
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_BAD_CONTENT_ENCODING:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
    case CURLE_WRITE_ERROR: // the reply passed the limit, which Receive refused
        return ExporterClient::BadAnswer;
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_USE_SSL_FAILED:
        return ExporterClient::TlsFailure;
    default:
        return std::nullopt;
    }
}

/* The counters of one good scrape. */
struct Scrape {
    CpuTimes cpu;
    std::uint64_t faults = 0;
    std::uint64_t majorFaults = 0;
};

} // namespace

struct ExporterClient::Server {
    EasyHandle easy;
    /* The reply being received; cleared, never freed, between scrapes. */
    std::string body;
    bool inFlight = false;
    /* The newest good scrape and the one before it. */
    std::optional<Scrape> newest;
    std::optional<Scrape> previous;
    Clock::time_point newestAt{};
    /* A wrong answer, kept until the server is opened again. */
    ClientResult failure = 0;
    /* Parsed into for every reply, so that no reply allocates. */
    ExporterReading reading;
    /* The name from the scan, and the code of the scan where it found none. */
    std::array<char, 256> name{};
    ClientResult nameResult = NoAnswer;
};

struct ExporterClient::Transfers {
    MultiHandle multi;
    std::vector<std::unique_ptr<Server>> servers;

    /* Moves every transfer on as far as it goes without waiting, and files those that ended. */
    void progress() {
        if (!multi)
            return;
        int running = 0;
        curl_multi_perform(multi.get(), &running);
        int queued = 0;
        while (CURLMsg* message = curl_multi_info_read(multi.get(), &queued)) {
            if (message->msg != CURLMSG_DONE)
                continue;
            Server* server = nullptr;
            curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &server);
            const CURLcode code = message->data.result;
            curl_multi_remove_handle(multi.get(), message->easy_handle);
            if (server != nullptr)
                finish(*server, code);
        }
    }

    void finish(Server& server, CURLcode code) {
        server.inFlight = false;
        long status = 0;
        curl_easy_getinfo(server.easy.get(), CURLINFO_RESPONSE_CODE, &status);
        const std::optional<ClientResult> outcome = Outcome(code, status);
        // A failure that may pass leaves the server as it was: the next scrape tries again.
        if (!outcome)
            return;
        if (*outcome != 0) {
            server.failure = *outcome;
            return;
        }
        ExporterReading& reading = server.reading; // the parse starts it afresh
        // Every family was asked for; one missing, or faults that do not add up, is no answer
        // to trust.
        if (!ParseExporterText(server.body, reading) || !reading.hasCpu || !reading.hasVmstat ||
            !reading.hasUname || reading.majorPageFaults > reading.pageFaults) {
            server.failure = BadAnswer;
            return;
        }
        server.previous = server.newest;
        server.newest = Scrape{{reading.cpuTotalMicros, reading.cpuBusyMicros},
                               reading.pageFaults, reading.majorPageFaults};
        server.newestAt = Clock::now();
    }

    /* Starts a scrape of the server and sends its request at once. */
    void start(Server& server) {
        if (!multi || !server.easy || server.inFlight)
            return;
        server.body.clear();
        if (curl_multi_add_handle(multi.get(), server.easy.get()) != CURLM_OK)
            return;
        server.inFlight = true;
        int running = 0;
        curl_multi_perform(multi.get(), &running);
    }

    /* Drops the server's scrape in flight, and with it its connection. */
    void cancel(Server& server) {
        if (server.inFlight)
            curl_multi_remove_handle(multi.get(), server.easy.get());
        server.inFlight = false;
    }

    /* Moves the transfers on until none of `waiting` is in flight or the deadline has
       passed; the one place where this client waits. */
    void waitFor(const std::vector<Server*>& waiting, Clock::time_point deadline) {
        auto busy = [&] {
            return std::any_of(waiting.begin(), waiting.end(),
                               [](const Server* server) { return server->inFlight; });
        };
        for (progress(); multi && busy(); progress()) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0)
                return;
            curl_multi_poll(multi.get(), nullptr, 0, int(std::min<long long>(left.count(), 100)),
                            nullptr);
        }
    }
};

namespace {

/* Keeps a reply's bytes up to the limit; past it, libcurl is told to stop the transfer. */
std::size_t Receive(char* data, std::size_t size, std::size_t count, void* userdata) {
    auto* body = static_cast<std::string*>(userdata);
    const std::size_t length = size * count;
    if (length > ExporterClient::MaxReplyBytes - body->size())
        return 0;
    body->append(data, length);
    return length;
}

} // namespace

ExporterClient::ExporterClient(std::vector<ConnectionEntry> servers, ExporterTiming timing)
    : m_timing(timing), m_transfers(std::make_unique<Transfers>()) {
    if (CurlReady())
        m_transfers->multi.reset(curl_multi_init());
    for (const ConnectionEntry& entry : servers) {
        auto server = std::make_unique<Server>();
        const std::string url = ScrapeUrl(entry.url);
        if (m_transfers->multi && !url.empty())
            server->easy.reset(curl_easy_init());
        if (CURL* easy = server->easy.get()) {
            // Set once: the handle is reused for every scrape, which keeps its connection alive.
            curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
            curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
            curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
            // One request a second needs no multiplexing: plain HTTP/1.1, also over TLS.
            curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_1));
            curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
            curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
            curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
            if (!entry.caFile.empty())
                curl_easy_setopt(easy, CURLOPT_CAINFO, entry.caFile.c_str());
            if (!entry.user.empty()) {
                curl_easy_setopt(easy, CURLOPT_HTTPAUTH, long(CURLAUTH_BASIC));
                curl_easy_setopt(easy, CURLOPT_USERNAME, entry.user.c_str());
                curl_easy_setopt(easy, CURLOPT_PASSWORD, entry.password.c_str());
            }
            curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(MaxReplyBytes));
            // libcurl reads at most a hundred buffers a call: small ones bound what a server
            // that floods us costs one tick, and still take a 64-CPU reply in one.
            curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, ReceiveBufferBytes);
            curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, Receive);
            curl_easy_setopt(easy, CURLOPT_WRITEDATA, &server->body);
            curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, long(timing.open.count()));
            curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, long(timing.stale.count()));
            curl_easy_setopt(easy, CURLOPT_USERAGENT, "ServerStats");
            curl_easy_setopt(easy, CURLOPT_PRIVATE, server.get());
        }
        server->body.reserve(64 * 1024);
        m_transfers->servers.push_back(std::move(server));
    }
}

ExporterClient::~ExporterClient() {
    // The easy handles must leave the multi handle before either is cleaned up.
    for (const auto& server : m_transfers->servers)
        m_transfers->cancel(*server);
}

std::size_t ExporterClient::ServerCount() const {
    return m_transfers->servers.size();
}

bool ExporterClient::OwnsHandle(ConnectionHandle handle) {
    return handle >= FirstHandle && handle < FirstHandle + ConnectionHandle(MaxHandles);
}

void ExporterClient::ScanNames() {
    const Clock::time_point deadline = Clock::now() + m_timing.scan;
    std::vector<Server*> all;
    for (const auto& server : m_transfers->servers) {
        m_transfers->cancel(*server);
        server->failure = 0;
        m_transfers->start(*server);
        all.push_back(server.get());
    }
    m_transfers->waitFor(all, deadline);
    for (Server* server : all) {
        m_transfers->cancel(*server);
        server->name.fill('\0');
        if (server->failure == 0 && server->newest) {
            server->name = server->reading.nodeName;
            server->name.back() = '\0';
            server->nameResult = 0;
        } else {
            server->nameResult = server->failure != 0 ? server->failure : NoAnswer;
        }
    }
}

ClientResult ExporterClient::ServerName(std::size_t server, std::uint32_t bufferLength,
                                        unsigned char* buffer) {
    if (buffer == nullptr)
        bufferLength = 0;
    if (bufferLength > 0)
        buffer[0] = '\0';
    if (server >= m_transfers->servers.size())
        return UnknownServer;
    const Server& s = *m_transfers->servers[server];
    if (s.nameResult != 0)
        return s.nameResult;
    if (bufferLength == 0)
        return 0;
    const std::size_t length = std::min<std::size_t>(std::strlen(s.name.data()), bufferLength - 1);
    std::memcpy(buffer, s.name.data(), length);
    buffer[length] = '\0';
    return 0;
}

ClientResult ExporterClient::Open(std::size_t server, ConnectionHandle& handle) {
    if (server >= m_transfers->servers.size())
        return UnknownServer;
    auto slot = std::find_if(m_slots.begin(), m_slots.end(),
                             [](const HandleSlot& candidate) { return !candidate.open; });
    if (slot == m_slots.end())
        return TooManyOpen;

    Server& s = *m_transfers->servers[server];
    m_transfers->cancel(s);
    s.newest.reset();
    s.previous.reset();
    s.failure = 0;
    m_transfers->start(s);
    m_transfers->waitFor({&s}, Clock::now() + m_timing.open);
    if (s.inFlight) {
        m_transfers->cancel(s);
        return NoAnswer;
    }
    if (s.failure != 0)
        return s.failure;
    if (!s.newest)
        return NoAnswer;

    // The next scrape starts now, so that the first tick already spans a whole interval.
    m_transfers->start(s);
    *slot = HandleSlot{true, server};
    handle = FirstHandle + ConnectionHandle(slot - m_slots.begin());
    return 0;
}

ClientResult ExporterClient::Close(ConnectionHandle handle) {
    if (!OwnsHandle(handle) || !m_slots[handle - FirstHandle].open)
        return InvalidHandle;
    // The server's connection stays alive for the next open.
    m_slots[handle - FirstHandle].open = false;
    return 0;
}

ExporterClient::Server* ExporterClient::readyServer(ConnectionHandle handle, ClientResult& result) {
    result = InvalidHandle;
    if (!OwnsHandle(handle) || !m_slots[handle - FirstHandle].open)
        return nullptr;
    m_transfers->progress();
    Server& server = *m_transfers->servers[m_slots[handle - FirstHandle].server];
    if (server.failure != 0)
        result = server.failure;
    else if (!server.newest || Clock::now() - server.newestAt > m_timing.stale)
        result = NoAnswer;
    else
        result = 0;
    return result == 0 ? &server : nullptr;
}

ClientResult ExporterClient::ServerInfo(ConnectionHandle handle, ServerInfoRecord& record) {
    record.fill(std::byte{0});
    ClientResult result = 0;
    Server* server = readyServer(handle, result);
    if (server == nullptr)
        return result;
    const std::int32_t percent =
        server->previous ? BusyPercent(server->previous->cpu, server->newest->cpu) : 0;
    WriteField32(record, ServerInfoField::Utilization, std::uint32_t(percent));
    m_transfers->start(*server);
    return 0;
}

ClientResult ExporterClient::CacheInfo(ConnectionHandle handle, CacheInfoRecord& record) {
    record.fill(std::byte{0});
    ClientResult result = 0;
    Server* server = readyServer(handle, result);
    if (server == nullptr)
        return result;
    // As the stand-in counts them: every fault a request, one that did not need the disk a hit.
    const Scrape& newest = *server->newest;
    WriteField32(record, CacheInfoField::CacheRequests, std::uint32_t(newest.faults));
    WriteField32(record, CacheInfoField::CacheHits,
                 std::uint32_t(newest.faults - newest.majorFaults));
    m_transfers->start(*server);
    return 0;
}

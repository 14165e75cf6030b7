// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#include "ScrapeThread.h"

#include "ExporterText.h"
#include "PrometheusReply.h"
#include "ScrapeOptions.h"
#include "ServerName.h"

#include <curl/curl.h>

#if defined(__linux__)
#include <pthread.h>
#endif

#include <algorithm>
#include <iterator>
#include <memory>
#include <string>
#include <utility>

namespace {

using Clock = std::chrono::steady_clock;

/* What a server's reply buffer may always hold, and what one may keep between scrapes. */
constexpr std::size_t OwnBytes = 16 * 1024;
constexpr std::size_t KeepBytes = 256 * 1024;
/* What all replies together may hold beyond their own 16 KiB: a flood from every server at
   once pauses at this rather than taking 4 MiB each. */
constexpr std::size_t PoolBytes = std::size_t(16) << 20;
/* The longest the thread sleeps without a reason: it also bounds how late a stop is seen
   should a wake-up ever be lost. */
constexpr int LongestPollMs = 1000;

/* The bytes that replies hold beyond their own share, over all servers. */
struct ReplyPool {
    std::size_t used = 0;
    bool freed = false; // something was given back since the paused transfers last tried
};

/* What an easy handle's CURLOPT_PRIVATE points to: a server's transfer or a fetch. */
struct Job {
    bool fetch = false;
    bool get = false;
};

/* One server's libcurl side, touched by the network thread only; made when the server is
   first scanned or opened, so that a long list costs nothing until it is used. */
struct Transfer : Job {
    ScrapeHandle handle;
    CURL* easy() const { return handle.easy.get(); }
    std::string body;
    std::size_t charged = 0; // of body's capacity, the part beyond OwnBytes
    ReplyPool* pool = nullptr;
    std::array<char, CURL_ERROR_SIZE> error{};
    /* The restart this transfer's scrapes belong to, and that of the one in flight. */
    std::uint64_t generation = 0;
    std::uint64_t flightGeneration = 0;
    bool inFlight = false;
    bool paused = false;
    /* Until the first good scrape of a restart, the next follows at once. */
    bool fresh = false;
    Clock::time_point nextStart{};
    ExporterReading reading; // parsed into for every reply
    /* Why the server cannot be scraped at all; empty when it can. */
    std::string unusable;
    std::size_t index = 0; // of the server

    void release() {
        std::string().swap(body);
        pool->used -= charged;
        charged = 0;
        pool->freed = true;
    }
};

/* Keeps a reply's bytes up to the limit; past it, libcurl is told to stop the transfer.
   While the pool is spent, the transfer pauses until another reply gives bytes back. */
std::size_t Receive(char* data, std::size_t size, std::size_t count, void* userdata) {
    Transfer& t = *static_cast<Transfer*>(userdata);
    const std::size_t length = size * count;
    if (length > ExporterClient::MaxReplyBytes - t.body.size())
        return 0;
    const std::size_t needed = t.body.size() + length;
    if (needed > t.body.capacity()) {
        const std::size_t grown =
            std::min(std::max(needed, 2 * t.body.capacity()), ExporterClient::MaxReplyBytes);
        const std::size_t charge = grown > OwnBytes ? grown - OwnBytes : 0;
        if (charge > t.charged && t.pool->used + (charge - t.charged) > PoolBytes) {
            t.paused = true;
            return CURL_WRITEFUNC_PAUSE;
        }
        t.body.reserve(grown);
        t.pool->used += charge - t.charged;
        t.charged = charge;
    }
    t.body.append(data, length);
    return length;
}

/* What a finished transfer means: 0 for a reply worth parsing, a code the server must answer
   for, or empty for a failure of the network that the next scrape may not repeat. */
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
    // A handshake cut short (CURLE_SSL_CONNECT_ERROR) is left to the next scrape, as any
    // dropped connection: an exporter restarting does that.
    case CURLE_PEER_FAILED_VERIFICATION:
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
    case CURLE_USE_SSL_FAILED:
        return ExporterClient::TlsFailure;
    default:
        return std::nullopt;
    }
}

/* libcurl's process-wide set-up, done once before the first handle. */
bool CurlReady() {
    static const bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    return ready;
}

/* One fetch of the API's: its handle and its reply as it arrives. */
struct FetchJob : Job {
    ScrapeHandle handle;
    ReplyBuffer body;
    std::array<char, CURL_ERROR_SIZE> error{};
    std::size_t id = 0;
    /* The bytes of every API reply of this scan together, which share MaxApiReplyBytes:
       two requests a line, both answered with a flood, hold no more than one could. */
    std::size_t* together = nullptr;
};

/* One GET of Get(): its handle, its reply as it arrives up to its limit, and who is told. */
struct GetJob : Job {
    ScrapeHandle handle;
    ReplyBuffer body;
    std::size_t limit = 0;
    std::array<char, CURL_ERROR_SIZE> error{};
    ScrapeThread::GetDone done;
};

std::size_t ReceiveGet(char* data, std::size_t size, std::size_t count, void* userdata) {
    GetJob& g = *static_cast<GetJob*>(userdata);
    const std::size_t length = size * count;
    if (length > g.limit - std::min(g.limit, g.body.View().size()) || !g.body.Append({data, length}))
        return 0;
    return length;
}

std::size_t ReceiveFetch(char* data, std::size_t size, std::size_t count, void* userdata) {
    FetchJob& f = *static_cast<FetchJob*>(userdata);
    const std::size_t length = size * count;
    if (length > MaxApiReplyBytes - *f.together || !f.body.Append({data, length}))
        return 0;
    *f.together += length;
    return length;
}

} // namespace

/* One server as both threads see it; guarded by the mutex. */
struct ScrapeThread::Shared {
    ServerReading reading;
    ServerAnswer answer;
    /* Asked-for restarts, and the newest one answered. */
    std::uint64_t generation = 0;
    std::uint64_t answeredGeneration = 0;
    int watchers = 0;
    bool scanning = false;
};

struct ScrapeThread::Network {
    std::unique_ptr<CURLM, MultiCleanup> multi;
    ExporterTiming timing;
    /* The servers, and their transfers where one was ever needed. */
    std::vector<ConnectionEntry> entries;
    std::vector<std::unique_ptr<Transfer>> transfers;
    std::vector<std::unique_ptr<FetchJob>> fetches; // in flight
    std::vector<std::unique_ptr<GetJob>> gets; // in flight
    std::size_t fetchedBytes = 0; // by the fetches since they were last dropped
    ReplyPool pool;

    /* The server's transfer, made on first use. */
    Transfer& transfer(std::size_t index) {
        std::unique_ptr<Transfer>& t = transfers[index];
        if (t)
            return *t;
        t = std::make_unique<Transfer>();
        t->index = index;
        t->pool = &pool;
        t->handle = MakeScrapeHandle(entries[index], timing, t->unusable, HandleUse::Scrape);
        if (CURL* easy = t->easy()) {
            curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, Receive);
            curl_easy_setopt(easy, CURLOPT_WRITEDATA, t.get());
            curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, t->error.data());
            curl_easy_setopt(easy, CURLOPT_PRIVATE, static_cast<void*>(static_cast<Job*>(t.get())));
        }
        return *t;
    }

    void dropFetches() {
        for (const auto& f : fetches)
            curl_multi_remove_handle(multi.get(), f->handle.easy.get());
        fetches.clear();
        fetchedBytes = 0;
    }

    ~Network() {
        // The easy handles must leave the multi handle before either is cleaned up.
        for (const auto& t : transfers)
            if (t && t->inFlight)
                curl_multi_remove_handle(multi.get(), t->easy());
        dropFetches();
        for (const auto& g : gets) {
            curl_multi_remove_handle(multi.get(), g->handle.easy.get());
            g->done(CURLE_ABORTED_BY_CALLBACK, 0, "the network thread stopped", {});
        }
    }
};

ScrapeThread::ScrapeThread(const std::vector<ConnectionEntry>& servers, const ExporterTiming& timing)
    : m_shared(servers.size()), m_network(std::make_unique<Network>()) {
    // Set up here, before the thread starts; from then on only the thread touches libcurl.
    const bool ready = CurlReady();
    if (ready)
        m_network->multi.reset(curl_multi_init());
    m_network->timing = timing;
    m_network->entries = servers;
    m_network->transfers.resize(servers.size());
    if (m_network->multi) {
        m_thread = std::thread([this, interval = timing.interval] { run(interval); });
    } else {
        for (Shared& s : m_shared)
            s.answer = {true, ExporterClient::BadAnswer, {}, "libcurl did not start"};
    }
}

ScrapeThread::~ScrapeThread() {
    {
        const std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    if (m_thread.joinable()) {
        curl_multi_wakeup(m_network->multi.get());
        m_thread.join();
    }
}

void ScrapeThread::AddServers(std::vector<ConnectionEntry> servers) {
    {
        const std::lock_guard lock(m_mutex);
        const bool running = m_thread.joinable();
        m_shared.resize(m_shared.size() + servers.size());
        if (!running)
            for (std::size_t i = m_shared.size() - servers.size(); i < m_shared.size(); ++i)
                m_shared[i].answer = {true, ExporterClient::BadAnswer, {}, "libcurl did not start"};
        std::move(servers.begin(), servers.end(), std::back_inserter(m_added));
    }
    if (m_thread.joinable())
        curl_multi_wakeup(m_network->multi.get());
}

std::size_t ScrapeThread::Fetch(ConnectionEntry request) {
    std::size_t id = 0;
    {
        const std::lock_guard lock(m_mutex);
        id = m_fetchReplies.size();
        m_fetchReplies.emplace_back();
        if (m_thread.joinable())
            m_fetchRequests.emplace_back(id, std::move(request));
        else
            m_fetchReplies[id] = {true, ExporterClient::NoAnswer, 0, "libcurl did not start", {}};
    }
    if (m_thread.joinable())
        curl_multi_wakeup(m_network->multi.get());
    return id;
}

void ScrapeThread::WaitForFetches(Clock::time_point deadline) {
    std::unique_lock lock(m_mutex);
    m_answered.wait_until(lock, deadline, [&] {
        return std::all_of(m_fetchReplies.begin(), m_fetchReplies.end(),
                           [](const FetchReply& r) { return r.done; });
    });
}

FetchReply ScrapeThread::TakeFetch(std::size_t id) {
    const std::lock_guard lock(m_mutex);
    return std::move(m_fetchReplies[id]);
}

void ScrapeThread::DropFetches() {
    {
        const std::lock_guard lock(m_mutex);
        m_fetchRequests.clear();
        m_dropFetches = true;
    }
    if (m_thread.joinable())
        curl_multi_wakeup(m_network->multi.get());
}

void ScrapeThread::Get(ScrapeHandle handle, std::size_t limit, GetDone done) {
    if (!m_thread.joinable()) {
        done(CURLE_FAILED_INIT, 0, "libcurl did not start", {});
        return;
    }
    {
        const std::lock_guard lock(m_mutex);
        m_gets.emplace_back(std::move(handle), limit, std::move(done));
    }
    curl_multi_wakeup(m_network->multi.get());
}

void ScrapeThread::Restart(std::span<const std::size_t> servers, bool forget) {
    {
        const std::lock_guard lock(m_mutex);
        for (std::size_t server : servers) {
            Shared& s = m_shared[server];
            ++s.generation;
            s.answer.answered = false;
            s.reading.failure = 0;
            if (forget) {
                s.reading.newest.reset();
                s.reading.previous.reset();
            }
            s.scanning = true; // until EndScan, or until it answers while watched
        }
    }
    if (m_thread.joinable())
        curl_multi_wakeup(m_network->multi.get());
}

void ScrapeThread::Watch(std::size_t server, bool watch) {
    {
        const std::lock_guard lock(m_mutex);
        m_shared[server].watchers += watch ? 1 : -1;
    }
    if (m_thread.joinable())
        curl_multi_wakeup(m_network->multi.get());
}

bool ScrapeThread::Watched(std::size_t server) {
    const std::lock_guard lock(m_mutex);
    return m_shared[server].watchers > 0;
}

void ScrapeThread::EndScan(std::span<const std::size_t> servers) {
    {
        const std::lock_guard lock(m_mutex);
        for (std::size_t server : servers)
            m_shared[server].scanning = false;
    }
    if (m_thread.joinable())
        curl_multi_wakeup(m_network->multi.get());
}

void ScrapeThread::WaitForAnswers(std::span<const std::size_t> servers, Clock::time_point deadline) {
    std::unique_lock lock(m_mutex);
    m_answered.wait_until(lock, deadline, [&] {
        return std::all_of(servers.begin(), servers.end(),
                           [&](std::size_t server) { return m_shared[server].answer.answered; });
    });
}

ServerReading ScrapeThread::Reading(std::size_t server) {
    const std::lock_guard lock(m_mutex);
    return m_shared[server].reading;
}

ServerAnswer ScrapeThread::Answer(std::size_t server) {
    const std::lock_guard lock(m_mutex);
    return m_shared[server].answer;
}

namespace {

/* What the thread takes from the shared side on each turn. */
struct Wish {
    std::uint64_t generation = 0;
    bool wanted = false;  // watched or being scanned
    bool watched = false; // scraped every interval
};

/* The outcome of one finished transfer, ready to publish. */
struct Filed {
    std::optional<ClientResult> outcome; // as Outcome, after the parse
    ScrapeRecord record;
    std::string name;
    std::string reason;
};

/* Drops the transfer in flight, and with it its connection. */
void Cancel(CURLM* multi, Transfer& t) {
    if (t.inFlight)
        curl_multi_remove_handle(multi, t.easy());
    t.inFlight = false;
    t.paused = false;
    if (t.body.capacity() > KeepBytes)
        t.release();
}

/* Sends the next scrape; false when the server cannot be scraped. */
bool Start(CURLM* multi, Transfer& t, Clock::time_point now, std::chrono::milliseconds interval) {
    t.nextStart = now + interval;
    if (t.easy() == nullptr)
        return false;
    t.body.clear();
    t.error[0] = '\0';
    t.paused = false;
    if (curl_multi_add_handle(multi, t.easy()) == CURLM_OK) {
        t.inFlight = true;
        t.flightGeneration = t.generation;
    }
    return true;
}

/* Reads what a finished transfer brought, and gives back what its buffer need not keep. */
Filed File(Transfer& t, CURLcode code) {
    Filed filed;
    long status = 0;
    curl_easy_getinfo(t.easy(), CURLINFO_RESPONSE_CODE, &status);
    filed.outcome = Outcome(code, status);
    if (filed.outcome == 0) {
        ExporterReading& r = t.reading; // the parse starts it afresh
        // Every family was asked for; one missing, or faults that do not add up, is no answer
        // to trust.
        if (ParseExporterText(t.body, r) && r.hasCpu && r.hasVmstat && r.hasUname &&
            r.majorPageFaults <= r.pageFaults) {
            filed.record = {{r.cpuTotalMicros, r.cpuBusyMicros}, r.pageFaults, r.majorPageFaults};
            filed.name = ListableServerName(r.nodeName.data());
        } else {
            filed.outcome = ExporterClient::BadAnswer;
            filed.reason = "the reply lacks the CPU, vmstat or uname metrics, or is malformed";
        }
    } else if (code == CURLE_OK) {
        filed.reason = "HTTP " + std::to_string(status);
    } else if (code == CURLE_WRITE_ERROR || code == CURLE_FILESIZE_EXCEEDED) {
        filed.reason = "the reply is longer than 4 MiB";
    } else {
        filed.reason = t.error[0] != '\0' ? t.error.data() : curl_easy_strerror(code);
    }
    // A failed or oversized reply gives its buffer back; a good one keeps a modest one.
    if (filed.outcome != 0 || t.body.capacity() > KeepBytes)
        t.release();
    else
        t.body.clear();
    return filed;
}

} // namespace

void ScrapeThread::run(std::chrono::milliseconds interval) {
#if defined(__linux__)
    // So that top -H and /proc/PID/task show which thread is the network's.
    pthread_setname_np(pthread_self(), "ServerStats net");
#endif
    Network& net = *m_network;
    CURLM* multi = net.multi.get();
    std::vector<Wish> wishes;
    std::vector<std::pair<std::size_t, ConnectionEntry>> requests;
    std::vector<std::tuple<ScrapeHandle, std::size_t, GetDone>> gets;

    // A server that cannot be scraped answers every restart at once with its reason.
    auto refuse = [&](const Transfer& t) {
        {
            const std::lock_guard lock(m_mutex);
            Shared& s = m_shared[t.index];
            s.reading.failure = ExporterClient::BadAnswer;
            s.answer = {true, ExporterClient::BadAnswer, {}, t.unusable};
        }
        m_answered.notify_all();
    };
    auto fetched = [&](std::size_t id, CURLcode code, long status, std::string error,
                       ReplyBuffer body) {
        const ClientResult failure =
            code == CURLE_OK ? 0 : Outcome(code, 0).value_or(ExporterClient::NoAnswer);
        if (code == CURLE_WRITE_ERROR || code == CURLE_FILESIZE_EXCEEDED)
            error = "the replies are over " + std::to_string(MaxApiReplyBytes >> 20) + " MiB";
        {
            const std::lock_guard lock(m_mutex);
            if (id < m_fetchReplies.size())
                m_fetchReplies[id] = {true, failure, status, std::move(error), std::move(body)};
        }
        m_answered.notify_all();
    };
    auto publish = [&](Transfer& t, Filed& filed) {
        const Clock::time_point now = Clock::now();
        {
            const std::lock_guard lock(m_mutex);
            Shared& s = m_shared[t.index];
            if (t.flightGeneration != s.generation)
                return; // a restart since made it moot
            ServerAnswer& a = s.answer;
            a.answered = true;
            if (filed.outcome == 0) {
                s.reading.previous = s.reading.newest;
                s.reading.newest = filed.record;
                s.reading.newestAt = now;
                s.reading.failure = 0;
                a.result = 0;
                a.name = std::move(filed.name);
                a.reason.clear();
                // The first good scrape is followed at once by the next, so that an opened
                // server has its first interval by the first tick.
                if (t.fresh)
                    t.nextStart = now;
                t.fresh = false;
            } else {
                if (filed.outcome)
                    s.reading.failure = *filed.outcome;
                a.result = filed.outcome.value_or(ExporterClient::NoAnswer);
                a.reason = std::move(filed.reason);
            }
        }
        m_answered.notify_all();
    };

    for (;;) {
        {
            const std::lock_guard lock(m_mutex);
            if (m_stop)
                break;
            for (ConnectionEntry& added : m_added) {
                net.entries.push_back(std::move(added));
                net.transfers.emplace_back();
            }
            m_added.clear();
            wishes.resize(m_shared.size());
            requests.swap(m_fetchRequests);
            gets.swap(m_gets);
            if (std::exchange(m_dropFetches, false))
                net.dropFetches();
            for (std::size_t i = 0; i < wishes.size(); ++i) {
                const Shared& s = m_shared[i];
                wishes[i] = {s.generation, s.watchers > 0 || s.scanning, s.watchers > 0};
            }
        }
        for (auto& [id, request] : requests) {
            auto f = std::make_unique<FetchJob>();
            f->fetch = true;
            f->id = id;
            f->together = &net.fetchedBytes;
            std::string why;
            f->handle = MakeScrapeHandle(request, net.timing, why, HandleUse::Api);
            CURL* easy = f->handle.easy.get();
            if (easy == nullptr) {
                fetched(id, CURLE_FAILED_INIT, 0, why, {});
                continue;
            }
            curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, ReceiveFetch);
            curl_easy_setopt(easy, CURLOPT_WRITEDATA, f.get());
            curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, f->error.data());
            curl_easy_setopt(easy, CURLOPT_PRIVATE, static_cast<void*>(static_cast<Job*>(f.get())));
            if (curl_multi_add_handle(multi, easy) == CURLM_OK)
                net.fetches.push_back(std::move(f));
            else
                fetched(id, CURLE_FAILED_INIT, 0, "libcurl refused the request", {});
        }
        requests.clear();
        for (auto& [handle, limit, done] : gets) {
            auto g = std::make_unique<GetJob>();
            g->get = true;
            g->handle = std::move(handle);
            g->limit = limit;
            g->done = std::move(done);
            CURL* easy = g->handle.easy.get();
            curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, ReceiveGet);
            curl_easy_setopt(easy, CURLOPT_WRITEDATA, g.get());
            curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, g->error.data());
            curl_easy_setopt(easy, CURLOPT_PRIVATE, static_cast<void*>(static_cast<Job*>(g.get())));
            if (curl_multi_add_handle(multi, easy) == CURLM_OK)
                net.gets.push_back(std::move(g));
            else
                g->done(CURLE_FAILED_INIT, 0, "libcurl refused the request", {});
        }
        gets.clear();
        const Clock::time_point now = Clock::now();
        Clock::time_point wake = now + std::chrono::milliseconds(LongestPollMs);
        for (std::size_t i = 0; i < wishes.size(); ++i) {
            const Wish& wish = wishes[i];
            if (!net.transfers[i] && wish.generation == 0)
                continue; // never asked for
            Transfer& t = net.transfer(i);
            if (wish.generation != t.generation) {
                Cancel(multi, t);
                t.generation = wish.generation;
                t.fresh = true;
                if (!Start(multi, t, now, interval))
                    refuse(t);
            } else if (!wish.wanted) {
                Cancel(multi, t);
            } else if (wish.watched && !t.inFlight && t.easy() != nullptr) {
                if (now >= t.nextStart)
                    Start(multi, t, now, interval);
                else
                    wake = std::min(wake, t.nextStart);
            }
        }
        // Bytes came back to the pool: the paused transfers try again.
        if (net.pool.freed) {
            net.pool.freed = false;
            for (const auto& t : net.transfers)
                if (t && t->paused) {
                    t->paused = false;
                    curl_easy_pause(t->easy(), CURLPAUSE_CONT);
                }
        }
        const auto wait =
            std::chrono::duration_cast<std::chrono::milliseconds>(wake - Clock::now()).count();
        curl_multi_poll(multi, nullptr, 0, int(std::clamp<long long>(wait, 0, LongestPollMs)),
                        nullptr);
        int running = 0;
        curl_multi_perform(multi, &running);
        int queued = 0;
        while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
            if (message->msg != CURLMSG_DONE)
                continue;
            void* job = nullptr;
            curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &job);
            const CURLcode code = message->data.result;
            CURL* easy = message->easy_handle;
            curl_multi_remove_handle(multi, easy); // ends the message, too
            if (job == nullptr)
                continue;
            if (static_cast<Job*>(job)->get) {
                const auto done = std::find_if(
                    net.gets.begin(), net.gets.end(),
                    [&](const auto& g) { return static_cast<Job*>(g.get()) == job; });
                if (done == net.gets.end())
                    continue;
                long status = 0;
                curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
                std::unique_ptr<GetJob> g = std::move(*done);
                net.gets.erase(done);
                const std::string error = g->error[0] != '\0' ? g->error.data() : curl_easy_strerror(code);
                g->done(code, status, error, g->body.View());
                continue;
            }
            if (static_cast<Job*>(job)->fetch) {
                const auto done = std::find_if(
                    net.fetches.begin(), net.fetches.end(),
                    [&](const auto& f) { return static_cast<Job*>(f.get()) == job; });
                if (done == net.fetches.end())
                    continue;
                long status = 0;
                curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
                FetchJob& f = **done;
                std::string error = f.error[0] != '\0' ? f.error.data() : curl_easy_strerror(code);
                fetched(f.id, code, status, std::move(error), std::move(f.body));
                net.fetches.erase(done);
                continue;
            }
            Transfer* t = static_cast<Transfer*>(static_cast<Job*>(job));
            t->inFlight = false;
            t->paused = false;
            Filed filed = File(*t, code);
            publish(*t, filed);
        }
    }
}

// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#include "CurlLoop.h"

#if defined(__linux__)
#include <pthread.h>
#endif

#include <algorithm>
#include <array>
#include <utility>

namespace {

/* The longest the thread sleeps without a reason: it also bounds how late a stop is seen
   should a wake-up ever be lost. */
constexpr int LongestPollMs = 1000;

} // namespace

struct CurlLoop::Transfer {
    explicit Transfer(std::uint64_t number) : id(number) {}
    std::uint64_t id;
    ScrapeHandle handle;
    Done done; // before the body: a one-off's callback may own the body's memory
    ReplyMemory::Buffer body;
    std::size_t limit = 0;
    std::array<char, CURL_ERROR_SIZE> error{};
    bool inFlight = false;
    bool oneOff = false;
    /* Paused for the pool; tries again once the memory's returns have moved on. */
    bool paused = false;
    std::uint64_t returnsAtPause = 0;

    static std::size_t Receive(char* data, std::size_t size, std::size_t count, void* self) {
        Transfer& t = *static_cast<Transfer*>(self);
        const std::size_t length = size * count;
        const ReplyMemory::Append added = t.body.Add({data, length}, t.limit);
        if (added == ReplyMemory::Append::Taken)
            return length;
        if (added == ReplyMemory::Append::Full)
            return 0; // libcurl ends it with CURLE_WRITE_ERROR
        t.paused = true;
        t.returnsAtPause = t.body.Memory()->Returns();
        return CURL_WRITEFUNC_PAUSE;
    }
};

CurlLoop::CurlLoop() {
    if (!enlist())
        return;
    m_multi = curl_multi_init();
    if (m_multi != nullptr)
        m_thread = std::thread([this] { run(); });
}

CurlLoop::~CurlLoop() {
    shutdown();
    delist();
}

void CurlLoop::shutdown() {
    {
        const std::lock_guard lock(m_mutex);
        m_stop = true;
        m_posted.clear();
    }
    if (m_thread.joinable()) {
        curl_multi_wakeup(m_multi);
        m_thread.join();
    }
    // The easy handles leave the multi handle before either is cleaned up.
    for (const auto& t : m_transfers)
        if (t && t->inFlight)
            curl_multi_remove_handle(m_multi, t->handle.easy.get());
    m_transfers.clear();
    m_turns.clear();
    if (m_multi != nullptr)
        curl_multi_cleanup(std::exchange(m_multi, nullptr));
}

void CurlLoop::Post(std::function<void()> task) {
    {
        const std::lock_guard lock(m_mutex);
        if (m_stop || !m_thread.joinable())
            return;
        m_posted.push_back(std::move(task));
    }
    curl_multi_wakeup(m_multi);
}

void CurlLoop::Get(ScrapeHandle handle, ReplyMemory& memory, std::size_t limit, Done done) {
    auto shared = std::make_shared<ScrapeHandle>(std::move(handle)); // a task is copyable
    Post([this, shared, &memory, limit, done = std::move(done)] {
        const std::uint64_t id = Adopt(std::move(*shared));
        m_transfers[id - 1]->oneOff = true;
        if (Start(id, ReplyMemory::Buffer(memory), limit, done))
            return;
        Forget(id);
        FinishedTransfer failed{id, CURLE_FAILED_INIT, 0, "libcurl refused the request", {}};
        done(failed);
    });
}

std::uint64_t CurlLoop::Adopt(ScrapeHandle handle) {
    auto free = std::find(m_transfers.begin(), m_transfers.end(), nullptr);
    if (free == m_transfers.end())
        free = m_transfers.insert(free, nullptr);
    auto t = std::make_unique<Transfer>(std::uint64_t(free - m_transfers.begin()) + 1);
    t->handle = std::move(handle);
    if (CURL* easy = t->handle.easy.get()) {
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Transfer::Receive);
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, t.get());
        curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, t->error.data());
        curl_easy_setopt(easy, CURLOPT_PRIVATE, static_cast<void*>(t.get()));
    }
    *free = std::move(t);
    return (*free)->id;
}

bool CurlLoop::Start(std::uint64_t id, ReplyMemory::Buffer body, std::size_t limit, Done done) {
    if (id == 0 || id > m_transfers.size() || !m_transfers[id - 1])
        return false;
    Transfer& t = *m_transfers[id - 1];
    Cancel(id);
    if (t.handle.easy == nullptr)
        return false;
    t.body = std::move(body);
    t.body.Clear(~std::size_t(0)); // a kept buffer starts empty, keeping its memory
    t.limit = limit;
    t.done = std::move(done);
    t.error[0] = '\0';
    if (curl_multi_add_handle(m_multi, t.handle.easy.get()) != CURLM_OK)
        return false;
    t.inFlight = true;
    return true;
}

void CurlLoop::Cancel(std::uint64_t id) {
    if (id == 0 || id > m_transfers.size() || !m_transfers[id - 1])
        return;
    Transfer& t = *m_transfers[id - 1];
    if (t.inFlight)
        curl_multi_remove_handle(m_multi, t.handle.easy.get());
    t.inFlight = false;
    t.paused = false;
    t.body.Release();
    t.done = nullptr; // after the body, whose memory it may own
}

void CurlLoop::Forget(std::uint64_t id) {
    Cancel(id);
    if (id != 0 && id <= m_transfers.size())
        m_transfers[id - 1].reset();
}

void CurlLoop::finish(CURL* easy, CURLcode code) {
    void* self = nullptr;
    curl_easy_getinfo(easy, CURLINFO_PRIVATE, &self);
    curl_multi_remove_handle(m_multi, easy); // ends the message, too
    if (self == nullptr)
        return;
    Transfer& t = *static_cast<Transfer*>(self);
    t.inFlight = t.paused = false;
    // The callback outlives the value: it may own the memory that the body returns to.
    Done callback = std::exchange(t.done, nullptr);
    FinishedTransfer done{t.id, code, 0, {}, std::move(t.body)};
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &done.status);
    if (code != CURLE_OK)
        done.error = t.error[0] != '\0' ? t.error.data() : curl_easy_strerror(code);
    if (t.oneOff)
        Forget(t.id);
    if (callback)
        callback(done);
}

void CurlLoop::run() {
#if defined(__linux__)
    // So that top -H and /proc/PID/task show which thread is the network's.
    pthread_setname_np(pthread_self(), "ServerStats net");
#endif
    std::vector<std::function<void()>> tasks;
    for (;;) {
        {
            const std::lock_guard lock(m_mutex);
            if (m_stop)
                break;
            tasks.swap(m_posted);
        }
        for (auto& task : tasks)
            task();
        tasks.clear();
        const Clock::time_point now = Clock::now();
        Clock::time_point wake = now + std::chrono::milliseconds(LongestPollMs);
        for (const Turn& turn : m_turns)
            wake = std::min(wake, turn(now));
        // A transfer paused for the pool tries again once anything went back to it.
        for (const auto& t : m_transfers)
            if (t && t->inFlight && t->paused &&
                t->body.Memory()->Returns() != t->returnsAtPause) {
                t->paused = false;
                curl_easy_pause(t->handle.easy.get(), CURLPAUSE_CONT);
            }
        const auto wait =
            std::chrono::duration_cast<std::chrono::milliseconds>(wake - Clock::now()).count();
        curl_multi_poll(m_multi, nullptr, 0, int(std::clamp<long long>(wait, 0, LongestPollMs)),
                        nullptr);
        int running = 0;
        curl_multi_perform(m_multi, &running);
        int queued = 0;
        while (CURLMsg* message = curl_multi_info_read(m_multi, &queued))
            if (message->msg == CURLMSG_DONE)
                finish(message->easy_handle, message->data.result);
    }
}

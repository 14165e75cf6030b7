// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

// Cost of one statistics request of the remote backend once a scrape has completed:
// libcurl takes in the finished reply, the text is parsed, the record filled and the
// next scrape sent. A server thread answers every request with a recorded reply, and
// each request is timed only after that reply has had time to arrive, on the CPU
// time of the calling thread.
#include "ExporterClient.h"

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace {

/* Answers every HTTP request on 127.0.0.1 with the same reply, over kept-alive connections. */
class RecordedServer {
public:
    explicit RecordedServer(const std::string& bodyFile) {
        std::ifstream file(bodyFile, std::ios::binary);
        std::ostringstream body;
        body << file.rdbuf();
        m_reply = "HTTP/1.1 200 OK\r\nContent-Type: text/plain; version=0.0.4\r\nContent-Length: " +
                  std::to_string(body.str().size()) + "\r\n\r\n" + body.str();
        m_listener = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (bind(m_listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            listen(m_listener, 4) != 0 ||
            getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            return;
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { serve(); });
    }
    ~RecordedServer() {
        shutdown(m_listener, SHUT_RDWR);
        close(m_listener);
        if (m_thread.joinable())
            m_thread.join();
    }
    RecordedServer(const RecordedServer&) = delete;
    RecordedServer& operator=(const RecordedServer&) = delete;

    bool Ready() const { return m_port != 0 && m_reply.size() > 100; }
    std::string Url() const { return "http://127.0.0.1:" + std::to_string(m_port) + "/metrics"; }
    long Replies() const { return m_replies; }

private:
    void serve() {
        for (;;) {
            const int connection = accept(m_listener, nullptr, nullptr);
            if (connection < 0)
                return;
            std::string request;
            char buffer[4096];
            for (;;) {
                const ssize_t n = read(connection, buffer, sizeof buffer);
                if (n <= 0)
                    break;
                request.append(buffer, std::size_t(n));
                // A request ends with an empty line; the backend sends no body.
                for (std::size_t end; (end = request.find("\r\n\r\n")) != std::string::npos;) {
                    request.erase(0, end + 4);
                    std::size_t sent = 0;
                    while (sent < m_reply.size()) {
                        const ssize_t w = write(connection, m_reply.data() + sent, m_reply.size() - sent);
                        if (w <= 0)
                            break;
                        sent += std::size_t(w);
                    }
                    ++m_replies;
                }
            }
            close(connection);
        }
    }

    std::string m_reply;
    int m_listener = -1;
    int m_port = 0;
    std::atomic<long> m_replies{0};
    std::thread m_thread;
};

double ThreadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

template <bool Cache> void StatisticsCall(benchmark::State& state, const char* file) {
    RecordedServer server(std::string(SERVERSTATS_TEST_DATA) + "/" + file);
    if (!server.Ready()) {
        state.SkipWithError("no recorded reply or no socket");
        return;
    }
    ExporterClient client({ConnectionEntry{server.Url(), {}, {}, {}}});
    ConnectionHandle handle = 0;
    if (client.Open(0, handle) != 0) {
        state.SkipWithError("cannot open the recorded server");
        return;
    }
    ServerInfoRecord info;
    CacheInfoRecord caching;
    const long before = server.Replies();
    for (auto _ : state) {
        std::this_thread::sleep_for(std::chrono::microseconds(500));
        // The calling thread's own CPU time: the server thread's work and the waits between
        // requests are not the client's cost.
        const double start = ThreadCpuSeconds();
        const ClientResult result =
            Cache ? client.CacheInfo(handle, caching) : client.ServerInfo(handle, info);
        state.SetIterationTime(ThreadCpuSeconds() - start);
        if (result != 0) {
            state.SkipWithError("request failed");
            break;
        }
    }
    // Near 1 when every timed request took in a completed reply, as the benchmark intends.
    state.counters["replies/call"] =
        double(server.Replies() - before) / double(std::max<benchmark::IterationCount>(state.iterations(), 1));
}

void ServerInfo2Cpu(benchmark::State& state) { StatisticsCall<false>(state, "exporter-2cpu.txt"); }
void ServerInfo64Cpu(benchmark::State& state) { StatisticsCall<false>(state, "exporter-64cpu.txt"); }
void CacheInfo2Cpu(benchmark::State& state) { StatisticsCall<true>(state, "exporter-2cpu.txt"); }
BENCHMARK(ServerInfo2Cpu)->Unit(benchmark::kMicrosecond)->UseManualTime()->Iterations(3000);
BENCHMARK(ServerInfo64Cpu)->Unit(benchmark::kMicrosecond)->UseManualTime()->Iterations(3000);
BENCHMARK(CacheInfo2Cpu)->Unit(benchmark::kMicrosecond)->UseManualTime()->Iterations(3000);

} // namespace

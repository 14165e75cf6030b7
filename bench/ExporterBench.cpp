// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

// Cost of one statistics request of the remote backend once a scrape has completed:
// the network thread has parsed the reply into a record, and the request copies it
// under a mutex and fills the reply record. A server thread answers every scrape
// with a recorded reply; the network thread scrapes it once a second meanwhile.
#include "ExporterClient.h"

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

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
                }
            }
            close(connection);
        }
    }

    std::string m_reply;
    int m_listener = -1;
    int m_port = 0;
    std::thread m_thread;
};

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
    for (auto _ : state) {
        const ClientResult result =
            Cache ? client.CacheInfo(handle, caching) : client.ServerInfo(handle, info);
        if (result != 0) {
            state.SkipWithError("request failed");
            break;
        }
        benchmark::DoNotOptimize(info);
        benchmark::DoNotOptimize(caching);
    }
}

void ServerInfo2Cpu(benchmark::State& state) { StatisticsCall<false>(state, "exporter-2cpu.txt"); }
void ServerInfo64Cpu(benchmark::State& state) { StatisticsCall<false>(state, "exporter-64cpu.txt"); }
void CacheInfo2Cpu(benchmark::State& state) { StatisticsCall<true>(state, "exporter-2cpu.txt"); }
BENCHMARK(ServerInfo2Cpu)->Unit(benchmark::kNanosecond);
BENCHMARK(ServerInfo64Cpu)->Unit(benchmark::kNanosecond);
BENCHMARK(CacheInfo2Cpu)->Unit(benchmark::kNanosecond);

} // namespace

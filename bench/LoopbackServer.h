// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#pragma once
// An HTTP server on 127.0.0.1 for the benchmarks: it answers every request with the reply
// its path picks (the first whose prefix matches, else the last), over kept-alive
// connections, each on a thread of its own so that a whole fleet can ask at once.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

class LoopbackServer {
public:
    /* `replies`: path prefix and body; served with status 200. */
    explicit LoopbackServer(std::vector<std::pair<std::string, std::string>> replies) {
        for (auto& [prefix, body] : replies)
            m_replies.emplace_back(std::move(prefix),
                                   "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: " +
                                       std::to_string(body.size()) + "\r\n\r\n" + body);
        m_listener = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (bind(m_listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            listen(m_listener, 1024) != 0 ||
            getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            return;
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { accept(); });
    }
    ~LoopbackServer() {
        shutdown(m_listener, SHUT_RDWR);
        close(m_listener);
        if (m_thread.joinable())
            m_thread.join();
        const std::lock_guard lock(m_mutex);
        for (const int connection : m_connections)
            shutdown(connection, SHUT_RDWR);
        for (std::thread& t : m_served)
            t.join();
        for (const int connection : m_connections)
            close(connection); // only now, so that no number is reused while a thread reads it
    }
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    bool Ready() const { return m_port != 0 && !m_replies.empty(); }
    std::string Base() const { return "http://127.0.0.1:" + std::to_string(m_port); }

private:
    void accept() {
        for (;;) {
            const int connection = ::accept(m_listener, nullptr, nullptr);
            if (connection < 0)
                return;
            const std::lock_guard lock(m_mutex);
            m_connections.push_back(connection);
            m_served.emplace_back([this, connection] { serve(connection); });
        }
    }
    void serve(int connection) {
        std::string request;
        char buffer[4096];
        for (;;) {
            const ssize_t n = read(connection, buffer, sizeof buffer);
            if (n <= 0)
                break;
            request.append(buffer, std::size_t(n));
            // A request ends with an empty line; the clients send no body.
            for (std::size_t end; (end = request.find("\r\n\r\n")) != std::string::npos;) {
                const std::string& reply = pick(request);
                request.erase(0, end + 4);
                for (std::size_t sent = 0; sent < reply.size();) {
                    const ssize_t w = write(connection, reply.data() + sent, reply.size() - sent);
                    if (w <= 0)
                        break;
                    sent += std::size_t(w);
                }
            }
        }
    }
    const std::string& pick(const std::string& request) const {
        const std::size_t path = request.find(' ') + 1;
        for (const auto& [prefix, reply] : m_replies)
            if (request.compare(path, prefix.size(), prefix) == 0)
                return reply;
        return m_replies.back().second;
    }

    std::vector<std::pair<std::string, std::string>> m_replies;
    int m_listener = -1;
    int m_port = 0;
    std::thread m_thread;
    std::mutex m_mutex;
    std::vector<int> m_connections;
    std::vector<std::thread> m_served;
};

// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

// The remote backend against exporters that behave as real networks do: why each
// left-out server is left out, names that would mislead, proxies in the environment,
// connections that drop, long replies and a flood from every server at once.

#include "ExporterClient.h"
#include "ScrapeOptions.h"
#include "TestExporters.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <sstream>
#include <thread>

namespace {

using namespace std::chrono_literals;

constexpr ExporterTiming FastTiming{1000ms, 1000ms, 1000ms};

ConnectionEntry Entry(const std::string& url, const std::string& user = {},
                      const std::string& password = {}, const QString& ca = {}) {
    return ConnectionEntry{url, user, password, ca.toStdString()};
}

std::string NameOf(ExporterClient& client, std::size_t server, ClientResult& result) {
    std::array<unsigned char, 256> name{};
    result = client.ServerName(server, name.size(), name.data());
    return reinterpret_cast<const char*>(name.data());
}

class Certified : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        certificates.Authority(QStringLiteral("ca"));
        certificates.Authority(QStringLiteral("other"));
        certificates.Server(QStringLiteral("server"), QStringLiteral("ca"), QStringLiteral("IP:127.0.0.1"));
    }
    QStringList Tls() const {
        return {QStringLiteral("--tls"), Pem("server"), certificates.Path(QStringLiteral("server"), ".key")};
    }
    QString Pem(const char* name) const { return certificates.Path(QLatin1String(name), ".pem"); }

    QTemporaryDir m_dir;
    TestCertificates certificates{m_dir.path()};
};

struct LeftOut {
    ConnectionEntry entry;
    ClientResult code;
    const char* words;
};

TEST_F(Certified, EachServerLeftOutGetsOneLineSayingWhy) {
    FakeExporter tls(Tls() + QStringList{QStringLiteral("--auth"), QStringLiteral("monitor:s3cret")});
    FakeExporter plain;
    plain.SetMode("404");
    const std::string closed = "http://127.0.0.1:" + std::to_string(FreePort()) + "/metrics";
    const LeftOut rows[] = {
        {Entry(tls.Url(), "monitor", "s3cret", Pem("other")), ExporterClient::TlsFailure,
         "SSL certificate problem"},
        {Entry(tls.Url(), "monitor", "guess", Pem("ca")), ExporterClient::Refused, "HTTP 401"},
        {Entry(tls.Url("localhost"), "monitor", "s3cret", Pem("ca")), ExporterClient::TlsFailure,
         "no alternative certificate subject name matches target host name 'localhost'"},
        {Entry(plain.Url()), ExporterClient::BadAnswer, "HTTP 404"},
        {Entry(closed), ExporterClient::NoAnswer, "Couldn't connect to server"},
    };
    std::vector<ConnectionEntry> entries{Entry(tls.Url(), "monitor", "s3cret", Pem("ca"))};
    for (const LeftOut& row : rows)
        entries.push_back(row.entry);
    std::ostringstream errors;
    ExporterClient client(entries, FastTiming, errors);
    client.ScanNames();
    std::printf("%s", errors.str().c_str());

    ClientResult result = 0;
    EXPECT_EQ(NameOf(client, 0, result), "fake-exporter");
    std::istringstream lines(errors.str());
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE(rows[i].words);
        EXPECT_EQ(NameOf(client, i + 1, result), "");
        EXPECT_EQ(result, rows[i].code);
        std::string line;
        ASSERT_TRUE(std::getline(lines, line));
        EXPECT_EQ(line.rfind(rows[i].entry.url + ": ", 0), 0u) << line;
        EXPECT_NE(line.find(rows[i].words), std::string::npos) << line;
    }
    std::string more;
    EXPECT_FALSE(std::getline(lines, more)) << more;
}

TEST(ServerNames, NamesThatWouldMisleadAreMadeFitForTheList) {
    FakeExporter fake;
    std::ostringstream errors;
    ExporterClient client({Entry(fake.Url())}, FastTiming, errors);
    const std::pair<const char*, const char*> names[] = {
        {R"j("fs1\nfs2 (prod)")j", "fs1 fs2 (prod)"},
        {R"j("evil\u202Egnp.exe")j", "evilgnp.exe"},
        {R"j("\u200B\u200B ")j", ""},
    };
    for (const auto& [json, shown] : names) {
        SCOPED_TRACE(json);
        fake.SetMode(std::string("name ") + json);
        client.ScanNames();
        ClientResult result = 1;
        EXPECT_EQ(NameOf(client, 0, result), shown);
        EXPECT_EQ(result, 0u);
    }
    EXPECT_NE(errors.str().find("no node name"), std::string::npos) << errors.str();
}

/* A listener on 127.0.0.2 that accepts and never answers: what a proxy would see. */
class SilentProxy {
public:
    SilentProxy() : m_socket(socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        inet_pton(AF_INET, "127.0.0.2", &address.sin_addr);
        socklen_t length = sizeof address;
        if (bind(m_socket, reinterpret_cast<sockaddr*>(&address), length) != 0 || listen(m_socket, 16) != 0 ||
            getsockname(m_socket, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            throw std::runtime_error("no listener on 127.0.0.2");
        fcntl(m_socket, F_SETFL, O_NONBLOCK);
        m_port = ntohs(address.sin_port);
    }
    ~SilentProxy() {
        for (int connection : m_connections)
            close(connection);
        close(m_socket);
    }
    SilentProxy(const SilentProxy&) = delete;
    SilentProxy& operator=(const SilentProxy&) = delete;

    std::string Url() const { return "http://127.0.0.2:" + std::to_string(m_port); }
    /* Everything received so far, from every connection; the count of connections. */
    std::string Received(int& connections) {
        for (int connection; (connection = accept(m_socket, nullptr, nullptr)) >= 0;)
            m_connections.push_back(connection);
        std::string text;
        for (int connection : m_connections) {
            char buffer[4096];
            const ssize_t n = recv(connection, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n > 0)
                text.append(buffer, std::size_t(n));
        }
        connections = int(m_connections.size());
        return text;
    }

private:
    int m_socket;
    int m_port = 0;
    std::vector<int> m_connections;
};

/* Sets the proxy variables for a test and clears them after it. */
class ProxyEnvironment {
public:
    explicit ProxyEnvironment(const std::string& proxy) {
        for (const char* name : Names)
            setenv(name, proxy.c_str(), 1);
        unsetenv("no_proxy");
        unsetenv("NO_PROXY");
    }
    ~ProxyEnvironment() {
        for (const char* name : Names)
            unsetenv(name);
    }
    ProxyEnvironment(const ProxyEnvironment&) = delete;
    ProxyEnvironment& operator=(const ProxyEnvironment&) = delete;

private:
    static constexpr const char* Names[] = {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy",
                                            "ALL_PROXY"};
};

TEST(Proxy, LoopbackIsKnownWithoutAResolver) {
    for (const char* host : {"127.0.0.1", "127.255.3.4", "[::1]", "localhost", "LocalHost.", "127.000.0.1"})
        EXPECT_TRUE(IsLoopbackHost(host)) << host;
    for (const char* host : {"128.0.0.1", "127.0.0.256", "127.0.0.1.", "127.0.0", "1270.0.0.1", "127.0.0.1.2",
                             "localhost.example.org", "localhost..", "[::2]", "[::ffff:127.0.0.1]", ""})
        EXPECT_FALSE(IsLoopbackHost(host)) << host;
}

TEST(Proxy, LoopbackAndCredentialsNeverGoThroughTheEnvironmentsProxy) {
    FakeExporter fake({QStringLiteral("--auth"), QStringLiteral("monitor:s3cret")});
    SilentProxy proxy;
    const ProxyEnvironment environment(proxy.Url());
    const std::string port = std::to_string(fake.Port());
    // The last two are no loopback: the proxy gets the one without credentials, the one
    // with them over plain http goes nowhere. A proxied name is the proxy's to look up.
    std::ostringstream errors;
    ExporterClient client({Entry(fake.Url(), "monitor", "s3cret"), Entry(fake.Url("localhost"), "monitor", "s3cret"),
                           Entry("http://exporter.test:" + port + "/metrics"),
                           Entry("http://exporter.test:" + port + "/metrics", "monitor", "s3cret")},
                          FastTiming, errors);
    client.ScanNames();
    ClientResult result = 1;
    // One name twice: each gets its place.
    EXPECT_EQ(NameOf(client, 0, result), "fake-exporter (127.0.0.1:" + port + ")");
    EXPECT_EQ(NameOf(client, 1, result), "fake-exporter (localhost:" + port + ")");
    EXPECT_EQ(NameOf(client, 3, result), "");
    EXPECT_EQ(result, ExporterClient::BadAnswer);
    EXPECT_NE(errors.str().find("credentials over plain http go only to a loopback address"), std::string::npos)
        << errors.str();

    int connections = 0;
    const std::string seen = proxy.Received(connections);
    EXPECT_EQ(connections, 1) << seen;
    EXPECT_NE(seen.find("GET http://exporter.test:" + port), std::string::npos) << seen;
    EXPECT_EQ(seen.find("127.0.0.1"), std::string::npos) << seen;
    EXPECT_EQ(seen.find("Authorization"), std::string::npos) << seen;
}

TEST_F(Certified, ATlsExporterThatClosesEveryFiveRepliesIsSampledForAMinute) {
    FakeExporter fake(Tls() + QStringList{QStringLiteral("--close-after"), QStringLiteral("5")});
    ExporterClient client({Entry(fake.Url(), {}, {}, Pem("ca"))});
    ConnectionHandle handle = 0;
    ASSERT_EQ(client.Open(0, handle), 0u);
    int good = 0;
    for (int tick = 0; tick < 60; ++tick) {
        std::this_thread::sleep_for(1s);
        ServerInfoRecord record;
        const ClientResult result = client.ServerInfo(handle, record);
        EXPECT_EQ(result, 0u) << "tick " << tick;
        good += result == 0 ? 1 : 0;
    }
    std::printf("%d of 60 ticks sampled over reconnecting TLS\n", good);
}

TEST(LongReplies, AValidReplyOfThreeMegabytesCompletesInTime) {
    FakeExporter fake;
    fake.SetMode("big");
    ExporterClient client({Entry(fake.Url())});
    ConnectionHandle handle = 0;
    ASSERT_EQ(client.Open(0, handle), 0u);
    // The utilisation needs the second scrape, a tick later; a busy machine may take longer.
    ServerInfoRecord record;
    for (const auto until = std::chrono::steady_clock::now() + 10s; std::chrono::steady_clock::now() < until;) {
        std::this_thread::sleep_for(100ms);
        ASSERT_EQ(client.ServerInfo(handle, record), 0u);
        if (ReadField32(record, ServerInfoField::Utilization) != 0)
            break;
    }
    EXPECT_EQ(ReadField32(record, ServerInfoField::Utilization), 37u);
}

TEST(LongReplies, AFloodFromTwoHundredFiftySixServersStaysWithinSixtyMegabytes) {
    FakeExporter fake;
    fake.SetMode("huge");
    std::ostringstream errors;
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const double before = double(usage.ru_maxrss) / 1024;
    ExporterClient client(std::vector<ConnectionEntry>(256, Entry(fake.Url())), ExporterTiming{}, errors);
    client.ScanNames();
    getrusage(RUSAGE_SELF, &usage);
    std::printf("peak resident set: %.1f MB before, %.1f MB after the flooded scan\n", before,
                double(usage.ru_maxrss) / 1024);
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a sanitizer's shadow memory is no measure of the program's";
#else
    EXPECT_LT(usage.ru_maxrss, 60 * 1024);
#endif
}

/* Waits, at most `limit`, until the reply memory is back at its floor; what it holds then. */
std::size_t PoolAfter(ExporterClient& client, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (client.ReplyPoolUsed() != 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(10ms);
    return client.ReplyPoolUsed();
}

TEST(LongReplies, AHundredServersOfTwoHundredKilobytesAreListedAndEachOpensAndClosesInTurn) {
    FakeExporter fake;
    fake.SetMode("wide");
    std::ostringstream errors;
    constexpr std::size_t Servers = 100;
    ExporterClient client(std::vector<ConnectionEntry>(Servers, Entry(fake.Url())), ExporterTiming{},
                          errors);
    client.ScanNames();
    ClientResult result = 0;
    for (std::size_t i = 0; i < Servers; ++i) {
        NameOf(client, i, result);
        ASSERT_EQ(result, 0u) << "server " << i << "\n" << errors.str();
    }
    // Nobody watches them now: the scan's buffers are all given back.
    EXPECT_EQ(PoolAfter(client, 2s), 0u);
    for (std::size_t i = 0; i < Servers; ++i) {
        SCOPED_TRACE(i);
        ConnectionHandle handle = 0;
        ASSERT_EQ(client.Open(i, handle), 0u) << errors.str();
        ServerInfoRecord info;
        CacheInfoRecord cache;
        EXPECT_EQ(client.ServerInfo(handle, info), 0u);
        EXPECT_EQ(client.CacheInfo(handle, cache), 0u);
        EXPECT_EQ(client.Close(handle), 0u);
        ASSERT_EQ(PoolAfter(client, 2s), 0u);
    }
}

} // namespace

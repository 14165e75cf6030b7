// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

// The client of this platform with Debian's real node exporter on this machine:
// the list shows this machine twice, once through the stand-in and once through the
// exporter, and under load both agree. Once plainly, once with TLS and basic auth.

#include "ExporterClient.h"
#include "LocalMachineClient.h"
#include "RoutingClient.h"
#include "TestExporters.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

namespace {

using namespace std::chrono_literals;

void WriteFile(const QString& path, const std::string& text, mode_t mode = 0644) {
    std::ofstream(path.toStdString()) << text;
    chmod(path.toLocal8Bit().constData(), mode);
}

std::string NameOf(RoutingClient& client, ConnRef ref) {
    std::array<unsigned char, 255> name{};
    EXPECT_EQ(client.GetConnRefInfo(ref, ConnInfoServerName, name.size(), name.data()), 0u);
    return reinterpret_cast<const char*>(name.data());
}

std::int32_t Utilisation(RoutingClient& client, ConnectionHandle handle) {
    ServerInfoRecord record;
    EXPECT_EQ(client.GetServerInfoRecord(handle, record), 0u);
    return std::int32_t(ReadField32(record, ServerInfoField::Utilization));
}

class RealExporter : public ::testing::Test {
protected:
    void SetUp() override {
        if (!QFile::exists(QString::fromLatin1(NodeExporter::Program)))
            GTEST_SKIP() << "prometheus-node-exporter is not installed";
        ASSERT_TRUE(m_dir.isValid());
    }

    QString Path(const char* name) const { return m_dir.filePath(QLatin1String(name)); }

    /* This machine, listed twice; under a load on one core both readings agree. */
    void ExpectThisMachineTwice(const std::string& tableLine) {
        WriteFile(Path("connections"), "# this machine through its exporter\n" + tableLine + "\n");
        std::ostringstream errors;
        RoutingClient client(Path("connections").toStdString(), "/proc", {}, errors);
        ASSERT_EQ(client.ClientInit(nullptr, nullptr), 0u);
        EXPECT_EQ(errors.str(), "");

        ScanIterator iterator = 0;
        ConnRef ref = 0;
        ASSERT_EQ(client.ScanConnRefs(iterator, ref), 0u);
        EXPECT_EQ(ref, 1u);
        ASSERT_EQ(client.ScanConnRefs(iterator, ref), 0u);
        EXPECT_EQ(ref, 2u);
        EXPECT_EQ(client.ScanConnRefs(iterator, ref), LocalMachineClient::NoMoreConnections);
        const std::string local = NameOf(client, 1);
        EXPECT_FALSE(local.empty());
        // The same name twice: the exporter's gets its host and port.
        const std::size_t host = tableLine.find("://") + 3;
        EXPECT_EQ(NameOf(client, 2),
                  local + " (" + tableLine.substr(host, tableLine.find_first_of("/ ", host) - host) + ")");

        ConnectionHandle localHandle = 999;
        ConnectionHandle remoteHandle = 999;
        ASSERT_EQ(client.NWCCOpenConnByRef(1, OpenStateDefault, 0, localHandle), 0u);
        ASSERT_EQ(client.NWCCOpenConnByRef(2, OpenStateDefault, 0, remoteHandle), 0u);
        EXPECT_NE(localHandle, remoteHandle);

        std::atomic<bool> stop{false};
        std::thread load([&] {
            volatile unsigned spin = 0;
            while (!stop)
                spin = spin + 1;
        });
        // The remote reading trails the local one by a tick: it spans the two scrapes before.
        // The first tick only settles both.
        constexpr int Ticks = 4;
        int localSum = 0;
        int remoteSum = 0;
        for (int tick = 0; tick <= Ticks + 1; ++tick) {
            std::this_thread::sleep_for(1s);
            const std::int32_t remote = Utilisation(client, remoteHandle);
            const std::int32_t here = Utilisation(client, localHandle);
            if (tick > 1)
                remoteSum += remote;
            if (tick > 0 && tick <= Ticks)
                localSum += here;
        }
        stop = true;
        load.join();
        std::printf("utilisation over %d s: stand-in %d %%, exporter %d %%\n", Ticks,
                    localSum / Ticks, remoteSum / Ticks);
        EXPECT_GE(localSum / Ticks, 40);
        EXPECT_NEAR(localSum / Ticks, remoteSum / Ticks, 8);

        CacheInfoRecord caching;
        EXPECT_EQ(client.GetCacheInfoRecord(remoteHandle, caching), 0u);
        EXPECT_NE(ReadField32(caching, CacheInfoField::CacheRequests), 0u);
        EXPECT_EQ(client.CloseConn(remoteHandle), 0u);
        EXPECT_EQ(client.CloseConn(localHandle), 0u);
    }

    QTemporaryDir m_dir;
};

TEST_F(RealExporter, Plain) {
    NodeExporter exporter;
    ExpectThisMachineTwice("http://127.0.0.1:" + std::to_string(exporter.Port()));
}

TEST_F(RealExporter, TlsAndBasicAuth) {
    // A throw-away authority and a certificate for 127.0.0.1 signed by it.
    const TestCertificates certificates(m_dir.path());
    certificates.Authority(QStringLiteral("ca"));
    certificates.Server(QStringLiteral("server"), QStringLiteral("ca"), QStringLiteral("IP:127.0.0.1"));
    // Debian 12's Python still has crypt, and its libcrypt does bcrypt; cost 4 keeps it quick.
    const std::string hash =
        RunProgram(QStringLiteral("/usr/bin/python3"),
            {QStringLiteral("-W"), QStringLiteral("ignore"), QStringLiteral("-c"),
             QStringLiteral("import crypt; print(crypt.crypt('s3cret', crypt.mksalt(crypt.METHOD_BLOWFISH, rounds=16)))")});
    ASSERT_EQ(hash.rfind("$2b$04$", 0), 0u) << hash;
    WriteFile(Path("web.yml"), "tls_server_config:\n  cert_file: " + Path("server.pem").toStdString() +
                                   "\n  key_file: " + Path("server.key").toStdString() +
                                   "\nbasic_auth_users:\n  monitor: " + hash);
    WriteFile(Path("secret"), "s3cret\n", 0600);
    WriteFile(Path("wrong"), "guess\n", 0600);

    NodeExporter exporter({QStringLiteral("--web.config.file=") + Path("web.yml")});
    const std::string url = "https://127.0.0.1:" + std::to_string(exporter.Port());
    const std::string ca = " ca=" + Path("ca.pem").toStdString();
    ExpectThisMachineTwice(url + "  user=monitor password-file=" + Path("secret").toStdString() + ca);

    // A wrong password is refused; without our authority the certificate is not trusted.
    ExporterClient client({ConnectionEntry{url + "/metrics", "monitor", "guess", Path("ca.pem").toStdString()},
                           ConnectionEntry{url + "/metrics", "monitor", "s3cret", {}},
                           ConnectionEntry{url + "/metrics", {}, {}, Path("ca.pem").toStdString()}});
    client.ScanNames();
    std::array<unsigned char, 255> name{};
    EXPECT_EQ(client.ServerName(0, name.size(), name.data()), ExporterClient::Refused);
    EXPECT_EQ(client.ServerName(1, name.size(), name.data()), ExporterClient::TlsFailure);
    EXPECT_EQ(client.ServerName(2, name.size(), name.data()), ExporterClient::Refused);
    ConnectionHandle handle = 999;
    EXPECT_EQ(client.Open(1, handle), ExporterClient::TlsFailure);
    EXPECT_EQ(handle, 999u);
}

} // namespace

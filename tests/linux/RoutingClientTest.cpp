// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

// The client of this platform: this machine first, then the table's servers in
// order, each call reaching the backend that owns the reference or handle.

#include "ExporterClient.h"
#include "LocalMachineClient.h"
#include "RoutingClient.h"
#include "ScriptedClient.h"
#include "TestExporters.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace {

constexpr ExporterTiming FastTiming{std::chrono::milliseconds(1000), std::chrono::milliseconds(1000),
                                    std::chrono::milliseconds(1000)};

/* The references a scan finds, and the code that ends it. */
std::vector<ConnRef> Scan(ClientLibrary& client, ClientResult& end) {
    std::vector<ConnRef> refs;
    ScanIterator iterator = 0;
    ConnRef ref = 0;
    while ((end = client.ScanConnRefs(iterator, ref)) == 0 && refs.size() < 10)
        refs.push_back(ref);
    return refs;
}

ClientResult Name(ClientLibrary& client, ConnRef ref, std::string& name) {
    std::array<unsigned char, 255> buffer{};
    const ClientResult result = client.GetConnRefInfo(ref, ConnInfoServerName, buffer.size(), buffer.data());
    name = reinterpret_cast<const char*>(buffer.data());
    return result;
}

TEST(RoutingClient, WithoutATableItIsTheStandIn) {
    QTemporaryDir dir;
    LocalMachineClient local;
    for (const char* table : {"missing", "empty"}) {
        SCOPED_TRACE(table);
        const std::string path = dir.filePath(QLatin1String(table)).toStdString();
        if (std::string(table) == "empty")
            std::ofstream(path) << "# nothing yet\n\n";
        std::ostringstream errors;
        RoutingClient client(path, "/proc", FastTiming, errors);
        ASSERT_EQ(client.ClientInit(nullptr, nullptr), 0u);
        EXPECT_EQ(errors.str(), "");
        ClientResult end = 0;
        ClientResult localEnd = 0;
        EXPECT_EQ(Scan(client, end), Scan(local, localEnd));
        EXPECT_EQ(end, localEnd);
        std::string name;
        std::string localName;
        EXPECT_EQ(Name(client, 1, name), Name(local, 1, localName));
        EXPECT_EQ(name, localName);
        EXPECT_EQ(Name(client, 2, name), RoutingClient::UnknownConnRef);
        ConnectionHandle handle = 999;
        EXPECT_EQ(client.NWCCOpenConnByRef(1, OpenStateDefault, 0, handle), 0u);
        EXPECT_EQ(handle, 1u);
        EXPECT_EQ(client.CloseConn(2), RoutingClient::InvalidHandle);
    }
}

TEST(RoutingClient, TheTableFollowsThisMachine) {
    FakeExporter fake;
    QTemporaryDir dir;
    const std::string path = dir.filePath(QStringLiteral("connections")).toStdString();
    std::ofstream(path) << fake.Url() << "\nhttp://127.0.0.1:" << FreePort()
                        << "\nftp://127.0.0.1/\n";
    std::ostringstream errors;
    RoutingClient client(path, "/proc", FastTiming, errors);
    ASSERT_EQ(client.ClientInit(nullptr, nullptr), 0u);
    EXPECT_NE(errors.str().find(path + ":3:"), std::string::npos) << errors.str();
    // A second start reads nothing again.
    ASSERT_EQ(client.ClientInit(nullptr, nullptr), 0u);

    ClientResult end = 0;
    EXPECT_EQ(Scan(client, end), (std::vector<ConnRef>{1, 2, 3}));
    EXPECT_EQ(end, LocalMachineClient::NoMoreConnections);
    std::string name;
    EXPECT_EQ(Name(client, 1, name), 0u);
    EXPECT_FALSE(name.empty());
    EXPECT_EQ(Name(client, 2, name), 0u);
    EXPECT_EQ(name, "fake-exporter");
    EXPECT_EQ(Name(client, 3, name), ExporterClient::NoAnswer);
    EXPECT_EQ(name, "");
    EXPECT_EQ(Name(client, 4, name), RoutingClient::UnknownConnRef);
    std::array<unsigned char, 8> other{};
    EXPECT_EQ(client.GetConnRefInfo(2, 8, other.size(), other.data()), ExporterClient::UnknownInfoType);

    ConnectionHandle local = 999;
    ConnectionHandle remote = 999;
    ASSERT_EQ(client.NWCCOpenConnByRef(1, OpenStateDefault, 0, local), 0u);
    ASSERT_EQ(client.NWCCOpenConnByRef(2, OpenStateDefault, 0, remote), 0u);
    EXPECT_NE(remote, local);
    ConnectionHandle dead = 999;
    EXPECT_EQ(client.NWCCOpenConnByRef(3, OpenStateDefault, 0, dead), ExporterClient::NoAnswer);
    EXPECT_EQ(dead, 999u);

    ServerInfoRecord info;
    CacheInfoRecord caching;
    EXPECT_EQ(client.GetServerInfoRecord(remote, info), 0u);
    EXPECT_EQ(client.GetCacheInfoRecord(local, caching), 0u);
    EXPECT_EQ(client.CloseConn(remote), 0u);
    EXPECT_EQ(client.GetServerInfoRecord(remote, info), RoutingClient::InvalidHandle);
    EXPECT_EQ(client.GetServerInfoRecord(local, info), 0u);
}

TEST(RoutingClient, JoinsAnyTwoBackendsThroughTheInterface) {
    for (const bool secondStarts : {true, false}) {
        SCOPED_TRACE(secondStarts);
        auto first = std::make_unique<ScriptedClient>();
        auto second = std::make_unique<ScriptedClient>();
        // The same inner reference in both: each reaches its own backend.
        first->connections = {{0x10, "alpha"}, {0x20, "beta"}};
        first->primary = 0x20;
        second->connections = {{0x10, "gamma"}};
        second->SetUtilization(42);
        if (!secondStarts)
            second->Fail(ClientOp::ClientInit, 0x8870);
        ScriptedClient& b = *second;
        RoutingClient client(std::move(first), std::move(second));
        ASSERT_EQ(client.ClientInit(nullptr, nullptr), 0u);

        ClientResult end = 0;
        EXPECT_EQ(Scan(client, end), secondStarts ? (std::vector<ConnRef>{1, 2, 3})
                                                  : (std::vector<ConnRef>{1, 2}));
        EXPECT_EQ(end, RoutingClient::NoMoreConnections);
        ConnRef primary = 0;
        EXPECT_EQ(client.GetPrimaryConnRef(primary), 0u);
        EXPECT_EQ(primary, 2u);
        std::string name;
        EXPECT_EQ(Name(client, 1, name), 0u);
        EXPECT_EQ(name, "alpha");
        if (!secondStarts) {
            EXPECT_EQ(Name(client, 3, name), RoutingClient::UnknownConnRef);
            continue;
        }
        EXPECT_EQ(Name(client, 3, name), 0u);
        EXPECT_EQ(name, "gamma");

        ConnectionHandle handle = 0;
        ASSERT_EQ(client.NWCCOpenConnByRef(3, OpenStateDefault, 0, handle), 0u);
        EXPECT_EQ(handle, 1u); // the router's own, not the backend's 0x100
        EXPECT_EQ(b.openHandles, std::set<ConnectionHandle>{ScriptedClient::FirstHandle});
        ServerInfoRecord info;
        EXPECT_EQ(client.GetServerInfoRecord(handle, info), 0u);
        EXPECT_EQ(ReadField32(info, ServerInfoField::Utilization), 42u);
        b.Fail(ClientOp::NWCCOpenConnByRef, 0x8871, b.CallCount(ClientOp::NWCCOpenConnByRef) + 1);
        ConnectionHandle refused = 999;
        EXPECT_EQ(client.NWCCOpenConnByRef(3, OpenStateDefault, 0, refused), 0x8871u);
        EXPECT_EQ(refused, 999u);
        EXPECT_EQ(client.CloseConn(handle), 0u);
        EXPECT_TRUE(b.openHandles.empty());
        EXPECT_EQ(client.CloseConn(handle), RoutingClient::InvalidHandle);
        EXPECT_EQ(client.NWCCOpenConnByRef(4, OpenStateDefault, 0, handle), RoutingClient::UnknownConnRef);
    }
}

} // namespace

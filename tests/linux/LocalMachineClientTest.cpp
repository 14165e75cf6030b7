// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#include "LocalMachineClient.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <stdexcept>
#include <thread>

namespace fs = std::filesystem;

namespace {

using Client = LocalMachineClient;

constexpr const char* BaseCpu = "cpu  1000 10 500 8000 200 5 5 0 0 0";
// Size of the client's read buffer, to place lines across its end.
constexpr std::size_t ReadBufferSize = 16384;

/* `tail` after filler lines, so that the whole text is `size` bytes long. */
std::string padded(std::size_t size, const std::string& tail) {
    std::string text(size - tail.size(), 'f');
    text.back() = '\n';
    return text + tail;
}

/* A stat file as the kernel writes it, with the given aggregate line. */
std::string statFile(const std::string& cpuLine) {
    return cpuLine + "\ncpu0 7 7 7 7 7 7 7 7 0 0\nintr 12345 0 1\nctxt 999\n";
}

/* A fresh, empty temporary directory. */
fs::path makeTempDir() {
    std::string pattern = (fs::temp_directory_path() / "standin-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    return pattern;
}

template <std::size_t N>
bool allZeroExcept(const std::array<std::byte, N>& record,
                   std::set<std::size_t> fieldOffsets = {}) {
    for (std::size_t i = 0; i < N; ++i)
        if (record[i] != std::byte{0} && !fieldOffsets.contains(i - i % 4))
            return false;
    return true;
}

class StandIn : public ::testing::Test {
protected:
    StandIn() {
        fs::create_directories(root / "sys/kernel");
        write("stat", statFile(BaseCpu));
        write("vmstat", "pgfault 1000\npgmajfault 10\n");
        write("sys/kernel/hostname", "testhost\n");
    }
    ~StandIn() override { fs::remove_all(root); }

    void write(const std::string& name, const std::string& text) {
        std::ofstream(root / name, std::ios::binary) << text;
    }
    ConnectionHandle open() {
        ConnectionHandle handle = 0;
        EXPECT_EQ(client.NWCCOpenConnByRef(Client::LocalRef, OpenStateDefault, 0, handle), 0u);
        return handle;
    }
    std::int32_t utilisation(ConnectionHandle handle) {
        ServerInfoRecord record;
        record.fill(std::byte{0xAB});
        EXPECT_EQ(client.GetServerInfoRecord(handle, record), 0u);
        EXPECT_TRUE(allZeroExcept(record, {ServerInfoField::Utilization}));
        return std::int32_t(ReadField32(record, ServerInfoField::Utilization));
    }

    fs::path root = makeTempDir();
    Client client{root.string()};
};

TEST_F(StandIn, ServesThisMachineAsTheOnlyConnection) {
    EXPECT_EQ(client.ClientInit(nullptr, nullptr), 0u);
    ConnRef ref = 0;
    ASSERT_EQ(client.GetPrimaryConnRef(ref), 0u);
    EXPECT_EQ(ref, Client::LocalRef);

    ScanIterator iterator = 0;
    ref = 0;
    ASSERT_EQ(client.ScanConnRefs(iterator, ref), 0u);
    EXPECT_EQ(ref, Client::LocalRef);
    EXPECT_NE(iterator, 0u);
    EXPECT_EQ(client.ScanConnRefs(iterator, ref), Client::NoMoreConnections);
    EXPECT_EQ(client.ScanConnRefs(iterator, ref), Client::NoMoreConnections);
}

TEST_F(StandIn, NameIsTheHostNameTruncatedToTheBuffer) {
    struct Case {
        std::uint32_t length;
        std::string expected; // text before the NUL; nothing is written for length 0
    };
    for (const Case& c : {Case{255, "testhost"}, Case{9, "testhost"}, Case{8, "testhos"},
                          Case{1, ""}, Case{0, ""}}) {
        SCOPED_TRACE(c.length);
        std::array<unsigned char, 300> buffer;
        buffer.fill(0x5A);
        ASSERT_EQ(
            client.GetConnRefInfo(Client::LocalRef, ConnInfoServerName, c.length, buffer.data()),
            0u);
        if (c.length > 0) {
            EXPECT_STREQ(reinterpret_cast<const char*>(buffer.data()), c.expected.c_str());
        }
        // Guard bytes after the buffer stay as they were.
        EXPECT_TRUE(std::all_of(buffer.begin() + c.length, buffer.end(),
                                [](unsigned char b) { return b == 0x5A; }));
    }

    std::array<unsigned char, 16> buffer;
    EXPECT_EQ(client.GetConnRefInfo(Client::LocalRef, 6, 16, buffer.data()),
              Client::UnknownInfoType);
    EXPECT_EQ(client.GetConnRefInfo(2, ConnInfoServerName, 16, buffer.data()),
              Client::UnknownConnRef);
    EXPECT_EQ(client.GetConnRefInfo(Client::LocalRef, ConnInfoServerName, 16, nullptr), 0u);
    fs::remove(root / "sys/kernel/hostname");
    buffer.fill('x');
    EXPECT_EQ(client.GetConnRefInfo(Client::LocalRef, ConnInfoServerName, 16, buffer.data()),
              Client::ProcUnreadable);
    EXPECT_EQ(buffer[0], '\0'); // a failed read still leaves a valid empty text
}

TEST_F(StandIn, HandleTableFillsFreesAndRejectsStaleHandles) {
    std::set<ConnectionHandle> handles;
    for (int i = 0; i < Client::MaxHandles; ++i)
        handles.insert(open());
    EXPECT_EQ(handles.size(), std::size_t(Client::MaxHandles));
    for (ConnectionHandle reserved : {0u, 999u, 0xFFFFu})
        EXPECT_FALSE(handles.contains(reserved));

    ConnectionHandle extra = 12345;
    EXPECT_EQ(client.NWCCOpenConnByRef(Client::LocalRef, OpenStateDefault, 0, extra),
              Client::TooManyOpen);
    EXPECT_EQ(extra, 12345u);

    const ConnectionHandle closed = *handles.begin();
    const ConnectionHandle other = *handles.rbegin();
    EXPECT_EQ(client.CloseConn(closed), 0u);
    EXPECT_EQ(client.CloseConn(closed), Client::InvalidHandle);
    EXPECT_EQ(utilisation(other), 0); // the double close left the others alone

    for (ConnectionHandle stale :
         {closed, 0u, 999u, 0xFFFFu, ConnectionHandle(Client::MaxHandles) + 1}) {
        SCOPED_TRACE(stale);
        ServerInfoRecord server;
        CacheInfoRecord cache;
        server.fill(std::byte{0xAB});
        cache.fill(std::byte{0xAB});
        EXPECT_EQ(client.GetServerInfoRecord(stale, server), Client::InvalidHandle);
        EXPECT_EQ(client.GetCacheInfoRecord(stale, cache), Client::InvalidHandle);
        EXPECT_TRUE(allZeroExcept(server));
        EXPECT_TRUE(allZeroExcept(cache));
        EXPECT_EQ(client.CloseConn(stale), Client::InvalidHandle);
    }

    EXPECT_EQ(open(), closed); // the freed slot is taken again
    EXPECT_EQ(client.NWCCOpenConnByRef(2, OpenStateDefault, 0, extra), Client::UnknownConnRef);
}

struct UtilisationCase {
    const char* name;
    const char* before;
    const char* after;
    std::int32_t percent;
};

void PrintTo(const UtilisationCase& c, std::ostream* os) {
    *os << c.name;
}

class Utilisation : public StandIn, public ::testing::WithParamInterface<UtilisationCase> {};

TEST_P(Utilisation, OverTheIntervalSinceTheOpen) {
    write("stat", statFile(GetParam().before));
    const ConnectionHandle handle = open();
    write("stat", statFile(GetParam().after));
    EXPECT_EQ(utilisation(handle), GetParam().percent);
}

// Fields: user nice system idle iowait irq softirq steal guest guest_nice.
INSTANTIATE_TEST_SUITE_P(
    Cases, Utilisation,
    ::testing::Values(
        UtilisationCase{"ThreeQuarters", BaseCpu, "cpu  1100 10 550 8050 200 5 5 0 0 0", 75},
        UtilisationCase{"OneThirdRoundsDown", BaseCpu, "cpu  1001 10 500 8002 200 5 5 0 0 0", 33},
        UtilisationCase{"TwoThirdsRoundUp", BaseCpu, "cpu  1002 10 500 8001 200 5 5 0 0 0", 67},
        UtilisationCase{"HalfRoundsUp", BaseCpu, "cpu  1001 10 500 8007 200 5 5 0 0 0", 13},
        UtilisationCase{"AllBusy", BaseCpu, "cpu  1100 10 500 8000 200 5 5 0 0 0", 100},
        UtilisationCase{"IowaitIsIdle", BaseCpu, "cpu  1100 10 500 8000 300 5 5 0 0 0", 50},
        UtilisationCase{"IrqAndStealAreBusy", BaseCpu, "cpu  1000 10 500 8030 200 15 15 10 0 0",
                        50},
        UtilisationCase{"GuestNotCountedTwice", BaseCpu, "cpu  1100 10 500 8100 200 5 5 0 100 0",
                        50},
        UtilisationCase{"ZeroInterval", BaseCpu, BaseCpu, 0},
        UtilisationCase{"TotalBackwards", BaseCpu, "cpu  900 10 500 8000 200 5 5 0 0 0", 0},
        UtilisationCase{"BusyBackwards", BaseCpu, "cpu  900 10 500 8200 200 5 5 0 0 0", 0},
        UtilisationCase{"IowaitBackwardsClampsTo100", BaseCpu,
                        "cpu  1150 10 500 8000 100 5 5 0 0 0", 100},
        UtilisationCase{"FourFieldKernel", "cpu  100 0 100 800", "cpu  200 0 100 900", 50}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(StandIn, EachHandleMeasuresSinceItsOwnLastRequest) {
    const ConnectionHandle first = open();
    write("stat", statFile("cpu  1100 10 500 8100 200 5 5 0 0 0")); // +100 busy, +100 idle
    const ConnectionHandle second = open();
    write("stat", statFile("cpu  1100 10 500 8200 200 5 5 0 0 0")); // +100 idle
    EXPECT_EQ(utilisation(first), 33);
    EXPECT_EQ(utilisation(first), 0); // nothing happened since its previous request
    write("stat", statFile("cpu  1130 10 500 8210 200 5 5 0 0 0")); // +30 busy, +10 idle
    EXPECT_EQ(utilisation(first), 75);
    EXPECT_EQ(utilisation(second), 21); // 30 of 140 since its open
}

struct CacheCase {
    const char* name;
    std::string vmstat;
    ClientResult result;
    std::uint32_t requests = 0;
    std::uint32_t hits = 0;
};

void PrintTo(const CacheCase& c, std::ostream* os) {
    *os << c.name;
}

class Cache : public StandIn, public ::testing::WithParamInterface<CacheCase> {};

TEST_P(Cache, CountersFromPageFaults) {
    const ConnectionHandle handle = open();
    write("vmstat", GetParam().vmstat);
    CacheInfoRecord record;
    record.fill(std::byte{0xAB});
    ASSERT_EQ(client.GetCacheInfoRecord(handle, record), GetParam().result);
    EXPECT_TRUE(allZeroExcept(record, {CacheInfoField::CacheRequests, CacheInfoField::CacheHits}));
    EXPECT_EQ(ReadField32(record, CacheInfoField::CacheRequests), GetParam().requests);
    EXPECT_EQ(ReadField32(record, CacheInfoField::CacheHits), GetParam().hits);
}

constexpr ClientResult Unreadable = Client::ProcUnreadable;
const std::string Keys = "pgmajfault 10\npgfault 1000\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, Cache,
    ::testing::Values(
        CacheCase{"Plain", "pgfault 1000\npgmajfault 10\n", 0, 1000, 990},
        CacheCase{"AmongLookalikes", "pgfaults 7\nnr_free 3\nxpgfault 5\n" + Keys, 0, 1000, 990},
        CacheCase{"NoFinalNewline", "pgmajfault 10\npgfault 1000", 0, 1000, 990},
        CacheCase{"Low32BitsWrap", "pgfault 4294967301\npgmajfault 10\n", 0, 5, 0xFFFFFFFB},
        CacheCase{"KeysBeforeLongFile", Keys + padded(1 << 20, "\n"), 0, 1000, 990},
        CacheCase{"ExactlyFillsBuffer", padded(ReadBufferSize, Keys), 0, 1000, 990},
        CacheCase{"KeysBeyondBuffer", padded(1 << 20, Keys), Unreadable},
        CacheCase{"LineCutByBuffer", padded(ReadBufferSize, "pgmajfault 10\npgfault 10") + "00\n",
                  Unreadable},
        CacheCase{"MissingKey", "pgfault 1000\n", Unreadable},
        CacheCase{"NoValue", "pgfault\npgmajfault 10\n", Unreadable},
        CacheCase{"Letters", "pgfault abc\npgmajfault 10\n", Unreadable},
        CacheCase{"TrailingJunk", "pgfault 12x\npgmajfault 10\n", Unreadable},
        CacheCase{"Negative", "pgfault -5\npgmajfault 10\n", Unreadable},
        CacheCase{"Beyond64Bits", "pgfault 99999999999999999999\npgmajfault 1\n", Unreadable},
        CacheCase{"MoreMajorThanAll", "pgfault 5\npgmajfault 10\n", Unreadable},
        CacheCase{"Empty", "", Unreadable}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(StandIn, UnreadableStatFailsWithZeroedRecord) {
    const ConnectionHandle handle = open();
    for (const char* stat : {"", "cpu0 1 2 3 4\n", "cpu  1 2 3\n", "cpu  1 2 x 4\n",
                             "cpu  1,2,3,4\n", "cpu  18446744073709551615 1 0 0\n"}) {
        SCOPED_TRACE(stat);
        write("stat", stat);
        ServerInfoRecord record;
        record.fill(std::byte{0xAB});
        EXPECT_EQ(client.GetServerInfoRecord(handle, record), Client::ProcUnreadable);
        EXPECT_TRUE(allZeroExcept(record));
    }
    ConnectionHandle another = 0;
    EXPECT_EQ(client.NWCCOpenConnByRef(Client::LocalRef, OpenStateDefault, 0, another),
              Client::ProcUnreadable);

    fs::remove(root / "stat");
    fs::remove(root / "vmstat");
    ServerInfoRecord server;
    CacheInfoRecord cache;
    server.fill(std::byte{0xAB});
    cache.fill(std::byte{0xAB});
    EXPECT_EQ(client.GetServerInfoRecord(handle, server), Client::ProcUnreadable);
    EXPECT_EQ(client.GetCacheInfoRecord(handle, cache), Client::ProcUnreadable);
    EXPECT_TRUE(allZeroExcept(server));
    EXPECT_TRUE(allZeroExcept(cache));

    // After the failure the next good reading measures from the last good one.
    write("stat", statFile("cpu  1100 10 500 8100 200 5 5 0 0 0"));
    EXPECT_EQ(utilisation(handle), 50);
}

TEST(StandInOnThisMachine, ReportsPlausibleValues) {
    Client client;
    std::array<unsigned char, 255> name{};
    ASSERT_EQ(client.GetConnRefInfo(Client::LocalRef, ConnInfoServerName, 255, name.data()), 0u);
    EXPECT_NE(name[0], '\0');

    ConnectionHandle handle = 0;
    ASSERT_EQ(client.NWCCOpenConnByRef(Client::LocalRef, OpenStateDefault, 0, handle), 0u);
    // Some load, so that the interval has ticks in it.
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(50);
    while (std::chrono::steady_clock::now() < until)
        std::this_thread::yield();
    ServerInfoRecord server;
    ASSERT_EQ(client.GetServerInfoRecord(handle, server), 0u);
    const auto percent = std::int32_t(ReadField32(server, ServerInfoField::Utilization));
    EXPECT_GE(percent, 0);
    EXPECT_LE(percent, 100);

    CacheInfoRecord cache;
    ASSERT_EQ(client.GetCacheInfoRecord(handle, cache), 0u);
    EXPECT_NE(ReadField32(cache, CacheInfoField::CacheRequests), 0u);
    EXPECT_TRUE(allZeroExcept(cache, {CacheInfoField::CacheRequests, CacheInfoField::CacheHits}));
    EXPECT_EQ(client.CloseConn(handle), 0u);
}

} // namespace

// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

// The discovery's readers and join over HTTP on 127.0.0.1: every row of the scripted
// fake Prometheus, and Debian's real Prometheus watching its node exporter and two fakes.
// The transfers here are plain libcurl calls with the limits the client sets.

#include "Discovery.h"
#include "ExporterClient.h"
#include "LocalMachineClient.h"
#include "RoutingClient.h"
#include "TestExporters.h"

#include <QString>
#include <QTemporaryDir>

#include <curl/curl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace {

// AddressSanitizer's allocator copies on realloc and keeps freed memory in quarantine, and
// ThreadSanitizer shadows every byte: peaks of resident memory mean nothing there.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool MeasurePeaks = false;
#else
constexpr bool MeasurePeaks = true;
#endif

using namespace std::chrono_literals;

struct Fetched {
    CURLcode code = CURLE_OK;
    long status = 0;
    ReplyBuffer body;
};

/* One GET with the API's limits: a time limit, and no reply past MaxApiReplyBytes. */
Fetched Fetch(const std::string& url, std::chrono::milliseconds timeout = 3s) {
    Fetched out;
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), &curl_easy_cleanup);
    const auto write = +[](char* data, std::size_t, std::size_t size, void* user) -> std::size_t {
        return static_cast<ReplyBuffer*>(user)->Append({data, size}) ? size : 0;
    };
    curl_easy_setopt(curl.get(), CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl.get(), CURLOPT_NOPROXY, "*");
    curl_easy_setopt(curl.get(), CURLOPT_TIMEOUT_MS, long(timeout.count()));
    curl_easy_setopt(curl.get(), CURLOPT_MAXFILESIZE_LARGE, curl_off_t(MaxApiReplyBytes));
    curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, write);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &out.body);
    out.code = curl_easy_perform(curl.get());
    curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &out.status);
    return out;
}

/* What the client would list from one discovery line, or the code it would meet. */
struct Outcome {
    ClientResult result = 0;
    std::string error;
    std::vector<DiscoveredServer> servers;
};

ClientResult TransferResult(const Fetched& f) {
    if (f.code == CURLE_OPERATION_TIMEDOUT)
        return DiscoveryCode::NoAnswer;
    if (f.code != CURLE_OK)
        return DiscoveryCode::BadAnswer;
    return 0;
}

Outcome Discover(const std::string& base, const std::string& job) {
    Outcome out;
    const Fetched targets = Fetch(TargetsRequestUrl(base));
    if ((out.result = TransferResult(targets)) != 0)
        return out;
    const Fetched names = Fetch(NamesRequestUrl(base, job));
    if ((out.result = TransferResult(names)) != 0)
        return out;
    const bool fallback = DiscoveryFallsBack(targets.status);
    if ((out.result = fallback ? 0 : DiscoveryHttpResult(targets.status)) != 0 ||
        (out.result = DiscoveryHttpResult(names.status)) != 0)
        return out;
    std::vector<ActiveTarget> active;
    std::vector<InstanceName> nodeNames;
    ApiVerdict verdict = fallback ? ApiVerdict{true, {}, false} : ReadActiveTargets(targets.body.View(), job, active);
    if (verdict.ok)
        verdict = ReadInstanceNames(names.body.View(), nodeNames);
    if (!verdict.ok) {
        out.result = DiscoveryCode::BadAnswer;
        out.error = verdict.error;
        return out;
    }
    out.servers = fallback ? FallbackServers(nodeNames, false) : JoinDiscovery(active, nodeNames);
    return out;
}

struct FakeRow {
    const char* mode;
    ClientResult result;
    std::size_t servers;
    const char* error;
};

void PrintTo(const FakeRow& row, std::ostream* out) {
    *out << row.mode;
}

/* Peak resident memory of this process so far, in KiB. */
long PeakKib() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

/* Puts the fake Prometheus into `mode`; its base URL, or empty where it did not take it. */
std::string Serving(Script& fake, const std::string& mode) {
    const std::string base = "http://127.0.0.1:" + fake.ReadLine();
    fake.Say(mode);
    return fake.ReadLine() == std::string("ok ") + mode ? base : std::string();
}

class FakePrometheus : public ::testing::TestWithParam<FakeRow> {};

TEST_P(FakePrometheus, EveryRowEndsInTime) {
    const FakeRow& row = GetParam();
    Script fake("fake_prometheus.py", {});
    const std::string base = Serving(fake, row.mode);
    ASSERT_FALSE(base.empty());

    const long peakBefore = PeakKib();
    const auto start = std::chrono::steady_clock::now();
    const Outcome out = Discover(base, "node");
    // One request's three seconds at most, and what a busy machine adds; a second would cross.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5000ms);
    if (MeasurePeaks) {
        EXPECT_LT(PeakKib() - peakBefore, 80 * 1024) << "KiB more at the peak";
    }

    EXPECT_EQ(out.result, row.result);
    EXPECT_EQ(out.servers.size(), row.servers);
    EXPECT_NE(out.error.find(row.error), std::string::npos) << out.error;
    if (std::string(row.mode) == "good" || std::string(row.mode) == "notargets") {
        std::vector<ListedName> list;
        for (const DiscoveredServer& s : out.servers)
            list.push_back({s.name, s.instance});
        TellNamesApart(list);
        EXPECT_EQ(list[list.size() - 2].name, "twin (127.0.0.1:9100)");
        EXPECT_EQ(list.back().name, "twin (127.0.0.2:9100)");
        EXPECT_EQ(list[list.size() - 3].name, "fs-01999");
    }
}

/* The real client on a table of `lines`, scanned by ClientInit as the program's start does. */
class TableClient {
public:
    explicit TableClient(const std::string& lines, ExporterTiming timing = {}) {
        const std::string table = m_dir.filePath(QStringLiteral("connections")).toStdString();
        std::ofstream(table) << lines;
        m_client.emplace(table, "/proc", timing, m_errors);
        const auto start = std::chrono::steady_clock::now();
        m_init = m_client->ClientInit(nullptr, nullptr);
        m_scan = std::chrono::steady_clock::now() - start;
    }
    RoutingClient& operator*() { return *m_client; }
    RoutingClient* operator->() { return &*m_client; }
    ClientResult Init() const { return m_init; }
    std::chrono::steady_clock::duration Scan() const { return m_scan; }
    std::string Errors() const { return m_errors.str(); }
    /* Ends the client, for the time that takes. */
    std::chrono::steady_clock::duration End() {
        const auto start = std::chrono::steady_clock::now();
        m_client.reset();
        return std::chrono::steady_clock::now() - start;
    }

    /* The names listed, in order, reference 1 (this machine) first; one the client cannot
       name is left out, as the window leaves it out. */
    std::vector<std::string> List() {
        std::vector<std::string> names;
        ScanIterator iterator = 0;
        ConnRef ref = 0;
        while (m_client->ScanConnRefs(iterator, ref) == 0) {
            std::array<unsigned char, 256> name{};
            if (m_client->GetConnRefInfo(ref, ConnInfoServerName, name.size(), name.data()) == 0)
                names.emplace_back(reinterpret_cast<const char*>(name.data()));
        }
        return names;
    }

private:
    QTemporaryDir m_dir;
    std::ostringstream m_errors;
    std::optional<RoutingClient> m_client;
    ClientResult m_init = 0;
    std::chrono::steady_clock::duration m_scan{};
};

TEST_P(FakePrometheus, ThroughTheClientWithinTheScan) {
    const FakeRow& row = GetParam();
    Script fake("fake_prometheus.py", {});
    const std::string base = Serving(fake, row.mode);
    ASSERT_FALSE(base.empty());

    const long peakBefore = PeakKib();
    TableClient client(base + " discover=node\n");
    ASSERT_EQ(client.Init(), 0u);
    // The scan's three seconds, and what a busy machine's scheduler adds to them.
    EXPECT_LE(client.Scan(), 4500ms);
    if (MeasurePeaks) {
        EXPECT_LT(PeakKib() - peakBefore, 80 * 1024) << "KiB more at the peak";
    }
    const std::vector<std::string> names = client.List();
    ASSERT_EQ(names.size(), 1 + row.servers) << client.Errors();
    if (row.servers == 0) {
        // One left-out line for the discovery line, with its reason.
        EXPECT_TRUE(client.Errors().starts_with(base + "/: ")) << client.Errors();
        EXPECT_NE(client.Errors().find(row.error), std::string::npos) << client.Errors();
    } else {
        EXPECT_EQ(client.Errors(), "");
        EXPECT_EQ(names.back(), "twin (127.0.0.2:9100)");
        // Picking one opens its exporter directly; with none there, the open fails in time.
        const auto start = std::chrono::steady_clock::now();
        ConnectionHandle handle = 0;
        const ClientResult opened =
            client->NWCCOpenConnByRef(ConnRef(names.size()), OpenStateDefault, 0, handle);
        EXPECT_LE(std::chrono::steady_clock::now() - start, 3500ms); // the open's two seconds
        if (opened == 0)
            client->CloseConn(handle); // an exporter of this machine's answers on 127.0.0.2
        else
            EXPECT_EQ(opened, DiscoveryCode::NoAnswer);
    }
    // Nothing is left waiting past the scan: a stalled request ends with the client at once.
    EXPECT_LT(client.End(), 1000ms);
}

TEST(FakePrometheusCredentials, GoOnlyWhereTheSitesTrustReachesAndTheirUrlsPrintSafely) {
    Script fake("fake_prometheus.py", {QStringLiteral("20")});
    const std::string base = "http://127.0.0.1:" + fake.ReadLine();
    QTemporaryDir dir;
    const std::string secret = dir.filePath(QStringLiteral("secret")).toStdString();
    const std::string ca = dir.filePath(QStringLiteral("ca.pem")).toStdString();
    std::ofstream(secret) << "s3cret\n";
    std::ofstream(ca) << "not read before a server is opened\n";
    ASSERT_EQ(chmod(secret.c_str(), 0600), 0);
    const std::string user = " discover=node exporter-user=scrape exporter-password-file=" + secret;
    const std::string plain = "http://fs1.example.org:9100/metrics: exporter-user= goes over plain "
                              "http only where every exporter found is on loopback; left out\n";
    const std::string tls = "https://fs2.example.org:9100/metrics: exporter-user= goes beyond "
                            "loopback only to exporters exporter-ca= vouches for; left out\n";
    // No server is contacted: the lists come from Prometheus alone.
    const struct {
        const char* mode;
        std::string line;
        std::size_t listed; // besides this machine
        std::string errors;
    } rows[] = {
        // Without the site's own trust, an exporter beyond this machine would be sent the
        // password on the system's word: each such exporter is left out.
        {"elsewhere", user, 0, plain + tls},
        // With it, the https exporter is listed; plain http to another host never is.
        {"elsewhere", user + " exporter-ca=" + ca, 1, plain},
        // A fleet all on loopback needs no certificate authority.
        {"good", user, 20, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.line);
        fake.Say(row.mode);
        ASSERT_EQ(fake.ReadLine(), std::string("ok ") + row.mode);
        TableClient client(base + row.line + "\n");
        ASSERT_EQ(client.Init(), 0u);
        EXPECT_EQ(client.List().size(), 1 + row.listed) << client.Errors();
        EXPECT_EQ(client.Errors(), row.errors);
    }

    // A URL left out reaches standard error filtered as names are: no right-to-left override.
    fake.Say("bidi");
    ASSERT_EQ(fake.ReadLine(), "ok bidi");
    TableClient client(base + " discover=node exporter-user=scrape exporter-password-file=" +
                       secret + "\n");
    ASSERT_EQ(client.Init(), 0u);
    EXPECT_TRUE(client.Errors().starts_with("http://fs1.example.org:9100/gnp.exe: exporter-user="))
        << client.Errors();
}

TEST(FakePrometheusLines, TargetsBeyondTheMostListedAreNamedInOneLine) {
    // 10,002 named targets and one nameless, all up: the reply gives three beyond the limit.
    Script api("fake_prometheus.py", {QStringLiteral("10002")});
    // A scan long enough for a busy machine to read the whole reply.
    TableClient client("http://127.0.0.1:" + api.ReadLine() + " discover=node\n",
                       ExporterTiming{.scan = std::chrono::seconds{60}});
    ASSERT_EQ(client.Init(), 0u);
    EXPECT_EQ(client.Errors(), "3 discovered servers left out: at most 10000 are listed\n");
    EXPECT_EQ(client.List().size(), 1u + MaxDiscoveredServers);
}

TEST(ToldApartNames, KeepTheirPlaceWholeInTheWindowsBuffer) {
    FakeExporter exporter;
    exporter.SetMode("name \"" + std::string(300, 'n') + "\"");
    TableClient client(exporter.Url() + "\n" + exporter.Url() + "\n");
    ASSERT_EQ(client.Init(), 0u);
    const std::string place = " (127.0.0.1:" + std::to_string(exporter.Port()) + ")";
    for (const ConnRef ref : {2u, 3u}) {
        std::array<unsigned char, ServerNameBufferBytes> name{};
        ASSERT_EQ(client->GetConnRefInfo(ref, ConnInfoServerName, name.size(), name.data()), 0u);
        EXPECT_EQ(reinterpret_cast<const char*>(name.data()),
                  std::string(MaxServerNameBytes - place.size(), 'n') + place);
    }
}

TEST(FakePrometheusLines, MixWithPlainLinesInTableOrderAndListEachServerOnce) {
    Script api("fake_prometheus.py", {QStringLiteral("20")});
    const std::string base = "http://127.0.0.1:" + api.ReadLine();
    FakeExporter exporter;
    // Two lines that find the same fleet: four requests at once, each server listed once.
    TableClient client(exporter.Url() + "\n" + base + " discover=node\n" + base +
                       "/ discover=node\n");
    ASSERT_EQ(client.Init(), 0u);
    EXPECT_EQ(client.Errors(), "");
    const std::vector<std::string> names = client.List();
    ASSERT_EQ(names.size(), 2u + 20u);
    EXPECT_EQ(names[1], "fake-exporter");
    EXPECT_EQ(names[2], "fs-00002");
    EXPECT_EQ(names.back(), "twin (127.0.0.2:9100)");
}

INSTANTIATE_TEST_SUITE_P(
    Rows, FakePrometheus,
    ::testing::Values(FakeRow{"good", 0, 2000, ""}, FakeRow{"nonames", 0, 0, ""},
                      // Without a targets list nothing tells that two exporters are down.
                      FakeRow{"notargets", 0, 2002, ""}, FakeRow{"stall", DiscoveryCode::NoAnswer, 0, ""},
                      FakeRow{"500", DiscoveryCode::BadAnswer, 0, ""}, FakeRow{"401", DiscoveryCode::Refused, 0, ""},
                      FakeRow{"garbage", DiscoveryCode::BadAnswer, 0, "not JSON"},
                      FakeRow{"error", DiscoveryCode::BadAnswer, 0, "invalid parameter \"query\": 1:17: parse error"},
                      FakeRow{"deep", DiscoveryCode::BadAnswer, 0, "nested deeper than 64"},
                      FakeRow{"huge", DiscoveryCode::BadAnswer, 0, ""}),
    [](const auto& info) { return std::string("mode_") + info.param.mode; });

/* Debian's real Prometheus on 127.0.0.1 scraping the real node exporter and two fakes, one
   named as this machine (real_prometheus.py); skipped where either is not installed. */
class RealPrometheus : public ::testing::Test {
protected:
    void SetUp() override {
        if (access("/usr/bin/prometheus", X_OK) != 0 ||
            access("/usr/bin/prometheus-node-exporter", X_OK) != 0)
            GTEST_SKIP() << "prometheus or prometheus-node-exporter is not installed";
        m_real.emplace("real_prometheus.py", QStringList{});
        std::istringstream line(m_real->ReadLine(25000));
        line >> port >> node >> fake >> same;
        ASSERT_FALSE(same.empty()) << "the real Prometheus did not come up: " << line.str();
    }
    /* Prometheus's port, then the host:port of the node exporter, the fake and the fake
       named as this machine. */
    std::string port, node, fake, same;

private:
    std::optional<Script> m_real;
};

TEST_F(RealPrometheus, ListsItsNodeExporterAndBothFakes) {

    const Outcome out = Discover("http://127.0.0.1:" + port, "node");
    ASSERT_EQ(out.result, 0u) << out.error;
    ASSERT_EQ(out.servers.size(), 3u);

    // This machine first, through the stand-in, as the client lists it; then the fleet.
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    std::vector<ListedName> list{{host, ""}};
    for (const DiscoveredServer& s : out.servers) {
        list.push_back({s.name, s.instance});
        EXPECT_EQ(s.scrapeUrl, "http://" + s.instance + "/metrics");
    }
    TellNamesApart(list);
    std::vector<std::string> names;
    for (const ListedName& n : list)
        names.push_back(n.name);
    std::vector<std::string> expected{host, "fake-exporter", std::string(host) + " (" + node + ")",
                                      std::string(host) + " (" + same + ")"};
    std::sort(expected.begin() + 1, expected.end());
    std::sort(names.begin() + 1, names.end());
    EXPECT_EQ(names, expected);
}

} // namespace

namespace {

TEST_F(RealPrometheus, TheClientListsThemOnceAndChartsTheSameNamedFake) {

    // The fake reached by its own line and by discovery is listed once, where its line is.
    TableClient client("http://" + fake + "/metrics\nhttp://127.0.0.1:" + port + " discover=node\n");
    ASSERT_EQ(client.Init(), 0u);
    EXPECT_EQ(client.Errors(), "");
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    std::vector<std::string> expected{host, "fake-exporter", std::string(host) + " (" + node + ")",
                                      std::string(host) + " (" + same + ")"};
    std::sort(expected.begin() + 2, expected.end());
    const std::vector<std::string> names = client.List();
    ASSERT_EQ(names, expected);

    // Picked, the same-named fake is scraped directly: its 37 % reaches the chart.
    const auto picked = std::find(names.begin(), names.end(), std::string(host) + " (" + same + ")");
    const ConnRef ref = ConnRef(picked - names.begin()) + 1;
    ConnectionHandle handle = 0;
    ASSERT_EQ(client->NWCCOpenConnByRef(ref, OpenStateDefault, 0, handle), 0u);
    std::int32_t percent = -1;
    for (int tries = 0; tries < 30 && percent != 37; ++tries) {
        std::this_thread::sleep_for(100ms);
        ServerInfoRecord record;
        ASSERT_EQ(client->GetServerInfoRecord(handle, record), 0u);
        percent = std::int32_t(ReadField32(record, ServerInfoField::Utilization));
    }
    EXPECT_EQ(percent, 37);
    EXPECT_EQ(client->CloseConn(handle), 0u);
}

} // namespace

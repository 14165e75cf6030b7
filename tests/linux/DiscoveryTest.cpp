// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

// The discovery through a Prometheus server, without a network: both readers on small
// replies, a recorded pair of a real Prometheus 2.42 and hostile ones, the join, the
// fallback without a targets list, names told apart, and the request URLs.

#include "Discovery.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

// AddressSanitizer's allocator copies on realloc and keeps freed memory in quarantine, and
// ThreadSanitizer shadows every byte: peaks of resident memory mean nothing there.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool MeasurePeaks = false;
#else
constexpr bool MeasurePeaks = true;
#endif

std::string ReadData(const char* file) {
    std::ifstream in(std::string(SERVERSTATS_TEST_DATA) + "/" + file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string Target(const std::string& job, const std::string& instance, const std::string& health,
                   const std::string& url) {
    return R"({"labels":{"job":)" + job + R"(,"instance":)" + instance + R"(},"health":)" + health +
           R"(,"scrapeUrl":)" + url + "}";
}

std::string Targets(const std::string& list) {
    return R"({"status":"success","data":{"activeTargets":[)" + list + R"(],"droppedTargets":[]}})";
}

std::string Names(const std::string& list) {
    return R"({"status":"success","data":{"resultType":"vector","result":[)" + list + "]}}";
}

std::string Name(const std::string& instance, const std::string& nodename) {
    return R"({"metric":{"__name__":"node_uname_info","instance":)" + instance + R"(,"nodename":)" +
           nodename + R"(},"value":[1.5,"1"]})";
}

struct TargetsCase {
    const char* what;
    std::string reply;
    bool ok;
    std::vector<std::string> instances; // of the targets kept, in order
    std::string error;                  // a part of the reason, when not ok
};

void PrintTo(const TargetsCase& c, std::ostream* out) {
    *out << c.what;
}

class ActiveTargetsReader : public ::testing::TestWithParam<TargetsCase> {};

TEST_P(ActiveTargetsReader, KeepsUpTargetsOfTheJob) {
    const TargetsCase& c = GetParam();
    std::vector<ActiveTarget> targets{{"stale", "stale"}};
    const ApiVerdict verdict = ReadActiveTargets(c.reply, "node", targets);
    EXPECT_EQ(verdict.ok, c.ok) << verdict.error;
    std::vector<std::string> instances;
    for (const ActiveTarget& t : targets)
        instances.push_back(t.instance);
    EXPECT_EQ(instances, c.instances);
    EXPECT_NE(verdict.error.find(c.error), std::string::npos) << verdict.error;
}

const std::string Deep60 = std::string(60, '[') + std::string(60, ']');
const std::string Deep61 = std::string(61, '[') + std::string(61, ']');

INSTANTIATE_TEST_SUITE_P(
    Replies, ActiveTargetsReader,
    ::testing::Values(
        TargetsCase{"recorded", ReadData("prometheus-targets.json"), true,
                    {"127.0.0.1:45543", "127.0.0.1:38171", "127.0.0.1:40453"}, ""},
        TargetsCase{"filtered",
                    Targets(Target(R"("node")", R"("a:1")", R"("up")", R"("http://a:1/metrics")") + "," +
                            Target(R"("node")", R"("b:1")", R"("down")", R"("http://b:1/metrics")") + "," +
                            Target(R"("other")", R"("c:1")", R"("up")", R"("http://c:1/metrics")") + "," +
                            Target(R"("node")", "7", R"("up")", R"("http://d:1/metrics")") + "," +
                            Target(R"("node")", R"("e:1")", R"("up")", "null") + "," +
                            R"({"health":"up","labels":{"job":"node","instance":"f:1"}},"x",[1],)" +
                            Target(R"("no\u0064e")", R"("g:1")", R"("up")", R"("http://g:1/")")),
                    true, {"a:1", "g:1"}, ""},
        // A key that the reader reads, given twice in one object, makes the reply ambiguous.
        TargetsCase{"a key of a target given twice",
                    Targets(R"({"health":"up","labels":{"job":"node","instance":"a:1"},"scrapeUrl":"u",)"
                            R"("health":"down"})"),
                    false, {}, "the key \"health\" is given twice in one object"},
        TargetsCase{"data given twice",
                    R"({"status":"success","data":{"activeTargets":[)" +
                        Target(R"("node")", R"("a:1")", R"("up")", R"("u")") + R"(]},"data":5})",
                    false, {}, "the key \"data\" is given twice"},
        TargetsCase{"the list given twice",
                    R"({"status":"success","data":{"activeTargets":[],"activ\u0065Targets":[]}})", false,
                    {}, "the key \"activeTargets\" is given twice"},
        TargetsCase{"a label given twice",
                    Targets(R"({"health":"up","labels":{"job":"other","instance":"a:1","job":"node"},)"
                            R"("scrapeUrl":"u"})"),
                    false, {}, "the key \"job\" is given twice"},
        TargetsCase{"keys the reader ignores may repeat",
                    Targets(R"({"health":"up","labels":{"job":"node","instance":"a:1","x":"1","x":"2"},)"
                            R"("scrapeUrl":"u","discoveredLabels":{},"discoveredLabels":{}})"),
                    true, {"a:1"}, ""},
        TargetsCase{"empty list", Targets(""), true, {}, ""},
        TargetsCase{"status error",
                    R"({"status":"error","errorType":"bad_data","error":"no\nway\u001b[31m"})", false, {},
                    "no way [31m"},
        TargetsCase{"no status", R"({"data":{"activeTargets":[]}})", false, {}, "status"},
        TargetsCase{"no list", R"({"status":"success","data":{"activeTargets":{}}})", false, {},
                    "activeTargets"},
        TargetsCase{"list elsewhere", R"({"status":"success","activeTargets":[]})", false, {}, "activeTargets"},
        TargetsCase{"cut short", Targets(Target(R"("node")", R"("a:1")", R"("up")", R"("u")")).substr(0, 60),
                    false, {}, "not JSON"},
        TargetsCase{"two documents", Targets("") + "{}", false, {}, "not JSON"},
        TargetsCase{"not UTF-8", Targets(R"({"labels":{"job":"no)" "\xff" R"(de"}})"), false, {}, "not JSON"},
        TargetsCase{"64 levels deep",
                    Targets(R"({"health":"up","labels":{"job":"node","instance":"a:1"},"scrapeUrl":"u","x":)" +
                            Deep60 + "}"),
                    true, {"a:1"}, ""},
        TargetsCase{"65 levels deep",
                    Targets(R"({"health":"up","labels":{"job":"node","instance":"a:1"},"scrapeUrl":"u","x":)" +
                            Deep61 + "}"),
                    false, {}, "nested deeper than 64"},
        TargetsCase{"an instance too long to be an exporter's",
                    Targets(Target(R"("node")", std::string(5002, 'a').replace(0, 1, "\"").replace(5001, 1, "\""), R"("up")", R"("u")")),
                    true, {}, ""}),
    [](const auto& info) {
        std::string name;
        for (const char* p = info.param.what; *p; ++p)
            name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
        return name;
    });

TEST(InstanceNamesReader, ReadsInstancesAndNodeNames) {
    std::vector<InstanceName> names;
    ASSERT_TRUE(ReadInstanceNames(ReadData("prometheus-names.json"), names).ok);
    ASSERT_EQ(names.size(), 3u);
    EXPECT_EQ(names[0].instance, "127.0.0.1:38171");
    EXPECT_EQ(names[0].nodeName, "fake-exporter");

    const std::string reply = Names(Name(R"("a:1")", R"("\u00e9t\u00e9")") + "," + Name(R"("b:1")", "1") + "," +
                                    R"({"metric":{"instance":"c:1"}},)" + Name(R"("d:1")", R"("")"));
    ASSERT_TRUE(ReadInstanceNames(reply, names).ok);
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(names[0].nodeName, "\xC3\xA9t\xC3\xA9");
    EXPECT_EQ(names[1].instance, "d:1"); // an empty name is read; the join leaves it out

    EXPECT_FALSE(ReadInstanceNames(R"({"status":"success","data":{"result":"x"}})", names).ok);
    const ApiVerdict error = ReadInstanceNames(R"({"error":"too many samples","status":"error"})", names);
    EXPECT_FALSE(error.ok);
    EXPECT_EQ(error.error, "too many samples");
}

/* Peak resident memory of this process so far, in KiB. */
long PeakKib() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

TEST(ApiReplyLimits, TenThousandDeepIsRefusedQuickly) {
    const std::string deep = R"({"status":"success","data":{"activeTargets":)" + std::string(10000, '[') +
                             std::string(10000, ']') + "}}";
    std::vector<ActiveTarget> targets;
    std::vector<InstanceName> names;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ReadActiveTargets(deep, "node", targets).error, "nested deeper than 64");
    EXPECT_EQ(ReadInstanceNames(std::string(10000, '['), names).error, "nested deeper than 64");
    // How quickly is bench_discovery's to measure; a busy machine would make a bound here lie.
    std::printf("refused in %.2f ms\n",
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
}

TEST(ApiReplyLimits, AHundredMegabyteReplyIsRefusedUnread) {
    // Mapped, never touched: a reader that looked at its bytes would fault them in.
    const std::size_t size = std::size_t(100) << 20;
    void* pages = mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(pages, MAP_FAILED);
    const long before = PeakKib();
    std::vector<ActiveTarget> targets;
    const ApiVerdict verdict = ReadActiveTargets({static_cast<const char*>(pages), size}, "node", targets);
    // Reading even one byte would have mapped its page.
    std::vector<unsigned char> resident(size / std::size_t(sysconf(_SC_PAGESIZE)));
    ASSERT_EQ(mincore(pages, size, resident.data()), 0);
    EXPECT_EQ(std::count_if(resident.begin(), resident.end(), [](unsigned char page) { return page & 1; }), 0)
        << "pages of the reply were read";
    EXPECT_FALSE(verdict.ok);
    EXPECT_EQ(verdict.error, "reply over 64 MiB");
    if (MeasurePeaks) {
        EXPECT_LT(PeakKib() - before, 1024);
    }
    munmap(pages, size);
}

TEST(ApiReplyLimits, ABufferStopsAtTheLimitWithoutDoubling) {
    const std::string chunk(64 << 10, ' ');
    ReplyBuffer buffer;
    const long before = PeakKib();
    std::size_t appended = 0;
    while (buffer.Append(chunk))
        appended += chunk.size();
    EXPECT_EQ(appended, MaxApiReplyBytes);
    EXPECT_EQ(buffer.View().size(), MaxApiReplyBytes);
    EXPECT_FALSE(buffer.Append("x"));
    EXPECT_TRUE(buffer.Append(""));
    if (MeasurePeaks) {
        EXPECT_LT(PeakKib() - before, 80 << 10);
    }
    buffer.Clear();
    EXPECT_TRUE(buffer.View().empty());
}

TEST(ApiReplyLimits, KeepsAtMostTenThousandTargets) {
    std::string list;
    for (int i = 0; i < 10002; ++i) {
        // Appended piece by piece: g++ 12 at -O3 warns wrongly on a literal + a temporary string.
        std::string instance = "\"h";
        instance += std::to_string(i);
        instance += ":1\"";
        list += i ? "," : "";
        list += Target(R"("node")", instance, R"("up")", R"("u")");
    }
    std::vector<ActiveTarget> targets;
    const ApiVerdict verdict = ReadActiveTargets(Targets(list), "node", targets);
    EXPECT_TRUE(verdict.ok);
    EXPECT_EQ(verdict.leftOut, 2U);
    EXPECT_EQ(targets.size(), MaxDiscoveredServers);
    EXPECT_EQ(targets.back().instance, "h9999:1");
}

TEST(DiscoveryJoin, ListsNamedTargetsSortedAndLeavesOutTheRest) {
    const std::vector<ActiveTarget> targets{
        {"b:9100", "http://b:9100/metrics"},     {"nameless:9100", "http://nameless:9100/metrics"},
        {"a:9100", "HTTP://A:9100/metrics"},     {"z:80", "http://z:80/"},
        {"blank:1", "http://blank:1/metrics"},   {"file:1", "file:///etc/passwd"},
        {"creds:1", "http://u:p@creds:1/"},      {"again:9100", "http://b:9100/metrics"},
        {"twin2:9100", "http://twin2:9100/metrics"}};
    const std::vector<InstanceName> names{
        {"b:9100", "beta"},      {"a:9100", "Alpha"},  {"z:80", "alpha"},  {"blank:1", " \u200b "},
        {"file:1", "file"},      {"creds:1", "creds"}, {"a:9100", "later name"},
        {"again:9100", "beta"},  {"twin2:9100", "beta"}};
    const std::vector<DiscoveredServer> servers = JoinDiscovery(targets, names);
    std::vector<std::string> got;
    for (const DiscoveredServer& s : servers)
        got.push_back(s.name + " " + s.scrapeUrl + " " + s.instance);
    EXPECT_EQ(got, (std::vector<std::string>{"Alpha http://a:9100/metrics a:9100",
                                             "alpha http://z/metrics z:80",
                                             "beta http://b:9100/metrics again:9100",
                                             "beta http://twin2:9100/metrics twin2:9100"}));
}

TEST(DiscoveryJoin, FallsBackToTheNamesWithoutATargetsList) {
    const std::vector<InstanceName> names{{"b:9100", "b"},     {"a:9100", "a"},      {"a:9100", "again"},
                                          {"[::1]:9100", "v6"}, {"x/y@evil:1", "e"}, {"q:1?x", "q"},
                                          {"", "none"},        {"n:1", ""}};
    std::vector<std::string> got;
    for (const DiscoveredServer& s : FallbackServers(names, false))
        got.push_back(s.name + " " + s.scrapeUrl);
    EXPECT_EQ(got, (std::vector<std::string>{"a http://a:9100/metrics", "b http://b:9100/metrics",
                                             "v6 http://[::1]:9100/metrics"}));
    EXPECT_EQ(FallbackServers(names, true)[0].scrapeUrl, "https://a:9100/metrics");
    EXPECT_TRUE(FallbackServers({}, false).empty());
}

TEST(DiscoveryNames, SharedNamesGetTheirPlace) {
    std::vector<ListedName> list{{"vm", ""},
                                 {"vm", "127.0.0.1:9100"},
                                 {"solo", "127.0.0.1:9101"},
                                 {"Vm", "127.0.0.1:9102"},
                                 {std::string(255, 'n'), "h:1"},
                                 {std::string(255, 'n'), "h:2"}};
    TellNamesApart(list);
    EXPECT_EQ(list[0].name, "vm");
    EXPECT_EQ(list[1].name, "vm (127.0.0.1:9100)");
    EXPECT_EQ(list[2].name, "solo");
    EXPECT_EQ(list[3].name, "Vm");
    EXPECT_EQ(list[4].name, std::string(255 - 6, 'n') + " (h:1)");
    EXPECT_EQ(list[5].name, std::string(255 - 6, 'n') + " (h:2)");
}

TEST(DiscoveryNames, SortedCaseBlindThenByBytes) {
    std::vector<std::string> names{"b", "B", "a10", "A2", "", "a"};
    std::sort(names.begin(), names.end(), [](const auto& x, const auto& y) { return CompareServerNames(x, y); });
    EXPECT_EQ(names, (std::vector<std::string>{"", "a", "a10", "A2", "B", "b"}));
}

TEST(DiscoveryRequests, UrlsUnderTheApiBase) {
    EXPECT_EQ(TargetsRequestUrl("https://prom.example.org:9090"),
              "https://prom.example.org:9090/api/v1/targets?state=active");
    EXPECT_EQ(TargetsRequestUrl("http://127.0.0.1/prom/?x=1#f"), "http://127.0.0.1/prom/api/v1/targets?state=active");
    EXPECT_EQ(NamesRequestUrl("http://127.0.0.1:9090/", "node"),
              "http://127.0.0.1:9090/api/v1/query?query=node_uname_info%7bjob%3d%22node%22%7d");
    EXPECT_EQ(NamesRequestUrl("http://127.0.0.1:9090", "a \"b\"\\&"),
              "http://127.0.0.1:9090/api/v1/query?query=node_uname_info%7bjob%3d%22a+%5c%22b%5c%22%5c%5c%26%22%7d");
    // Newer servers send only the job's pool; the job filter stays for the older ones.
    EXPECT_EQ(TargetsRequestUrl("http://127.0.0.1:9090/prom", "node exporter&x"),
              "http://127.0.0.1:9090/prom/api/v1/targets?state=active&scrapePool=node+exporter%26x");
    EXPECT_EQ(TargetsRequestUrl("ftp://prom.example.org"), "");
    EXPECT_EQ(NamesRequestUrl("no url", "node"), "");
    EXPECT_EQ(HostAndPort("https://Prom.example.org/x"), "Prom.example.org:443");
    EXPECT_EQ(ScrapeUrl("https://Prom.example.org:443"), "https://prom.example.org/metrics");
}

} // namespace

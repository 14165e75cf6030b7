// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

// The connection table on files written in a scratch folder: where it lives,
// which lines are usable, and how the others are reported.

#include "ConnectionTable.h"
#include "CredentialPolicy.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

/* Sets or unsets an environment variable for one scope. */
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : m_name(name) {
        if (const char* old = std::getenv(name))
            m_old = old;
        value != nullptr ? ::setenv(name, value, 1) : ::unsetenv(name);
    }
    ~ScopedEnv() { m_old ? ::setenv(m_name, m_old->c_str(), 1) : ::unsetenv(m_name); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

class ConnectionTableTest : public testing::Test {
protected:
    void SetUp() override {
        std::string pattern = testing::TempDir() + "serverstats-table-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        m_dir = pattern;
        m_table = m_dir + "/connections";
        // A password file as it should be: the user's own, for nobody else.
        write("secret", "s3cret:pass\n", 0600);
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }
    void write(const std::string& name, const std::string& text, mode_t mode = 0644) {
        const std::string path = m_dir + "/" + name;
        std::ofstream(path, std::ios::binary) << text;
        ASSERT_EQ(::chmod(path.c_str(), mode), 0);
    }
    /* Reads the table written from `text`; the messages land in m_errors. */
    std::vector<ConnectionEntry> read(const std::string& text) {
        write("connections", text);
        return ReadConnectionTable(m_table, m_errors);
    }

    std::string m_dir;
    std::string m_table;
    std::ostringstream m_errors;
};

TEST_F(ConnectionTableTest, PathFollowsXdgThenHome) {
    const ScopedEnv home("HOME", "/home/someone");
    {
        const ScopedEnv config("XDG_CONFIG_HOME", "/etc/xdg-user");
        EXPECT_EQ(ConnectionTablePath(), "/etc/xdg-user/serverstats/connections");
    }
    {
        const ScopedEnv config("XDG_CONFIG_HOME", "relative/config");
        EXPECT_EQ(ConnectionTablePath(), "/home/someone/.config/serverstats/connections");
    }
    const ScopedEnv config("XDG_CONFIG_HOME", nullptr);
    EXPECT_EQ(ConnectionTablePath(), "/home/someone/.config/serverstats/connections");
    const ScopedEnv noHome("HOME", nullptr);
    const std::string path = ConnectionTablePath();
    EXPECT_EQ(path.front(), '/'); // from the password database
    EXPECT_NE(path.find("/.config/serverstats/connections"), std::string::npos);
}

TEST_F(ConnectionTableTest, NoFileOrAnEmptyOneIsAnEmptyTableSilently) {
    EXPECT_TRUE(ReadConnectionTable(m_dir + "/missing", m_errors).empty());
    EXPECT_TRUE(ReadConnectionTable(m_dir + "/secret/under-a-file", m_errors).empty());
    EXPECT_TRUE(read("").empty());
    EXPECT_TRUE(read("# only a comment\n\n   \t\n").empty());
    EXPECT_EQ(m_errors.str(), "");
}

TEST_F(ConnectionTableTest, AnUnreadableTableIsReportedOnce) {
    ASSERT_EQ(::mkfifo((m_dir + "/fifo").c_str(), 0600), 0);
    // A folder, and a FIFO that nobody writes: neither may hang the start or count as a table.
    for (const std::string& path : {m_dir, m_dir + "/fifo"}) {
        m_errors.str("");
        EXPECT_TRUE(ReadConnectionTable(path, m_errors).empty());
        EXPECT_EQ(m_errors.str(), path + ": the connection table is not a plain file\n");
    }
    if (::geteuid() != 0) { // root reads whatever the mode says
        write("connections", "http://fs1.example.org\n", 0);
        m_errors.str("");
        EXPECT_TRUE(ReadConnectionTable(m_table, m_errors).empty());
        EXPECT_EQ(m_errors.str(),
                  m_table + ": cannot read the connection table: Permission denied\n");
    }
}

TEST_F(ConnectionTableTest, ATableOthersMayWriteIsRefusedInOneLine) {
    struct Row {
        mode_t mode;
        const char* message; // empty for a table that is read
    };
    for (const Row row : {Row{0644, ""}, Row{0600, ""}, Row{0444, ""},
                          Row{0664, "others may write the connection table: chmod go-w it"},
                          Row{0646, "others may write the connection table: chmod go-w it"}}) {
        write("connections", "http://fs1.example.org\n", row.mode);
        m_errors.str("");
        const std::size_t read = ReadConnectionTable(m_table, m_errors).size();
        if (*row.message == '\0') {
            EXPECT_EQ(read, 1U) << std::oct << row.mode;
            EXPECT_EQ(m_errors.str(), "");
        } else {
            EXPECT_EQ(read, 0U) << std::oct << row.mode;
            EXPECT_EQ(m_errors.str(), m_table + ": " + row.message + "; not read\n");
        }
    }
    if (::geteuid() != 0)
        GTEST_SKIP() << "giving a file away needs root";
    write("connections", "http://fs1.example.org\n");
    ASSERT_EQ(::chown(m_table.c_str(), 65534, 65534), 0);
    m_errors.str("");
    EXPECT_TRUE(ReadConnectionTable(m_table, m_errors).empty());
    EXPECT_EQ(m_errors.str(), m_table + ": the connection table belongs to another user; not read\n");
}

TEST_F(ConnectionTableTest, BadLinesAreReportedWithTheirNumberAndSkipped) {
    const std::vector<ConnectionEntry> table =
        read("# servers\r\n"
             "http://fs1.example.org:9100\r\n"
             "\r\n"
             "ftp://fs2.example.org\n"
             "  https://fs3.example.org:9100/node  # the third\n"
             "http://fs4.example.org colour=blue\n" +
             std::string(5000, 'x') +
             "\n"
             "http://[::1]:9100?x=1\n"
             "http://fs5.example.org/");
    ASSERT_EQ(table.size(), 4U);
    EXPECT_EQ(table[0].url, "http://fs1.example.org:9100/metrics");
    EXPECT_EQ(table[1].url, "https://fs3.example.org:9100/node");
    EXPECT_EQ(table[2].url, "http://[::1]:9100/metrics?x=1");
    EXPECT_EQ(table[3].url, "http://fs5.example.org/");
    EXPECT_TRUE(table[0].user.empty() && table[0].password.empty() && table[0].caFile.empty());
    EXPECT_EQ(m_errors.str(),
              m_table + ":4: only http:// and https:// addresses are allowed; line skipped\n" +
                  m_table +
                  ":6: unknown field \"colour=blue\" (known: user=, password-file=, ca=, "
                  "discover=, exporter-user=, exporter-password-file=, exporter-ca=); line "
                  "skipped\n" +
                  m_table + ":7: a line over 4096 bytes; line skipped\n");
}

TEST_F(ConnectionTableTest, AfterTwentyUnusableLinesOnlyTheirCountIsReported) {
    std::string text;
    for (int i = 0; i < 10'000; ++i)
        text += "fs" + std::to_string(i) + "\n";
    EXPECT_TRUE(read(text).empty());
    const std::string errors = m_errors.str();
    EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 21);
    EXPECT_NE(errors.find(m_table + ":20: not a usable address"), std::string::npos);
    EXPECT_TRUE(errors.ends_with("\n" + m_table + ": 9980 more unusable lines skipped\n"))
        << errors;
}

TEST_F(ConnectionTableTest, LoopbackIsDecidedWithoutAResolver) {
    const std::vector<ConnectionEntry> table =
        read("http://127.0.0.1\nhttp://127.200.1.1:1\n"
             "http://0x7f.1\nhttp://[::1]\n"
             "http://[0:0::1]\nhttp://LOCALHOST\n"
             "http://localhost.\n"
             // Names and addresses a resolver or a
             // route decides, not this machine:
             "http://127.0.0.1.\n"
             "http://128.0.0.1\nhttp://[::ffff:127.0.0.1]\n"
             "http://fs1.localhost\nhttps://fs1.example.org\n");
    std::vector<bool> loopback;
    for (const ConnectionEntry& entry : table)
        loopback.push_back(entry.loopback);
    EXPECT_EQ(loopback, std::vector<bool>({true, true, true, true, true, true, true, false, false,
                                           false, false, false}))
        << m_errors.str();
}

TEST_F(ConnectionTableTest, TheTableHoldsAtMost256Servers) {
    std::string text;
    for (int i = 0; i < 258; ++i)
        text += "http://fs" + std::to_string(i) + ".example.org\n";
    EXPECT_EQ(read(text).size(), 256U);
    EXPECT_EQ(m_errors.str(), m_table + ":257: more than 256 servers; line skipped\n" + m_table +
                                  ":258: more than 256 servers; line skipped\n");
}

/* One line, and what it gives: the URL of its entry, or a part of its message. */
struct Line {
    std::string text;
    std::string urlOrReason;
    bool usable;
};

std::ostream& operator<<(std::ostream& out, const Line& line) {
    return out << line.text;
}

class TableLine : public ConnectionTableTest, public testing::WithParamInterface<Line> {};

TEST_P(TableLine, IsUsableOrRefused) {
    const Line& line = GetParam();
    const ScopedEnv home("HOME", m_dir.c_str());
    write("group-readable", "pw\n", 0640);
    write("world-writable", "pw\n", 0602);
    write("two-lines", "pw\nmore\n", 0600);
    write("cr-inside", "pw\rmore\n", 0600);
    write("ca.pem", "not checked here\n");
    std::string text = line.text;
    for (std::size_t at; (at = text.find("DIR")) != std::string::npos;)
        text.replace(at, 3, m_dir);
    const std::vector<ConnectionEntry> table = read(text + "\n");
    if (line.usable) {
        ASSERT_EQ(table.size(), 1U) << m_errors.str();
        EXPECT_EQ(table[0].url, line.urlOrReason);
        EXPECT_EQ(m_errors.str(), "");
    } else {
        EXPECT_TRUE(table.empty());
        EXPECT_NE(m_errors.str().find(m_table + ":1: "), std::string::npos) << m_errors.str();
        EXPECT_NE(m_errors.str().find(line.urlOrReason), std::string::npos) << m_errors.str();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Lines, TableLine,
    testing::Values(
        // Kept as libcurl writes it back: the scheme in lower case, other bytes encoded.
        Line{"HTTPS://fs1.example.org:9100/x", "https://fs1.example.org:9100/x", true},
        Line{"http://fs1.example.org/\u00e4?q", "http://fs1.example.org/%c3%a4?q", true},
        Line{"http://fs1.example.org:", "http://fs1.example.org/metrics", true},
        Line{"https://fs1.example.org user=monitor password-file=~/secret ca=DIR/ca.pem",
             "https://fs1.example.org/metrics", true},
        Line{"http://127.0.0.1:9100 user=m password-file=DIR/secret",
             "http://127.0.0.1:9100/metrics", true},
        Line{"http://127.9.9.9 user=m password-file=DIR/secret", "http://127.9.9.9/metrics", true},
        Line{"http://LocalHost user=m password-file=DIR/secret", "http://localhost/metrics", true},
        Line{"http://2130706433 user=m password-file=DIR/secret", "http://127.0.0.1/metrics", true},
        // Pinned to this machine like its undotted form: no resolver hears of it.
        Line{"http://LOCALHOST. user=m password-file=DIR/secret", "http://localhost./metrics", true},
        Line{"http://[::1] user=m password-file=DIR/secret", "http://[::1]/metrics", true},
        Line{"http://fs1.example.org user=m password-file=DIR/secret", "only over https://", false},
        Line{"http://128.0.0.1 user=m password-file=DIR/secret", "only over https://", false},
        Line{"http://[::2] user=m password-file=DIR/secret", "only over https://", false},
        Line{"https://fs1.example.org user=m", "go together", false},
        Line{"https://fs1.example.org password-file=DIR/secret", "go together", false},
        Line{"https://fs1.example.org user=m password-file=DIR/group-readable", "open to others",
             false},
        Line{"https://fs1.example.org user=m password-file=DIR/world-writable", "open to others",
             false},
        Line{"https://fs1.example.org user=m password-file=DIR/missing", "No such file", false},
        Line{"https://fs1.example.org user=m password-file=DIR", "not a plain file", false},
        Line{"https://fs1.example.org user=m password-file=DIR/two-lines", "password alone", false},
        Line{"https://fs1.example.org user=m password-file=DIR/cr-inside", "control characters",
             false},
        Line{"https://fs1.example.org user=m\rx password-file=DIR/secret", "(0x0D)", false},
        Line{"http://fs1.example.org/a\001b", "(0x01)", false},
        Line{"https://fs1.example.org user=m password-file=secret", "must start with / or ~/",
             false},
        Line{"https://fs1.example.org user=a:b password-file=DIR/secret", "colon", false},
        Line{"https://fs1.example.org user=a user=b password-file=DIR/secret", "twice", false},
        Line{"https://fs1.example.org ca=", "needs a value", false},
        Line{"https://fs1.example.org ca=DIR/missing.pem", "certificate file", false},
        Line{"http://fs1.example.org ca=DIR/ca.pem", "https:// only", false},
        Line{"http://monitor:pw@fs1", "no user or password in the address", false},
        Line{"http://fs1.example.org/#frag", "fragment", false},
        Line{"http://", "not a usable address: No host part", false},
        Line{"http://:9100", "not a usable address", false},
        Line{"fs1.example.org", "not a usable address", false},
        Line{"http://fs1.example.org 1", "unknown field", false},
        Line{"http://fs1.example.org \u202Eeulb=ruoloc", "unknown field \"eulb=ruoloc\"", false},
        Line{"http://f$s", "not a usable address: Bad hostname", false},
        Line{"http://fs1.example.org:0", "port", false},
        Line{"http://fs1.example.org:65536", "Port number", false},
        Line{"http://fs1.example.org:9a", "Port number", false},
        Line{"http://[zz]:1", "IPv6", false},
        Line{"file:///etc/passwd", "only http:// and https://", false},
        // A discovery line: its path is the API's prefix, and whether the exporters' credentials
        // may go over plain http is known only for each exporter it lists.
        Line{"https://prom.example.org:9090 discover=node ca=DIR/ca.pem",
             "https://prom.example.org:9090/", true},
        Line{"https://prom.example.org/prom discover=node exporter-user=m "
             "exporter-password-file=DIR/secret exporter-ca=DIR/ca.pem",
             "https://prom.example.org/prom", true},
        Line{"http://127.0.0.1:9090 discover=node exporter-user=m exporter-password-file=DIR/secret",
             "http://127.0.0.1:9090/", true},
        // Whoever is on the way to a plain-http API could list a sink of their own.
        Line{"http://prom.example.org/prom discover=node exporter-user=m "
             "exporter-password-file=DIR/secret exporter-ca=DIR/ca.pem",
             "exporter-user= needs the API over https://", false},
        Line{"http://prom.example.org discover=node user=m password-file=DIR/secret",
             "only over https://", false},
        Line{"http://fs1.example.org exporter-ca=DIR/ca.pem", "need discover=", false},
        Line{"http://prom.example.org discover=node exporter-user=m", "go together", false},
        Line{"http://prom.example.org discover=node exporter-user=m "
             "exporter-password-file=DIR/group-readable",
             "open to others", false},
        Line{"http://prom.example.org discover=", "needs a value", false}));

TEST_F(ConnectionTableTest, DiscoveryLinesKeepTheirFieldsAndTheirPlace) {
    const std::vector<ConnectionEntry> table =
        read("http://fs1.example.org\n"
             "https://prom.example.org/ discover=node user=api password-file=" + m_dir +
             "/secret exporter-user=scrape exporter-password-file=" + m_dir + "/secret\n"
             "http://fs2.example.org\n");
    ASSERT_EQ(table.size(), 3U) << m_errors.str();
    EXPECT_EQ(table[0].discoverJob, "");
    const ConnectionEntry& discovery = table[1];
    EXPECT_EQ(discovery.discoverJob, "node");
    EXPECT_EQ(discovery.user, "api");
    EXPECT_EQ(discovery.exporterUser, "scrape");
    EXPECT_EQ(discovery.exporterPassword, "s3cret:pass");
    EXPECT_EQ(table[2].url, "http://fs2.example.org/metrics");
}

TEST_F(ConnectionTableTest, ThePasswordFileHoldsThePasswordAlone) {
    const std::vector<ConnectionEntry> table =
        read("https://fs1.example.org user=monitor password-file=" + m_dir + "/secret\n");
    ASSERT_EQ(table.size(), 1U);
    EXPECT_EQ(table[0].user, "monitor");
    EXPECT_EQ(table[0].password, "s3cret:pass"); // one final newline dropped, a colon kept
}

TEST_F(ConnectionTableTest, APasswordFileOfAnotherUserIsRefused) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "giving a file away needs root";
    ASSERT_EQ(::chown((m_dir + "/secret").c_str(), 65534, 65534), 0);
    EXPECT_TRUE(
        read("https://fs1.example.org user=m password-file=" + m_dir + "/secret\n").empty());
    EXPECT_NE(m_errors.str().find("does not belong to you"), std::string::npos);
}

/* Where a discovery line's exporter password may go: the Prometheus server names the
   exporters, so only this machine and the line's own certificate authority vouch. */
TEST(ExporterCredentials, GoOnlyWhereTheSitesOwnTrustReaches) {
    ConnectionEntry line;
    line.discoverJob = "node";
    EXPECT_EQ(ExporterCredentialsRefusal(line, "http://evil.example.org/", false), "")
        << "none to send";
    line.exporterUser = "scrape";
    line.exporterPassword = "pw";
    struct Row {
        const char* url;
        bool allOnLoopback; // of the exporters the line found
        bool withCa;
        bool allowed;
    };
    for (const Row row : {Row{"http://127.0.0.1:9100/anything", true, false, true},
                          Row{"https://[::1]:9100/metrics", true, false, true},
                          Row{"HTTP://LocalHost.:9100/metrics", true, false, true},
                          // Beside an exporter elsewhere, a loopback port may be a sink.
                          Row{"http://127.0.0.1:9100/anything", false, false, false},
                          Row{"http://127.0.0.1:9100/anything", false, true, false},
                          Row{"https://127.0.0.1:9100/metrics", false, true, true},
                          Row{"https://evil.example.org:9100/x", false, false, false},
                          Row{"https://evil.example.org:9100/x", false, true, true},
                          Row{"http://fs1.example.org:9100/metrics", false, true, false},
                          Row{"http://127.0.0.1.:9100/metrics", false, true, false},
                          Row{"http://[::ffff:127.0.0.1]:9100/metrics", false, true, false},
                          Row{"ftp://127.0.0.1/", true, true, false},
                          Row{"not a url", true, true, false}}) {
        line.exporterCaFile = row.withCa ? "/etc/ssl/site-ca.pem" : "";
        EXPECT_EQ(ExporterCredentialsRefusal(line, row.url, row.allOnLoopback).empty(), row.allowed)
            << row.url << (row.allOnLoopback ? " among loopback ones" : " beside others")
            << (row.withCa ? " with exporter-ca=" : "");
    }
}

} // namespace

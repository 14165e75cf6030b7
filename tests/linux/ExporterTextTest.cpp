// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

// The exporter text parser on recorded replies and on tables of small ones:
// what it must read, what it must skip, and what makes a reply unusable.

#include "ExporterText.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

namespace {

std::string ReadData(const std::string& name) {
    std::ifstream in(std::string(SERVERSTATS_TEST_DATA) + "/" + name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

struct Recorded {
    const char* file;
    std::uint64_t total, busy, faults, major;
    const char* name;
};

class RecordedReply : public testing::TestWithParam<Recorded> {};

TEST_P(RecordedReply, GivesItsSums) {
    const Recorded& r = GetParam();
    const std::string text = ReadData(r.file);
    ASSERT_FALSE(text.empty());
    ExporterReading reading;
    ASSERT_TRUE(ParseExporterText(text, reading));
    EXPECT_TRUE(reading.hasCpu && reading.hasVmstat && reading.hasUname);
    EXPECT_EQ(reading.cpuTotalMicros, r.total);
    EXPECT_EQ(reading.cpuBusyMicros, r.busy);
    EXPECT_EQ(reading.pageFaults, r.faults);
    EXPECT_EQ(reading.majorPageFaults, r.major);
    EXPECT_STREQ(reading.nodeName.data(), r.name);
}

INSTANTIATE_TEST_SUITE_P(
    Exporter, RecordedReply,
    testing::Values(Recorded{"exporter-2cpu.txt", 901350000, 145150000, 4149432, 1128, "vm"},
                    Recorded{"exporter-64cpu.txt", 548449439030000, 159634682160000,
                             8391720331, 2174339, "fs64"}));

/* A reply that parses, and what it says. */
struct Accepted {
    const char* description;
    std::string text;
    std::uint64_t total = 0, busy = 0, faults = 0, major = 0;
    std::string name;
    bool hasCpu = true, hasVmstat = true, hasUname = true;
};

std::ostream& operator<<(std::ostream& out, const Accepted& a) {
    return out << a.description;
}

const std::string Cpu0 = "node_cpu_seconds_total{cpu=\"0\",mode=\"idle\"} 3\n"
                         "node_cpu_seconds_total{cpu=\"0\",mode=\"user\"} 1\n";
const std::string Vm = "node_vmstat_pgfault 10\nnode_vmstat_pgmajfault 4\n";
const std::string Uname = "node_uname_info{nodename=\"fs1\"} 1\n";

class AcceptedReply : public testing::TestWithParam<Accepted> {};

TEST_P(AcceptedReply, ReadsWhatItHolds) {
    const Accepted& a = GetParam();
    ExporterReading reading;
    reading.cpuTotalMicros = 99; // a previous reading must not leak into this one
    ASSERT_TRUE(ParseExporterText(a.text, reading));
    EXPECT_EQ(reading.hasCpu, a.hasCpu);
    EXPECT_EQ(reading.hasVmstat, a.hasVmstat);
    EXPECT_EQ(reading.hasUname, a.hasUname);
    EXPECT_EQ(reading.cpuTotalMicros, a.total);
    EXPECT_EQ(reading.cpuBusyMicros, a.busy);
    if (a.hasVmstat) {
        EXPECT_EQ(reading.pageFaults, a.faults);
        EXPECT_EQ(reading.majorPageFaults, a.major);
    }
    EXPECT_EQ(std::string(reading.nodeName.data()), a.name);
}

const std::string LongName(300, 'x');
// 254 bytes, then a two-byte character that does not fit whole.
const std::string CutUtf8 = std::string(254, 'y') + "\xC3\xA9";

INSTANTIATE_TEST_SUITE_P(
    Text, AcceptedReply,
    testing::Values(
        Accepted{"plain", Cpu0 + Vm + Uname, 4000000, 1000000, 10, 4, "fs1"},
        Accepted{"exponents and exact big integers",
                 "node_cpu_seconds_total{cpu=\"0\",mode=\"system\"} 1.5e+03\n"
                 "node_cpu_seconds_total{cpu=\"0\",mode=\"idle\"} 2.3446575e+07\n"
                 "node_vmstat_pgfault 9007199254740993e0\n"
                 "node_vmstat_pgmajfault 9.007199254740991e+15\n" +
                     Uname,
                 23448075000000, 1500000000, 9007199254740992, 9007199254740991, "fs1"},
        Accepted{"a counter just below 2^64",
                 Cpu0 + "node_vmstat_pgfault 1.8446744073709550e19\nnode_vmstat_pgmajfault 0\n" +
                     Uname,
                 4000000, 1000000, 18446744073709549568U, 0, "fs1"},
        Accepted{"labels in any order, extra labels, blanks, a trailing comma, a timestamp",
                 "node_cpu_seconds_total{ mode = \"nice\" ,\tcore=\"x\", cpu=\"3\", }  2 "
                 "1700000000000\n"
                 "node_cpu_seconds_total {cpu=\"3\",mode=\"iowait\"}\t0.25\n"
                 "node_vmstat_pgfault{} 10 -5\n"
                 "node_vmstat_pgmajfault 4\n"
                 "node_uname_info{sysname=\"Linux\",nodename=\"fs1\",machine=\"x86_64\"} 1\n",
                 2250000, 2000000, 10, 4, "fs1"},
        Accepted{"escapes in the node name, and a brace and comma inside other label values",
                 Cpu0 + Vm +
                     "node_uname_info{version=\"#1 {a,b}\",nodename=\"a\\\"b\\\\c\\nd\"} 1\n",
                 4000000, 1000000, 10, 4, "a\"b\\c\nd"},
        Accepted{"CRLF line ends and no final newline",
                 "node_cpu_seconds_total{cpu=\"0\",mode=\"user\"} 1\r\n"
                 "node_vmstat_pgfault 10\r\nnode_vmstat_pgmajfault 4\r\n"
                 "node_uname_info{nodename=\"fs1\"} 1",
                 1000000, 1000000, 10, 4, "fs1"},
        Accepted{"comments, TYPE lines and blank lines anywhere, indented lines",
                 "# HELP node_cpu_seconds_total Seconds.\n\n# TYPE node_cpu_seconds_total "
                 "counter\n" +
                     Cpu0 + "   # node_vmstat_pgfault 99\n\t\n  " + Vm +
                     "#node_uname_info{nodename=\"no\"} 1\n" + Uname + "# EOF\n",
                 4000000, 1000000, 10, 4, "fs1"},
        Accepted{"missing CPUs, and a mode of another system counted as busy",
                 "node_cpu_seconds_total{cpu=\"0\",mode=\"idle\"} 1\n"
                 "node_cpu_seconds_total{cpu=\"2\",mode=\"interrupt\"} 1\n"
                 "node_cpu_seconds_total{cpu=\"8191\",mode=\"idle\"} 1\n" +
                     Vm + Uname,
                 3000000, 1000000, 10, 4, "fs1"},
        Accepted{"CPU seconds rounded to microseconds",
                 "node_cpu_seconds_total{cpu=\"0\",mode=\"user\"} 0.0000016\n"
                 "node_cpu_seconds_total{cpu=\"1\",mode=\"user\"} 394.22\n",
                 394220002, 394220002, 0, 0, "", true, false, false},
        Accepted{"families of other names are skipped unread",
                 Cpu0 + Vm + Uname +
                     "node_cpu_seconds_total_foo NaN\n"
                     "node_cpu_guest_seconds_total{cpu=\"0\",mode=\"user\"} -1\n"
                     "node_vmstat_pgfaults{ garbage\nnode_vmstat_pgmajfault:x -Inf\n"
                     "node_uname_info2{nodename=\"other\"} 1\nnode_cpux\nnode_\nnodes 1\n",
                 4000000, 1000000, 10, 4, "fs1"},
        Accepted{"missing families, and a vmstat family without its major faults",
                 "node_vmstat_pgfault 10\n", 0, 0, 0, 0, "", false, false, false},
        Accepted{"an empty reply", "", 0, 0, 0, 0, "", false, false, false},
        Accepted{"a long node name is cut at 255 bytes",
                 "node_uname_info{nodename=\"" + LongName + "\"} 1\n", 0, 0, 0, 0,
                 LongName.substr(0, 255), false, false, true},
        Accepted{"a cut never leaves half a character",
                 "node_uname_info{nodename=\"" + CutUtf8 + "\"} 1\n", 0, 0, 0, 0,
                 CutUtf8.substr(0, 254), false, false, true},
        Accepted{"a name of 255 bytes is not cut, whatever its last byte",
                 "node_uname_info{nodename=\"" + CutUtf8.substr(0, 255) + "\"} 1\n", 0, 0, 0, 0,
                 CutUtf8.substr(0, 255), false, false, true}));

/* A reply that must be refused as a bad answer. */
struct Refused {
    const char* description;
    std::string text;
};

std::ostream& operator<<(std::ostream& out, const Refused& r) {
    return out << r.description;
}

class RefusedReply : public testing::TestWithParam<Refused> {};

TEST_P(RefusedReply, IsABadAnswer) {
    ExporterReading reading;
    EXPECT_FALSE(ParseExporterText(GetParam().text, reading));
}

std::string CpuLine(const std::string& value) {
    return "node_cpu_seconds_total{cpu=\"0\",mode=\"user\"} " + value + "\n";
}

std::string SeventeenModes() {
    std::string text;
    for (int i = 0; i < 17; ++i)
        text += "node_cpu_seconds_total{cpu=\"0\",mode=\"m" + std::to_string(i) + "\"} 1\n";
    return text;
}

INSTANTIATE_TEST_SUITE_P(
    Text, RefusedReply,
    testing::Values(
        Refused{"NaN CPU time", CpuLine("NaN")}, Refused{"+Inf CPU time", CpuLine("+Inf")},
        Refused{"-Inf CPU time", CpuLine("-Inf")}, Refused{"negative CPU time", CpuLine("-1")},
        Refused{"CPU time beyond 2^64 microseconds", CpuLine("1.9e13")},
        Refused{"CPU time beyond a double", CpuLine("1e400")},
        Refused{"sums beyond 2^64 microseconds", CpuLine("1.8e13") +
                                                     "node_cpu_seconds_total{cpu=\"1\","
                                                     "mode=\"idle\"} 1.8e13\n"},
        Refused{"a sign alone", CpuLine("+")},
        Refused{"a doubled sign", CpuLine("+-1")}, Refused{"hex", CpuLine("0x10")},
        Refused{"a value with trailing junk", CpuLine("1x")},
        Refused{"no value", CpuLine("")},
        Refused{"junk after the timestamp", CpuLine("1 123 x")},
        Refused{"a fractional timestamp", CpuLine("1 1.5")},
        Refused{"NaN page faults", "node_vmstat_pgfault NaN\n"},
        Refused{"page faults at 2^64", "node_vmstat_pgfault 1.8446744073709552e19\n"},
        Refused{"a fraction of a page fault", "node_vmstat_pgmajfault 1.5\n"},
        Refused{"more major faults than faults",
                "node_vmstat_pgfault 3\nnode_vmstat_pgmajfault 4\n"},
        Refused{"the same CPU and mode twice", CpuLine("1") + CpuLine("2")},
        Refused{"the same CPU spelt twice", CpuLine("1") +
                                                "node_cpu_seconds_total{mode=\"user\","
                                                "cpu=\"00\"} 1\n"},
        Refused{"page faults twice", "node_vmstat_pgfault 1\nnode_vmstat_pgfault 1\n"},
        Refused{"two uname lines",
                "node_uname_info{nodename=\"a\"} 1\nnode_uname_info{nodename=\"b\"} 1\n"},
        Refused{"a label given twice",
                "node_cpu_seconds_total{cpu=\"0\",mode=\"idle\",cpu=\"1\"} 1\n"},
        Refused{"a CPU that is not a number",
                "node_cpu_seconds_total{cpu=\"cpu0\",mode=\"idle\"} 1\n"},
        Refused{"a CPU beyond the table",
                "node_cpu_seconds_total{cpu=\"8192\",mode=\"idle\"} 1\n"},
        Refused{"no mode", "node_cpu_seconds_total{cpu=\"0\"} 1\n"},
        Refused{"no labels", "node_cpu_seconds_total 1\n"},
        Refused{"more modes than slots", SeventeenModes()},
        Refused{"an unclosed label set", "node_cpu_seconds_total{cpu=\"0\",mode=\"idle\" 1\n"},
        Refused{"an unclosed label value", "node_uname_info{nodename=\"fs1} 1\n"},
        Refused{"an escape the format lacks", "node_uname_info{nodename=\"f\\x\"} 1\n"},
        Refused{"an unquoted label value", "node_uname_info{nodename=fs1} 1\n"},
        Refused{"a label set with a comma only", "node_vmstat_pgfault{,} 1\n"},
        Refused{"a uname line without a node name", "node_uname_info{sysname=\"Linux\"} 1\n"},
        Refused{"a uname line without a value", "node_uname_info{nodename=\"fs1\"}\n"}));

} // namespace

// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

// The exporter text parser, two ways, picked by the input's first byte:
// - raw bytes: it must never misbehave, and what it returns must be sound
//   (busy within total, flags and fields that agree, CRLF the same as LF);
// - a reply generated from known numbers, with random spacing, label order,
//   comments, noise families and line ends, maybe with one fault injected:
//   it must give back exactly those numbers, or refuse the faulty reply.

#include "ExporterText.h"
#include "FuzzCheck.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

bool SameReading(const ExporterReading& a, const ExporterReading& b) {
    return a.cpuTotalMicros == b.cpuTotalMicros && a.cpuBusyMicros == b.cpuBusyMicros &&
           a.pageFaults == b.pageFaults && a.majorPageFaults == b.majorPageFaults &&
           a.nodeName == b.nodeName && a.hasCpu == b.hasCpu && a.hasVmstat == b.hasVmstat &&
           a.hasUname == b.hasUname;
}

void CheckSound(const ExporterReading& r) {
    FUZZ_CHECK(r.nodeName.back() == '\0');
    FUZZ_CHECK(r.cpuBusyMicros <= r.cpuTotalMicros);
    FUZZ_CHECK(r.hasCpu || r.cpuTotalMicros == 0);
    FUZZ_CHECK(r.hasUname || r.nodeName[0] == '\0');
    FUZZ_CHECK(!r.hasVmstat || r.majorPageFaults <= r.pageFaults);
}

void FuzzRaw(std::string_view text) {
    ExporterReading reading;
    const bool ok = ParseExporterText(text, reading);
    if (!ok)
        return;
    CheckSound(reading);
    if (text.find('\r') != std::string_view::npos)
        return;
    std::string crlf;
    for (char c : text)
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    ExporterReading again;
    FUZZ_CHECK(ParseExporterText(crlf, again));
    FUZZ_CHECK(SameReading(reading, again));
}

/* Blanks where the format allows them: none, or a run of spaces and tabs. */
std::string Blanks(FuzzedDataProvider& in, bool atLeastOne = false) {
    switch (in.ConsumeIntegralInRange(0, 4)) {
    case 1:
        return "  ";
    case 2:
        return "\t";
    case 3:
        return " \t ";
    case 4:
        return atLeastOne ? " " : "";
    default:
        return " ";
    }
}

/* The exact decimal text of `micros` millionths, plain or with an exponent. */
std::string Seconds(FuzzedDataProvider& in, std::uint64_t micros) {
    const std::string digits = std::to_string(micros);
    if (in.ConsumeBool()) {
        std::string mantissa = digits.substr(0, 1);
        std::string rest = digits.substr(1);
        while (!rest.empty() && rest.back() == '0')
            rest.pop_back();
        if (!rest.empty())
            mantissa += "." + rest;
        const int exponent = int(digits.size()) - 1 - 6;
        const std::string e = in.ConsumeBool() ? "e" : "E";
        return mantissa + e + (exponent < 0 ? "-" : "+") +
               (std::abs(exponent) < 10 ? "0" : "") + std::to_string(std::abs(exponent));
    }
    const std::string padded = std::string(digits.size() < 7 ? 7 - digits.size() : 0, '0') + digits;
    std::string whole = padded.substr(0, padded.size() - 6);
    std::string fraction = padded.substr(padded.size() - 6);
    while (!fraction.empty() && fraction.back() == '0' && in.ConsumeBool())
        fraction.pop_back();
    return (in.ConsumeIntegralInRange(0, 7) == 0 ? "+" : "") + whole +
           (fraction.empty() ? "" : "." + fraction);
}

/* The exact text of a counter: an integer, with an exponent, or with a zero fraction. */
std::string Counter(FuzzedDataProvider& in, std::uint64_t value) {
    const std::string digits = std::to_string(value);
    switch (in.ConsumeIntegralInRange(0, 3)) {
    case 1: {
        std::string rest = digits.substr(1);
        while (!rest.empty() && rest.back() == '0')
            rest.pop_back();
        return digits.substr(0, 1) + (rest.empty() ? "" : "." + rest) + "e+" +
               std::to_string(digits.size() - 1);
    }
    case 2:
        return digits + ".0";
    case 3:
        return digits + "e0";
    default:
        return digits;
    }
}

std::string Escaped(const std::string& raw) {
    std::string out;
    for (char c : raw)
        out += c == '\\' ? "\\\\" : c == '"' ? "\\\"" : c == '\n' ? "\\n" : std::string(1, c);
    return out;
}

bool IsValidUtf8(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        const auto lead = static_cast<unsigned char>(s[i]);
        const std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
        if (length == 0 || i + length > s.size())
            return false;
        for (std::size_t k = 1; k < length; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80)
                return false;
        i += length;
    }
    return true;
}

/* A series line: the name, labels in the given order with noise, the value, maybe a stamp. */
std::string Series(FuzzedDataProvider& in, const std::string& name,
                   std::vector<std::string> labels, const std::string& value) {
    if (in.ConsumeBool())
        labels.push_back("core=\"" + std::to_string(in.ConsumeIntegral<std::uint8_t>()) + "\"");
    for (std::size_t i = labels.size(); i > 1; --i)
        std::swap(labels[i - 1], labels[in.ConsumeIntegralInRange<std::size_t>(0, i - 1)]);
    std::string line = (in.ConsumeIntegralInRange(0, 7) == 0 ? Blanks(in) : "") + name;
    if (!labels.empty() || in.ConsumeIntegralInRange(0, 7) == 0) {
        line += Blanks(in) + "{";
        for (std::size_t i = 0; i < labels.size(); ++i) {
            const std::size_t equals = labels[i].find('=');
            line += (i > 0 ? "," : "") + Blanks(in) + labels[i].substr(0, equals) + Blanks(in) +
                    "=" + Blanks(in) + labels[i].substr(equals + 1) + Blanks(in);
        }
        line += in.ConsumeIntegralInRange(0, 7) == 0 && !labels.empty() ? ",}" : "}";
        line += Blanks(in);
    } else {
        line += Blanks(in, true);
    }
    line += value;
    if (in.ConsumeIntegralInRange(0, 3) == 0)
        line += Blanks(in, true) + std::to_string(in.ConsumeIntegral<std::int32_t>());
    if (in.ConsumeIntegralInRange(0, 7) == 0)
        line += Blanks(in, true);
    return line;
}

const char* const Modes[] = {"idle", "iowait", "user", "system", "nice", "irq", "softirq", "steal",
                             "interrupt"};

const char* const Noise[] = {
    "# HELP node_cpu_seconds_total Seconds the CPUs spent in each mode.",
    "# TYPE node_cpu_seconds_total counter",
    "# node_vmstat_pgfault 99",
    "",
    "node_cpu_guest_seconds_total{cpu=\"0\",mode=\"user\"} NaN",
    "node_cpu_seconds_total_foo -1",
    "node_vmstat_pgfaults{ garbage",
    "node_vmstat_pgmajfault:x +Inf",
    "node_uname_info2{nodename=\"other\"} 1",
    "go_gc_duration_seconds{quantile=\"0.5\"} 3.4e-05",
    "node_",
    "nodes_total 1",
};

enum class Fault { None, Duplicate, BadValue, MajorAboveAll, BadEscape, Unclosed, Count };

void FuzzGenerated(FuzzedDataProvider& in) {
    std::vector<std::string> lines;
    std::uint64_t total = 0;
    std::uint64_t busy = 0;
    const auto fault = Fault(in.ConsumeIntegralInRange(0, int(Fault::Count) * 2));
    bool faultPlaced = false;

    // CPUs with gaps in their numbering, each with some of the modes.
    const int cpuCount = in.ConsumeIntegralInRange(0, 70);
    std::vector<bool> used(MaxExporterCpus);
    std::vector<std::string> cpuLines;
    for (int c = 0; c < cpuCount; ++c) {
        std::size_t cpu = in.ConsumeIntegralInRange(0, 9) == 0
                              ? in.ConsumeIntegralInRange<std::size_t>(0, MaxExporterCpus - 1)
                              : in.ConsumeIntegralInRange<std::size_t>(0, 80);
        if (used[cpu])
            continue;
        used[cpu] = true;
        for (const char* mode : Modes) {
            if (in.ConsumeIntegralInRange(0, 3) == 0)
                continue;
            const std::uint64_t micros = in.ConsumeIntegralInRange<std::uint64_t>(0, 1ULL << 44);
            std::string cpuLabel = std::to_string(cpu);
            std::string value = Seconds(in, micros);
            if (fault == Fault::BadValue && !faultPlaced && in.ConsumeBool()) {
                static const char* const bad[] = {"NaN", "+Inf", "-Inf", "-1", "1e400", "1x", "+-1"};
                value = bad[in.ConsumeIntegralInRange(0, 6)];
                faultPlaced = true;
            }
            cpuLines.push_back(Series(in, "node_cpu_seconds_total",
                                      {"cpu=\"" + cpuLabel + "\"",
                                       "mode=\"" + std::string(mode) + "\""},
                                      value));
            total += micros;
            if (std::strcmp(mode, "idle") != 0 && std::strcmp(mode, "iowait") != 0)
                busy += micros;
        }
    }
    if (fault == Fault::Duplicate && !cpuLines.empty()) {
        cpuLines.push_back(cpuLines[in.ConsumeIntegralInRange<std::size_t>(0, cpuLines.size() - 1)]);
        faultPlaced = true;
    }
    lines.insert(lines.end(), cpuLines.begin(), cpuLines.end());

    const std::uint64_t faults = in.ConsumeIntegralInRange<std::uint64_t>(0, (1ULL << 53) - 1);
    std::uint64_t major = faults - std::min(faults, in.ConsumeIntegral<std::uint64_t>());
    if (fault == Fault::MajorAboveAll && faults < (1ULL << 53) - 1) {
        major = faults + 1;
        faultPlaced = true;
    }
    const bool hasFaults = in.ConsumeIntegralInRange(0, 7) != 0;
    const bool hasMajor = faultPlaced && fault == Fault::MajorAboveAll
                              ? hasFaults
                              : in.ConsumeIntegralInRange(0, 7) != 0;
    if (fault == Fault::MajorAboveAll && !hasFaults)
        faultPlaced = false;
    if (hasFaults)
        lines.push_back(Series(in, "node_vmstat_pgfault", {}, Counter(in, faults)));
    if (hasMajor)
        lines.push_back(Series(in, "node_vmstat_pgmajfault", {}, Counter(in, major)));

    const bool hasUname = in.ConsumeIntegralInRange(0, 7) != 0;
    std::string name;
    if (hasUname) {
        name = in.ConsumeRandomLengthString(300);
        name.erase(std::remove(name.begin(), name.end(), '\0'), name.end());
        std::string escaped = Escaped(name);
        if (fault == Fault::BadEscape) {
            // At either end, where it cannot pair with a backslash of the name itself.
            escaped.insert(in.ConsumeBool() ? 0 : escaped.size(), "\\t");
            faultPlaced = true;
        }
        std::string line = Series(in, "node_uname_info",
                                  {"nodename=\"" + escaped + "\"", "sysname=\"Linux\""}, "1");
        if (fault == Fault::Unclosed) {
            line.erase(line.rfind('}'), 1); // the label set's: the name may hold braces
            faultPlaced = true;
        }
        lines.push_back(line);
    }

    const int noise = in.ConsumeIntegralInRange(0, 8);
    for (int i = 0; i < noise; ++i)
        lines.push_back(std::string(Noise[in.ConsumeIntegralInRange<std::size_t>(
                            0, sizeof Noise / sizeof *Noise - 1)]));
    for (std::size_t i = lines.size(); i > 1; --i)
        std::swap(lines[i - 1], lines[in.ConsumeIntegralInRange<std::size_t>(0, i - 1)]);

    std::string text;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        text += lines[i];
        if (i + 1 < lines.size() || in.ConsumeBool())
            text += in.ConsumeBool() ? "\r\n" : "\n";
    }

    ExporterReading reading;
    const bool ok = ParseExporterText(text, reading);
    if (faultPlaced) {
        FUZZ_CHECK(!ok);
        return;
    }
    FUZZ_CHECK(ok);
    CheckSound(reading);
    FUZZ_CHECK(reading.hasCpu == !cpuLines.empty());
    FUZZ_CHECK(reading.cpuTotalMicros == total);
    FUZZ_CHECK(reading.cpuBusyMicros == busy);
    FUZZ_CHECK(reading.hasVmstat == (hasFaults && hasMajor));
    if (reading.hasVmstat)
        FUZZ_CHECK(reading.pageFaults == faults && reading.majorPageFaults == major);
    FUZZ_CHECK(reading.hasUname == hasUname);
    const std::string_view got(reading.nodeName.data());
    if (name.size() <= 255) {
        FUZZ_CHECK(got == name);
    } else {
        FUZZ_CHECK(got.size() >= 252 && got.size() <= 255 && name.compare(0, got.size(), got) == 0);
        FUZZ_CHECK(!IsValidUtf8(name) || IsValidUtf8(got));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    if ((data[0] & 1) != 0) {
        FuzzRaw(std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1));
        return 0;
    }
    FuzzedDataProvider in(data + 1, size - 1);
    FuzzGenerated(in);
    return 0;
}

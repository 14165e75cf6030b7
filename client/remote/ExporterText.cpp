// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#include "ExporterText.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>

namespace {

using std::string_view;

constexpr std::uint64_t MaxU64 = std::numeric_limits<std::uint64_t>::max();
constexpr double TwoTo64 = 18446744073709551616.0;

/* What the parse has seen so far, to refuse a series that comes twice. */
struct Seen {
    /* Per CPU number, a bit for each mode slot; valid up to cpuLimit, set up as CPUs appear
       so that a small server does not pay for clearing the whole table. */
    std::array<std::uint16_t, MaxExporterCpus> modesByCpu;
    std::size_t cpuLimit = 0;
    /* The distinct modes, as their escaped text: each string has one escaped form. */
    std::array<string_view, MaxExporterModes> modes;
    std::size_t modeCount = 0;
    bool pageFaults = false;
    bool majorPageFaults = false;
    bool uname = false;
};
static_assert(MaxExporterModes <= 16, "a mode slot is a bit of a 16-bit mask");

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}
bool IsNameStart(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}
bool IsNameChar(char c) {
    return IsNameStart(c) || (c >= '0' && c <= '9');
}

void SkipBlanks(string_view& s) {
    std::size_t i = 0;
    while (i < s.size() && IsBlank(s[i]))
        ++i;
    s.remove_prefix(i);
}

/* Takes the leading run of characters accepted by `accept`. */
template <typename Accept> string_view Take(string_view& s, Accept accept) {
    std::size_t i = 0;
    while (i < s.size() && accept(s[i]))
        ++i;
    const string_view token = s.substr(0, i);
    s.remove_prefix(i);
    return token;
}

/* The rest of the line after its metric name, when that name is exactly `name`. */
std::optional<string_view> AfterName(string_view line, string_view name) {
    if (line.substr(0, name.size()) != name)
        return std::nullopt;
    line.remove_prefix(name.size());
    if (!line.empty() && (IsNameChar(line.front()) || line.front() == ':'))
        return std::nullopt; // a longer name: another family
    return line;
}

bool Eat(string_view& s, char c) {
    if (s.empty() || s.front() != c)
        return false;
    s.remove_prefix(1);
    return true;
}

/* A label value's escaped text up to its closing quote, which is consumed; empty when the
   value has no end or an escape other than \\, \" and \n. */
std::optional<string_view> TakeQuoted(string_view& s) {
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '"') {
            const string_view raw = s.substr(0, i);
            s.remove_prefix(i + 1);
            return raw;
        }
        if (s[i] == '\\') {
            if (i + 1 == s.size() || (s[i + 1] != '\\' && s[i + 1] != '"' && s[i + 1] != 'n'))
                return std::nullopt;
            ++i;
        }
    }
    return std::nullopt;
}

/* Walks a `{name="value",...}` label set, if there is one, calling `onLabel(name, raw)` with
   each value's escaped text; false when the set is malformed or `onLabel` refuses. */
template <typename OnLabel> bool WalkLabels(string_view& s, OnLabel onLabel) {
    SkipBlanks(s);
    if (!Eat(s, '{'))
        return true;
    for (;;) {
        SkipBlanks(s);
        if (Eat(s, '}'))
            return true; // an empty set, or a comma before the brace
        if (s.empty() || !IsNameStart(s.front()))
            return false;
        const string_view name = Take(s, IsNameChar);
        SkipBlanks(s);
        if (!Eat(s, '='))
            return false;
        SkipBlanks(s);
        if (!Eat(s, '"'))
            return false;
        const std::optional<string_view> raw = TakeQuoted(s);
        if (!raw || !onLabel(name, *raw))
            return false;
        SkipBlanks(s);
        if (Eat(s, '}'))
            return true;
        if (!Eat(s, ','))
            return false;
    }
}

/* The sample's value, and that nothing but an optional integer timestamp follows it. */
std::optional<double> TakeValue(string_view s) {
    SkipBlanks(s);
    const string_view token = Take(s, [](char c) { return !IsBlank(c); });
    SkipBlanks(s);
    if (!s.empty()) {
        std::int64_t stamp = 0; // milliseconds since the epoch; not needed
        const auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), stamp);
        if (error != std::errc{})
            return std::nullopt;
        s.remove_prefix(std::size_t(end - s.data()));
        SkipBlanks(s);
        if (!s.empty())
            return std::nullopt;
    }
    // The format writes infinities as "+Inf"; from_chars takes no plus sign.
    const bool plus = !token.empty() && token.front() == '+';
    const char* first = token.data() + (plus ? 1 : 0);
    const char* last = token.data() + token.size();
    if (first == last || (plus && *first == '-'))
        return std::nullopt;
    double value = 0;
    const auto [end, error] = std::from_chars(first, last, value);
    if (error != std::errc{} || end != last)
        return std::nullopt;
    return value;
}

/* A value that can be a counter: finite, not negative, below 2^64. */
bool IsCounterRange(double value) {
    return value >= 0 && value < TwoTo64; // false for NaN as well
}

/* Seconds in whole microseconds, rounded; empty when they cannot be a counter. */
std::optional<std::uint64_t> Micros(double seconds) {
    const double micros = std::round(seconds * 1e6);
    if (!IsCounterRange(seconds) || !IsCounterRange(micros))
        return std::nullopt;
    return std::uint64_t(micros);
}

/* A counter as the exact integer it is; a fraction is no counter. */
std::optional<std::uint64_t> Count(double value) {
    if (!IsCounterRange(value) || value != std::floor(value))
        return std::nullopt;
    return std::uint64_t(value);
}

bool Add(std::uint64_t& sum, std::uint64_t value) {
    if (value > MaxU64 - sum)
        return false;
    sum += value;
    return true;
}

/* A CPU label: a plain decimal number. */
std::optional<std::size_t> CpuNumber(string_view raw) {
    std::size_t cpu = 0;
    const auto [end, error] = std::from_chars(raw.data(), raw.data() + raw.size(), cpu);
    if (error != std::errc{} || raw.empty() || end != raw.data() + raw.size())
        return std::nullopt;
    return cpu;
}

/* The mode's slot, given one if it is new; empty when every slot is taken. */
std::optional<std::size_t> ModeSlot(Seen& seen, string_view mode) {
    for (std::size_t i = 0; i < seen.modeCount; ++i)
        if (seen.modes[i] == mode)
            return i;
    if (seen.modeCount == seen.modes.size())
        return std::nullopt;
    seen.modes[seen.modeCount] = mode;
    return seen.modeCount++;
}

bool ReadCpuLine(string_view rest, ExporterReading& reading, Seen& seen) {
    std::optional<string_view> cpuLabel;
    std::optional<string_view> modeLabel;
    const bool labelsOk = WalkLabels(rest, [&](string_view name, string_view raw) {
        std::optional<string_view>& label = name == "cpu" ? cpuLabel : modeLabel;
        if (name != "cpu" && name != "mode")
            return true;
        if (label)
            return false; // the same label twice: which one would be meant?
        label = raw;
        return true;
    });
    if (!labelsOk || !cpuLabel || !modeLabel)
        return false;
    const std::optional<std::size_t> cpu = CpuNumber(*cpuLabel);
    if (!cpu || *cpu >= MaxExporterCpus)
        return false;
    const std::optional<std::size_t> slot = ModeSlot(seen, *modeLabel);
    if (!slot)
        return false;
    if (*cpu >= seen.cpuLimit) {
        std::fill(seen.modesByCpu.begin() + std::ptrdiff_t(seen.cpuLimit),
                  seen.modesByCpu.begin() + std::ptrdiff_t(*cpu + 1), std::uint16_t(0));
        seen.cpuLimit = *cpu + 1;
    }
    const auto bit = std::uint16_t(1U << *slot);
    if ((seen.modesByCpu[*cpu] & bit) != 0)
        return false;
    seen.modesByCpu[*cpu] |= bit;

    const std::optional<double> seconds = TakeValue(rest);
    const std::optional<std::uint64_t> micros = seconds ? Micros(*seconds) : std::nullopt;
    if (!micros || !Add(reading.cpuTotalMicros, *micros))
        return false;
    // The busy part is a part of the total, which did not overflow.
    if (*modeLabel != "idle" && *modeLabel != "iowait")
        reading.cpuBusyMicros += *micros;
    reading.hasCpu = true;
    return true;
}

bool ReadCounterLine(string_view rest, std::uint64_t& counter, bool& seen) {
    if (seen)
        return false;
    seen = true;
    const bool labelsOk = WalkLabels(rest, [](string_view, string_view) { return true; });
    const std::optional<double> value = labelsOk ? TakeValue(rest) : std::nullopt;
    const std::optional<std::uint64_t> count = value ? Count(*value) : std::nullopt;
    if (!count)
        return false;
    counter = *count;
    return true;
}

/* Unescapes a label value into `out`, NUL-terminated; a longer one is cut between characters. */
void CopyName(string_view raw, std::array<char, 256>& out) {
    std::size_t n = 0;
    std::size_t i = 0;
    for (; i < raw.size() && n + 1 < out.size(); ++i) {
        char c = raw[i];
        if (c == '\\') {
            c = raw[++i]; // a well-formed escape: TakeQuoted checked it
            if (c == 'n')
                c = '\n';
        }
        out[n++] = c;
    }
    const bool cut = i < raw.size();
    // Where the name was cut, a UTF-8 sequence left incomplete is dropped whole.
    if (cut) {
        std::size_t start = n;
        while (start > 0 && (static_cast<unsigned char>(out[start - 1]) & 0xC0) == 0x80)
            --start;
        if (start > 0) {
            const auto lead = static_cast<unsigned char>(out[start - 1]);
            const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
            if (lead >= 0xC0 && n - (start - 1) < length)
                n = start - 1;
        }
    }
    out[n] = '\0';
}

bool ReadUnameLine(string_view rest, ExporterReading& reading, Seen& seen) {
    if (seen.uname)
        return false;
    seen.uname = true;
    std::optional<string_view> nodeName;
    const bool labelsOk = WalkLabels(rest, [&](string_view name, string_view raw) {
        if (name != "nodename")
            return true;
        if (nodeName)
            return false;
        nodeName = raw;
        return true;
    });
    // An information metric: its value is always 1 and means nothing, but must be a number.
    if (!labelsOk || !nodeName || !TakeValue(rest))
        return false;
    CopyName(*nodeName, reading.nodeName);
    reading.hasUname = true;
    return true;
}

} // namespace

bool ParseExporterText(std::string_view text, ExporterReading& reading) {
    reading = ExporterReading{};
    Seen seen;
    while (!text.empty()) {
        const std::size_t newline = text.find('\n');
        string_view line = text.substr(0, newline);
        text.remove_prefix(newline == string_view::npos ? text.size() : newline + 1);

        // Most lines are comments or families of no interest: their first bytes tell.
        SkipBlanks(line);
        if (line.size() < 6 || std::memcmp(line.data(), "node_", 5) != 0)
            continue;
        const char family = line[5];
        if (family != 'c' && family != 'v' && family != 'u')
            continue;
        if (line.back() == '\r')
            line.remove_suffix(1);
        bool ok = true;
        if (const std::optional<string_view> rest = AfterName(line, "node_cpu_seconds_total"))
            ok = ReadCpuLine(*rest, reading, seen);
        else if (const std::optional<string_view> rest = AfterName(line, "node_vmstat_pgfault"))
            ok = ReadCounterLine(*rest, reading.pageFaults, seen.pageFaults);
        else if (const std::optional<string_view> rest = AfterName(line, "node_vmstat_pgmajfault"))
            ok = ReadCounterLine(*rest, reading.majorPageFaults, seen.majorPageFaults);
        else if (const std::optional<string_view> rest = AfterName(line, "node_uname_info"))
            ok = ReadUnameLine(*rest, reading, seen);
        if (!ok)
            return false;
    }
    // Major faults are a part of all faults; a reply that says otherwise is not sound.
    if (seen.pageFaults && seen.majorPageFaults) {
        if (reading.majorPageFaults > reading.pageFaults)
            return false;
        reading.hasVmstat = true;
    }
    return true;
}

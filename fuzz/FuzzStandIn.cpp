// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

// The stand-in client over a fake /proc tree written from the input: stat,
// vmstat and the host name, well-formed or garbage, present or missing, vmstat
// longer than the client's read buffer. Reached through the router, without a
// table of remote servers, as the program reaches it. Checks the router's handle
// table against a model, the results against the files where they are well-formed, and that
// records and names are written completely and within their bounds.

#include "FuzzCheck.h"
#include "LocalMachineClient.h"
#include "RoutingClient.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using Client = LocalMachineClient;
// The router answers for references and handles that no backend has with codes of its own.
constexpr ClientResult InvalidHandle = RoutingClient::InvalidHandle;
constexpr ClientResult UnknownConnRef = RoutingClient::UnknownConnRef;

/* What the client reads at most of one file; a longer file keeps only its whole lines. */
constexpr std::size_t ReadLimit = 16384;

/* What the harness knows of a file: a reading fails, works, or it wrote garbage. */
enum class Expect { Fails, Works, Unknown };

/* Cumulative CPU time: all of it, and the part neither idle nor waiting for I/O. */
struct CpuTimes {
    std::uint64_t total = 0;
    std::uint64_t busy = 0;
};

struct Model {
    std::array<bool, Client::MaxHandles + 1> open{}; // by handle; 0 unused
    /* By handle: the CPU times that its next utilisation is measured from, if known. */
    std::array<std::optional<CpuTimes>, Client::MaxHandles + 1> since{};
    Expect stat = Expect::Fails;
    CpuTimes cpu;
    Expect vmstat = Expect::Fails;
    std::uint64_t faults = 0;
    std::uint64_t majorFaults = 0;
    Expect hostname = Expect::Fails;
    std::string name;
};

std::string Root;

std::string StatPath() {
    return Root + "/stat";
}
std::string VmstatPath() {
    return Root + "/vmstat";
}
std::string HostnamePath() {
    return Root + "/sys/kernel/hostname";
}

void RemoveTree() {
    for (const std::string& path : {StatPath(), VmstatPath(), HostnamePath()})
        ::unlink(path.c_str());
    for (const std::string& dir : {Root + "/sys/kernel", Root + "/sys", Root})
        ::rmdir(dir.c_str());
}

void WriteFile(const std::string& path, const std::string& text) {
    // A new file rather than a truncated one: ext4 flushes a file rewritten in place
    // to disk when it is closed, which would make this fuzzer many times slower.
    ::unlink(path.c_str());
    std::ofstream out(path, std::ios::binary);
    out << text;
    FUZZ_CHECK(out.good());
}

std::uint64_t PickCount(FuzzedDataProvider& in) {
    switch (in.ConsumeIntegralInRange(0, 3)) {
    case 1:
        return std::uint64_t(-1) - in.ConsumeIntegral<std::uint8_t>();
    case 2:
        return in.ConsumeIntegral<std::uint64_t>();
    case 3:
        return std::uint64_t(1) << 32 | in.ConsumeIntegral<std::uint32_t>();
    default:
        return in.ConsumeIntegral<std::uint16_t>();
    }
}

void WriteStat(FuzzedDataProvider& in, Model& m) {
    if (in.ConsumeIntegralInRange(0, 3) == 3) {
        WriteFile(StatPath(), in.ConsumeRandomLengthString(2000));
        m.stat = Expect::Unknown;
        return;
    }
    std::string text = in.ConsumeBool() ? "cpu0 9 9 9 9\n" : "";
    text += "cpu";
    // Up to eight fields count (guest time is in user and nice); at least four must be there.
    const int fields = in.ConsumeIntegralInRange(0, 11);
    CpuTimes cpu;
    std::uint64_t idle = 0;
    bool overflow = false;
    for (int i = 0; i < fields; ++i) {
        const std::uint64_t value = PickCount(in);
        text += in.ConsumeBool() ? "  " : " ";
        text += std::to_string(value);
        if (i < 8)
            overflow |= __builtin_add_overflow(cpu.total, value, &cpu.total);
        if (i == 3 || i == 4) // idle, iowait
            idle += value;
    }
    text += "\ncpu1 1 2 3 4\nintr 5 6\n";
    WriteFile(StatPath(), text);
    m.stat = fields >= 4 && !overflow ? Expect::Works : Expect::Fails;
    cpu.busy = cpu.total - idle;
    m.cpu = cpu;
}

/* True when the first `limit` bytes of `text`, cut after their last newline, hold the line. */
bool HasLine(const std::string& text, const std::string& line) {
    std::string kept = text;
    if (text.size() > ReadLimit) {
        const std::size_t newline = text.rfind('\n', ReadLimit - 1);
        kept = newline == std::string::npos ? "" : text.substr(0, newline + 1);
    }
    return ("\n" + kept).find("\n" + line + "\n") != std::string::npos;
}

void WriteVmstat(FuzzedDataProvider& in, Model& m) {
    if (in.ConsumeIntegralInRange(0, 3) == 3) {
        WriteFile(VmstatPath(), in.ConsumeRandomLengthString(2000));
        m.vmstat = Expect::Unknown;
        return;
    }
    const std::uint64_t faults = PickCount(in);
    const std::uint64_t major =
        in.ConsumeBool()
            ? faults - std::min<std::uint64_t>(faults, in.ConsumeIntegral<std::uint16_t>())
            : PickCount(in);
    const std::string faultLine = "pgfault " + std::to_string(faults);
    const std::string majorLine = "pgmajfault " + std::to_string(major);
    const std::string first = in.ConsumeIntegralInRange(0, 7) != 0 ? faultLine + "\n" : "";
    const std::string second = in.ConsumeIntegralInRange(0, 7) != 0 ? majorLine + "\n" : "";
    const std::string counters = in.ConsumeBool() ? first + second : second + first;
    std::string text = in.ConsumeBool() ? "pgfaults 1\npgfaultx 2\n" : "";
    if (in.ConsumeIntegralInRange(0, 3) == 0) {
        // The counters right at the end of the read buffer, maybe across it: a line
        // the client reads only in part must not count.
        const std::size_t cut = in.ConsumeIntegralInRange<std::size_t>(0, counters.size());
        text += "nr_pad " + std::string(ReadLimit - cut - text.size() - 8, '7') + "\n";
        text += counters + "nr_after 1\n";
    } else {
        // Filler lines push the counters past the read buffer when there are many.
        const int fillers = in.ConsumeIntegralInRange(0, 900);
        const int at = in.ConsumeIntegralInRange(0, fillers);
        for (int i = 0; i <= fillers; ++i) {
            if (i == at)
                text += counters;
            if (i < fillers)
                text += "nr_filler_" + std::to_string(i) + " 1234567\n";
        }
    }
    WriteFile(VmstatPath(), text);
    m.faults = faults;
    m.majorFaults = major;
    m.vmstat = HasLine(text, faultLine) && HasLine(text, majorLine) && major <= faults
                   ? Expect::Works
                   : Expect::Fails;
}

void WriteHostname(FuzzedDataProvider& in, Model& m) {
    std::string name = in.ConsumeRandomLengthString(300);
    const std::string written = name + std::string(in.ConsumeIntegralInRange(0, 2), '\n');
    WriteFile(HostnamePath(), written);
    while (!name.empty() && name.back() == '\n')
        name.pop_back();
    m.name = name;
    m.hostname = Expect::Works;
}

void Remove(FuzzedDataProvider& in, Model& m) {
    switch (in.ConsumeIntegralInRange(0, 2)) {
    case 0:
        ::unlink(StatPath().c_str());
        m.stat = Expect::Fails;
        break;
    case 1:
        ::unlink(VmstatPath().c_str());
        m.vmstat = Expect::Fails;
        break;
    default:
        ::unlink(HostnamePath().c_str());
        m.hostname = Expect::Fails;
        break;
    }
}

bool IsDeclaredCode(ClientResult r) {
    return r == 0 || r == Client::NoMoreConnections || r == InvalidHandle ||
           r == UnknownConnRef || r == Client::UnknownInfoType ||
           r == Client::TooManyOpen || r == Client::ProcUnreadable;
}

/* Checks a result against the reasons the call has to fail: success only without any
   (and where the file's reading is uncertain, either way); the reason's own code when
   there is just one. */
void CheckOutcome(ClientResult r, std::initializer_list<std::pair<bool, ClientResult>> reasons,
                  Expect file, ClientResult fileCode) {
    FUZZ_CHECK(IsDeclaredCode(r));
    int count = 0;
    ClientResult only = 0;
    for (const auto& [applies, code] : reasons)
        if (applies) {
            ++count;
            only = code;
        }
    if (file == Expect::Fails) {
        ++count;
        only = fileCode;
    }
    if (count > 0)
        FUZZ_CHECK(r != 0);
    if (count == 1)
        FUZZ_CHECK(r == only);
    if (count == 0 && file == Expect::Works)
        FUZZ_CHECK(r == 0);
    if (count == 0 && file == Expect::Unknown)
        FUZZ_CHECK(r == 0 || r == fileCode);
}

/* Busy share of the interval in percent, rounded, in exact 128-bit arithmetic; counters
   that went backwards count as no time. */
std::int32_t ReferencePercent(const CpuTimes& before, const CpuTimes& after) {
    if (after.total <= before.total)
        return 0;
    const unsigned __int128 total = after.total - before.total;
    const unsigned __int128 busy =
        after.busy > before.busy ? std::min<unsigned __int128>(after.busy - before.busy, total) : 0;
    return std::int32_t((busy * 100 + total / 2) / total);
}

ConnectionHandle PickHandle(FuzzedDataProvider& in) {
    switch (in.ConsumeIntegralInRange(0, 3)) {
    case 1:
        return 999;
    case 2:
        return 0xFFFF;
    case 3:
        return in.ConsumeIntegral<ConnectionHandle>();
    default:
        return ConnectionHandle(in.ConsumeIntegralInRange(0, Client::MaxHandles + 1));
    }
}

bool IsOpen(const Model& m, ConnectionHandle handle) {
    return handle >= 1 && handle <= Client::MaxHandles && m.open[handle];
}

/* Every byte of a record but its fields is 0: the whole record was written. */
template <std::size_t N>
void CheckCleared(const std::array<std::byte, N>& record,
                  std::initializer_list<std::size_t> fieldOffsets) {
    for (std::size_t i = 0; i < N; ++i) {
        const bool inField = std::any_of(fieldOffsets.begin(), fieldOffsets.end(),
                                         [i](std::size_t f) { return i >= f && i < f + 4; });
        FUZZ_CHECK(inField || record[i] == std::byte{0});
    }
}

void CheckedOpen(ClientLibrary& client, FuzzedDataProvider& in, Model& m) {
    const ConnRef ref =
        in.ConsumeIntegralInRange(0, 3) == 0 ? in.ConsumeIntegral<ConnRef>() : Client::LocalRef;
    const bool full = std::count(m.open.begin() + 1, m.open.end(), true) == Client::MaxHandles;
    ConnectionHandle handle = 0x12345678;
    const ClientResult r = client.NWCCOpenConnByRef(ref, OpenStateDefault, 0, handle);
    CheckOutcome(r,
                 {{ref != Client::LocalRef, UnknownConnRef}, {full, Client::TooManyOpen}},
                 m.stat, Client::ProcUnreadable);
    if (r != 0)
        return;
    FUZZ_CHECK(handle >= 1 && handle <= Client::MaxHandles && !m.open[handle]);
    m.open[handle] = true;
    m.since[handle] = m.stat == Expect::Works ? std::optional(m.cpu) : std::nullopt;
}

void CheckedClose(ClientLibrary& client, FuzzedDataProvider& in, Model& m) {
    const ConnectionHandle handle = PickHandle(in);
    const ClientResult r = client.CloseConn(handle);
    FUZZ_CHECK(r == (IsOpen(m, handle) ? 0 : InvalidHandle));
    if (r == 0)
        m.open[handle] = false;
}

void CheckedServerInfo(ClientLibrary& client, FuzzedDataProvider& in, Model& m) {
    const ConnectionHandle handle = PickHandle(in);
    ServerInfoRecord record;
    record.fill(std::byte{0xA5});
    const ClientResult r = client.GetServerInfoRecord(handle, record);
    CheckOutcome(r, {{!IsOpen(m, handle), InvalidHandle}}, m.stat, Client::ProcUnreadable);
    if (r != 0)
        return;
    const auto percent = std::int32_t(ReadField32(record, ServerInfoField::Utilization));
    FUZZ_CHECK(percent >= 0 && percent <= 100);
    CheckCleared(record, {ServerInfoField::Utilization});
    std::optional<CpuTimes>& since = m.since[handle];
    // Huge intervals may be scaled down before dividing, which can shift the rounding by one.
    if (since && m.stat == Expect::Works)
        FUZZ_CHECK(std::abs(percent - ReferencePercent(*since, m.cpu)) <= 1);
    since = m.stat == Expect::Works ? std::optional(m.cpu) : std::nullopt;
}

void CheckedCacheInfo(ClientLibrary& client, FuzzedDataProvider& in, const Model& m) {
    const ConnectionHandle handle = PickHandle(in);
    CacheInfoRecord record;
    record.fill(std::byte{0xA5});
    const ClientResult r = client.GetCacheInfoRecord(handle, record);
    CheckOutcome(r, {{!IsOpen(m, handle), InvalidHandle}}, m.vmstat,
                 Client::ProcUnreadable);
    if (r != 0)
        return;
    CheckCleared(record, {CacheInfoField::CacheRequests, CacheInfoField::CacheHits});
    if (m.vmstat == Expect::Works) {
        FUZZ_CHECK(ReadField32(record, CacheInfoField::CacheRequests) == std::uint32_t(m.faults));
        FUZZ_CHECK(ReadField32(record, CacheInfoField::CacheHits) ==
                   std::uint32_t(m.faults - m.majorFaults));
    }
}

void CheckedName(ClientLibrary& client, FuzzedDataProvider& in, const Model& m) {
    const ConnRef ref =
        in.ConsumeIntegralInRange(0, 3) == 0 ? in.ConsumeIntegral<ConnRef>() : Client::LocalRef;
    const std::uint32_t infoType = in.ConsumeIntegralInRange(0, 3) == 0
                                       ? in.ConsumeIntegral<std::uint32_t>()
                                       : ConnInfoServerName;
    const std::uint32_t length = in.ConsumeIntegralInRange<std::uint32_t>(0, 300);
    // Exactly `length` bytes, so that the sanitizer sees any write past them.
    std::vector<unsigned char> storage(length, 0xA5);
    unsigned char* buffer =
        length > 0 && in.ConsumeIntegralInRange(0, 7) != 0 ? storage.data() : nullptr;
    const ClientResult r = client.GetConnRefInfo(ref, infoType, length, buffer);
    CheckOutcome(r,
                 {{ref != Client::LocalRef, UnknownConnRef},
                  {infoType != ConnInfoServerName, Client::UnknownInfoType}},
                 m.hostname, Client::ProcUnreadable);
    if (buffer == nullptr)
        return;
    // Success or not, the buffer holds a terminated text.
    FUZZ_CHECK(std::memchr(buffer, 0, length) != nullptr);
    if (r != 0) {
        FUZZ_CHECK(buffer[0] == 0);
        return;
    }
    const std::size_t n = std::min<std::size_t>(m.name.size(), length - 1);
    FUZZ_CHECK(std::memcmp(buffer, m.name.data(), n) == 0 && buffer[n] == 0);
}

void CheckedEnumeration(ClientLibrary& client, FuzzedDataProvider& in) {
    FUZZ_CHECK(client.ClientInit(nullptr, nullptr) == 0);
    ConnRef ref = 0;
    FUZZ_CHECK(client.GetPrimaryConnRef(ref) == 0 && ref == Client::LocalRef);
    ScanIterator iterator = in.ConsumeBool() ? in.ConsumeIntegral<ScanIterator>() : 0;
    const ScanIterator start = iterator;
    ref = 0;
    const ClientResult r = client.ScanConnRefs(iterator, ref);
    if (start == 0)
        FUZZ_CHECK(r == 0 && ref == Client::LocalRef && iterator != 0);
    else
        FUZZ_CHECK(r == Client::NoMoreConnections);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Memory-backed when possible: every input rewrites the files several times.
    const char* tmp = std::getenv("TMPDIR");
    const bool shm = ::access("/dev/shm", W_OK | X_OK) == 0;
    const std::string base = tmp != nullptr && *tmp != 0 ? tmp : shm ? "/dev/shm" : "/tmp";
    std::string pattern = base + "/serverstats-fuzz-proc-XXXXXX";
    FUZZ_CHECK(::mkdtemp(pattern.data()) != nullptr);
    Root = pattern;
    FUZZ_CHECK(::mkdir((Root + "/sys").c_str(), 0700) == 0);
    FUZZ_CHECK(::mkdir((Root + "/sys/kernel").c_str(), 0700) == 0);
    std::atexit(RemoveTree);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    Model m;
    WriteFile(StatPath(), "cpu 10 0 5 100 0 0 0 0 0 0\n");
    m.stat = Expect::Works;
    m.cpu = {115, 15}; // the reference must start where the stand-in starts
    WriteFile(VmstatPath(), "pgfault 1000\npgmajfault 10\n");
    m.vmstat = Expect::Works;
    m.faults = 1000;
    m.majorFaults = 10;
    WriteFile(HostnamePath(), "fuzzhost\n");
    m.hostname = Expect::Works;
    m.name = "fuzzhost";

    RoutingClient client(Root + "/no-connection-table", Root);
    while (in.remaining_bytes() > 0) {
        switch (in.ConsumeIntegralInRange(0, 9)) {
        case 1:
            WriteStat(in, m);
            break;
        case 2:
            WriteVmstat(in, m);
            break;
        case 3:
            WriteHostname(in, m);
            break;
        case 4:
            Remove(in, m);
            break;
        case 5:
            CheckedClose(client, in, m);
            break;
        case 6:
            CheckedServerInfo(client, in, m);
            break;
        case 7:
            CheckedCacheInfo(client, in, m);
            break;
        case 8:
            CheckedName(client, in, m);
            break;
        case 9:
            CheckedEnumeration(client, in);
            break;
        default:
            CheckedOpen(client, in, m);
            break;
        }
    }
    return 0;
}

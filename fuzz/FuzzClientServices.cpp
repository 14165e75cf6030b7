// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

// Client start-up, the connection scan and reading a connection's text items
// against a client whose every answer comes from the input: any call may
// fail with any code, names come with or without NUL, fill the whole buffer,
// carry bytes that are not UTF-8, and a scan may end early or (rarely) never.
// Each call's protocol and results are checked against what the client said.

#include "ClientServices.h"
#include "FuzzCheck.h"
#include "FuzzInput.h"
#include "LastResult.h"
#include "ReportStub.h"
#include "StubClient.h"

#include <QCoreApplication>
#include <QString>

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace {

/* The byte that makes a connection scan's client answer forever: rare, because
   such a scan runs all MaxScanSteps steps. */
constexpr std::uint8_t EndlessScan = 0xE7;

enum class Op { Init, Primary, Scan, Info, Open };

/* One client call as the client saw it: the arguments, what it wrote back, what it returned. */
struct Call {
    Op op;
    ClientResult result = 0;
    ConnRef ref = 0; // the argument, or the reference written back
    ScanIterator iteratorIn = 0;
    ScanIterator iteratorOut = 0;
    std::uint32_t infoType = 0;
    std::uint32_t bufferLength = 0;
    std::uint32_t openState = 0;
    std::uint32_t reserved = 0;
    bool handleWritten = false;
    ConnectionHandle handle = 0;
    /* The whole name buffer after the call. */
    std::string buffer{};
};

ConnRef PickRef(FuzzedDataProvider& in) {
    switch (in.ConsumeIntegralInRange(0, 3)) {
    case 1:
        return 0;
    case 2:
        return 0xFFFFFFFF;
    case 3:
        return in.ConsumeIntegral<ConnRef>();
    default:
        return 1 + in.ConsumeIntegralInRange<ConnRef>(0, 15);
    }
}

int PickMaxLen(FuzzedDataProvider& in) {
    switch (in.ConsumeIntegralInRange(0, 5)) {
    case 1:
        return 0;
    case 2:
        return -1;
    case 3:
        return in.ConsumeIntegralInRange(1, 300);
    case 4:
        return std::numeric_limits<int>::max();
    case 5:
        return std::numeric_limits<int>::min();
    default:
        return MaxNameLength;
    }
}

class FuzzClient : public StubClient {
public:
    explicit FuzzClient(FuzzedDataProvider& in) : m_in(in) {}

    /* Successful scan steps left before every step reports the end, unless endless. */
    int scanLeft = 0;
    bool endless = false;
    std::vector<Call> calls;

    ClientResult ClientInit(void* reserved1, void* reserved2) override {
        FUZZ_CHECK(reserved1 == nullptr && reserved2 == nullptr);
        return log({Op::Init, PickResult(m_in)});
    }

    ClientResult GetPrimaryConnRef(ConnRef& ref) override {
        const ClientResult result = PickResult(m_in);
        // A failing client may still scribble on its out-arguments.
        if (result == 0 || m_in.ConsumeBool())
            ref = PickRef(m_in);
        return log({Op::Primary, result, ref});
    }

    ClientResult ScanConnRefs(ScanIterator& iterator, ConnRef& ref) override {
        Call call{Op::Scan, PickResult(m_in)};
        call.iteratorIn = iterator;
        if (!endless) {
            if (scanLeft <= 0 && call.result == 0)
                call.result = NoMoreConnections;
            if (call.result == 0)
                --scanLeft;
        }
        iterator = m_in.ConsumeBool() ? m_in.ConsumeIntegral<ScanIterator>() : iterator + 1;
        if (call.result == 0 || m_in.ConsumeBool())
            ref = PickRef(m_in);
        call.iteratorOut = iterator;
        call.ref = ref;
        return log(std::move(call));
    }

    ClientResult GetConnRefInfo(ConnRef ref, std::uint32_t infoType, std::uint32_t bufferLength,
                                unsigned char* buffer) override {
        FUZZ_CHECK(buffer != nullptr || bufferLength == 0);
        Call call{Op::Info, PickResult(m_in), ref};
        call.infoType = infoType;
        call.bufferLength = bufferLength;
        // On success and failure alike: the caller must not trust more than it is told.
        writeName(buffer, bufferLength);
        call.buffer.assign(reinterpret_cast<const char*>(buffer), bufferLength);
        return log(std::move(call));
    }

    ClientResult NWCCOpenConnByRef(ConnRef ref, std::uint32_t openState, std::uint32_t reserved,
                                   ConnectionHandle& handle) override {
        Call call{Op::Open, PickResult(m_in), ref};
        call.openState = openState;
        call.reserved = reserved;
        call.handleWritten = true;
        switch (m_in.ConsumeIntegralInRange(0, 5)) {
        case 1:
            call.handleWritten = false;
            break;
        case 2:
            handle = PrimaryConnUnopened;
            break;
        case 3:
            handle = NoConnectionHandle;
            break;
        case 4:
            handle = 0;
            break;
        case 5:
            handle = m_in.ConsumeIntegral<ConnectionHandle>();
            break;
        default:
            handle = 1 + m_in.ConsumeIntegral<std::uint8_t>();
            break;
        }
        call.handle = handle;
        return log(std::move(call));
    }

    // Start-up and the scan neither close nor sample: those would reach the stub.

private:
    static constexpr ConnectionHandle NoConnectionHandle = 999;

    ClientResult log(Call call) {
        calls.push_back(std::move(call));
        return calls.back().result;
    }

    /* Writes at most `length` bytes, as the contract allows, in one of several shapes. */
    void writeName(unsigned char* buffer, std::uint32_t length) {
        if (length == 0)
            return;
        switch (m_in.ConsumeIntegralInRange(0, 4)) {
        case 1: { // the whole buffer and no NUL: reading on would overrun it
            const std::string bytes = m_in.ConsumeBytesAsString(length);
            for (std::uint32_t i = 0; i < length; ++i) {
                const char c = i < bytes.size() ? bytes[i] : char('A' + i % 26);
                buffer[i] = c == 0 ? 0xFF : static_cast<unsigned char>(c);
            }
            break;
        }
        case 2: { // bytes that are not UTF-8
            const std::size_t n = m_in.ConsumeIntegralInRange<std::size_t>(0, length - 1);
            for (std::size_t i = 0; i < n; ++i)
                buffer[i] = 0x80 | m_in.ConsumeIntegral<std::uint8_t>();
            buffer[n] = 0;
            break;
        }
        case 3: { // characters of two to four bytes, up to the buffer's end, maybe cut
            static constexpr const char* Glyphs[] = {"\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80",
                                                     "a"};
            std::uint32_t i = 0;
            const bool terminated = m_in.ConsumeBool();
            while (i + (terminated ? 1 : 0) < length) {
                const char* g = Glyphs[m_in.ConsumeIntegralInRange(0, 3)];
                for (; *g != 0 && i + (terminated ? 1 : 0) < length; ++g)
                    buffer[i++] = static_cast<unsigned char>(*g);
            }
            if (terminated)
                buffer[i] = 0;
            break;
        }
        case 4: // nothing at all
            break;
        default: { // a NUL-terminated name, cut to fit, which may hold NULs of its own
            const std::string name = m_in.ConsumeRandomLengthString(300);
            const std::size_t n = std::min<std::size_t>(name.size(), length - 1);
            std::memcpy(buffer, name.data(), n);
            buffer[n] = 0;
            break;
        }
        }
    }

    FuzzedDataProvider& m_in;
};

/* A 16-bit result that stands for the client's `code`: the same code where it fits,
   and never 0 for a failure. */
void CheckCode(std::uint16_t result, ClientResult code) {
    FUZZ_CHECK((result == 0) == (code == 0));
    if (code <= 0xFFFF)
        FUZZ_CHECK(result == code);
}

/* `text` is the buffer's text up to its NUL (or end), cut to at most maxLen (and 255)
   characters without splitting a surrogate pair. */
void CheckText(const QString& text, const std::string& buffer, int maxLen) {
    const std::size_t end = std::min(buffer.find('\0'), buffer.size());
    const QString full = QString::fromLocal8Bit(buffer.data(), qsizetype(end));
    const qsizetype keep = std::clamp(maxLen, 0, MaxNameLength);
    FUZZ_CHECK(full.startsWith(text));
    if (full.size() <= keep)
        FUZZ_CHECK(text.size() == full.size());
    else if (keep == 0)
        FUZZ_CHECK(text.isEmpty());
    else // a cut through a surrogate pair drops the pair
        FUZZ_CHECK(text.size() == (full.at(keep - 1).isHighSurrogate() ? keep - 1 : keep));
}

class RecordingList : public ConnectionList {
public:
    struct Entry {
        QString text;
        ConnRef ref;
    };
    std::vector<Entry> entries;

    void Append(const QString& text, ConnRef ref) override {
        FUZZ_CHECK(LastResult == 0); // appended right after a successful scan step
        entries.push_back({text, ref});
    }
};

void CheckedInit(FuzzClient& client, FuzzedDataProvider& in) {
    if (in.ConsumeIntegralInRange(0, 3) != 0)
        PrimaryConn = PrimaryConnUnopened;
    const ConnectionHandle before = PrimaryConn;
    const int boxes = PlainMessagesShown;
    client.endless = false;
    client.scanLeft = 1; // the fallback scan's one step succeeds or fails as the input says
    client.calls.clear();
    const std::uint16_t result = InitNetWare(client);
    const std::vector<Call>& calls = client.calls;

    if (before != PrimaryConnUnopened) {
        FUZZ_CHECK(result == 0 && calls.empty() && PrimaryConn == before);
        return;
    }
    FUZZ_CHECK(!calls.empty() && calls[0].op == Op::Init);
    FUZZ_CHECK(PlainMessagesShown - boxes == (calls[0].result != 0 ? 1 : 0));
    std::size_t next = 1;
    const Call* last = &calls[0];
    if (last->result == 0) {
        FUZZ_CHECK(next < calls.size() && calls[next].op == Op::Primary);
        last = &calls[next++];
        if (last->result != 0) { // no primary connection: the first one a scan finds
            FUZZ_CHECK(next < calls.size() && calls[next].op == Op::Scan);
            FUZZ_CHECK(calls[next].iteratorIn == 0);
            last = &calls[next++];
        }
        if (last->result == 0) {
            FUZZ_CHECK(next < calls.size() && calls[next].op == Op::Open);
            const Call& open = calls[next++];
            FUZZ_CHECK(open.ref == last->ref);
            FUZZ_CHECK(open.openState == OpenStateDefault && open.reserved == 0);
            last = &open;
        }
    }
    FUZZ_CHECK(next == calls.size());
    CheckCode(result, last->result);
    // Only an open that succeeded makes a primary connection; a failed one is retried next time.
    if (last->op == Op::Open && last->result == 0)
        FUZZ_CHECK(PrimaryConn == (last->handleWritten ? last->handle : PrimaryConnUnopened));
    else
        FUZZ_CHECK(PrimaryConn == PrimaryConnUnopened);
}

void CheckedScan(FuzzClient& client, FuzzedDataProvider& in) {
    client.endless = in.ConsumeIntegral<std::uint8_t>() == EndlessScan;
    client.scanLeft = in.ConsumeIntegralInRange(0, 40);
    client.calls.clear();
    LastResult = 0x5A5A5A5A;
    RecordingList list;
    ScanConnections(client, list);
    const std::vector<Call>& calls = client.calls;

    std::size_t next = 0;
    std::size_t entry = 0;
    int steps = 0;
    ScanIterator iterator = 0;
    ClientResult ended = 0;
    while (next < calls.size()) {
        const Call& scan = calls[next++];
        // The caller's iterator goes back to the client as the client left it.
        FUZZ_CHECK(scan.op == Op::Scan && scan.iteratorIn == iterator);
        iterator = scan.iteratorOut;
        ++steps;
        ended = scan.result;
        if (scan.result != 0)
            break;
        FUZZ_CHECK(next < calls.size());
        const Call& info = calls[next++];
        FUZZ_CHECK(info.op == Op::Info && info.ref == scan.ref);
        FUZZ_CHECK(info.infoType == ConnInfoServerName && info.bufferLength == MaxNameLength);
        // A connection without a readable name is left out.
        if (info.result != 0 || info.buffer.empty() || info.buffer[0] == 0)
            continue;
        FUZZ_CHECK(entry < list.entries.size());
        const RecordingList::Entry& e = list.entries[entry++];
        FUZZ_CHECK(e.ref == scan.ref);
        FUZZ_CHECK(!e.text.isEmpty() && e.text.size() <= MaxNameLength);
        CheckText(e.text, info.buffer, MaxNameLength);
    }
    FUZZ_CHECK(next == calls.size());
    FUZZ_CHECK(entry == list.entries.size());
    FUZZ_CHECK(steps <= MaxScanSteps);
    FUZZ_CHECK(ended != 0 || steps == MaxScanSteps);
    FUZZ_CHECK(LastResult == std::int32_t(ended));
}

void CheckedInfo(FuzzClient& client, FuzzedDataProvider& in, bool serverName) {
    const ConnRef ref = PickRef(in);
    const std::uint32_t infoType =
        serverName || in.ConsumeBool() ? ConnInfoServerName : in.ConsumeIntegral<std::uint32_t>();
    const int maxLen = PickMaxLen(in);
    QString text = QStringLiteral("stale");
    client.calls.clear();
    const std::uint16_t result = serverName
                                     ? GetServerName(client, ref, text, maxLen)
                                     : GetConnInfoString(client, ref, infoType, text, maxLen);
    FUZZ_CHECK(client.calls.size() == 1);
    const Call& info = client.calls[0];
    FUZZ_CHECK(info.op == Op::Info && info.ref == ref && info.infoType == infoType);
    FUZZ_CHECK(info.bufferLength == MaxNameLength);
    CheckCode(result, info.result);
    if (info.result != 0)
        FUZZ_CHECK(text.isEmpty());
    else
        CheckText(text, info.buffer, maxLen);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    // The scan lets the event loop run between steps, as it does in the program. Qt's own
    // dispatcher: the GLib one makes an endless scan eight times slower, for the same logic.
    qputenv("QT_NO_GLIB", "1");
    static QCoreApplication application(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    FuzzClient client(in);
    PrimaryConn = PrimaryConnUnopened;
    LastResult = 0;
    while (in.remaining_bytes() > 0) {
        switch (in.ConsumeIntegralInRange(0, 3)) {
        case 1:
            CheckedScan(client, in);
            break;
        case 2:
            CheckedInfo(client, in, false);
            break;
        case 3:
            CheckedInfo(client, in, true);
            break;
        default:
            CheckedInit(client, in);
            break;
        }
        FUZZ_CHECK(client.StubCalls() == 0);
    }
    return 0;
}

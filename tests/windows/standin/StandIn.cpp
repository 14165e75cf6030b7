// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#include "StandIn.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

// Codes of the stand-in, within 0 to 0xFFFF.
constexpr std::uint32_t NotScripted = 0x88FE;
constexpr std::uint32_t NoMoreConnections = 0x88FF;
constexpr std::uint32_t InvalidHandle = 0x8801;
constexpr std::uint32_t NoPrimary = 0x8802;
constexpr std::uint32_t UnknownRef = 0x8803;
constexpr std::uint32_t UnknownInfoType = 0x8804;
constexpr std::uint32_t NullArgument = 0x8805;

constexpr std::uint32_t ServerNameInfo = 7;
constexpr std::uint32_t FirstHandle = 0xC001;
constexpr std::size_t ServerRecordSize = 148;
constexpr std::size_t CacheRecordSize = 236;
constexpr std::size_t UtilizationOffset = 24;
constexpr std::size_t RequestsOffset = 156;
constexpr std::size_t HitsOffset = 160;

enum Op { ClientInit, PrimaryRef, Scan, RefInfo, Open, Close, ServerInfo, CacheInfo, OpCount };
constexpr std::array<const char*, OpCount> OpNames{
    "ClientInit",        "GetPrimaryConnRef", "ScanConnRefs",        "GetConnRefInfo",
    "NWCCOpenConnByRef", "CloseConn",         "GetServerInfoRecord", "GetCacheInfoRecord"};

struct Connection {
    enum class Kind { Name, Unterminated, Fill, Fails };
    std::uint32_t ref = 0;
    Kind kind = Kind::Name;
    std::string bytes;
    std::uint32_t code = 0; // Fails: the code; Fill: the byte
};

struct Failure {
    std::uint32_t code = 0;
    long from = 1;
};

struct State {
    bool scripted = false;
    std::vector<Connection> connections;
    std::optional<std::uint32_t> primary;
    bool endlessScan = false;
    std::array<Failure, OpCount> failures{};
    std::array<long, OpCount> calls{};
    std::vector<std::int32_t> utilization{0};
    std::size_t nextUtilization = 0;
    std::uint32_t requests = 0, hits = 0, requestStep = 0, hitStep = 0;
    std::set<std::uint32_t> open;
    std::uint32_t nextHandle = FirstHandle;
    std::FILE* log = nullptr;

    State() {
        if (const char* script = std::getenv("SERVERSTATS_STANDIN_SCRIPT")) {
            scripted = true;
            Read(script);
            // Binary: one LF per call, whatever the platform writes for a text line.
            log = std::fopen((std::string(script) + ".log").c_str(), "ab");
        }
    }
    /* Takes the connections and answers from the script at `path`. */
    void Read(const char* path);
    State(const State&) = delete;
    State& operator=(const State&) = delete;
    ~State() {
        if (log != nullptr)
            std::fclose(log); // the library may be unloaded and loaded afresh within one run
    }
};

std::uint32_t Number(const std::string& text) {
    return std::uint32_t(std::strtoll(text.c_str(), nullptr, 0));
}

std::string RestOfLine(std::istringstream& line) {
    std::string rest;
    std::getline(line >> std::ws, rest);
    return rest;
}

void ReadConnection(std::vector<Connection>& connections, std::istringstream& line) {
    std::string ref, kind;
    line >> ref >> kind;
    Connection c;
    c.ref = Number(ref);
    if (kind == "name") {
        c.bytes = RestOfLine(line);
    } else if (kind == "unterminated") {
        c.kind = Connection::Kind::Unterminated;
        c.bytes = RestOfLine(line);
    } else if (kind == "hex") {
        for (std::string byte; line >> byte;)
            for (std::size_t i = 0; i + 1 < byte.size(); i += 2)
                c.bytes += char(std::strtoul(byte.substr(i, 2).c_str(), nullptr, 16));
    } else if (kind == "fill" || kind == "fails") {
        c.kind = kind == "fill" ? Connection::Kind::Fill : Connection::Kind::Fails;
        std::string code;
        line >> code;
        c.code = Number(code);
    }
    connections.push_back(c);
}

void State::Read(const char* path) {
    std::ifstream file(path);
    for (std::string text; std::getline(file, text);) {
        if (!text.empty() && text.back() == '\r')
            text.pop_back();
        std::istringstream line(text);
        std::string word, a, b, c, d;
        line >> word;
        if (word == "conn") {
            ReadConnection(connections, line);
        } else if (word == "primary") {
            line >> a;
            primary = Number(a);
        } else if (word == "scan") {
            line >> a;
            endlessScan = a == "endless";
        } else if (word == "fail") {
            line >> a >> b >> c;
            for (int op = 0; op < OpCount; ++op)
                if (a == OpNames[std::size_t(op)])
                    failures[std::size_t(op)] = {Number(b), c.empty() ? 1 : long(Number(c))};
        } else if (word == "utilization") {
            utilization.clear();
            while (line >> a)
                utilization.push_back(std::int32_t(Number(a)));
            if (utilization.empty())
                utilization.push_back(0);
        } else if (word == "cache") {
            line >> a >> b >> c >> d;
            requests = Number(a);
            hits = Number(b);
            requestStep = Number(c);
            hitStep = Number(d);
        }
    }
}

State& TheState() {
    static State state;
    return state;
}

/* Counts the call and answers its scripted failure, or 0. */
std::uint32_t Enter(State& state, Op op) {
    const long call = ++state.calls[op];
    const Failure& f = state.failures[op];
    return f.code != 0 && call >= f.from ? f.code : 0;
}

/* Appends "<operation> <arguments> -> <result> <outputs>" to the log, numbers in hex. */
std::uint32_t Log(State& state, Op op, std::initializer_list<std::uint32_t> arguments,
                  std::uint32_t result, const std::string& outputs = {}) {
    if (state.log != nullptr) {
        std::fprintf(state.log, "%s", OpNames[op]);
        for (std::uint32_t a : arguments)
            std::fprintf(state.log, " %08X", a);
        std::fprintf(state.log, " -> %08X%s%s\n", result, outputs.empty() ? "" : " ",
                     outputs.c_str());
        std::fflush(state.log);
    }
    return result;
}

std::string Out(const char* name, std::uint32_t value) {
    char text[32];
    std::snprintf(text, sizeof text, "%s=%08X", name, value);
    return text;
}

std::uint32_t Address(const void* pointer) {
    return std::uint32_t(reinterpret_cast<std::uintptr_t>(pointer));
}

const Connection* Find(const State& state, std::uint32_t ref) {
    for (const Connection& c : state.connections)
        if (c.ref == ref)
            return &c;
    return nullptr;
}

void Write32(unsigned char* record, std::size_t offset, std::uint32_t value) {
    std::memcpy(record + offset, &value, sizeof value); // x86: little-endian
}

} // namespace

std::uint32_t StandInClientInit(void* reserved1, void* reserved2) {
    State& s = TheState();
    std::uint32_t result = Enter(s, ClientInit);
    if (result == 0 && !s.scripted)
        result = NotScripted;
    return Log(s, ClientInit, {Address(reserved1), Address(reserved2)}, result);
}

std::uint32_t StandInGetPrimaryConnRef(std::uint32_t* ref) {
    State& s = TheState();
    std::uint32_t result = Enter(s, PrimaryRef);
    if (result == 0 && ref == nullptr)
        result = NullArgument;
    if (result == 0 && !s.primary)
        result = NoPrimary;
    if (result != 0)
        return Log(s, PrimaryRef, {}, result);
    *ref = *s.primary;
    return Log(s, PrimaryRef, {}, result, Out("ref", *ref));
}

std::uint32_t StandInScanConnRefs(std::uint32_t* iterator, std::uint32_t* ref) {
    State& s = TheState();
    if (iterator == nullptr || ref == nullptr)
        return Log(s, Scan, {Address(iterator), Address(ref)}, NullArgument);
    const std::uint32_t position = *iterator;
    std::uint32_t result = Enter(s, Scan);
    if (result == 0 && s.connections.empty())
        result = NoMoreConnections;
    if (result == 0 && !s.endlessScan && position >= s.connections.size())
        result = NoMoreConnections;
    if (result != 0)
        return Log(s, Scan, {position}, result);
    *ref = s.connections[s.endlessScan ? 0 : position].ref;
    *iterator = position + 1;
    return Log(s, Scan, {position}, result, Out("iterator", *iterator) + " " + Out("ref", *ref));
}

std::uint32_t StandInGetConnRefInfo(std::uint32_t ref, std::uint32_t infoType,
                                    std::uint32_t bufferLength, unsigned char* buffer) {
    State& s = TheState();
    std::uint32_t result = Enter(s, RefInfo);
    const Connection* c = Find(s, ref);
    if (result == 0 && (buffer == nullptr || bufferLength == 0))
        result = NullArgument;
    if (result == 0 && c == nullptr)
        result = UnknownRef;
    if (result == 0 && infoType != ServerNameInfo)
        result = UnknownInfoType;
    if (result == 0 && c->kind == Connection::Kind::Fails)
        result = c->code;
    if (result != 0)
        return Log(s, RefInfo, {ref, infoType, bufferLength}, result);

    switch (c->kind) {
    case Connection::Kind::Name: {
        const std::size_t length = std::min<std::size_t>(c->bytes.size(), bufferLength - 1);
        std::memcpy(buffer, c->bytes.data(), length);
        buffer[length] = 0;
        break;
    }
    case Connection::Kind::Unterminated:
        std::memcpy(buffer, c->bytes.data(), std::min<std::size_t>(c->bytes.size(), bufferLength));
        break;
    case Connection::Kind::Fill:
        std::memset(buffer, int(c->code), bufferLength);
        break;
    case Connection::Kind::Fails:
        break;
    }
    return Log(s, RefInfo, {ref, infoType, bufferLength}, result);
}

std::uint32_t StandInOpenConnByRef(std::uint32_t ref, std::uint32_t openState,
                                   std::uint32_t reserved, std::uint32_t* handle) {
    State& s = TheState();
    std::uint32_t result = Enter(s, Open);
    if (result == 0 && handle == nullptr)
        result = NullArgument;
    if (result == 0 && Find(s, ref) == nullptr)
        result = UnknownRef;
    if (result != 0)
        return Log(s, Open, {ref, openState, reserved}, result);
    *handle = s.nextHandle++;
    s.open.insert(*handle);
    return Log(s, Open, {ref, openState, reserved}, result, Out("handle", *handle));
}

std::uint32_t StandInCloseConn(std::uint32_t handle) {
    State& s = TheState();
    std::uint32_t result = Enter(s, Close);
    if (result == 0 && s.open.erase(handle) == 0)
        result = InvalidHandle;
    return Log(s, Close, {handle}, result);
}

std::uint32_t StandInGetServerInfoRecord(std::uint32_t handle, unsigned char* record) {
    State& s = TheState();
    std::uint32_t result = Enter(s, ServerInfo);
    if (result == 0 && record == nullptr)
        result = NullArgument;
    if (result == 0 && s.open.count(handle) == 0)
        result = InvalidHandle;
    if (result != 0)
        return Log(s, ServerInfo, {handle}, result);
    std::memset(record, 0, ServerRecordSize);
    const auto reported = std::uint32_t(s.utilization[s.nextUtilization]);
    s.nextUtilization = (s.nextUtilization + 1) % s.utilization.size();
    Write32(record, UtilizationOffset, reported);
    return Log(s, ServerInfo, {handle}, result, Out("utilization", reported));
}

std::uint32_t StandInGetCacheInfoRecord(std::uint32_t handle, unsigned char* record) {
    State& s = TheState();
    std::uint32_t result = Enter(s, CacheInfo);
    if (result == 0 && record == nullptr)
        result = NullArgument;
    if (result == 0 && s.open.count(handle) == 0)
        result = InvalidHandle;
    if (result != 0)
        return Log(s, CacheInfo, {handle}, result);
    std::memset(record, 0, CacheRecordSize);
    Write32(record, RequestsOffset, s.requests);
    Write32(record, HitsOffset, s.hits);
    const std::string outputs = Out("requests", s.requests) + " " + Out("hits", s.hits);
    s.requests += s.requestStep;
    s.hits += s.hitStep;
    return Log(s, CacheInfo, {handle}, result, outputs);
}

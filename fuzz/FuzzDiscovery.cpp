// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

// The discovery's two readers and the join behind them, two ways, picked by the
// input's first byte:
// - raw bytes, read as both replies: nothing may misbehave, and whatever is listed
//   must be sound (named, sorted, at most 255 bytes a name, http or https, each URL once);
// - a pair of replies generated from known entries (an exhausted input picks the
//   likely values: the job's own, "up", joinable instances), with random key order, spacing,
//   string escapes, noise members, nesting and maybe an error status: the readers must
//   give back exactly the entries that qualify, or refuse what must be refused.

#include "Discovery.h"
#include "FuzzCheck.h"
#include "ServerName.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <unordered_set>
#include <vector>

namespace {

void CheckListed(const std::vector<DiscoveredServer>& servers) {
    std::unordered_set<std::string> urls;
    for (std::size_t i = 0; i < servers.size(); ++i) {
        const DiscoveredServer& s = servers[i];
        FUZZ_CHECK(!s.name.empty() && s.name.size() <= 255);
        FUZZ_CHECK(s.scrapeUrl.rfind("http://", 0) == 0 || s.scrapeUrl.rfind("https://", 0) == 0);
        FUZZ_CHECK(urls.insert(s.scrapeUrl).second);
        if (i > 0)
            FUZZ_CHECK(!CompareServerNames(s.name, servers[i - 1].name));
    }
    std::vector<ListedName> list;
    for (const DiscoveredServer& s : servers)
        list.push_back({s.name, s.instance});
    TellNamesApart(list);
    for (const ListedName& n : list)
        FUZZ_CHECK(!n.name.empty() && n.name.size() <= 255);
}

void FuzzRaw(std::string_view text) {
    std::vector<ActiveTarget> targets;
    std::vector<InstanceName> names;
    const ApiVerdict a = ReadActiveTargets(text, "node", targets);
    const ApiVerdict b = ReadInstanceNames(text, names);
    FUZZ_CHECK(a.ok || (targets.empty() && !a.error.empty()));
    FUZZ_CHECK(b.ok || (names.empty() && !b.error.empty()));
    FUZZ_CHECK(targets.size() <= MaxDiscoveredServers && names.size() <= MaxDiscoveredNames);
    for (const ActiveTarget& t : targets)
        FUZZ_CHECK(t.instance.size() <= MaxDiscoveredFieldBytes && t.scrapeUrl.size() <= MaxDiscoveredFieldBytes);
    CheckListed(JoinDiscovery(targets, names));
    CheckListed(FallbackServers(names, text.size() % 2 == 0));
}

/* Pieces of generated text: plain, needing an escape, or beyond ASCII. */
const char* const Pieces[] = {"a", "b", "z", "0", "9", ".", ":", "-", "/", "node", "up",
                              "\"", "\\", "\n", "\x01", "\x7f", "\xC3\xA9", "\xE4\xB8\xAD", "\xF0\x9F\x98\x80"};

std::string RandomText(FuzzedDataProvider& in, int maxPieces = 6) {
    std::string text;
    const int n = in.ConsumeIntegralInRange(0, maxPieces);
    for (int i = 0; i < n; ++i)
        text += Pieces[in.ConsumeIntegralInRange<std::size_t>(0, std::size(Pieces) - 1)];
    return text;
}

/* `text` (UTF-8) as a JSON string, each character written plainly or as an escape. */
std::string Quoted(FuzzedDataProvider& in, const std::string& text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
        std::uint32_t code = length == 1 ? lead : lead & (0xFF >> (length + 1));
        for (std::size_t k = 1; k < length; ++k)
            code = (code << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        const bool mustEscape = code < 0x20 || code == '"' || code == '\\';
        char escape[16];
        if (mustEscape || in.ConsumeIntegralInRange(0, 5) == 0) {
            if (code == '"' || code == '\\') {
                out += in.ConsumeBool() ? std::string("\\") + char(code) : (code == '"' ? "\\u0022" : "\\u005C");
            } else if (code == '\n' && in.ConsumeBool()) {
                out += "\\n";
            } else if (code == '/' && in.ConsumeBool()) {
                out += "\\/";
            } else if (code >= 0x10000) {
                const std::uint32_t v = code - 0x10000;
                std::snprintf(escape, sizeof escape, "\\u%04X\\u%04x", 0xD800 + (v >> 10), 0xDC00 + (v & 0x3FF));
                out += escape;
            } else {
                std::snprintf(escape, sizeof escape, in.ConsumeBool() ? "\\u%04x" : "\\u%04X", code);
                out += escape;
            }
        } else {
            out.append(text, i, length);
        }
        i += length;
    }
    return out + "\"";
}

std::string Space(FuzzedDataProvider& in) {
    static const char* const spaces[] = {"", "", "", " ", "\n", "\t", "\r\n  "};
    return spaces[in.ConsumeIntegralInRange<std::size_t>(0, std::size(spaces) - 1)];
}

/* A member's value of the wrong kind (never a string unless `strings`), or an unrelated one:
   scalars, or nests `depth` deep. */
std::string Noise(FuzzedDataProvider& in, int depth, bool strings = true) {
    switch (in.ConsumeIntegralInRange(0, strings ? 7 : 5)) {
    case 0:
        return "null";
    case 1:
        return in.ConsumeBool() ? "true" : "false";
    case 2:
        return std::to_string(in.ConsumeIntegral<std::int32_t>());
    case 3:
        return "-1.5e3";
    case 4:
        return std::string(std::size_t(depth), '[') + std::string(std::size_t(depth), ']');
    case 5:
        return "{" + Space(in) + "}";
    default:
        return Quoted(in, RandomText(in));
    }
}

/* An object from members in random order, with random spacing. */
std::string Object(FuzzedDataProvider& in, std::vector<std::string> members) {
    for (std::size_t i = members.size(); i > 1; --i)
        std::swap(members[i - 1], members[in.ConsumeIntegralInRange<std::size_t>(0, i - 1)]);
    std::string out = "{" + Space(in);
    for (std::size_t i = 0; i < members.size(); ++i)
        out += (i ? "," + Space(in) : "") + members[i];
    return out + Space(in) + "}";
}

std::string Member(FuzzedDataProvider& in, const std::string& key, const std::string& value) {
    return Quoted(in, key) + Space(in) + ":" + Space(in) + value;
}

/* A string field that may be missing, of the wrong kind, or a string. */
struct Field {
    std::string value;
    int kind = 0; // 0 string, 1 missing, 2 another kind
};

Field PickField(FuzzedDataProvider& in, const std::vector<std::string>& likely) {
    Field f;
    const int pick = in.ConsumeIntegralInRange(0, 15);
    f.kind = pick == 14 ? 1 : pick == 15 ? 2 : 0;
    f.value = pick >= 10 ? RandomText(in) : likely[in.ConsumeIntegralInRange<std::size_t>(0, likely.size() - 1)];
    if (in.ConsumeIntegralInRange(0, 63) == 63)
        f.value = std::string(MaxDiscoveredFieldBytes + in.ConsumeIntegralInRange<std::size_t>(0, 1), 'x');
    return f;
}

void AddField(FuzzedDataProvider& in, std::vector<std::string>& members, const char* key, const Field& f, int depth) {
    if (f.kind == 0)
        members.push_back(Member(in, key, Quoted(in, f.value)));
    else if (f.kind == 2)
        members.push_back(Member(in, key, Noise(in, depth, false)));
}

bool Fits(const Field& f) {
    return f.kind == 0 && f.value.size() <= MaxDiscoveredFieldBytes;
}

/* The envelope around a list: success, or an error status that must be refused. */
std::string Envelope(FuzzedDataProvider& in, const char* listKey, const std::string& list, int status,
                     const std::string& reason) {
    std::vector<std::string> members;
    if (status == 0) {
        members.push_back(Member(in, "status", Quoted(in, "success")));
        members.push_back(Member(in, "data", Object(in, {Member(in, listKey, list),
                                                         Member(in, "resultType", Quoted(in, "vector"))})));
    } else {
        members.push_back(Member(in, "status", Quoted(in, "error")));
        members.push_back(Member(in, "error", Quoted(in, reason)));
    }
    if (in.ConsumeBool())
        members.push_back(Member(in, "warnings", "[" + Quoted(in, RandomText(in)) + "]"));
    return Space(in) + Object(in, members) + Space(in);
}

void FuzzGenerated(FuzzedDataProvider& in) {
    // Noise nests at most this deep inside an entry; past 64 levels in all, both are refused.
    const int depth = in.ConsumeIntegralInRange(0, 9) == 9 ? in.ConsumeIntegralInRange(55, 62) : 2;
    const bool tooDeep = 4 + 1 + depth > MaxApiReplyDepth; // root, data, list, entry, member

    std::vector<std::string> instances{"127.0.0.1:9100", "h:1", "[::1]:9100", "H:1", "fs:9100"};
    const int targetCount = in.ConsumeIntegralInRange(0, 12);
    const int strayNames = in.ConsumeIntegralInRange(0, 4);
    std::vector<ActiveTarget> expectedTargets;
    std::vector<std::string> targetInstances;
    std::string targetList;
    for (int i = 0; i < targetCount; ++i) {
        const Field job = PickField(in, {"node", "node", "other"});
        const Field health = PickField(in, {"up", "up", "down", "unknown"});
        const Field instance = PickField(in, instances);
        targetInstances.push_back(instance.value);
        const Field url = PickField(in, {"http://" + instance.value + "/metrics", "http://" + instance.value,
                                         "https://H:443/", "file:///x"});
        std::vector<std::string> labels;
        AddField(in, labels, "job", job, depth);
        AddField(in, labels, "instance", instance, depth);
        if (in.ConsumeBool())
            labels.push_back(Member(in, "zone", Quoted(in, RandomText(in))));
        std::vector<std::string> members{Member(in, "labels", Object(in, labels))};
        AddField(in, members, "health", health, depth);
        AddField(in, members, "scrapeUrl", url, depth);
        if (in.ConsumeBool())
            members.push_back(Member(in, "discoveredLabels", Noise(in, depth)));
        targetList += (i ? "," + Space(in) : "") + Object(in, members);
        if (job.kind == 0 && job.value == "node" && health.kind == 0 && health.value == "up" && Fits(instance) &&
            Fits(url))
            expectedTargets.push_back({instance.value, url.value});
    }

    // Mostly a name for each target's instance, and a few for instances of no target.
    std::vector<InstanceName> expectedNames;
    std::string nameList;
    for (std::size_t i = 0; i < targetInstances.size() + std::size_t(strayNames); ++i) {
        if (i < targetInstances.size() && in.ConsumeIntegralInRange(0, 7) == 7)
            continue;
        const Field instance = i < targetInstances.size() ? PickField(in, {targetInstances[i]}) : PickField(in, instances);
        const Field nodename = PickField(in, {"vm", "fs", "VM", " \xE2\x80\x8B "});
        std::vector<std::string> metric{Member(in, "__name__", Quoted(in, "node_uname_info"))};
        AddField(in, metric, "instance", instance, depth);
        AddField(in, metric, "nodename", nodename, depth);
        std::vector<std::string> members{Member(in, "metric", Object(in, metric))};
        if (in.ConsumeBool())
            members.push_back(Member(in, "value", "[1.5," + Space(in) + "\"1\"]"));
        nameList += (nameList.empty() ? "" : "," + Space(in)) + Object(in, members);
        if (Fits(instance) && Fits(nodename))
            expectedNames.push_back({instance.value, nodename.value});
    }

    const int status = in.ConsumeIntegralInRange(0, 15) == 15 ? 1 : 0;
    const std::string reason = RandomText(in, 12);
    const std::string targetsReply = Envelope(in, "activeTargets", "[" + targetList + "]", status, reason);
    const std::string namesReply = Envelope(in, "result", "[" + nameList + "]", status, reason);

    std::vector<ActiveTarget> targets;
    std::vector<InstanceName> names;
    const ApiVerdict a = ReadActiveTargets(targetsReply, "node", targets);
    const ApiVerdict b = ReadInstanceNames(namesReply, names);
    if (status != 0) {
        const std::string shown = ListableServerName(reason, 512);
        FUZZ_CHECK(!a.ok && !b.ok && a.error == b.error);
        FUZZ_CHECK(a.error == (shown.empty() ? "status error" : shown) || tooDeep);
        return;
    }
    // Nests deeper than allowed only where some noise of that depth was written.
    if (!a.ok || !b.ok) {
        FUZZ_CHECK(tooDeep);
        return;
    }
    FUZZ_CHECK(targets.size() == expectedTargets.size());
    for (std::size_t i = 0; i < targets.size(); ++i)
        FUZZ_CHECK(targets[i].instance == expectedTargets[i].instance &&
                   targets[i].scrapeUrl == expectedTargets[i].scrapeUrl);
    FUZZ_CHECK(names.size() == expectedNames.size());
    for (std::size_t i = 0; i < names.size(); ++i)
        FUZZ_CHECK(names[i].instance == expectedNames[i].instance && names[i].nodeName == expectedNames[i].nodeName);
    CheckListed(JoinDiscovery(targets, names));
    CheckListed(FallbackServers(names, false));
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

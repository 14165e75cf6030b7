// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#include "Discovery.h"

#include "ServerName.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <tuple>
#include <unordered_map>
#include <unordered_set>

namespace {

using UrlHandle = std::unique_ptr<CURLU, decltype(&curl_url_cleanup)>;

/* A part of a parsed URL; empty where it has none. */
std::string Part(CURLU* url, CURLUPart part, unsigned flags = 0) {
    char* text = nullptr;
    if (curl_url_get(url, part, &text, flags) != CURLUE_OK || text == nullptr)
        return {};
    std::string copy(text);
    curl_free(text);
    return copy;
}

bool HasPart(CURLU* url, CURLUPart part) {
    char* text = nullptr;
    const bool has = curl_url_get(url, part, &text, 0) == CURLUE_OK && text != nullptr;
    curl_free(text);
    return has;
}

/* `text` parsed as an http or https URL with a host; null otherwise. */
UrlHandle ParseHttpUrl(std::string_view text) {
    UrlHandle url(curl_url(), &curl_url_cleanup);
    if (!url || text.find('\0') != std::string_view::npos ||
        curl_url_set(url.get(), CURLUPART_URL, std::string(text).c_str(), 0) != CURLUE_OK)
        return {nullptr, &curl_url_cleanup};
    const std::string scheme = Part(url.get(), CURLUPART_SCHEME);
    if ((scheme != "http" && scheme != "https") || Part(url.get(), CURLUPART_HOST).empty())
        return {nullptr, &curl_url_cleanup};
    return url;
}

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

/* `path` under the base URL's own path, with the given query (already encoded or not). */
std::string ApiUrl(std::string_view base, const char* path, const std::string& query, bool encode) {
    UrlHandle url = ParseHttpUrl(base);
    if (!url)
        return {};
    std::string prefix = Part(url.get(), CURLUPART_PATH);
    while (!prefix.empty() && prefix.back() == '/')
        prefix.pop_back();
    const std::string full = prefix + path;
    curl_url_set(url.get(), CURLUPART_FRAGMENT, nullptr, 0);
    curl_url_set(url.get(), CURLUPART_QUERY, nullptr, 0);
    if (curl_url_set(url.get(), CURLUPART_PATH, full.c_str(), 0) != CURLUE_OK ||
        curl_url_set(url.get(), CURLUPART_QUERY, query.c_str(),
                     encode ? CURLU_APPENDQUERY | CURLU_URLENCODE : 0) != CURLUE_OK)
        return {};
    return Part(url.get(), CURLUPART_URL);
}

/* `text` as a PromQL string literal's contents. */
std::string PromQlEscaped(std::string_view text) {
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\\' || c == '"') {
            out += '\\';
            out += c;
        } else if (byte < 0x20 || byte == 0x7F) {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02x", byte);
            out += hex;
        } else {
            out += c;
        }
    }
    return out;
}

bool ServerBefore(const DiscoveredServer& a, const DiscoveredServer& b) {
    if (a.name != b.name)
        return CompareServerNames(a.name, b.name);
    return std::tie(a.instance, a.scrapeUrl) < std::tie(b.instance, b.scrapeUrl);
}

/* Sorts, and keeps one entry of an exporter listed twice (two targets, one URL). */
void SortAndMerge(std::vector<DiscoveredServer>& servers) {
    std::sort(servers.begin(), servers.end(), ServerBefore);
    std::unordered_set<std::string> seen;
    std::erase_if(servers, [&](const DiscoveredServer& s) { return !seen.insert(s.scrapeUrl).second; });
}

} // namespace

ClientResult DiscoveryHttpResult(long status) {
    if (status == 200)
        return 0;
    if (status == 401 || status == 403)
        return DiscoveryCode::Refused;
    return DiscoveryCode::BadAnswer;
}

std::string TargetsRequestUrl(std::string_view base, std::string_view job) {
    std::string url = ApiUrl(base, "/api/v1/targets", "state=active", false);
    if (job.empty() || url.empty())
        return url;
    const UrlHandle parsed = ParseHttpUrl(url);
    const std::string pool = "scrapePool=" + std::string(job);
    if (!parsed || curl_url_set(parsed.get(), CURLUPART_QUERY, pool.c_str(),
                                CURLU_APPENDQUERY | CURLU_URLENCODE) != CURLUE_OK)
        return {};
    return Part(parsed.get(), CURLUPART_URL);
}

std::string NamesRequestUrl(std::string_view base, std::string_view job) {
    return ApiUrl(base, "/api/v1/query", "query=node_uname_info{job=\"" + PromQlEscaped(job) + "\"}",
                  true);
}

std::optional<std::string> ScrapeUrl(std::string_view text) {
    UrlHandle url = ParseHttpUrl(text);
    if (!url || HasPart(url.get(), CURLUPART_USER) || HasPart(url.get(), CURLUPART_PASSWORD) ||
        HasPart(url.get(), CURLUPART_FRAGMENT))
        return std::nullopt;
    std::string host = Part(url.get(), CURLUPART_HOST);
    std::transform(host.begin(), host.end(), host.begin(), Lower);
    if (curl_url_set(url.get(), CURLUPART_HOST, host.c_str(), 0) != CURLUE_OK)
        return std::nullopt;
    if (Part(url.get(), CURLUPART_PATH) == "/")
        curl_url_set(url.get(), CURLUPART_PATH, "/metrics", 0);
    std::string normal = Part(url.get(), CURLUPART_URL, CURLU_NO_DEFAULT_PORT);
    if (normal.empty())
        return std::nullopt;
    return normal;
}

std::string HostAndPort(std::string_view text) {
    UrlHandle url = ParseHttpUrl(text);
    if (!url)
        return {};
    return Part(url.get(), CURLUPART_HOST) + ":" + Part(url.get(), CURLUPART_PORT, CURLU_DEFAULT_PORT);
}

bool CompareServerNames(std::string_view a, std::string_view b) {
    const std::size_t common = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < common; ++i) {
        const auto x = static_cast<unsigned char>(Lower(a[i]));
        const auto y = static_cast<unsigned char>(Lower(b[i]));
        if (x != y)
            return x < y;
    }
    if (a.size() != b.size())
        return a.size() < b.size();
    return a < b;
}

std::vector<DiscoveredServer> JoinDiscovery(std::span<const ActiveTarget> targets,
                                            std::span<const InstanceName> names) {
    std::unordered_map<std::string_view, std::string_view> nameOf;
    nameOf.reserve(names.size());
    for (const InstanceName& n : names)
        nameOf.emplace(n.instance, n.nodeName);
    std::vector<DiscoveredServer> servers;
    servers.reserve(targets.size());
    for (const ActiveTarget& t : targets) {
        const auto found = nameOf.find(t.instance);
        if (found == nameOf.end())
            continue;
        std::string name = ListableServerName(found->second);
        std::optional<std::string> url = ScrapeUrl(t.scrapeUrl);
        if (name.empty() || !url)
            continue;
        servers.push_back({std::move(name), std::move(*url), t.instance});
    }
    SortAndMerge(servers);
    return servers;
}

std::vector<DiscoveredServer> FallbackServers(std::span<const InstanceName> names, bool https) {
    std::vector<DiscoveredServer> servers;
    std::unordered_set<std::string_view> seen;
    for (const InstanceName& n : names) {
        // Only a host and a port: nothing that would start a path, a query or a user.
        const bool plain = !n.instance.empty() && std::none_of(n.instance.begin(), n.instance.end(), [](char c) {
            return static_cast<unsigned char>(c) <= 0x20 || static_cast<unsigned char>(c) == 0x7F ||
                   std::string_view("/?#@\\%").find(c) != std::string_view::npos;
        });
        if (!plain || !seen.insert(n.instance).second)
            continue;
        std::string name = ListableServerName(n.nodeName);
        std::optional<std::string> url =
            ScrapeUrl((https ? "https://" : "http://") + n.instance + "/metrics");
        if (name.empty() || !url)
            continue;
        servers.push_back({std::move(name), std::move(*url), n.instance});
    }
    SortAndMerge(servers);
    return servers;
}

DiscoveryOutcome ReadDiscovery(long targetsStatus, std::string_view targetsBody,
                               long namesStatus, std::string_view namesBody,
                               std::string_view job, bool exportersHttps) {
    DiscoveryOutcome out;
    const bool fallback = DiscoveryFallsBack(targetsStatus);
    auto fail = [&](ClientResult result, std::string reason) {
        out.result = result;
        out.reason = std::move(reason);
        out.servers.clear();
        return std::move(out);
    };
    if (const ClientResult r = fallback ? 0 : DiscoveryHttpResult(targetsStatus))
        return fail(r, "the targets request answered HTTP " + std::to_string(targetsStatus));
    if (const ClientResult r = DiscoveryHttpResult(namesStatus))
        return fail(r, "the node_uname_info query answered HTTP " + std::to_string(namesStatus));
    std::vector<InstanceName> names;
    const ApiVerdict named = ReadInstanceNames(namesBody, names);
    if (!named.ok)
        return fail(DiscoveryCode::BadAnswer, "the node_uname_info query: " + named.error);
    if (fallback) {
        out.servers = FallbackServers(names, exportersHttps);
    } else {
        std::vector<ActiveTarget> targets;
        const ApiVerdict listed = ReadActiveTargets(targetsBody, job, targets);
        if (!listed.ok)
            return fail(DiscoveryCode::BadAnswer, "the targets request: " + listed.error);
        out.servers = JoinDiscovery(targets, names);
        out.leftOut = listed.leftOut;
    }
    if (out.servers.empty())
        out.reason = "no target of the job \"" + std::string(job) +
                     "\" is up with a node_uname_info name";
    return out;
}

void TellNamesApart(std::span<ListedName> entries, std::size_t maxBytes) {
    std::unordered_map<std::string, int> count;
    for (const ListedName& e : entries)
        ++count[e.name];
    for (ListedName& e : entries) {
        if (count[e.name] < 2 || e.place.empty())
            continue;
        const std::string place = ListableServerName(e.place, maxBytes / 2);
        const std::string suffix = " (" + place + ")";
        e.name = ListableServerName(e.name, maxBytes > suffix.size() ? maxBytes - suffix.size() : 0) + suffix;
    }
}

// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#include "ScrapeOptions.h"

#include "PrometheusReply.h"

#include <algorithm>
#include <cctype>

namespace {

struct UrlCleanup {
    void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
struct TextCleanup {
    void operator()(char* text) const { curl_free(text); }
};
using Text = std::unique_ptr<char, TextCleanup>;

// Only what the statistics need: the exporter then runs three collectors instead of dozens.
constexpr const char* Query = "collect[]=cpu&collect[]=vmstat&collect[]=uname";

Text Part(CURLU* url, CURLUPart part, unsigned flags = 0) {
    char* text = nullptr;
    if (curl_url_get(url, part, &text, flags) != CURLUE_OK)
        return nullptr;
    return Text(text);
}

} // namespace

ScrapeHandle MakeScrapeHandle(const ConnectionEntry& entry, const ExporterTiming& timing,
                              std::string& why, HandleUse use) {
    ScrapeHandle handle;
    const std::unique_ptr<CURLU, UrlCleanup> url(curl_url());
    if (!url || curl_url_set(url.get(), CURLUPART_URL, entry.url.c_str(), 0) != CURLUE_OK ||
        (use == HandleUse::Scrape &&
         curl_url_set(url.get(), CURLUPART_QUERY, Query, CURLU_APPENDQUERY) != CURLUE_OK)) {
        why = "libcurl cannot use this URL";
        return handle;
    }
    const Text full = Part(url.get(), CURLUPART_URL);
    const Text scheme = Part(url.get(), CURLUPART_SCHEME);
    const Text host = Part(url.get(), CURLUPART_HOST);
    const Text port = Part(url.get(), CURLUPART_PORT, CURLU_DEFAULT_PORT);
    if (!full || !scheme || !host || !port) {
        why = "libcurl cannot use this URL";
        return handle;
    }
    const bool loopback = IsLoopbackHost(host.get());
    const bool https = std::string_view(scheme.get()) == "https";
    if (!entry.user.empty() && !https && !loopback) {
        why = "credentials over plain http go only to a loopback address";
        return handle;
    }
    if (IsLocalhostName(host.get())) {
        // The name is this machine's by definition; no resolver gets to say otherwise.
        std::string lowered(host.get());
        std::transform(lowered.begin(), lowered.end(), lowered.begin(),
                       [](unsigned char c) { return char(std::tolower(c)); });
        for (const std::string& name : {lowered, lowered.ends_with('.') ? lowered.substr(0, lowered.size() - 1)
                                                                          : lowered + "."}) {
            const std::string pin = name + ":" + port.get() + ":127.0.0.1,[::1]";
            curl_slist* grown = curl_slist_append(handle.pinned.get(), pin.c_str());
            if (grown == nullptr) {
                why = "out of memory";
                return handle;
            }
            handle.pinned.release();
            handle.pinned.reset(grown);
        }
    }

    handle.easy.reset(curl_easy_init());
    CURL* easy = handle.easy.get();
    if (easy == nullptr) {
        why = "libcurl did not start";
        return handle;
    }
    curl_easy_setopt(easy, CURLOPT_URL, full.get());
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
    // One request a second needs no multiplexing: plain HTTP/1.1, also over TLS.
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_QUICK_EXIT, 1L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!entry.caFile.empty()) {
        curl_easy_setopt(easy, CURLOPT_CAINFO, entry.caFile.c_str());
        curl_easy_setopt(easy, CURLOPT_CAPATH, nullptr);
    }
    if (loopback)
        curl_easy_setopt(easy, CURLOPT_NOPROXY, "*");
    if (handle.pinned)
        curl_easy_setopt(easy, CURLOPT_RESOLVE, handle.pinned.get());
    if (!entry.user.empty()) {
        curl_easy_setopt(easy, CURLOPT_HTTPAUTH, long(CURLAUTH_BASIC));
        curl_easy_setopt(easy, CURLOPT_USERNAME, entry.user.c_str());
        curl_easy_setopt(easy, CURLOPT_PASSWORD, entry.password.c_str());
    }
    if (use == HandleUse::Api) {
        curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(MaxApiReplyBytes));
        curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, long(timing.scan.count()));
        curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, long(timing.scan.count()));
    } else {
        curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE,
                         curl_off_t(ExporterClient::MaxReplyBytes));
        curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, long(timing.open.count()));
        curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, long(timing.stale.count()));
    }
    curl_easy_setopt(easy, CURLOPT_USERAGENT, "ServerStats");
    return handle;
}

// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#include "Loopback.h"

#include <curl/curl.h>

#include <algorithm>
#include <charconv>
#include <memory>
#include <string>

namespace {

struct UrlCleanup {
    void operator()(CURLU* url) const { curl_url_cleanup(url); }
};

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

} // namespace

bool IsLocalhostName(std::string_view host) {
    if (host.ends_with('.'))
        host.remove_suffix(1);
    constexpr std::string_view name = "localhost";
    return std::equal(host.begin(), host.end(), name.begin(), name.end(),
                      [](char a, char b) { return Lower(a) == b; });
}

bool IsLoopbackHost(std::string_view host) {
    if (host == "[::1]" || IsLocalhostName(host))
        return true;
    // Four decimal numbers up to 255, the first 127: nothing a resolver could reinterpret.
    int parts = 0;
    int first = -1;
    while (!host.empty() && parts < 4) {
        unsigned value = 256;
        const auto [end, error] = std::from_chars(host.data(), host.data() + host.size(), value);
        if (error != std::errc{} || value > 255 || end == host.data() || end - host.data() > 3)
            return false;
        if (parts++ == 0)
            first = int(value);
        host.remove_prefix(std::size_t(end - host.data()));
        if (!host.empty() && (parts == 4 || host.front() != '.' || host.size() == 1))
            return false;
        if (!host.empty())
            host.remove_prefix(1);
    }
    return parts == 4 && host.empty() && first == 127;
}

bool IsLoopbackUrl(std::string_view text) {
    const std::unique_ptr<CURLU, UrlCleanup> url(curl_url());
    if (!url || text.find('\0') != std::string_view::npos ||
        curl_url_set(url.get(), CURLUPART_URL, std::string(text).c_str(), 0) != CURLUE_OK)
        return false;
    char* scheme = nullptr;
    char* host = nullptr;
    bool loopback = false;
    if (curl_url_get(url.get(), CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK &&
        curl_url_get(url.get(), CURLUPART_HOST, &host, 0) == CURLUE_OK) {
        const std::string_view s(scheme);
        loopback = (s == "http" || s == "https") && IsLoopbackHost(host);
    }
    curl_free(scheme);
    curl_free(host);
    return loopback;
}

// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#include "FailureHints.h"

#include <algorithm>
#include <cctype>

namespace {

using std::string_view;

bool StartsWithNoCase(string_view text, string_view start) {
    return text.size() >= start.size() &&
           std::equal(start.begin(), start.end(), text.begin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) ==
                      std::tolower(static_cast<unsigned char>(b));
           });
}

string_view TrimStart(string_view text) {
    const std::size_t at = text.find_first_not_of(" \t\r\n");
    return at == string_view::npos ? string_view{} : text.substr(at);
}

/* The URL's path, without its query: what follows the host and port. */
string_view UrlPath(string_view url) {
    const std::size_t scheme = url.find("://");
    const std::size_t host = scheme == string_view::npos ? 0 : scheme + 3;
    const std::size_t path = url.find('/', host);
    if (path == string_view::npos)
        return {};
    return url.substr(path, url.find_first_of("?#", path) - path);
}

bool EndsInMetrics(string_view url) {
    string_view path = UrlPath(url);
    while (!path.empty() && path.back() == '/')
        path.remove_suffix(1);
    return path.size() >= 8 && path.substr(path.size() - 8) == "/metrics";
}

bool IsHtml(const TransferFacts& f) {
    if (StartsWithNoCase(TrimStart(f.contentType), "text/html"))
        return true;
    // A byte-order mark before the markup is common enough in hand-written pages.
    string_view body = f.bodyStart;
    if (body.substr(0, 3) == "\xEF\xBB\xBF")
        body.remove_prefix(3);
    body = TrimStart(body);
    return StartsWithNoCase(body, "<!doctype html") || StartsWithNoCase(body, "<html");
}

} // namespace

std::string_view AddressHint(std::string_view lineUrl) {
    // "http:/host" has a scheme with a slash missing, which libcurl's own words explain.
    if (lineUrl.find("://") != string_view::npos || StartsWithNoCase(lineUrl, "http:") ||
        StartsWithNoCase(lineUrl, "https:"))
        return {};
    return "write http:// or https:// before the address";
}

std::string_view TransferHint(const TransferFacts& f) {
    if (f.apiRequest && f.httpStatus == 404 && EndsInMetrics(f.url))
        return "a discover= URL is the API's base: remove /metrics";
    // OpenSSL's words for a first reply that is not TLS at all.
    if (f.curlCode != 0 && StartsWithNoCase(f.url, "https://") &&
        f.curlError.find("wrong version number") != string_view::npos)
        return "the server speaks plain HTTP: use http://";
    if (!f.apiRequest && f.curlCode == 0 && f.httpStatus == 200 && IsHtml(f))
        return "the reply is an HTML page, not the exporter's metrics: check the path "
               "(the default is /metrics)";
    return {};
}

std::string WithHint(std::string_view reason, std::string_view hint) {
    std::string text(reason);
    if (!hint.empty())
        text.append("; ").append(hint);
    return text;
}

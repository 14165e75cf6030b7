// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#pragma once
// Hints for the mistakes that new users make in the connection table, told from plain facts
// about a line or a finished transfer, so that a reason says what to fix and not only what
// went wrong. Standard library only: the network code passes what it has at hand.

#include <string>
#include <string_view>

/* What one finished transfer showed. */
struct TransferFacts {
    std::string_view url{};         // the table's URL: the exporter's, or the API's base
    bool apiRequest = false;        // a Prometheus API request (discover=), not a scrape
    int curlCode = 0;               // libcurl's CURLcode, 0 when the transfer completed
    std::string_view curlError{};   // libcurl's error buffer, or empty
    long httpStatus = 0;            // the reply's HTTP status, 0 when none came
    std::string_view contentType{}; // the reply's Content-Type, or empty
    std::string_view bodyStart{};   // the reply's first bytes (a few hundred do), or empty
};

/* A hint for a table line whose URL libcurl refused, or empty: a line without a scheme. */
std::string_view AddressHint(std::string_view lineUrl);

/* A hint for a transfer that failed in a way a common mistake explains, or empty:
   - an API base ending in /metrics that answered 404;
   - https:// to a server that speaks plain HTTP;
   - an HTML page with status 200 where an exporter's metrics were expected. */
std::string_view TransferHint(const TransferFacts& facts);

/* "reason; hint", or the reason alone when there is no hint. */
std::string WithHint(std::string_view reason, std::string_view hint);

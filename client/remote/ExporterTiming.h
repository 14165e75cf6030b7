// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#pragma once

#include <chrono>
#include <string>

/* How long the remote client waits or trusts a scrape, and how often it scrapes. */
struct ExporterTiming {
    /* The scan for names, over all servers together. */
    std::chrono::milliseconds scan{3000};
    /* Opening a connection, for its first scrape. */
    std::chrono::milliseconds open{2000};
    /* A server without a good scrape for this long no longer answers. */
    std::chrono::milliseconds stale{5000};
    /* An opened server is scraped this often. */
    std::chrono::milliseconds interval{1000};
};


/* A duration in words for standard error: "3 s", "2.5 s". */
inline std::string InSeconds(std::chrono::milliseconds duration) {
    const auto tenths = (duration.count() + 50) / 100;
    std::string text = std::to_string(tenths / 10);
    if (tenths % 10 != 0) {
        text += '.';
        text += std::to_string(tenths % 10);
    }
    text += " s";
    return text;
}

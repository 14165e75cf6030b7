// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#pragma once
// How one server's scrape is set up in libcurl: the rules that keep its
// credentials and its trust where the table meant them to be.

#include "ConnectionTable.h"
#include "ExporterClient.h"
#include "Loopback.h"

#include <curl/curl.h>

#include <memory>
#include <string>
#include <string_view>

struct EasyCleanup {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct MultiCleanup {
    void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
struct SlistCleanup {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

/* An easy handle and what it points to; the handle goes first. */
struct ScrapeHandle {
    std::unique_ptr<curl_slist, SlistCleanup> pinned;
    std::unique_ptr<CURL, EasyCleanup> easy;
};

/* What a handle is for: an exporter's scrapes, or one request of a Prometheus API (no
   collect[] filter, a reply up to MaxApiReplyBytes, all within the timing's scan). */
enum class HandleUse { Scrape, Api };

/* A handle that scrapes `entry`, reused for every scrape so that its connection stays alive:
   - loopback is never proxied and `localhost` never looked up; other hosts follow the
     environment's proxy settings, as curl does;
   - credentials over plain http go only to loopback, and so never through a proxy;
   - with a CA file, that file is the only trust: neither the system's bundle nor its path;
   - ending a transfer never waits for a look-up still running.
   A null handle, with the reason in `why`, for an entry that cannot be scraped. */
ScrapeHandle MakeScrapeHandle(const ConnectionEntry& entry, const ExporterTiming& timing,
                              std::string& why, HandleUse use = HandleUse::Scrape);

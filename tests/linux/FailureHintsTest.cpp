// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

// The words beside a code, and the hints for the common mistakes: each hint where its
// mistake shows, and none where a look-alike is no mistake.

#include "FailureHints.h"
#include "ResultWords.h"

#include <gtest/gtest.h>

namespace {

TEST(CodeWithWords, SaysWhatEveryCodeMeans) {
    EXPECT_EQ(CodeWithWords(0x8901), "Error 8901: no answer");
    EXPECT_EQ(CodeWithWords(0x8801), "Error 8801: connection not open");
    EXPECT_EQ(CodeWithWords(0xFF), "Error 00FF");     // not one of ours: the number alone
    EXPECT_EQ(CodeWithWords(0x12345), "Error 12345"); // every digit of a wide code
    for (ClientResult code : {0x8801u, 0x8802u, 0x8803u, 0x8804u, 0x8805u, 0x88FFu, 0x8901u,
                              0x8902u, 0x8903u, 0x8904u, 0x8905u, 0x8906u, 0x8907u, 0x8908u})
        EXPECT_FALSE(CodeInWords(code).empty()) << std::hex << code;
    EXPECT_TRUE(CodeInWords(0).empty());
}

TEST(AddressHint, OnlyForALineWithoutAScheme) {
    EXPECT_EQ(AddressHint("fs1.example.org:9100"), "write http:// or https:// before the address");
    EXPECT_EQ(AddressHint("192.0.2.7:9100/metrics"), AddressHint("fs1.example.org:9100"));
    EXPECT_EQ(AddressHint("http:/fs1.example.org"), ""); // a slash short: libcurl says so
    EXPECT_EQ(AddressHint("HTTPS://fs1.example.org:9100"), "");
}

TransferFacts Api(std::string_view url, long status) {
    return {.url = url, .apiRequest = true, .httpStatus = status};
}
TransferFacts Scrape(std::string_view url, long status, std::string_view type,
                     std::string_view body = {}) {
    return {.url = url, .httpStatus = status, .contentType = type, .bodyStart = body};
}
TransferFacts Failed(std::string_view url, int code, std::string_view error) {
    return {.url = url, .curlCode = code, .curlError = error};
}

TEST(TransferHint, OnlyWhereTheMistakeShows) {
    const std::string_view metrics = "a discover= URL is the API's base: remove /metrics";
    const std::string_view http = "the server speaks plain HTTP: use http://";
    const std::string_view html = "the reply is an HTML page, not the exporter's metrics: check "
                                  "the path (the default is /metrics)";
    const std::string_view version =
        "OpenSSL/3.0.19: error:0A00010B:SSL routines::wrong version number";
    const struct {
        TransferFacts facts;
        std::string_view hint;
    } rows[] = {
        {Api("http://prom:9090/metrics", 404), metrics},
        {Api("http://prom:9090/metrics/", 404), metrics},
        {Api("http://prom:9090/prom", 404), ""},          // a prefix of its own
        {Scrape("http://fs1:9100/metrics", 404, ""), ""}, // an exporter, not an API
        {Failed("https://fs1:9100/metrics", 35, version), http},
        {Failed("https://fs1:9100/metrics", 60, "SSL certificate problem"), ""},
        {Scrape("http://fs1:9100/", 200, "text/html; charset=UTF-8"), html},
        {Scrape("http://fs1:9100/x", 200, "", "\n<!DOCTYPE html>"), html},
        {Scrape("http://fs1:9100/x", 404, "text/html"), ""},
        {Scrape("http://fs1:9100/metrics", 200, "text/plain; version=0.0.4", "# HELP"), ""},
    };
    for (const auto& row : rows)
        EXPECT_EQ(TransferHint(row.facts), row.hint)
            << row.facts.url << ' ' << row.facts.httpStatus;
    EXPECT_EQ(WithHint("the node_uname_info query answered HTTP 404", metrics),
              "the node_uname_info query answered HTTP 404; " + std::string(metrics));
    EXPECT_EQ(WithHint("HTTP 500", ""), "HTTP 500");
}

} // namespace

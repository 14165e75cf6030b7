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

struct Case {
    const char* what;
    TransferFacts facts;
    std::string_view hint;
};

class TransferHintRow : public testing::TestWithParam<Case> {};

TEST_P(TransferHintRow, Gives) {
    EXPECT_EQ(TransferHint(GetParam().facts), GetParam().hint) << GetParam().what;
}

constexpr std::string_view RemoveMetrics = "a discover= URL is the API's base: remove /metrics";
constexpr std::string_view UseHttp = "the server speaks plain HTTP: use http://";
constexpr std::string_view HtmlPage = "the reply is an HTML page, not the exporter's metrics: "
                                      "check the path (the default is /metrics)";
constexpr std::string_view WrongVersion =
    "OpenSSL/3.0.19: error:0A00010B:SSL routines::wrong version number";

INSTANTIATE_TEST_SUITE_P(
    Mistakes, TransferHintRow,
    testing::Values(
        Case{"API base ending in /metrics",
             {.url = "http://prom:9090/metrics", .apiRequest = true, .httpStatus = 404},
             RemoveMetrics},
        Case{"... with a slash after it",
             {.url = "http://prom:9090/metrics/", .apiRequest = true, .httpStatus = 404},
             RemoveMetrics},
        Case{"an API under a prefix answering 404",
             {.url = "http://prom:9090/prom", .apiRequest = true, .httpStatus = 404},
             ""},
        Case{"an exporter's /metrics answering 404",
             {.url = "http://fs1:9100/metrics", .httpStatus = 404},
             ""},
        Case{"https to plain HTTP",
             {.url = "https://fs1:9100/metrics", .curlCode = 35, .curlError = WrongVersion},
             UseHttp},
        Case{"... a Prometheus too",
             {.url = "https://prom:9090",
              .apiRequest = true,
              .curlCode = 35,
              .curlError = WrongVersion},
             UseHttp},
        Case{"an untrusted certificate",
             {.url = "https://fs1:9100/metrics",
              .curlCode = 60,
              .curlError = "SSL certificate problem"},
             ""},
        Case{"HTML by its type",
             {.url = "http://fs1:9100/",
              .httpStatus = 200,
              .contentType = "text/html; charset=UTF-8"},
             HtmlPage},
        Case{"HTML by its first bytes",
             {.url = "http://fs1:9100/x", .httpStatus = 200, .bodyStart = "\n<!DOCTYPE html>"},
             HtmlPage},
        Case{"HTML in a 404",
             {.url = "http://fs1:9100/x", .httpStatus = 404, .contentType = "text/html"},
             ""},
        Case{"the exporter's text",
             {.url = "http://fs1:9100/metrics",
              .httpStatus = 200,
              .contentType = "text/plain; version=0.0.4",
              .bodyStart = "# HELP"},
             ""}),
    [](const testing::TestParamInfo<Case>& info) { return "row" + std::to_string(info.index); });

TEST(WithHint, JoinsOnlyAHint) {
    EXPECT_EQ(WithHint("the node_uname_info query answered HTTP 404", RemoveMetrics),
              "the node_uname_info query answered HTTP 404; " + std::string(RemoveMetrics));
    EXPECT_EQ(WithHint("HTTP 500", ""), "HTTP 500");
}

} // namespace

// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#pragma once
// The result codes of the remote servers, all within 0 to 0xFFFF, and the reply
// limit they speak of. The network loop does not need them: it hands out
// libcurl's own results, and TransferVerdict.h turns those into these.

#include "ClientLibrary.h"

#include <cstddef>

namespace RemoteCode {
inline constexpr ClientResult NoAnswer = 0x8901;        // no good scrape in time
inline constexpr ClientResult BadAnswer = 0x8902;       // an HTTP error, a malformed or oversized
                                                        // reply, or a needed family missing
inline constexpr ClientResult Refused = 0x8903;         // the server answered 401 or 403
inline constexpr ClientResult TlsFailure = 0x8904;      // the certificate is not trusted
inline constexpr ClientResult TooManyOpen = 0x8905;     // every handle of the table is in use
inline constexpr ClientResult InvalidHandle = 0x8906;   // the handle is not open
inline constexpr ClientResult UnknownServer = 0x8907;   // no such entry in the list
inline constexpr ClientResult UnknownInfoType = 0x8908; // other than the server name
inline constexpr ClientResult NoMoreConnections = 0x88FF; // the scan has passed the last one
} // namespace RemoteCode

/* An exporter's reply longer than this is cut off and counts as a bad answer. */
inline constexpr std::size_t MaxExporterReplyBytes = std::size_t(4) << 20;

// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#pragma once
// What a finished transfer means for the client: its code and, for standard
// error, the reason in words. The one place where libcurl's results and HTTP
// statuses become the remote codes.

#include "RemoteResults.h"

#include <curl/curl.h>

#include <optional>
#include <string>
#include <string_view>

struct TransferVerdict {
    /* 0 for a whole reply with status 200; a code the server must answer for; empty for a
       failure of the network that the next attempt may not repeat (then NoAnswer). */
    std::optional<ClientResult> code;
    /* Why, when it is not 0. */
    std::string reason;
};

/* Judges a finished transfer: `error` is libcurl's text for it, `limit` the reply size it was
   cut off at, in words ("4 MiB"). */
TransferVerdict JudgeTransfer(CURLcode result, long status, std::string_view error,
                              std::string_view limit);

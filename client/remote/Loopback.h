// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#pragma once
// Which hosts are this machine without asking anyone: the one rule that decides
// where credentials may go over plain http, which servers skip the proxy, and
// which names the client pins instead of looking them up.

#include <string_view>

/* The name localhost, in any case, with or without its final dot: the client pins it to
   127.0.0.1 and ::1, so no resolver is ever asked about it. */
bool IsLocalhostName(std::string_view host);

/* True for a host, as libcurl writes it back, that is this machine without a resolver: a
   dotted address in 127.0.0.0/8, [::1], or a localhost name (IsLocalhostName). Everything
   else, "127.0.0.1." and [::ffff:127.0.0.1] among them, is a resolver's or a route's. */
bool IsLoopbackHost(std::string_view host);

/* IsLoopbackHost of an http or https URL's host; false for text that is no such URL. */
bool IsLoopbackUrl(std::string_view url);

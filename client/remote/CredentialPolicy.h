// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#pragma once
// Where a discovery line's exporter password may go. The Prometheus server, not
// the table, names the exporters, so each one it lists is judged on its own.

#include "ConnectionTable.h"

#include <string_view>

/* Why the exporter credentials of the discovery line `line` may not go to the exporter at
   `exporterUrl`; empty where they may, or where the line has none. They go to a loopback
   exporter (IsLoopbackHost) over http or https; beyond loopback only over https, and only
   when the line has exporter-ca=, which is then the only trust: the system's authorities
   would vouch for any host that the Prometheus server cares to name. */
std::string_view ExporterCredentialsRefusal(const ConnectionEntry& line,
                                            std::string_view exporterUrl);

// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#pragma once
// Where a discovery line's exporter password may go. The Prometheus server, not
// the table, names the exporters, so only the site's own trust may vouch for them.

#include "ConnectionTable.h"

#include <string_view>

/* Why the exporter credentials of the discovery line `line` may not go to the exporter at
   `exporterUrl`, one of those the line found, of which `allOnLoopback` says whether every
   one is on loopback (IsLoopbackUrl); empty where they may, or where the line has none:
   - every exporter on loopback: to each, over http or https; this machine's own fleet
     needs no authority of its own;
   - otherwise only over https, and only with exporter-ca=, which is then the only trust:
     the system's authorities would vouch for any host that the Prometheus server names,
     and a fleet that reaches beyond this machine could hide a sink on a loopback port. */
std::string_view ExporterCredentialsRefusal(const ConnectionEntry& line,
                                            std::string_view exporterUrl, bool allOnLoopback);

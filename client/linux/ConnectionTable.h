// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#pragma once
// The client's table of remote servers: one node exporter's address a line,
// with optional credentials and a certificate authority. Read once, when the
// client starts; a line that cannot be used is reported and skipped.

#include <ostream>
#include <string>
#include <vector>

/* One usable line of the table. */
struct ConnectionEntry {
    /* Where the exporter answers: http or https, "/metrics" when the line gave no path. */
    std::string url;
    /* Basic authentication, both empty when the line has none. */
    std::string user;
    std::string password;
    /* Certificate authorities to verify the server against; empty for the system's. */
    std::string caFile;
};

/* The table's place: $XDG_CONFIG_HOME/serverstats/connections, else
   ~/.config/serverstats/connections. */
std::string ConnectionTablePath();

/* Reads the table at `path`. A missing file gives an empty table, silently; an unreadable
   one, and every unusable line, is reported once to `errors` as "path:line: reason". */
std::vector<ConnectionEntry> ReadConnectionTable(const std::string& path, std::ostream& errors);

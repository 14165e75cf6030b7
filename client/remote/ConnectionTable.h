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
    /* The host is this machine without asking a resolver (IsLoopbackHost): an address in
       127.0.0.0/8, [::1], or the name "localhost" with or without its final dot (written in
       lower case in `url`), which the client must pin to this machine itself. Never through
       a proxy. */
    bool loopback = false;
    /* A discovery line's job: `url` is then a Prometheus HTTP API (its path a prefix, no
       "/metrics" added) that lists the job's exporters, and user, password and caFile
       apply to its requests. Empty for an exporter's own line. */
    std::string discoverJob{};
    /* A discovery line's credentials and trust for scraping the exporters it lists. */
    std::string exporterUser{};
    std::string exporterPassword{};
    std::string exporterCaFile{};
};

/* The table's place: $XDG_CONFIG_HOME/serverstats/connections, else
   ~/.config/serverstats/connections. */
std::string ConnectionTablePath();

/* Reads the table at `path`. A missing file gives an empty table, silently; an unreadable
   one (or a folder, or over 1 MiB), or one that another user owns or that group or others
   may write (root may own it, as ssh allows), is reported once as "path: reason" and gives
   an empty table; every unusable line is reported to `errors` as "path:line: reason" and skipped,
   the first 20 of them one by one and the rest as one count.
   A line is `URL [user=NAME password-file=PATH] [ca=PATH]`, with # comments after a blank,
   and no control characters but tabs:
   - the URL is http:// or https:// as libcurl reads it, with a host, maybe a port, path and
     query (no path gives /metrics), and without user, password or #fragment; it is kept as
     libcurl writes it back, so the scheme is in lower case and bytes beyond ASCII are
     percent-encoded;
   - user= and password-file= come together, and only over https or to a loopback address;
     the password file must be the user's own plain file, closed to group and others, and
     hold the password alone on one line, without control characters; ca= is for https
     only and must be readable;
   - paths are absolute or start with ~/; at most 256 lines are used, of 4096 bytes each.
   A discovery line is `URL discover=JOB [user= password-file= ca=] [exporter-user=
   exporter-password-file= exporter-ca=]`, the exporter-* fields under the same rules, except
   that where their credentials may go is known only per listed exporter
   (ExporterCredentialsRefusal); but exporter-user= needs the API itself over https or on
   loopback, since whoever could rewrite its answer would choose where the password goes. */
std::vector<ConnectionEntry> ReadConnectionTable(const std::string& path, std::ostream& errors);

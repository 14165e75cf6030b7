// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#include "ConnectionTable.h"
#include "Loopback.h"
#include "ServerName.h"
#include "UserFiles.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <curl/curl.h>
#include <memory>
#include <optional>
#include <string_view>
#include <system_error>
#include <utility>

namespace {

using std::string_view;

/* Bounds on what a hand-written table can sensibly hold. */
constexpr std::size_t MaxTableBytes = 1 << 20;
constexpr std::size_t MaxLineBytes = 4096;
constexpr std::size_t MaxEntries = 256;
constexpr std::size_t MaxPasswordBytes = 4096;
/* Unusable lines reported one by one; the rest are only counted, so that a table that is
   not one at all (a log, a binary file) cannot flood standard error. */
constexpr std::size_t MaxReportedLines = 20;

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

/* The line without its comment: a # at its start or after a blank. */
string_view WithoutComment(string_view line) {
    for (std::size_t i = 0; i < line.size(); ++i)
        if (line[i] == '#' && (i == 0 || IsBlank(line[i - 1])))
            return line.substr(0, i);
    return line;
}

/* The next blank-separated field, or empty at the line's end. */
string_view NextField(string_view& rest) {
    std::size_t start = 0;
    while (start < rest.size() && IsBlank(rest[start]))
        ++start;
    std::size_t end = start;
    while (end < rest.size() && !IsBlank(rest[end]))
        ++end;
    const string_view field = rest.substr(start, end - start);
    rest.remove_prefix(end);
    return field;
}

/* A CURLU handle that frees itself. */
struct UrlCleanup {
    void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
using Url = std::unique_ptr<CURLU, UrlCleanup>;

/* One part of a parsed URL, or nothing when the URL has none. */
std::optional<std::string> UrlPart(CURLU* url, CURLUPart part) {
    char* text = nullptr;
    if (curl_url_get(url, part, &text, 0) != CURLUE_OK)
        return std::nullopt;
    std::string value = text != nullptr ? text : "";
    curl_free(text);
    return value;
}

/* A byte that no line of the table may hold: every control character but the tab. */
bool IsControl(char c) {
    return (static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7F;
}

/* What a line's URL says, once libcurl has accepted it and it is known to be usable. */
struct Address {
    std::string url; // as libcurl writes it, with "/metrics" where the line gave no path
    bool https = false;
    bool loopback = false;
};

/* Whether the URL names a path. libcurl reads "http://host" and "http://host/" alike, so this
   looks at the text that it accepted: after the scheme's slashes, the host and port end at
   the first of "/?#", and only "/" starts a path. */
bool GivesPath(string_view url) {
    std::size_t at = url.find(':') + 1;
    while (at < url.size() && url[at] == '/')
        ++at;
    const std::size_t end = url.find_first_of("/?#", at);
    return end != string_view::npos && url[end] == '/';
}

/* Checks a URL with libcurl, the parser that will fetch it; on failure `reason` says why.
   An exporter's URL without a path gets "/metrics"; an API's keeps its own. */
std::optional<Address> ParseUrl(string_view text, bool exporter, std::string& reason) {
    const Url url(curl_url());
    // Any scheme parses, so that the message below can name the two that are allowed; bytes
    // beyond ASCII are percent-encoded, so that what is kept is plain ASCII.
    const CURLUcode parsed = url ? curl_url_set(url.get(), CURLUPART_URL, std::string(text).c_str(),
                                                CURLU_NON_SUPPORT_SCHEME | CURLU_URLENCODE)
                                 : CURLUE_OUT_OF_MEMORY;
    if (parsed != CURLUE_OK) {
        reason = std::string("not a usable address: ") + curl_url_strerror(parsed);
        return std::nullopt;
    }
    Address address;
    const std::string scheme = UrlPart(url.get(), CURLUPART_SCHEME).value_or("");
    address.https = scheme == "https";
    if (scheme != "http" && !address.https) {
        reason = "only http:// and https:// addresses are allowed";
        return std::nullopt;
    }
    if (UrlPart(url.get(), CURLUPART_USER) || UrlPart(url.get(), CURLUPART_PASSWORD) ||
        UrlPart(url.get(), CURLUPART_OPTIONS)) {
        reason = "no user or password in the address: use user= and password-file=";
        return std::nullopt;
    }
    if (UrlPart(url.get(), CURLUPART_FRAGMENT)) {
        reason = "an address with a #fragment";
        return std::nullopt;
    }
    if (UrlPart(url.get(), CURLUPART_PORT) == "0") {
        reason = "the port must be a number from 1 to 65535";
        return std::nullopt;
    }
    const std::string host = UrlPart(url.get(), CURLUPART_HOST).value_or("");
    // libcurl writes IPv4 and IPv6 addresses in one form each, which the rule compares with.
    address.loopback = IsLoopbackHost(host);
    CURLUcode written = CURLUE_OK;
    if (IsLocalhostName(host)) { // one spelling, for the client's pin to match
        std::string lower = host;
        std::transform(lower.begin(), lower.end(), lower.begin(),
                       [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; });
        written = curl_url_set(url.get(), CURLUPART_HOST, lower.c_str(), 0);
    }
    if (written == CURLUE_OK && exporter && !GivesPath(text))
        written = curl_url_set(url.get(), CURLUPART_PATH, "/metrics", 0);
    std::optional<std::string> whole = UrlPart(url.get(), CURLUPART_URL);
    if (written != CURLUE_OK || !whole) {
        reason = "out of memory";
        return std::nullopt;
    }
    address.url = std::move(*whole);
    return address;
}

/* A path from the table: absolute, or under the home folder with "~/". */
std::optional<std::string> ExpandPath(string_view value, std::string& reason) {
    if (value.substr(0, 2) == "~/") {
        const std::string home = HomeFolder();
        if (home.empty()) {
            reason = "~/ is used but there is no home folder";
            return std::nullopt;
        }
        return home + std::string(value.substr(1));
    }
    if (value.empty() || value.front() != '/') {
        reason = "a path must start with / or ~/";
        return std::nullopt;
    }
    return std::string(value);
}

/* The password a file holds alone, refused as ssh refuses a key that others may read. */
std::optional<std::string> ReadPassword(const std::string& path, std::string& reason) {
    FileText file = ReadUserFile(path, MaxPasswordBytes, FileAccess::OwnerOnly);
    const std::string name = "the password file " + path;
    switch (file.problem) {
    case FileProblem::None:
        break;
    case FileProblem::Missing:
    case FileProblem::CannotOpen:
        reason = "cannot read " + name + ": " + file.error;
        return std::nullopt;
    case FileProblem::NotPlain:
        reason = name + " is not a plain file";
        return std::nullopt;
    case FileProblem::NotYours:
        reason = name + " does not belong to you";
        return std::nullopt;
    case FileProblem::OpenToOthers:
        reason = name + " is open to others: chmod 600 it";
        return std::nullopt;
    case FileProblem::TooLarge:
        reason = "cannot read " + name;
        return std::nullopt;
    }
    std::string& password = file.text;
    if (password.ends_with('\n')) { // the line's end, from an editor that ends every line
        password.pop_back();
        if (password.ends_with('\r'))
            password.pop_back();
    }
    // Any other control character is a slip (a second line, a stray CR) that would only show
    // later, as a password the server refuses.
    if (password.empty() || std::any_of(password.begin(), password.end(), IsControl)) {
        reason = name + " must hold the password alone, on one line, without control characters";
        return std::nullopt;
    }
    return std::move(password);
}

/* The fields of a line after its URL, each at most once. */
struct Fields {
    std::optional<string_view> user, passwordFile, ca, discover, exporterUser,
        exporterPasswordFile, exporterCa;
};

/* Reads the fields; on failure `reason` says why. */
bool ReadFields(string_view rest, Fields& fields, std::string& reason) {
    const std::pair<string_view, std::optional<string_view> Fields::*> known[] = {
        {"user", &Fields::user},
        {"password-file", &Fields::passwordFile},
        {"ca", &Fields::ca},
        {"discover", &Fields::discover},
        {"exporter-user", &Fields::exporterUser},
        {"exporter-password-file", &Fields::exporterPasswordFile},
        {"exporter-ca", &Fields::exporterCa},
    };
    for (string_view field = NextField(rest); !field.empty(); field = NextField(rest)) {
        const std::size_t equals = field.find('=');
        const string_view key = field.substr(0, equals);
        const string_view value =
            equals == string_view::npos ? string_view() : field.substr(equals + 1);
        const auto slot = std::find_if(std::begin(known), std::end(known),
                                       [&](const auto& k) { return k.first == key; });
        if (slot == std::end(known)) {
            reason = "unknown field \"" + std::string(field) +
                     "\" (known: user=, password-file=, ca=, discover=, exporter-user=, "
                     "exporter-password-file=, exporter-ca=)";
            return false;
        }
        std::optional<string_view>& given = fields.*(slot->second);
        if (given) {
            reason = std::string(key) + "= is given twice";
            return false;
        }
        if (value.empty()) {
            reason = std::string(key) + "= needs a value";
            return false;
        }
        given = value;
    }
    return true;
}

/* A user, password file and CA file of one line (its API's or its exporters'), checked
   and read into `user`, `password` and `caFile`. `https` and `loopback` describe where
   they go, unknown (both true) for the exporters of a discovery line. */
bool ReadCredentials(std::optional<string_view> user, std::optional<string_view> passwordFile,
                     std::optional<string_view> ca, const Address& address, bool knownAddress,
                     std::string_view prefix, std::string& outUser, std::string& outPassword,
                     std::string& outCa, std::string& reason) {
    if (user.has_value() != passwordFile.has_value()) {
        reason = std::string(prefix) + "user= and " + std::string(prefix) +
                 "password-file= go together";
        return false;
    }
    if (user && user->find(':') != string_view::npos) {
        reason = "a user name cannot hold a colon";
        return false;
    }
    if (knownAddress && user && !address.https && !address.loopback) {
        reason = "credentials are sent only over https://, or over http:// to 127.0.0.0/8, "
                 "[::1] or localhost";
        return false;
    }
    if (knownAddress && ca && !address.https) {
        reason = "ca= applies to https:// only";
        return false;
    }
    if (ca) {
        const std::optional<std::string> path = ExpandPath(*ca, reason);
        if (!path)
            return false;
        if (!IsReadablePlainFile(*path)) {
            reason = "cannot read the certificate file " + *path;
            return false;
        }
        outCa = *path;
    }
    if (passwordFile) {
        const std::optional<std::string> path = ExpandPath(*passwordFile, reason);
        if (!path)
            return false;
        std::optional<std::string> password = ReadPassword(*path, reason);
        if (!password)
            return false;
        outUser = std::string(*user);
        outPassword = std::move(*password);
    }
    return true;
}

/* One line's entry; on failure `reason` says why. */
std::optional<ConnectionEntry> ParseLine(string_view line, std::string& reason) {
    string_view rest = line;
    const string_view urlText = NextField(rest);
    Fields fields;
    if (!ReadFields(rest, fields, reason))
        return std::nullopt;
    const std::optional<Address> address = ParseUrl(urlText, !fields.discover, reason);
    if (!address)
        return std::nullopt;
    if (!fields.discover &&
        (fields.exporterUser || fields.exporterPasswordFile || fields.exporterCa)) {
        reason = "exporter-user=, exporter-password-file= and exporter-ca= need discover=";
        return std::nullopt;
    }
    ConnectionEntry entry;
    entry.url = address->url;
    entry.loopback = address->loopback;
    if (fields.discover)
        entry.discoverJob = std::string(*fields.discover);
    if (!ReadCredentials(fields.user, fields.passwordFile, fields.ca, *address, true, "",
                         entry.user, entry.password, entry.caFile, reason))
        return std::nullopt;
    if (!ReadCredentials(fields.exporterUser, fields.exporterPasswordFile, fields.exporterCa,
                         *address, false, "exporter-", entry.exporterUser,
                         entry.exporterPassword, entry.exporterCaFile, reason))
        return std::nullopt;
    // Whoever is on the way to a plain-http API could rewrite its list, and so choose
    // where the exporters' password goes.
    if (!entry.discoverJob.empty() && !entry.exporterUser.empty() && !address->https &&
        !address->loopback) {
        reason = "exporter-user= needs the API over https:// or on loopback: over plain http, "
                 "anyone on the way could choose where the password goes";
        return std::nullopt;
    }
    return entry;
}

} // namespace

std::string ConnectionTablePath() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config != nullptr && config[0] == '/')
        return std::string(config) + "/serverstats/connections";
    const std::string home = HomeFolder();
    return home.empty() ? std::string() : home + "/.config/serverstats/connections";
}

std::vector<ConnectionEntry> ReadConnectionTable(const std::string& path, std::ostream& errors) {
    std::vector<ConnectionEntry> table;
    const std::string shown = PrintableText(path); // the environment chose it
    // Whoever may write the table decides where the passwords go, and which of the user's
    // files are read as one.
    const FileText file = ReadUserFile(path, MaxTableBytes, FileAccess::OwnerWrites);
    switch (file.problem) {
    case FileProblem::None:
        break;
    case FileProblem::NotYours:
        errors << shown << ": the connection table belongs to another user; not read\n";
        return table;
    case FileProblem::OpenToOthers:
        errors << shown << ": others may write the connection table: chmod go-w it; not read\n";
        return table;
    case FileProblem::Missing:
        return table;
    case FileProblem::CannotOpen:
        errors << shown << ": cannot read the connection table: " << file.error << '\n';
        return table;
    case FileProblem::NotPlain:
        errors << shown << ": the connection table is not a plain file\n";
        return table;
    case FileProblem::TooLarge:
        errors << shown << ": cannot read the connection table, or it is over "
               << MaxTableBytes / 1024 << " KiB\n";
        return table;
    }
    string_view rest = file.text;
    std::size_t unusable = 0;
    for (std::size_t number = 1; !rest.empty(); ++number) {
        const std::size_t newline = rest.find('\n');
        string_view line = rest.substr(0, newline);
        rest.remove_prefix(newline == string_view::npos ? rest.size() : newline + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);

        std::string reason;
        if (line.size() > MaxLineBytes) {
            reason = "a line over " + std::to_string(MaxLineBytes) + " bytes";
        } else {
            line = WithoutComment(line);
            string_view probe = line;
            if (NextField(probe).empty())
                continue;
            const auto control = std::find_if(line.begin(), line.end(), IsControl);
            if (control != line.end()) {
                char code[8];
                std::snprintf(code, sizeof code, "0x%02X", static_cast<unsigned char>(*control));
                reason = std::string("a control character (") + code + ") in the line";
            } else if (table.size() == MaxEntries) {
                reason = "more than " + std::to_string(MaxEntries) + " servers";
            } else if (std::optional<ConnectionEntry> entry = ParseLine(line, reason)) {
                table.push_back(std::move(*entry));
                continue;
            }
        }
        if (++unusable <= MaxReportedLines)
            errors << shown << ':' << number << ": " << PrintableText(reason)
                   << "; line skipped\n";
    }
    if (unusable > MaxReportedLines)
        errors << shown << ": " << unusable - MaxReportedLines << " more unusable lines skipped\n";
    return table;
}

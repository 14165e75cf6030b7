// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#include "ConnectionTable.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <curl/curl.h>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <pwd.h>
#include <string_view>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

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

/* A file descriptor that closes itself. */
class File {
public:
    explicit File(const std::string& path)
        // Non-blocking, so that a FIFO in the file's place cannot hang the start-up.
        : m_fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)), m_error(errno) {}
    ~File() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    bool isOpen() const { return m_fd >= 0; }
    /* Why the open failed. */
    int error() const { return m_error; }
    std::optional<struct stat> status() const {
        struct stat st {};
        if (::fstat(m_fd, &st) != 0)
            return std::nullopt;
        return st;
    }
    /* The whole file, or empty when it cannot be read or is larger than `limit`. */
    std::optional<std::string> readAll(std::size_t limit) const {
        std::string text;
        char chunk[4096];
        for (;;) {
            const ssize_t n = ::read(m_fd, chunk, sizeof chunk);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 || text.size() + std::size_t(n) > limit)
                return std::nullopt;
            if (n == 0)
                return text;
            text.append(chunk, std::size_t(n));
        }
    }

private:
    int m_fd;
    int m_error;
};

std::string HomeFolder() {
    const char* home = std::getenv("HOME");
    if (home != nullptr && *home != '\0')
        return home;
    const passwd* entry = ::getpwuid(::getuid());
    return entry != nullptr && entry->pw_dir != nullptr ? entry->pw_dir : "";
}

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

bool EqualsNoCase(string_view text, string_view lower) {
    return text.size() == lower.size() &&
           std::equal(text.begin(), text.end(), lower.begin(), [](char a, char b) {
               return (a >= 'A' && a <= 'Z' ? char(a - 'A' + 'a') : a) == b;
           });
}

/* A literal IPv4 address in 127.0.0.0/8, as libcurl writes every IPv4 form: dotted decimal. */
bool IsLoopbackIpv4(string_view host) {
    const char* at = host.data();
    const char* const end = host.data() + host.size();
    for (int part = 0; part < 4; ++part) {
        unsigned value = 0;
        const auto [next, error] = std::from_chars(at, end, value);
        if (error != std::errc() || next == at || value > 255 || (part == 0 && value != 127))
            return false;
        if (part == 3)
            return next == end;
        if (next == end || *next != '.')
            return false;
        at = next + 1;
    }
    return false;
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
    bool dottedLocalhost = false; // "localhost." in any case: a name for the resolver
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

/* Checks a URL with libcurl, the parser that will fetch it; on failure `reason` says why. */
std::optional<Address> ParseUrl(string_view text, std::string& reason) {
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
    // libcurl writes IPv4 and IPv6 addresses in one form each, which these compare with.
    // "localhost" the client pins to this machine; any other name, "localhost." among them,
    // goes to a resolver that may answer anything.
    address.loopback = EqualsNoCase(host, "localhost") || host == "[::1]" || IsLoopbackIpv4(host);
    address.dottedLocalhost = EqualsNoCase(host, "localhost.");
    CURLUcode written = CURLUE_OK;
    if (EqualsNoCase(host, "localhost")) // one spelling, for the client's pin to match
        written = curl_url_set(url.get(), CURLUPART_HOST, "localhost", 0);
    if (written == CURLUE_OK && !GivesPath(text))
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
    const File file(path);
    if (!file.isOpen()) {
        reason = "cannot read the password file " + path + ": " + std::strerror(file.error());
        return std::nullopt;
    }
    const std::optional<struct stat> st = file.status();
    if (!st || !S_ISREG(st->st_mode)) {
        reason = "the password file " + path + " is not a plain file";
        return std::nullopt;
    }
    if (st->st_uid != ::geteuid()) {
        reason = "the password file " + path + " does not belong to you";
        return std::nullopt;
    }
    if ((st->st_mode & (S_IRWXG | S_IRWXO)) != 0) {
        reason = "the password file " + path + " is open to others: chmod 600 it";
        return std::nullopt;
    }
    std::optional<std::string> password = file.readAll(MaxPasswordBytes);
    if (!password) {
        reason = "cannot read the password file " + path;
        return std::nullopt;
    }
    if (!password->empty() && password->back() == '\n') {
        password->pop_back();
        if (!password->empty() && password->back() == '\r')
            password->pop_back();
    }
    // A CR or another control character is a slip in the file (an editor's line end, a
    // second line) that would only show later, as a password the server refuses.
    if (password->empty() || std::any_of(password->begin(), password->end(), IsControl)) {
        reason = "the password file " + path +
                 " must hold the password alone, on one line, without control characters";
        return std::nullopt;
    }
    return password;
}

/* One line's entry; on failure `reason` says why. */
std::optional<ConnectionEntry> ParseLine(string_view line, std::string& reason) {
    string_view rest = line;
    const std::optional<Address> address = ParseUrl(NextField(rest), reason);
    if (!address)
        return std::nullopt;
    ConnectionEntry entry;
    entry.url = address->url;
    entry.loopback = address->loopback;
    std::optional<std::string> passwordFile;
    bool hasUser = false;
    bool hasCa = false;
    for (string_view field = NextField(rest); !field.empty(); field = NextField(rest)) {
        const std::size_t equals = field.find('=');
        const string_view key = field.substr(0, equals);
        const string_view value =
            equals == string_view::npos ? string_view() : field.substr(equals + 1);
        bool* given = key == "user" ? &hasUser : key == "ca" ? &hasCa : nullptr;
        if (key == "password-file") {
            if (passwordFile) {
                reason = "password-file= is given twice";
                return std::nullopt;
            }
        } else if (given == nullptr) {
            reason =
                "unknown field \"" + std::string(field) + "\" (known: user=, password-file=, ca=)";
            return std::nullopt;
        } else if (*given) {
            reason = std::string(key) + "= is given twice";
            return std::nullopt;
        }
        if (value.empty()) {
            reason = std::string(key) + "= needs a value";
            return std::nullopt;
        }
        if (key == "user") {
            if (value.find(':') != string_view::npos) {
                reason = "a user name cannot hold a colon";
                return std::nullopt;
            }
            entry.user = std::string(value);
            hasUser = true;
        } else if (key == "ca") {
            const std::optional<std::string> path = ExpandPath(value, reason);
            if (!path)
                return std::nullopt;
            entry.caFile = *path;
            hasCa = true;
        } else {
            passwordFile = ExpandPath(value, reason);
            if (!passwordFile)
                return std::nullopt;
        }
    }
    if (hasUser != passwordFile.has_value()) {
        reason = "user= and password-file= go together";
        return std::nullopt;
    }
    if (hasUser && !address->https && !address->loopback) {
        reason = "credentials are sent only over https://, or over http:// to 127.0.0.0/8, "
                 "[::1] or localhost";
        if (address->dottedLocalhost)
            reason += " (\"localhost.\" is asked of a resolver, which may answer anything)";
        return std::nullopt;
    }
    if (hasCa && !address->https) {
        reason = "ca= applies to https:// only";
        return std::nullopt;
    }
    if (hasCa) {
        const File ca(entry.caFile);
        const std::optional<struct stat> st =
            ca.isOpen() ? ca.status() : std::optional<struct stat>();
        if (!st || !S_ISREG(st->st_mode)) {
            reason = "cannot read the certificate file " + entry.caFile;
            return std::nullopt;
        }
    }
    if (passwordFile) {
        std::optional<std::string> password = ReadPassword(*passwordFile, reason);
        if (!password)
            return std::nullopt;
        entry.password = std::move(*password);
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
    const File file(path);
    if (!file.isOpen()) {
        if (file.error() != ENOENT && file.error() != ENOTDIR)
            errors << path << ": cannot read the connection table: " << std::strerror(file.error())
                   << '\n';
        return table;
    }
    const std::optional<struct stat> st = file.status();
    if (!st || !S_ISREG(st->st_mode)) {
        errors << path << ": the connection table is not a plain file\n";
        return table;
    }
    const std::optional<std::string> text = file.readAll(MaxTableBytes);
    if (!text) {
        errors << path << ": cannot read the connection table, or it is over "
               << MaxTableBytes / 1024 << " KiB\n";
        return table;
    }

    string_view rest = *text;
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
            errors << path << ':' << number << ": " << reason << "; line skipped\n";
    }
    if (unusable > MaxReportedLines)
        errors << path << ": " << unusable - MaxReportedLines << " more unusable lines skipped\n";
    return table;
}

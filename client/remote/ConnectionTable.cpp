// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#include "ConnectionTable.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <pwd.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using std::string_view;

/* Bounds on what a hand-written table can sensibly hold. */
constexpr std::size_t MaxTableBytes = 1 << 20;
constexpr std::size_t MaxLineBytes = 4096;
constexpr std::size_t MaxEntries = 256;
constexpr std::size_t MaxPasswordBytes = 4096;

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

    bool isOpen() const {
        return m_fd >= 0;
    }
    /* Why the open failed. */
    int error() const {
        return m_error;
    }
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

bool StartsWithNoCase(string_view text, string_view prefix) {
    if (text.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i])
            return false;
    return true;
}

bool IsLoopback(string_view host) {
    std::string name(host);
    for (char& c : name)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    if (name == "localhost" || name == "localhost.")
        return true;
    in_addr v4{};
    if (::inet_pton(AF_INET, name.c_str(), &v4) == 1)
        return (ntohl(v4.s_addr) >> 24) == 127;
    in6_addr v6{};
    if (name.size() > 2 && name.front() == '[' && name.back() == ']' &&
        ::inet_pton(AF_INET6, name.substr(1, name.size() - 2).c_str(), &v6) == 1)
        return IN6_IS_ADDR_LOOPBACK(&v6);
    return false;
}

/* What a line's URL says, once it is known to be usable. */
struct Address {
    std::string url; // with "/metrics" where it had no path
    bool https = false;
    bool loopback = false;
};

/* Checks a URL; on failure `reason` says why. */
std::optional<Address> ParseUrl(string_view url, std::string& reason) {
    Address address;
    std::size_t schemeLength = 0;
    if (StartsWithNoCase(url, "https://")) {
        address.https = true;
        schemeLength = 8;
    } else if (StartsWithNoCase(url, "http://")) {
        schemeLength = 7;
    } else {
        reason = "only http:// and https:// addresses are allowed";
        return std::nullopt;
    }
    const string_view rest = url.substr(schemeLength);
    const std::size_t authorityEnd = std::min(rest.find_first_of("/?#"), rest.size());
    const string_view authority = rest.substr(0, authorityEnd);
    if (authority.find('@') != string_view::npos) {
        reason = "no user or password in the address: use user= and password-file=";
        return std::nullopt;
    }
    if (rest.find('#') != string_view::npos) {
        reason = "an address with a #fragment";
        return std::nullopt;
    }
    // The host is a name, an IPv4 address or a bracketed IPv6 one, then maybe a port.
    string_view host = authority;
    string_view port;
    if (!host.empty() && host.front() == '[') {
        const std::size_t close = host.find(']');
        in6_addr ignored{};
        if (close == string_view::npos ||
            ::inet_pton(AF_INET6, std::string(host.substr(1, close - 1)).c_str(), &ignored) != 1) {
            reason = "a malformed IPv6 address";
            return std::nullopt;
        }
        port = host.substr(close + 1);
        host = host.substr(0, close + 1);
        if (!port.empty() && port.front() != ':') {
            reason = "a malformed address";
            return std::nullopt;
        }
    } else {
        const std::size_t colon = host.find(':');
        port = colon == string_view::npos ? string_view() : host.substr(colon);
        host = host.substr(0, colon);
        for (char c : host)
            if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '.' && c != '_') {
                reason = "the address has no valid host name";
                return std::nullopt;
            }
    }
    if (host.empty()) {
        reason = "the address has no host";
        return std::nullopt;
    }
    if (!port.empty()) {
        const string_view digits = port.substr(1);
        long number = 0;
        for (char c : digits)
            number = std::isdigit(static_cast<unsigned char>(c)) && number <= 65535
                         ? number * 10 + (c - '0')
                         : 65536;
        if (digits.empty() || number < 1 || number > 65535) {
            reason = "the port must be a number from 1 to 65535";
            return std::nullopt;
        }
    }
    address.loopback = IsLoopback(host);
    address.url = std::string(url.substr(0, schemeLength + authorityEnd));
    const string_view tail = rest.substr(authorityEnd);
    address.url += tail.empty() || tail.front() == '?' ? "/metrics" : "";
    address.url += tail;
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
    if (password->empty() || password->find_first_of(std::string_view("\n\0", 2)) !=
                                 std::string::npos) {
        reason = "the password file " + path + " must hold the password alone, on one line";
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
            reason = "unknown field \"" + std::string(field) +
                     "\" (known: user=, password-file=, ca=)";
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
        reason = "credentials are sent only over https:// (or to this machine)";
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
            errors << path << ": cannot read the connection table: "
                   << std::strerror(file.error()) << '\n';
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
            if (table.size() == MaxEntries) {
                reason = "more than " + std::to_string(MaxEntries) + " servers";
            } else if (std::optional<ConnectionEntry> entry = ParseLine(line, reason)) {
                table.push_back(std::move(*entry));
                continue;
            }
        }
        errors << path << ':' << number << ": " << reason << "; line skipped\n";
    }
    return table;
}

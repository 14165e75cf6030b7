// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#include "UserFiles.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

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
    /* The file's status, once it is known to be a plain file. */
    std::optional<struct stat> plainStatus() const {
        struct stat st {};
        if (m_fd < 0 || ::fstat(m_fd, &st) != 0 || !S_ISREG(st.st_mode))
            return std::nullopt;
        return st;
    }
    /* The whole file, or nothing when it cannot be read or is larger than `limit`. */
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

} // namespace

FileText ReadUserFile(const std::string& path, std::size_t limit, FileAccess access) {
    FileText result;
    const File file(path);
    const std::optional<struct stat> st = file.plainStatus();
    if (!file.isOpen()) {
        const bool missing = file.error() == ENOENT || file.error() == ENOTDIR;
        result.problem = missing ? FileProblem::Missing : FileProblem::CannotOpen;
        result.error = std::strerror(file.error());
    } else if (!st) {
        result.problem = FileProblem::NotPlain;
    } else if (access != FileAccess::Anyone && st->st_uid != ::geteuid() &&
               (access == FileAccess::OwnerOnly || st->st_uid != 0)) {
        result.problem = FileProblem::NotYours;
    } else if (access != FileAccess::Anyone &&
               (st->st_mode & (access == FileAccess::OwnerOnly ? S_IRWXG | S_IRWXO
                                                               : S_IWGRP | S_IWOTH)) != 0) {
        result.problem = FileProblem::OpenToOthers;
    } else if (std::optional<std::string> text = file.readAll(limit)) {
        result.text = std::move(*text);
    } else {
        result.problem = FileProblem::TooLarge;
    }
    return result;
}

bool IsReadablePlainFile(const std::string& path) {
    return File(path).plainStatus().has_value();
}

std::string HomeFolder() {
    const char* home = std::getenv("HOME");
    if (home != nullptr && *home != '\0')
        return home;
    const passwd* entry = ::getpwuid(::getuid());
    return entry != nullptr && entry->pw_dir != nullptr ? entry->pw_dir : "";
}

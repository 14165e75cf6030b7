// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#pragma once
// The user's own small files, read whole with the checks that a file of secrets
// needs. The one part of the remote client that asks the operating system itself
// (POSIX): the rest is the standard library and libcurl.

#include <cstddef>
#include <string>

/* Why a file gave no text. */
enum class FileProblem {
    None,
    Missing,      // no such file, or a path through something that is not a folder
    CannotOpen,   // any other refusal of the open; FileText::error gives the system's words
    NotPlain,     // a folder, a FIFO, a device
    TooLarge,     // over the limit, or a read that failed part-way
    NotYours,     // it belongs to another user
    OpenToOthers, // its group or others may read or write it (OwnerWrites: write it)
};

struct FileText {
    FileProblem problem = FileProblem::None;
    std::string error;
    std::string text;
};

/* Who else may have access to a file that is read. */
enum class FileAccess { Anyone, OwnerWrites, OwnerOnly };

/* Reads the plain file at `path` whole, at most `limit` bytes, without ever waiting on a
   FIFO or a device in its place. With OwnerOnly the file must be this user's own and
   closed to group and others, as ssh demands of a private key; with OwnerWrites it must
   be this user's or root's and written by nobody else, as ssh demands of its configuration. */
FileText ReadUserFile(const std::string& path, std::size_t limit, FileAccess access);

/* Whether `path` is a plain file that this user can open. */
bool IsReadablePlainFile(const std::string& path);

/* $HOME, else the password database's home folder; empty when neither gives one. */
std::string HomeFolder();

// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#pragma once
// The text of the Info page, read from a file that may be missing, huge or binary.

#include <QString>

/* Files larger than this are treated as unreadable, so that start-up stays quick. */
inline constexpr qint64 MaxReadMeBytes = 1024 * 1024;

/* The lines of the file at `path`, read as 8-bit text in the system's character set
   and split at CR LF, LF or CR, joined with "\n". Empty when the file is missing,
   unreadable, not a regular file or larger than MaxReadMeBytes. NUL bytes are
   shown as U+FFFD. */
QString ReadMeText(const QString& path);

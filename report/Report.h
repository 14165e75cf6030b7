// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#pragma once
// Telling the user that a client call failed: modal message boxes.

#include <QString>

#include <cstdint>

/* The kinds of message box; the program shows only errors. */
enum class MessageKind { Error };

/* Shows `text` in a modal box of `kind` with one "OK" button that Enter and Esc close,
   centred on the screen, under the arrow pointer; the caller's pointer is back afterwards.
   An error box is captioned "Error" and carries the error icon. */
void ShowMessageBox(MessageKind kind, const QString& text);

/* Does nothing for code 0; otherwise shows ResultText(code, operation) in an error box. */
void CheckResult(std::uint32_t code, const QString& operation);

/* "Error <code>", the code as ResultText shows it. */
QString ErrorCodeText(std::uint32_t code);

/* "Error <code>: <operation>", the code in upper-case hex, right-aligned in at least
   four places and padded with spaces ("Error   FF: InitNetWare"). */
QString ResultText(std::uint32_t code, const QString& operation);

/* A modal box without icon, captioned with the application's title. Leaves the pointer alone. */
void ShowPlainMessage(const QString& text);

/* The program file's name without directory, cut before its first full stop,
   first character kept and the rest in lower case. */
QString ApplicationTitleFor(const QString& programPath);
/* ApplicationTitleFor the running program, worked out once; needs the application object. */
const QString& ApplicationTitle();

/* The error box for an exception that escaped an event handler: captioned with
   ApplicationTitle(), error icon, one "OK" button. Leaves the pointer alone. */
void ShowApplicationError(const QString& text);

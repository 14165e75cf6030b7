#pragma once
// Telling the user that a client call failed: modal message boxes.

#include <QString>

#include <cstdint>

/* The kinds of message box; the program shows only errors. */
enum class MessageKind { Error };

/* Shows `text` in a modal box of `kind` with one "OK" button, centred on the
   screen, under the arrow pointer; the caller's pointer is back afterwards. */
void ShowMessageBox(MessageKind kind, const QString& text);

/* Does nothing for code 0; otherwise shows "Error %04X: <operation>" in an error box. */
void CheckResult(std::uint32_t code, const QString& operation);

/* The text CheckResult shows: the code in upper-case hex, space-padded to four places. */
QString ResultText(std::uint32_t code, const QString& operation);

/* A modal box without icon, captioned with the application's title. Leaves the pointer alone. */
void ShowPlainMessage(const QString& text);

/* The program file's name without directory, cut before its first full stop,
   first character kept and the rest in lower case. */
QString ApplicationTitleFor(const QString& programPath);
/* ApplicationTitleFor the running program, worked out once. */
const QString& ApplicationTitle();

/* The error box for an exception that escaped an event handler. */
void ShowApplicationError(const QString& text);

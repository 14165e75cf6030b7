// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#pragma once
// Type-ahead as list boxes have it: keys typed without a pause gather into one
// text, and the list moves to the next entry that begins with it.

#include <QElapsedTimer>
#include <QString>

#include <chrono>
#include <span>

class TypeAhead {
public:
    /* A pause this long starts a new text. */
    static constexpr std::chrono::milliseconds Pause{1000};

    /* Whether `text` carries on a text being typed, rather than starting one. */
    bool Continues() const;
    /* Adds `text` to what is being typed and returns the entry to move to from `current`
       (-1: none), or -1 when no entry begins with it. A new text, or one key typed over
       and over, looks from the entry after `current` on; a longer text first tries
       `current` itself. The search ignores case and wraps round. */
    int Type(const QString& text, std::span<const QString> entries, int current);
    /* Forgets what was typed. */
    void Reset() { m_typed.clear(); }

private:
    QString m_typed;
    QElapsedTimer m_lastKey;
};

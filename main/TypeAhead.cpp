// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#include "TypeAhead.h"

bool TypeAhead::Continues() const {
    return !m_typed.isEmpty() && m_lastKey.isValid() && m_lastKey.elapsed() < Pause.count();
}

int TypeAhead::Type(const QString& text, std::span<const QString> entries, int current) {
    bool skipCurrent = true;
    if (Continues()) {
        m_typed += text;
        skipCurrent = false;
    } else {
        m_typed = text;
    }
    m_lastKey.start();

    // "sss" steps through the entries that begin with "s", as list boxes do.
    QString wanted = m_typed;
    if (m_typed.size() > 1 && m_typed.count(m_typed.front()) == m_typed.size()) {
        wanted = m_typed.front();
        skipCurrent = true;
    }

    const auto count = qsizetype(entries.size());
    if (count == 0)
        return -1;
    const qsizetype start = current < 0 ? 0 : current + (skipCurrent ? 1 : 0);
    for (qsizetype step = 0; step < count; ++step) {
        const qsizetype index = (start + step) % count;
        if (entries[std::size_t(index)].startsWith(wanted, Qt::CaseInsensitive))
            return int(index);
    }
    return -1;
}

// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#include "FleetUnion.h"

FleetUnion::FleetUnion(std::vector<std::unique_ptr<FleetReadings>> parts)
    : m_parts(std::move(parts)), m_latest(m_parts.size()) {}

void FleetUnion::Start() {
    for (const auto& part : m_parts)
        part->Start();
}

void FleetUnion::Stop() {
    for (const auto& part : m_parts)
        part->Stop();
}

bool FleetUnion::Take(FleetSnapshot& into) {
    bool changed = false;
    for (std::size_t i = 0; i < m_parts.size(); ++i)
        changed = m_parts[i]->Take(m_latest[i]) || changed;
    if (!changed)
        return false;
    into.rows.clear();
    into.problems.clear();
    for (const FleetSnapshot& part : m_latest) {
        into.rows.insert(into.rows.end(), part.rows.begin(), part.rows.end());
        into.problems.insert(into.problems.end(), part.problems.begin(), part.problems.end());
    }
    return true;
}

// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#pragma once
// Several sources of the overview's readings as one, their rows in the sources' order.

#include "FleetReadings.h"

#include <memory>
#include <vector>

class FleetUnion : public FleetReadings {
public:
    explicit FleetUnion(std::vector<std::unique_ptr<FleetReadings>> parts);
    void Start() override;
    void Stop() override;
    bool Take(FleetSnapshot& into) override;

private:
    std::vector<std::unique_ptr<FleetReadings>> m_parts;
    std::vector<FleetSnapshot> m_latest; // each part's, as last taken
};

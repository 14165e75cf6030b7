// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#pragma once
// A node exporter's whole reply turned into what the client keeps of one scrape:
// the parse (ExporterText.h) with the families this client needs, and the name.

#include "BusyShare.h"
#include "ExporterText.h"

#include <cstdint>
#include <string>
#include <string_view>

/* The counters of one good scrape. */
struct ScrapeRecord {
    CpuTimes cpu;
    std::uint64_t faults = 0;
    std::uint64_t majorFaults = 0;
};

/* Reads `text` into `record` and the node name fit for a list (empty when it gives none);
   false, with `reason` in words, when the CPU, vmstat or uname family is missing, the reply
   is malformed or its faults do not add up. `scratch` is the parse's space, kept between
   scrapes so that a watched server costs no allocation for it. */
[[nodiscard]] bool ReadExporterReply(std::string_view text, ExporterReading& scratch,
                                     ScrapeRecord& record, std::string& name, std::string& reason);

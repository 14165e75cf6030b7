// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#pragma once
// Reads the three metric families that this client needs out of a node
// exporter's reply in the Prometheus text format. Knows nothing of HTTP, and
// allocates nothing: it runs on every tick of a watched remote server.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

/* What one scrape says, in the units the client computes with. */
struct ExporterReading {
    /* node_cpu_seconds_total over every CPU and mode, in microseconds. */
    std::uint64_t cpuTotalMicros = 0;
    /* The part of it in modes other than "idle" and "iowait". */
    std::uint64_t cpuBusyMicros = 0;
    /* node_vmstat_pgfault and node_vmstat_pgmajfault, as exact integers. */
    std::uint64_t pageFaults = 0;
    std::uint64_t majorPageFaults = 0;
    /* The nodename label of node_uname_info, unescaped and NUL-terminated; cut at 255 bytes. */
    std::array<char, 256> nodeName{};

    /* Which families the reply held; a family counts only with all its values sound. */
    bool hasCpu = false;
    bool hasVmstat = false;
    bool hasUname = false;
};

/* The most CPUs a reply may list (CPU numbers 0 to 8191, Linux's highest configurable
   count) and the most distinct modes (Linux has eight, the BSDs five). */
constexpr std::size_t MaxExporterCpus = 8192;
constexpr std::size_t MaxExporterModes = 16;

/* Parses a reply. False when a line of a needed family is malformed or holds a value that
   cannot be a counter (NaN, infinite, negative, beyond 2^64, a fraction of a fault); lines of
   other families are skipped unread. A family that is simply absent is not an error here:
   the caller decides which ones it needs, so `reading`'s has* flags say what was found.
   Also false, so that nothing is ever counted twice or half-read:
   - a series that comes twice (the same CPU and mode, a second page-fault or uname line);
   - a CPU label that is not a plain number below MaxExporterCpus, or more than
     MaxExporterModes distinct modes (any mode name counts; all but idle and iowait are busy);
   - a label given twice in one series, a uname line without a nodename;
   - a sum of CPU time beyond 2^64 microseconds, or more major faults than faults.
   hasVmstat needs both fault counters. CPUs missing from the numbering are no error. */
[[nodiscard]] bool ParseExporterText(std::string_view text, ExporterReading& reading);

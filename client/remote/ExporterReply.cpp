// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#include "ExporterReply.h"

#include "ServerName.h"

bool ReadExporterReply(std::string_view text, ExporterReading& r, ScrapeRecord& record,
                       std::string& name, std::string& reason) {
    // Every family was asked for; one missing, or faults that do not add up, is no answer to
    // trust.
    if (!ParseExporterText(text, r) || !r.hasCpu || !r.hasVmstat || !r.hasUname ||
        r.majorPageFaults > r.pageFaults) {
        reason = "the reply lacks the CPU, vmstat or uname metrics, or is malformed";
        return false;
    }
    record = {{r.cpuTotalMicros, r.cpuBusyMicros}, r.pageFaults, r.majorPageFaults};
    name = ListableServerName(r.nodeName.data());
    return true;
}

// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#include "CredentialPolicy.h"

#include "Loopback.h"

namespace {

bool StartsWithNoCase(std::string_view text, std::string_view lower) {
    if (text.size() < lower.size())
        return false;
    for (std::size_t i = 0; i < lower.size(); ++i) {
        const char c = text[i];
        if ((c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c) != lower[i])
            return false;
    }
    return true;
}

} // namespace

std::string_view ExporterCredentialsRefusal(const ConnectionEntry& line,
                                            std::string_view exporterUrl, bool allOnLoopback) {
    if (line.exporterUser.empty())
        return {};
    const bool https = StartsWithNoCase(exporterUrl, "https://");
    if (!https && !StartsWithNoCase(exporterUrl, "http://"))
        return "exporter-user= goes only to http:// or https:// exporters";
    if (allOnLoopback && IsLoopbackUrl(exporterUrl))
        return {};
    if (!https)
        return "exporter-user= goes over plain http only where every exporter found is on loopback";
    if (line.exporterCaFile.empty())
        return "exporter-user= goes beyond loopback only to exporters exporter-ca= vouches for";
    return {};
}

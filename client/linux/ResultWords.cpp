// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

// The codes of this platform's two backends; the router passes theirs on and has none of
// its own.

#include "ResultWords.h"

#include "ExporterClient.h"
#include "LocalMachineClient.h"

std::string_view CodeInWords(ClientResult code) {
    using Local = LocalMachineClient;
    using Remote = ExporterClient;
    switch (code) {
    case Local::InvalidHandle:
    case Remote::InvalidHandle:
        return "connection not open";
    case Local::UnknownConnRef:
    case Remote::UnknownServer:
        return "no such server";
    case Local::UnknownInfoType:
    case Remote::UnknownInfoType:
        return "unknown information type";
    case Local::TooManyOpen:
    case Remote::TooManyOpen:
        return "too many connections open";
    case Local::ProcUnreadable:
        return "/proc unreadable";
    case Local::NoMoreConnections:
        return "no more servers";
    case Remote::NoAnswer:
        return "no answer";
    case Remote::BadAnswer:
        return "bad answer";
    case Remote::Refused:
        return "refused";
    case Remote::TlsFailure:
        return "TLS failure";
    default:
        return {};
    }
}

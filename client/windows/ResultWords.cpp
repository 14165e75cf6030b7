// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

// Only this backend's own codes: the real client's are its own to explain.

#include "ResultWords.h"

#include "WindowsClient.h"

std::string_view CodeInWords(ClientResult code) {
    switch (code) {
    case WindowsClient::CalLibraryMissing:
        return "calwin32.dll not loaded";
    case WindowsClient::ClxLibraryMissing:
        return "clxwin32.dll not loaded";
    case WindowsClient::EntryPointMissing:
        return "client library incomplete";
    default:
        return {};
    }
}

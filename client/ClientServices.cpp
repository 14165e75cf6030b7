// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#include "ClientServices.h"

#include "LastResult.h"
#include "Report.h"

#include <QCoreApplication>

#include <algorithm>
#include <array>
#include <cstring>

ConnectionHandle PrimaryConn = PrimaryConnUnopened;

namespace {

// The client's codes fit in 16 bits. One that does not keeps its low 16 bits,
// where the client's own code would be, unless they are all 0: a failure must
// never read as success.
std::uint16_t ToCode(ClientResult result) {
    const auto low = std::uint16_t(result & 0xFFFF);
    return result != 0 && low == 0 ? 0xFFFF : low;
}

} // namespace

std::uint16_t InitNetWare(ClientLibrary& client) {
    if (PrimaryConn != PrimaryConnUnopened)
        return 0;

    ClientResult result = client.ClientInit(nullptr, nullptr);
    if (result != 0) {
        ShowPlainMessage(QStringLiteral("Could not Initialize NetWare Client"));
        return ToCode(result);
    }

    ConnRef ref = 0;
    result = client.GetPrimaryConnRef(ref);
    if (result != 0) {
        ScanIterator iterator = 0;
        result = client.ScanConnRefs(iterator, ref);
    }
    if (result != 0)
        return ToCode(result);

    // Only a handle that really opened counts as the primary connection, so a
    // failed open is tried again by the next call.
    ConnectionHandle handle = PrimaryConnUnopened;
    result = client.NWCCOpenConnByRef(ref, OpenStateDefault, 0, handle);
    if (result == 0)
        PrimaryConn = handle;
    return ToCode(result);
}

void ScanConnections(ClientLibrary& client, ConnectionList& list) {
    ScanIterator iterator = 0;
    for (int step = 0; step < MaxScanSteps; ++step) {
        ConnRef ref = 0;
        LastResult = std::int32_t(client.ScanConnRefs(iterator, ref));
        QCoreApplication::processEvents(); // many connections must not freeze the window
        if (LastResult != 0)
            return;
        QString name;
        GetServerName(client, ref, name, MaxNameLength);
        if (!name.isEmpty())
            list.Append(name, ref);
    }
}

std::uint16_t GetServerName(ClientLibrary& client, ConnRef ref, QString& dest, int maxLen) {
    return GetConnInfoString(client, ref, ConnInfoServerName, dest, maxLen);
}

std::uint16_t GetConnInfoString(ClientLibrary& client, ConnRef ref, std::uint32_t infoType,
                                QString& dest, int maxLen) {
    std::array<unsigned char, ServerNameBufferBytes> buffer{};
    const ClientResult result = client.GetConnRefInfo(ref, infoType, buffer.size(), buffer.data());
    if (result != 0) {
        dest.clear();
        return ToCode(result);
    }

    // The text ends at its NUL or at the buffer's end, whichever comes first.
    const auto* nul = static_cast<const unsigned char*>(std::memchr(buffer.data(), 0, buffer.size()));
    const auto length = nul ? nul - buffer.data() : std::ptrdiff_t(buffer.size());
    dest = QString::fromLocal8Bit(reinterpret_cast<const char*>(buffer.data()), length);

    qsizetype keep = std::clamp<qsizetype>(maxLen, 0, MaxNameLength);
    if (keep < dest.size()) {
        if (keep > 0 && dest.at(keep - 1).isHighSurrogate())
            --keep; // never leave half a character behind
        dest.truncate(keep);
    }
    return ToCode(result);
}

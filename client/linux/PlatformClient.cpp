// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#include "ClientLibrary.h"
#include "ConnectionTable.h"
#include "ExporterClient.h"
#include "LocalMachineClient.h"
#include "RoutingClient.h"

#include <array>

RoutingClient::RoutingClient(std::string tablePath, std::string procRoot, ExporterTiming timing,
                             std::ostream& errors)
    : RoutingClient(std::make_unique<LocalMachineClient>(std::move(procRoot)), nullptr) {
    ClientLibrary& local = *m_first;
    // This machine's name as the stand-in gives it, so that a namesake is told apart.
    auto ownName = [&local] {
        std::array<unsigned char, 256> own{};
        if (local.GetConnRefInfo(LocalMachineClient::LocalRef, ConnInfoServerName,
                                 std::uint32_t(own.size()), own.data()) != 0)
            own[0] = '\0';
        return std::string(reinterpret_cast<const char*>(own.data()));
    };
    m_second = std::make_unique<ExporterClient>(std::move(tablePath), ownName, timing, errors);
}

ClientLibrary& PlatformClient() {
    static RoutingClient client(ConnectionTablePath());
    return client;
}

// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#include "ClientFleet.h"
#include "ClientLibrary.h"
#include "WindowsClient.h"

std::unique_ptr<FleetReadings> PlatformFleet(ClientLibrary& client, std::vector<ListedServer> listed) {
    // The real client's statistics requests answer at once: the eight operations serve.
    return std::make_unique<ClientFleet>(client, std::move(listed));
}

ClientLibrary& PlatformClient() {
    static WindowsClient client;
    return client;
}

// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#include "ClientFleet.h"
#include "ClientLibrary.h"
#include "ConnectionTable.h"
#include "FleetUnion.h"
#include "RemoteFleet.h"
#include "RoutingClient.h"

namespace {

RoutingClient& Router() {
    static RoutingClient client(ConnectionTablePath());
    return client;
}

} // namespace

ClientLibrary& PlatformClient() {
    return Router();
}

std::unique_ptr<FleetReadings> PlatformFleet(ClientLibrary& client, std::vector<ListedServer> listed) {
    // This machine through the stand-in's own operations, which answer at once; the table's
    // servers never through an open, which may wait.
    std::erase_if(listed, [](const ListedServer& s) { return s.ref != LocalMachineClient::LocalRef; });
    std::vector<std::unique_ptr<FleetReadings>> parts;
    parts.push_back(std::make_unique<ClientFleet>(client, std::move(listed)));
    FleetPlan plan = Router().OverviewPlan();
    if (!plan.plain.empty() || !plan.discovery.empty())
        parts.push_back(std::make_unique<RemoteFleet>(std::move(plan), Router().OverviewGet()));
    return std::make_unique<FleetUnion>(std::move(parts));
}

// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#include "ClientFleet.h"
#include "ClientLibrary.h"
#include "ConnectionTable.h"
#include "ExporterClient.h"
#include "FleetUnion.h"
#include "LocalMachineClient.h"
#include "RemoteFleet.h"
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

namespace {

RoutingClient& Router() {
    static RoutingClient client(ConnectionTablePath());
    return client;
}

/* The table's servers as the router numbers them: the exporter client's own references,
   the list's entries + 1, become the router's. */
FleetPlan RouterPlan(RoutingClient& router, ExporterClient& exporters) {
    FleetPlan plan = exporters.OverviewPlan(1);
    const auto outer = [&](ConnRef inner) { return router.OuterRef(exporters, inner); };
    for (FleetPlainLine& line : plan.plain)
        if (line.ref)
            line.ref = outer(*line.ref);
    for (FleetDiscoveryLine& line : plan.discovery) {
        for (FleetListed& listed : line.listed)
            listed.ref = outer(listed.ref).value_or(0);
        std::erase_if(line.listed, [](const FleetListed& l) { return l.ref == 0; });
    }
    return plan;
}

} // namespace

ClientLibrary& PlatformClient() {
    return Router();
}

std::unique_ptr<FleetReadings> RoutedFleet(RoutingClient& router, std::vector<ListedServer> listed) {
    // This machine through the stand-in's own operations, which answer at once; the table's
    // servers never through an open, which may wait.
    std::erase_if(listed, [](const ListedServer& s) { return s.ref != LocalMachineClient::LocalRef; });
    std::vector<std::unique_ptr<FleetReadings>> parts;
    parts.push_back(std::make_unique<ClientFleet>(router, std::move(listed)));
    // This platform's router always has the exporter client second (its constructor above).
    auto& exporters = static_cast<ExporterClient&>(router.Second());
    FleetPlan plan = RouterPlan(router, exporters);
    if (!plan.plain.empty() || !plan.discovery.empty())
        parts.push_back(std::make_unique<RemoteFleet>(std::move(plan), exporters.OverviewGet()));
    return std::make_unique<FleetUnion>(std::move(parts));
}

std::unique_ptr<FleetReadings> PlatformFleet(ClientLibrary& /*client*/, std::vector<ListedServer> listed) {
    return RoutedFleet(Router(), std::move(listed));
}

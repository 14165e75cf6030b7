// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#include "ClientLibrary.h"
#include "ConnectionTable.h"
#include "RoutingClient.h"

ClientLibrary& PlatformClient() {
    static RoutingClient client(ConnectionTablePath());
    return client;
}

// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#include "ClientLibrary.h"
#include "LocalMachineClient.h"

ClientLibrary& PlatformClient() {
    static LocalMachineClient client;
    return client;
}

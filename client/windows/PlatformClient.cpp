// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#include "ClientLibrary.h"
#include "WindowsClient.h"

ClientLibrary& PlatformClient() {
    static WindowsClient client;
    return client;
}

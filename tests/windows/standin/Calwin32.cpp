// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

// calwin32.dll of the stand-in client: start-up and the statistics requests,
// exported by ordinal only (Calwin32.def), with the standard Windows convention.

#include "StandIn.h"

#include <windows.h>

extern "C" std::uint32_t WINAPI ClientInit(void* reserved1, void* reserved2) {
    return StandInClientInit(reserved1, reserved2);
}

extern "C" std::uint32_t WINAPI GetServerInfoRecord(std::uint32_t handle, unsigned char* record) {
    return StandInGetServerInfoRecord(handle, record);
}

extern "C" std::uint32_t WINAPI GetCacheInfoRecord(std::uint32_t handle, unsigned char* record) {
    return StandInGetCacheInfoRecord(handle, record);
}

// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

// clxwin32.dll of the stand-in client: connection references and handles,
// exported by ordinal only (Clxwin32.def), with the standard Windows convention.

#include "StandIn.h"

#include <windows.h>

extern "C" std::uint32_t WINAPI GetPrimaryConnRef(std::uint32_t* ref) {
    return StandInGetPrimaryConnRef(ref);
}

extern "C" std::uint32_t WINAPI ScanConnRefs(std::uint32_t* iterator, std::uint32_t* ref) {
    return StandInScanConnRefs(iterator, ref);
}

extern "C" std::uint32_t WINAPI GetConnRefInfo(std::uint32_t ref, std::uint32_t infoType,
                                               std::uint32_t bufferLength, unsigned char* buffer) {
    return StandInGetConnRefInfo(ref, infoType, bufferLength, buffer);
}

extern "C" std::uint32_t WINAPI NWCCOpenConnByRef(std::uint32_t ref, std::uint32_t openState,
                                                  std::uint32_t reserved, std::uint32_t* handle) {
    return StandInOpenConnByRef(ref, openState, reserved, handle);
}

extern "C" std::uint32_t WINAPI CloseConn(std::uint32_t handle) {
    return StandInCloseConn(handle);
}

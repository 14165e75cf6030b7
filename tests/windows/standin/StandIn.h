// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#pragma once
// The scripted client behind the two stand-in libraries. Both ordinal libraries
// forward to this one library, so that a handle opened through clxwin32.dll is
// known to the statistics requests of calwin32.dll.
//
// The script is a text file named by the environment variable
// SERVERSTATS_STANDIN_SCRIPT, read at the first call; every call is appended,
// with its arguments, to the file of the same name with ".log" added.
// Without the variable the client serves nothing and logs nothing.
//
// Script lines (numbers in C notation, '#' starts a comment):
//   conn <ref> name <text>        a connection whose name is the rest of the line (may be empty)
//   conn <ref> hex <bytes>        a name given as hex bytes, NUL-terminated
//   conn <ref> unterminated <text>  the name without its NUL
//   conn <ref> fill <byte>        the whole buffer filled with one byte, no NUL
//   conn <ref> fails <code>       reading the name fails with the code
//   primary <ref>                 the primary connection (none without this line)
//   fail <operation> <code> [<from call>]  the operation answers the code from that call on
//   scan endless                  every scan step succeeds with the first connection
//   utilization <percent>...      utilisation of successive server information requests, in a cycle
//   cache <requests> <hits> <request step> <hit step>  successive cache counters

#include <cstdint>

#ifdef STANDIN_BUILDING
#define STANDIN_API extern "C" __declspec(dllexport)
#else
#define STANDIN_API extern "C" __declspec(dllimport)
#endif

STANDIN_API std::uint32_t StandInClientInit(void* reserved1, void* reserved2);
STANDIN_API std::uint32_t StandInGetPrimaryConnRef(std::uint32_t* ref);
STANDIN_API std::uint32_t StandInScanConnRefs(std::uint32_t* iterator, std::uint32_t* ref);
STANDIN_API std::uint32_t StandInGetConnRefInfo(std::uint32_t ref, std::uint32_t infoType,
                                                std::uint32_t bufferLength, unsigned char* buffer);
STANDIN_API std::uint32_t StandInOpenConnByRef(std::uint32_t ref, std::uint32_t openState,
                                               std::uint32_t reserved, std::uint32_t* handle);
STANDIN_API std::uint32_t StandInCloseConn(std::uint32_t handle);
STANDIN_API std::uint32_t StandInGetServerInfoRecord(std::uint32_t handle, unsigned char* record);
STANDIN_API std::uint32_t StandInGetCacheInfoRecord(std::uint32_t handle, unsigned char* record);

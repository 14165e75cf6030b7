// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#pragma once
// Starting the client and listing the servers this workstation is connected to.

#include "ClientLibrary.h"
#include "ConnectionList.h"

#include <QString>

#include <cstdint>

/* Handle of the primary connection; PrimaryConnUnopened until InitNetWare has opened it.
   The connection stays open for the whole run and is not used for statistics. */
extern ConnectionHandle PrimaryConn;
inline constexpr ConnectionHandle PrimaryConnUnopened = 0x0000FFFF;

/* A scan stops after this many steps even if the client keeps answering, so that a
   faulty client cannot hang the program; well above the longest list a client gives
   (the remote backend's: this machine, 256 lines and 10,000 discovered servers). */
inline constexpr int MaxScanSteps = 1 << 14;

/* Longest server name the window takes, in characters. */
inline constexpr int MaxNameLength = 255;

/* Starts the client once and opens the primary connection (or, without one,
   the first connection a scan finds). 0 on success or when already done;
   the client's code otherwise. Says so in a plain box when the client itself will not start. */
std::uint16_t InitNetWare(ClientLibrary& client);

/* Appends one entry per connection with a readable, non-empty server name, in scan
   order, and leaves the result of the last scan step in LastResult. */
void ScanConnections(ClientLibrary& client, ConnectionList& list);

/* The server name of a connection, at most `maxLen` characters. */
std::uint16_t GetServerName(ClientLibrary& client, ConnRef ref, QString& dest, int maxLen);

/* One text item of a connection's information, at most `maxLen` (and 255) characters;
   empty when the client fails. */
std::uint16_t GetConnInfoString(ClientLibrary& client, ConnRef ref, std::uint32_t infoType,
                                QString& dest, int maxLen);

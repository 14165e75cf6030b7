// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#pragma once
// Where the connection scan puts what it finds: the window's list of servers.

#include "ClientLibrary.h"

#include <QString>

class ConnectionList {
public:
    virtual ~ConnectionList() = default;
    /* Appends an entry showing `text` that carries `ref`. */
    virtual void Append(const QString& text, ConnRef ref) = 0;
};

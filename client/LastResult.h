// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#pragma once
#include <cstdint>

/* Bit pattern of the most recent client result that the program keeps:
   statistics requests, scan steps, client start-up and opening the selected connection. */
extern std::int32_t LastResult;

// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#include "LastResult.h"

std::int32_t LastResult = 0;

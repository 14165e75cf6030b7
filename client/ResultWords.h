// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#pragma once
// What a result code of this platform's client means, in a few words, for the places
// that show a code to the user beside its number.

#include "ClientLibrary.h"

#include <string>
#include <string_view>

/* The meaning of one of this platform's result codes, e.g. 0x8901 gives "no answer";
   empty for a code this program does not define (the real client's own, or 0). */
std::string_view CodeInWords(ClientResult code);

/* "Error 8901: no answer": the code as four or more upper-case hexadecimal digits, then
   its meaning where one is known; "Error 1234" alone otherwise. */
std::string CodeWithWords(ClientResult code);

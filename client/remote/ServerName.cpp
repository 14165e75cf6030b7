// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#include "ServerName.h"

#include <cstdint>

namespace {

constexpr char32_t Replacement = 0xFFFD;

/* The code point at the start of `text`, and how many bytes it took; a byte that does not
   start a well-formed sequence (overlong, surrogate, beyond U+10FFFF, cut short) is
   Replacement on its own, so decoding always moves on. */
char32_t Decode(std::string_view text, std::size_t& length) {
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
    const std::uint8_t lead = byte(0);
    length = 1;
    if (lead < 0x80)
        return lead;
    std::size_t count = 0;
    char32_t code = 0;
    char32_t lowest = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        count = 2;
        code = lead & 0x1F;
        lowest = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        count = 3;
        code = lead & 0x0F;
        lowest = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        count = 4;
        code = lead & 0x07;
        lowest = 0x10000;
    } else {
        return Replacement;
    }
    if (text.size() < count)
        return Replacement;
    for (std::size_t i = 1; i < count; ++i) {
        if ((byte(i) & 0xC0) != 0x80)
            return Replacement;
        code = (code << 6) | (byte(i) & 0x3F);
    }
    if (code < lowest || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return Replacement;
    length = count;
    return code;
}

void Encode(char32_t code, std::string& out) {
    if (code < 0x80) {
        out += char(code);
    } else if (code < 0x800) {
        out += char(0xC0 | (code >> 6));
        out += char(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += char(0xE0 | (code >> 12));
        out += char(0x80 | ((code >> 6) & 0x3F));
        out += char(0x80 | (code & 0x3F));
    } else {
        out += char(0xF0 | (code >> 18));
        out += char(0x80 | ((code >> 12) & 0x3F));
        out += char(0x80 | ((code >> 6) & 0x3F));
        out += char(0x80 | (code & 0x3F));
    }
}

/* Characters that break a line or steer a terminal. */
bool BreaksTheLine(char32_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029;
}

/* What a character is to a reader of the list. */
enum class Look {
    Visible,
    Blank,     // a space, or a character drawn as one: trimmed from the ends
    Invisible, // drawn as nothing but kept, since it picks the look of its neighbour
    Hidden,    // reorders or hides what surrounds it, or is ignored: removed
};

Look LookOf(char32_t c) {
    // Unicode's default-ignorable code points, and the bidirectional controls among them.
    if (c == 0x00AD || c == 0x034F || c == 0x061C || c == 0x17B4 || c == 0x17B5 || c == 0x180E ||
        (c >= 0x200B && c <= 0x200F) || (c >= 0x202A && c <= 0x202E) ||
        (c >= 0x2060 && c <= 0x206F) || c == 0xFEFF || (c >= 0xFFF0 && c <= 0xFFF8) ||
        (c >= 0x1BCA0 && c <= 0x1BCA3) || (c >= 0x1D173 && c <= 0x1D17A) ||
        (c >= 0xE0000 && c <= 0xE0FFF && !(c >= 0xE0100 && c <= 0xE01EF)))
        return Look::Hidden;
    // Variation selectors, the supplement's among them, and Mongolian's.
    if ((c >= 0xFE00 && c <= 0xFE0F) || (c >= 0xE0100 && c <= 0xE01EF) ||
        (c >= 0x180B && c <= 0x180D) || c == 0x180F)
        return Look::Invisible;
    // Spaces, and the Hangul fillers and the empty Braille pattern that are drawn as one.
    if (c == 0x20 || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x202F ||
        c == 0x205F || c == 0x3000 || c == 0x115F || c == 0x1160 || c == 0x3164 || c == 0xFFA0 ||
        c == 0x2800)
        return Look::Blank;
    return Look::Visible;
}

/* The filter that names and messages share; `asName` trims blanks from both ends and gives
   nothing for text without a visible character. */
std::string Filter(std::string_view utf8, std::size_t maxBytes, bool asName) {
    std::string text;
    std::size_t keptEnd = 0; // the length of `text` up to its last character that is not blank
    bool visible = false;
    std::size_t length = 0;
    for (std::string_view rest = utf8; !rest.empty(); rest.remove_prefix(length)) {
        char32_t c = Decode(rest, length);
        if (BreaksTheLine(c))
            c = ' ';
        const Look look = LookOf(c);
        if (look == Look::Hidden || (asName && look == Look::Blank && text.empty()))
            continue;
        const std::size_t before = text.size();
        Encode(c, text);
        if (text.size() > maxBytes) {
            text.resize(before);
            break;
        }
        if (look != Look::Blank)
            keptEnd = text.size();
        visible = visible || look == Look::Visible;
    }
    if (asName)
        text.resize(visible ? keptEnd : 0);
    return text;
}

} // namespace

std::string ListableServerName(std::string_view utf8, std::size_t maxBytes) {
    return Filter(utf8, maxBytes, true);
}

std::string PrintableText(std::string_view utf8, std::size_t maxBytes) {
    return Filter(utf8, maxBytes, false);
}

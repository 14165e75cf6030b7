// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

// Names that servers give themselves, made fit for the connection list: what
// must not pass, what must stay, and the bytes that are not text at all.

#include "ServerName.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace {

struct Name {
    std::string_view given;
    std::string_view listed;
};

std::ostream& operator<<(std::ostream& out, const Name& name) {
    return out << testing::PrintToString(std::string(name.given));
}

class ServerName : public testing::TestWithParam<Name> {};

TEST_P(ServerName, IsListedAs) {
    EXPECT_EQ(ListableServerName(GetParam().given), GetParam().listed);
}

using namespace std::string_view_literals;

INSTANTIATE_TEST_SUITE_P(
    Names, ServerName,
    testing::Values(
        // One name never looks like two entries, nor steers a terminal.
        Name{"fs1\nfs2 (prod)", "fs1 fs2 (prod)"}, Name{"fs1\r\nfs2", "fs1  fs2"},
        Name{"\x1b[31mred\x1b[0m\a", "[31mred [0m"}, Name{"a\x7f\u0085\u2028b", "a   b"},
        Name{"a\0b"sv, "a b"},
        // Text reads as it is stored: no overrides, isolates, marks or hidden characters.
        Name{"evil\u202Egnp.exe", "evilgnp.exe"}, Name{"a\u2066b\u2069c\u200Ed\u061C", "abcd"},
        Name{"\uFEFFfs\u200B1\u2060", "fs1"},
        // Blank after trimming is no name at all.
        Name{"\u200B\u200B\u200B", ""}, Name{" \t\r\n\u00A0\u3000", ""},
        Name{"  fs 1\u2003 ", "fs 1"},
        // Hangul fillers and the empty Braille pattern are drawn as blanks, and tag
        // characters and the other default-ignorable code points as nothing.
        Name{"\u3164", ""}, Name{"\u115F\u1160\uFFA0", ""}, Name{"\u2800\u2800", ""},
        Name{"\U000E0041\U000E0042", ""}, Name{"\u00AD\u034F\uFE0F\u180E\u2065\U0001D173", ""},
        Name{"\u3164fs\U000E0041\U000E0042 1\u2800", "fs 1"},
        Name{"\U0001F5A5\uFE0F fs", "\U0001F5A5\uFE0F fs"}, // a variation selector picks a glyph
        // Real names in any script stay whole.
        Name{"Zürich-東京 🖥", "Zürich-東京 🖥"},
        // Bytes that are not UTF-8 (stray, overlong, surrogate, cut short) are marked, not kept.
        Name{"fs\xff!", "fs\uFFFD!"}, Name{"\xc0\xaf", "\uFFFD\uFFFD"},
        Name{"\xed\xa0\x80", "\uFFFD\uFFFD\uFFFD"}, Name{"fs\xe2\x82", "fs\uFFFD\uFFFD"},
        Name{"\xf4\x90\x80\x80", "\uFFFD\uFFFD\uFFFD\uFFFD"}));

TEST(ServerNameLength, IsCutAtACharacterBoundaryThenTrimmed) {
    EXPECT_EQ(ListableServerName(std::string(300, 'x')), std::string(255, 'x'));
    EXPECT_EQ(ListableServerName("ab東", 4), "ab");
    EXPECT_EQ(ListableServerName("ab   cd", 4), "ab");
    EXPECT_EQ(ListableServerName("\u202E\u202E\u202Eabc", 3), "abc"); // removed ones cost nothing
}

TEST(PrintableText, FiltersAsANameWithoutTrimming) {
    EXPECT_EQ(PrintableText("http://evil\u202E.example.org:9100/\u202Egnp.exe\n"),
              "http://evil.example.org:9100/gnp.exe ");
    EXPECT_EQ(PrintableText(" \u3164 "), " \u3164 "); // nothing is a name here, nothing trimmed
    EXPECT_EQ(PrintableText("ab\xff\x1b[2J", 5), "ab\uFFFD"); // cut at a character boundary
}

} // namespace

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

} // namespace

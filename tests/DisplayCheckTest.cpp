// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

// Whether the program finds a display where Qt would, over a folder of real sockets
// standing in for X servers and Wayland compositors.

#include "DisplayCheck.h"

#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

struct Case {
    const char* what;
    // QT_QPA_PLATFORM, DISPLAY, WAYLAND_DISPLAY ("/wl": the absolute path of a socket),
    // XDG_RUNTIME_DIR ("." the socket folder)
    std::array<const char*, 4> variables;
    const char* reason; // nullptr: a display is found
};

void PrintTo(const Case& c, std::ostream* out) {
    *out << c.what;
}

class DisplayCheckTest : public ::testing::TestWithParam<Case> {
protected:
    static void SetUpTestSuite() {
        folder = std::filesystem::temp_directory_path() / ("display-check-" + std::to_string(getpid()));
        std::filesystem::create_directories(folder / "x11");
        for (const char* name : {"x11/X5", "wayland-0", "wl"}) {
            sockets.push_back(socket(AF_UNIX, SOCK_STREAM, 0));
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            (folder / name).string().copy(address.sun_path, sizeof address.sun_path - 1);
            ASSERT_EQ(bind(sockets.back(), reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
        }
        std::ofstream(folder / "x11/X7"); // a leftover file, no server behind it
    }
    static void TearDownTestSuite() {
        for (const int s : sockets)
            close(s);
        std::filesystem::remove_all(folder);
    }
    static inline std::filesystem::path folder;
    static inline std::vector<int> sockets;
};

TEST_P(DisplayCheckTest, FindsWhatQtWouldOpen) {
    const auto [platform, display, wayland, runtime] = GetParam().variables;
    const DisplayEnvironment environment{
        platform, display, wayland == std::string("/wl") ? (folder / "wl").string() : wayland,
        runtime == std::string(".") ? folder.string() : runtime, folder / "x11"};
    const auto reason = NoDisplayReason(environment);
    if (GetParam().reason)
        EXPECT_EQ(reason.value_or("(a display)"), GetParam().reason);
    else
        EXPECT_EQ(reason.value_or("(a display)"), "(a display)");
}

INSTANTIATE_TEST_SUITE_P(
    Environments, DisplayCheckTest,
    ::testing::Values(
        Case{"Nothing", {"", "", "", ""}, "neither DISPLAY nor WAYLAND_DISPLAY is set"},
        Case{"LocalX", {"", ":5", "", ""}, nullptr},
        Case{"LocalXWithScreen", {"", "unix:5.0", "", ""}, nullptr},
        Case{"LocalXGone", {"", ":6", "", ""}, "no X server listens on DISPLAY=:6"},
        Case{"LocalXLeftoverFile", {"xcb", ":7", "", ""}, "no X server listens on DISPLAY=:7"},
        Case{"RemoteX", {"", "fileserver:0", "", ""}, nullptr},
        Case{"Wayland", {"", "", "wl", "."}, nullptr},
        Case{"WaylandAbsolute", {"", "", "/wl", ""}, nullptr},
        Case{"WaylandWithoutRuntimeDir", {"", "", "wl", ""},
             "no Wayland compositor listens on WAYLAND_DISPLAY=wl; DISPLAY is not set"},
        Case{"WaylandGoneXAlive", {"", ":5", "gone", "."}, nullptr},
        Case{"WaylandDefaultSocketWhenAsked", {"wayland", "", "", "."}, nullptr},
        Case{"WaylandDefaultSocketNotTriedUnasked", {"", ":6", "", "."}, "no X server listens on DISPLAY=:6"},
        Case{"XcbAskedButOnlyWayland", {"xcb", "", "wl", "."}, "DISPLAY is not set"},
        Case{"FallbackList", {"wayland-egl;xcb", ":5", "", ""}, nullptr},
        Case{"NoDisplayNeeded", {"offscreen", "", "", ""}, nullptr},
        Case{"PlatformArguments", {"vnc:size=800x600", "", "", ""}, nullptr},
        Case{"ListAllFailing", {"wayland;xcb:foo", ":6", "gone", "."},
             "no Wayland compositor listens on WAYLAND_DISPLAY=gone; no X server listens on DISPLAY=:6"}),
    [](const auto& info) { return std::string(info.param.what); });

} // namespace

// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#pragma once
// Whether the window system that Qt would pick on X11 and Wayland desktops has a
// display to open. Qt itself aborts with a core dump when none of its candidate
// platforms connects, so the program asks first, before the application exists.

#include <filesystem>
#include <optional>
#include <string>

/* What Qt's platform choice depends on, as the process environment gives it. */
struct DisplayEnvironment {
    std::string platform;       // QT_QPA_PLATFORM: platform names separated by ';', each with optional ":arguments"
    std::string display;        // DISPLAY
    std::string waylandDisplay; // WAYLAND_DISPLAY
    std::string runtimeDir;     // XDG_RUNTIME_DIR, where a relative WAYLAND_DISPLAY names its socket
    std::filesystem::path x11SocketDir = "/tmp/.X11-unix"; // where a local X server listens

    /* The environment of this process. */
    static DisplayEnvironment Current();
};

/* Empty when one of the platforms Qt would try can show a window, or needs no display
   (offscreen, minimal, vnc and the like). Otherwise why none can, for the user, e.g.
   "DISPLAY is not set; WAYLAND_DISPLAY is not set". A local X display (":0", "unix:0")
   counts only when its server's socket exists, a Wayland one only when its socket does;
   a remote X display is taken as reachable. */
std::optional<std::string> NoDisplayReason(const DisplayEnvironment& environment);

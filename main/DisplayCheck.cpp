// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#include "DisplayCheck.h"

#include <algorithm>
#include <cstdlib>
#include <regex>
#include <string_view>
#include <system_error>
#include <vector>

namespace {

std::string Variable(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

bool IsSocket(const std::filesystem::path& path) {
    std::error_code error;
    return std::filesystem::is_socket(path, error);
}

// Empty when an X server answers on the display, else why not.
std::string XProblem(const DisplayEnvironment& environment) {
    if (environment.display.empty())
        return "DISPLAY is not set";
    static const std::regex local(R"((?:unix)?:(\d+)(?:\.\d+)?)");
    std::smatch number;
    if (!std::regex_match(environment.display, number, local))
        return {};
    std::filesystem::path socket = environment.x11SocketDir / "X";
    socket += number[1].str();
    if (!IsSocket(socket))
        return "no X server listens on DISPLAY=" + environment.display;
    return {};
}

// Empty when a Wayland compositor listens where libwayland would connect, else why not.
std::string WaylandProblem(const DisplayEnvironment& environment) {
    const std::string name = environment.waylandDisplay.empty() ? "wayland-0" : environment.waylandDisplay;
    const std::filesystem::path socket = name.front() == '/' || environment.runtimeDir.empty()
                                             ? std::filesystem::path(name)
                                             : std::filesystem::path(environment.runtimeDir) / name;
    if (socket.is_absolute() && IsSocket(socket))
        return {};
    if (environment.waylandDisplay.empty())
        return "WAYLAND_DISPLAY is not set";
    return "no Wayland compositor listens on WAYLAND_DISPLAY=" + environment.waylandDisplay;
}

} // namespace

DisplayEnvironment DisplayEnvironment::Current() {
    return {Variable("QT_QPA_PLATFORM"), Variable("DISPLAY"), Variable("WAYLAND_DISPLAY"),
            Variable("XDG_RUNTIME_DIR")};
}

std::optional<std::string> NoDisplayReason(const DisplayEnvironment& environment) {
    // Without a choice of the user's, Qt tries Wayland where WAYLAND_DISPLAY names a
    // compositor, and X11 in any case.
    std::vector<std::string> candidates;
    if (environment.platform.empty()) {
        if (environment.waylandDisplay.empty() && environment.display.empty())
            return "neither DISPLAY nor WAYLAND_DISPLAY is set";
        if (!environment.waylandDisplay.empty())
            candidates.emplace_back("wayland");
        candidates.emplace_back("xcb");
    } else {
        std::string_view list = environment.platform;
        while (!list.empty()) {
            const std::string_view entry = list.substr(0, list.find(';'));
            list.remove_prefix(std::min(list.size(), entry.size() + 1));
            candidates.emplace_back(entry.substr(0, entry.find(':')));
        }
    }

    std::string reasons;
    for (const std::string& name : candidates) {
        std::string problem;
        if (name == "xcb")
            problem = XProblem(environment);
        else if (name.starts_with("wayland"))
            problem = WaylandProblem(environment);
        else if (!name.empty())
            return std::nullopt; // a platform without a display, or one only Qt can judge
        if (problem.empty())
            return std::nullopt;
        if (reasons.find(problem) == std::string::npos)
            reasons += (reasons.empty() ? "" : "; ") + problem;
    }
    if (reasons.empty())
        return std::nullopt;
    return reasons;
}

// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

// libcurl's process-wide set-up, done once before the first loop starts, and its
// clean-up at exit, which stops every loop still alive first.

#include "CurlLoop.h"

#include <cstdlib>

namespace {

/* The loops alive. libcurl's set-up is process-wide, and so is its clean-up at exit: the exit
   handler, registered after the TLS library's own, runs before it and stops these first. A
   loop that dies later (a static client's) then no longer looks here: this may be gone. */
struct LiveLoops {
    std::mutex mutex;
    std::vector<CurlLoop*> loops;
    bool ready = false, tried = false;
};

LiveLoops& Live() {
    static LiveLoops live;
    return live;
}

} // namespace

bool CurlLoop::enlist() {
    LiveLoops& live = Live();
    const std::lock_guard lock(live.mutex);
    if (!live.tried) {
        live.tried = true;
        live.ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
        // After libcurl's set-up, and so after the TLS library's own exit handler: this one
        // runs first.
        if (live.ready)
            std::atexit(&CurlLoop::exitHandler);
    }
    if (live.ready) {
        live.loops.push_back(this);
        m_registered = true;
    }
    return live.ready;
}

void CurlLoop::delist() {
    if (!m_registered)
        return;
    LiveLoops& live = Live();
    const std::lock_guard lock(live.mutex);
    std::erase(live.loops, this);
}

void CurlLoop::exitHandler() {
    LiveLoops& live = Live();
    const std::lock_guard lock(live.mutex);
    for (CurlLoop* loop : live.loops) {
        loop->shutdown();
        loop->m_registered = false;
    }
    live.loops.clear();
    curl_global_cleanup();
    live.ready = false;
}

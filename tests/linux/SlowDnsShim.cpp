// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

// Preloaded into a test: a resolver that answers names under .test with
// 127.0.0.1 after 8 s, passes literal addresses through, and fails every other
// name without asking anyone, so that no test ever reaches a real resolver.

#include <dlfcn.h>
#include <netdb.h>

#include <cctype>
#include <chrono>
#include <cstring>
#include <string_view>
#include <thread>

namespace {

using GetAddrInfo = int (*)(const char*, const char*, const addrinfo*, addrinfo**);

bool UnderTest(std::string_view name) {
    if (name.ends_with('.'))
        name.remove_suffix(1);
    if (name.size() < 5)
        return false;
    std::string_view tail = name.substr(name.size() - 5);
    for (std::size_t i = 0; i < tail.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(tail[i])) != ".test"[i])
            return false;
    return true;
}

} // namespace

extern "C" {

/* Lets a test tell that the shim is in place. */
__attribute__((visibility("default"))) int serverstats_slow_dns_shim = 1;

__attribute__((visibility("default"))) int getaddrinfo(const char* node, const char* service,
                                                       const addrinfo* hints, addrinfo** result) {
    static const auto real = reinterpret_cast<GetAddrInfo>(dlsym(RTLD_NEXT, "getaddrinfo"));
    if (real == nullptr)
        return EAI_FAIL;
    addrinfo numeric{};
    if (hints != nullptr)
        numeric = *hints;
    // Only the numeric path of the real resolver is ever used: it looks nothing up.
    numeric.ai_flags |= AI_NUMERICHOST;
    if (node != nullptr && UnderTest(node)) {
        std::this_thread::sleep_for(std::chrono::seconds(8));
        return real("127.0.0.1", service, &numeric, result);
    }
    return real(node, service, &numeric, result);
}
}

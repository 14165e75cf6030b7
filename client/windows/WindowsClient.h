// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#pragma once
// The real client on 32-bit Windows: calwin32.dll and clxwin32.dll, loaded once
// with the system's library search and called by ordinal. Both stay loaded for
// the client's lifetime. When either library or any of the eight entry points
// is missing, every operation answers with one of the codes below and calls nothing.

#include "ClientEntryPoints.h"
#include "ClientLibrary.h"

#include <array>
#include <memory>

struct HINSTANCE__;

class WindowsClient : public ClientLibrary {
public:
    // Result codes of this backend, all within 0 to 0xFFFF and clear of the client's own.
    static constexpr ClientResult CalLibraryMissing = 0xFE01; // calwin32.dll did not load
    static constexpr ClientResult ClxLibraryMissing = 0xFE02; // clxwin32.dll did not load
    static constexpr ClientResult EntryPointMissing = 0xFE03; // a library lacks an ordinal

    /* Loads both libraries by these names; tests pass others to provoke the failures. */
    explicit WindowsClient(const wchar_t* calLibrary = L"calwin32.dll",
                           const wchar_t* clxLibrary = L"clxwin32.dll");

    /* 0 when all eight entry points were found; otherwise the code every operation returns. */
    ClientResult LoadResult() const { return m_loadResult; }

    ClientResult ClientInit(void* reserved1, void* reserved2) override;
    ClientResult GetPrimaryConnRef(ConnRef& ref) override;
    ClientResult ScanConnRefs(ScanIterator& iterator, ConnRef& ref) override;
    ClientResult GetConnRefInfo(ConnRef ref, std::uint32_t infoType, std::uint32_t bufferLength,
                                unsigned char* buffer) override;
    ClientResult NWCCOpenConnByRef(ConnRef ref, std::uint32_t openState, std::uint32_t reserved,
                                   ConnectionHandle& handle) override;
    ClientResult CloseConn(ConnectionHandle handle) override;
    ClientResult GetServerInfoRecord(ConnectionHandle handle, ServerInfoRecord& record) override;
    ClientResult GetCacheInfoRecord(ConnectionHandle handle, CacheInfoRecord& record) override;

private:
    struct ModuleCloser {
        void operator()(HINSTANCE__* module) const;
    };
    using Module = std::unique_ptr<HINSTANCE__, ModuleCloser>;
    using AnyEntry = void (*)();

    /* The entry point of `entry` as its own type; only called once all are resolved. */
    template <class Fn> Fn entryPoint(Entry entry) const {
        return reinterpret_cast<Fn>(m_entries[std::size_t(entry)]);
    }

    Module m_cal;
    Module m_clx;
    std::array<AnyEntry, EntryCount> m_entries{};
    ClientResult m_loadResult = 0;
};

// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#include "WindowsClient.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

void WindowsClient::ModuleCloser::operator()(HINSTANCE__* module) const {
    FreeLibrary(module);
}

WindowsClient::WindowsClient(const wchar_t* calLibrary, const wchar_t* clxLibrary) {
    // Keep the current folder out of the search: the program runs in whatever
    // folder holds the "Read.me" to show, and must not take a client from there.
    SetDllDirectoryW(L"");
    // A damaged library must fail the load quietly, not raise the system's own box.
    DWORD errorMode = 0;
    SetThreadErrorMode(SEM_FAILCRITICALERRORS, &errorMode);
    m_cal.reset(LoadLibraryW(calLibrary));
    m_clx.reset(LoadLibraryW(clxLibrary));
    SetThreadErrorMode(errorMode, nullptr);
    m_loadResult = !m_cal ? CalLibraryMissing : !m_clx ? ClxLibraryMissing : 0;

    for (const EntryOrdinal& e : EntryOrdinals) {
        if (m_loadResult != 0)
            break;
        HMODULE module = e.library == ClientDll::Cal ? m_cal.get() : m_clx.get();
        // An ordinal travels in the low word of the name pointer.
        const FARPROC found = GetProcAddress(module, MAKEINTRESOURCEA(e.ordinal));
        if (found == nullptr)
            m_loadResult = EntryPointMissing;
        m_entries[std::size_t(e.entry)] = reinterpret_cast<AnyEntry>(found);
    }

    // All or nothing: a client that cannot serve every operation serves none.
    if (m_loadResult != 0) {
        m_entries = {};
        m_cal.reset();
        m_clx.reset();
    }
}

ClientResult WindowsClient::ClientInit(void* reserved1, void* reserved2) {
    if (m_loadResult != 0)
        return m_loadResult;
    return entryPoint<ClientInitEntry>(Entry::ClientInit)(reserved1, reserved2);
}

ClientResult WindowsClient::GetPrimaryConnRef(ConnRef& ref) {
    if (m_loadResult != 0)
        return m_loadResult;
    return entryPoint<GetPrimaryConnRefEntry>(Entry::GetPrimaryConnRef)(&ref);
}

ClientResult WindowsClient::ScanConnRefs(ScanIterator& iterator, ConnRef& ref) {
    if (m_loadResult != 0)
        return m_loadResult;
    return entryPoint<ScanConnRefsEntry>(Entry::ScanConnRefs)(&iterator, &ref);
}

ClientResult WindowsClient::GetConnRefInfo(ConnRef ref, std::uint32_t infoType,
                                           std::uint32_t bufferLength, unsigned char* buffer) {
    if (m_loadResult != 0)
        return m_loadResult;
    return entryPoint<GetConnRefInfoEntry>(Entry::GetConnRefInfo)(ref, infoType, bufferLength,
                                                                  buffer);
}

ClientResult WindowsClient::NWCCOpenConnByRef(ConnRef ref, std::uint32_t openState,
                                              std::uint32_t reserved, ConnectionHandle& handle) {
    if (m_loadResult != 0)
        return m_loadResult;
    return entryPoint<OpenConnByRefEntry>(Entry::NWCCOpenConnByRef)(ref, openState, reserved,
                                                                    &handle);
}

ClientResult WindowsClient::CloseConn(ConnectionHandle handle) {
    if (m_loadResult != 0)
        return m_loadResult;
    return entryPoint<CloseConnEntry>(Entry::CloseConn)(handle);
}

ClientResult WindowsClient::GetServerInfoRecord(ConnectionHandle handle, ServerInfoRecord& record) {
    if (m_loadResult != 0)
        return m_loadResult;
    return entryPoint<GetServerInfoRecordEntry>(Entry::GetServerInfoRecord)(handle, record.data());
}

ClientResult WindowsClient::GetCacheInfoRecord(ConnectionHandle handle, CacheInfoRecord& record) {
    if (m_loadResult != 0)
        return m_loadResult;
    return entryPoint<GetCacheInfoRecordEntry>(Entry::GetCacheInfoRecord)(handle, record.data());
}

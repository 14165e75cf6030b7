// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#pragma once
// Passes every call on to another client: a fake that watches a real client derives
// from it and overrides only the calls it watches.

#include "ClientLibrary.h"

class ForwardingClient : public ClientLibrary {
public:
    explicit ForwardingClient(ClientLibrary& inner) : m_inner(inner) {}

    ClientResult ClientInit(void* a, void* b) override { return m_inner.ClientInit(a, b); }
    ClientResult GetPrimaryConnRef(ConnRef& ref) override { return m_inner.GetPrimaryConnRef(ref); }
    ClientResult ScanConnRefs(ScanIterator& i, ConnRef& ref) override { return m_inner.ScanConnRefs(i, ref); }
    ClientResult GetConnRefInfo(ConnRef ref, std::uint32_t type, std::uint32_t length,
                                unsigned char* buffer) override {
        return m_inner.GetConnRefInfo(ref, type, length, buffer);
    }
    ClientResult NWCCOpenConnByRef(ConnRef ref, std::uint32_t state, std::uint32_t reserved,
                                   ConnectionHandle& handle) override {
        return m_inner.NWCCOpenConnByRef(ref, state, reserved, handle);
    }
    ClientResult CloseConn(ConnectionHandle handle) override { return m_inner.CloseConn(handle); }
    ClientResult GetServerInfoRecord(ConnectionHandle handle, ServerInfoRecord& record) override {
        return m_inner.GetServerInfoRecord(handle, record);
    }
    ClientResult GetCacheInfoRecord(ConnectionHandle handle, CacheInfoRecord& record) override {
        return m_inner.GetCacheInfoRecord(handle, record);
    }

private:
    ClientLibrary& m_inner;
};

// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#include "TransferVerdict.h"

namespace {

std::optional<ClientResult> Code(CURLcode code, long status) {
    switch (code) {
    case CURLE_OK:
        if (status == 200)
            return 0;
        if (status == 401 || status == 403)
            return RemoteCode::Refused;
        return RemoteCode::BadAnswer;
    case CURLE_FILESIZE_EXCEEDED:
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_BAD_CONTENT_ENCODING:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
    case CURLE_WRITE_ERROR: // the reply passed the limit, which the buffer refused
        return RemoteCode::BadAnswer;
    // A handshake cut short (CURLE_SSL_CONNECT_ERROR) is left to the next scrape, as any
    // dropped connection: an exporter restarting does that.
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_USE_SSL_FAILED:
        return RemoteCode::TlsFailure;
    default:
        return std::nullopt;
    }
}

} // namespace

TransferVerdict JudgeTransfer(CURLcode result, long status, std::string_view error,
                              std::string_view limit) {
    TransferVerdict verdict{Code(result, status), {}};
    if (verdict.code == 0)
        return verdict;
    if (result == CURLE_OK)
        verdict.reason = "HTTP " + std::to_string(status);
    else if (result == CURLE_WRITE_ERROR || result == CURLE_FILESIZE_EXCEEDED)
        verdict.reason = "the reply is longer than " + std::string(limit);
    else
        verdict.reason = error.empty() ? curl_easy_strerror(result) : std::string(error);
    return verdict;
}

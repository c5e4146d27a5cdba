// SPDX-License-Identifier: Apache-2.0
#pragma once
// The server's TLS settings: TLS 1.2 and up, the certificate chain and key
// from PEM files.

#include <boost/asio/ssl/context.hpp>
#include <filesystem>

namespace quorlan::http {

// Throws TlsError naming the file that cannot be used.
boost::asio::ssl::context MakeTlsContext(const std::filesystem::path& cert,
                                         const std::filesystem::path& key);

}  // namespace quorlan::http

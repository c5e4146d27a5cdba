// SPDX-License-Identifier: Apache-2.0
#pragma once
// The server's TLS settings, as the widely used "intermediate" profile has
// them: TLS 1.2 with forward-secret AEAD suites only, and TLS 1.3; the
// certificate chain and its key from PEM files.

#include <boost/asio/ssl/context.hpp>
#include <filesystem>
#include <string>

namespace quorlan::http {

// Throws TlsError naming the setting and the file that cannot be used.
boost::asio::ssl::context MakeTlsContext(const std::filesystem::path& cert,
                                         const std::filesystem::path& key);

// Empty when the pair would serve (or neither is set); otherwise what is
// wrong with it, naming the setting and the file, as MakeTlsContext would.
std::string CheckCertificatePair(const std::filesystem::path& cert,
                                 const std::filesystem::path& key);

}  // namespace quorlan::http

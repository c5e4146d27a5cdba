// SPDX-License-Identifier: Apache-2.0
#include "station/http/Tls.h"

#include <openssl/ssl.h>

#include "station/http/Server.h"

namespace quorlan::http {

namespace ssl = boost::asio::ssl;

ssl::context MakeTlsContext(const std::filesystem::path& cert, const std::filesystem::path& key) {
  ssl::context context(ssl::context::tls_server);
  context.set_options(ssl::context::default_workarounds | ssl::context::no_sslv2 |
                      ssl::context::no_sslv3 | ssl::context::no_tlsv1 | ssl::context::no_tlsv1_1 |
                      ssl::context::single_dh_use);
  SSL_CTX_set_min_proto_version(context.native_handle(), TLS1_2_VERSION);
  boost::system::error_code ec;
  context.use_certificate_chain_file(cert.string(), ec);
  if (ec) throw TlsError("tls_cert " + cert.string() + ": " + ec.message());
  context.use_private_key_file(key.string(), ssl::context::pem, ec);
  if (ec) throw TlsError("tls_key " + key.string() + ": " + ec.message());
  if (SSL_CTX_check_private_key(context.native_handle()) != 1) {
    throw TlsError("tls_key " + key.string() + ": does not match the certificate in " +
                   cert.string());
  }
  return context;
}

}  // namespace quorlan::http

// SPDX-License-Identifier: Apache-2.0
#include "station/http/Tls.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "station/http/Server.h"

namespace quorlan::http {

namespace ssl = boost::asio::ssl;

namespace {

// TLS 1.2 suites with forward secrecy and authenticated encryption: no CBC,
// which padding-oracle attacks have broken over and over, no RSA key
// exchange. TLS 1.3 has only such suites and keeps its defaults.
constexpr const char* kTls12Suites =
    "ECDHE-ECDSA-AES128-GCM-SHA256:ECDHE-RSA-AES128-GCM-SHA256:"
    "ECDHE-ECDSA-AES256-GCM-SHA384:ECDHE-RSA-AES256-GCM-SHA384:"
    "ECDHE-ECDSA-CHACHA20-POLY1305:ECDHE-RSA-CHACHA20-POLY1305:"
    "DHE-RSA-AES128-GCM-SHA256:DHE-RSA-AES256-GCM-SHA384:DHE-RSA-CHACHA20-POLY1305";
constexpr const char* kGroups = "X25519:prime256v1:secp384r1";

std::string OpenSslError() {
  const unsigned long code = ERR_peek_last_error();
  ERR_clear_error();
  char text[256];
  ERR_error_string_n(code, text, sizeof text);
  return text;
}

using File = std::unique_ptr<BIO, decltype(&BIO_free)>;

// Opened for reading, or TlsError naming the setting, the file and why not.
File Open(const char* setting, const std::filesystem::path& path) {
  errno = 0;
  File file(BIO_new_file(path.c_str(), "r"), BIO_free);
  if (!file) {
    ERR_clear_error();
    throw TlsError(std::string(setting) + " " + path.string() +
                   ": cannot be read: " + std::strerror(errno != 0 ? errno : ENOENT));
  }
  return file;
}

// Never asks for a passphrase (a service has nobody to type one); notes
// that one was wanted.
int NoPassphrase(char*, int, int, void* wanted) {
  *static_cast<bool*>(wanted) = true;
  return 0;
}

}  // namespace

ssl::context MakeTlsContext(const std::filesystem::path& cert, const std::filesystem::path& key) {
  if (cert.empty() || key.empty()) {
    throw TlsError("tls_cert and tls_key go together: set both or neither");
  }
  ssl::context context(ssl::context::tls_server);
  SSL_CTX* native = context.native_handle();
  context.set_options(ssl::context::default_workarounds | ssl::context::no_sslv2 |
                      ssl::context::no_sslv3 | ssl::context::no_tlsv1 | ssl::context::no_tlsv1_1 |
                      ssl::context::single_dh_use);
  SSL_CTX_set_min_proto_version(native, TLS1_2_VERSION);
  SSL_CTX_set_options(native, SSL_OP_NO_RENEGOTIATION);
  if (SSL_CTX_set_cipher_list(native, kTls12Suites) != 1 ||
      SSL_CTX_set1_groups_list(native, kGroups) != 1 || SSL_CTX_set_dh_auto(native, 1) != 1) {
    throw TlsError("this OpenSSL lacks the TLS suites the service offers: " + OpenSslError());
  }

  ERR_clear_error();
  Open("tls_cert", cert);
  if (SSL_CTX_use_certificate_chain_file(native, cert.c_str()) != 1) {
    ERR_clear_error();
    throw TlsError("tls_cert " + cert.string() + ": holds no PEM certificate");
  }
  const File file = Open("tls_key", key);
  bool passphrase = false;
  const std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> pkey(
      PEM_read_bio_PrivateKey(file.get(), nullptr, NoPassphrase, &passphrase), EVP_PKEY_free);
  ERR_clear_error();
  if (passphrase) {
    throw TlsError("tls_key " + key.string() +
                   ": is encrypted; the service takes the key unencrypted, readable by it alone");
  }
  if (!pkey) throw TlsError("tls_key " + key.string() + ": holds no PEM private key");
  if (SSL_CTX_use_PrivateKey(native, pkey.get()) != 1 || SSL_CTX_check_private_key(native) != 1) {
    ERR_clear_error();
    throw TlsError("tls_key " + key.string() + ": does not match the certificate in " +
                   cert.string());
  }
  return context;
}

std::string CheckCertificatePair(const std::filesystem::path& cert,
                                 const std::filesystem::path& key) {
  if (cert.empty() && key.empty()) return {};
  try {
    MakeTlsContext(cert, key);
  } catch (const TlsError& error) {
    return error.what();
  }
  return {};
}

}  // namespace quorlan::http

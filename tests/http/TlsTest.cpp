// SPDX-License-Identifier: Apache-2.0
// HTTPS: with a certificate and key the server speaks TLS 1.2 (AEAD suites
// only) and up, and only that; a certificate or key it cannot use is named.

#include <gtest/gtest.h>
#include <openssl/ssl.h>

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "RawClient.h"
#include "TestService.h"
#include "station/http/Tls.h"

namespace quorlan::http::test {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace fs = std::filesystem;

class Https : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "quorlan-https-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
    MakePair("cert.pem", "key.pem");
    options_.tls_cert = folder_ / "cert.pem";
    options_.tls_key = folder_ / "key.pem";
  }
  void TearDown() override { fs::remove_all(folder_); }

  void MakePair(const std::string& cert, const std::string& key) {
    const std::string command =
        "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 1 "
        "-subj /CN=localhost -keyout '" +
        (folder_ / key).string() + "' -out '" + (folder_ / cert).string() + "' 2>/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
  }

  // One request over TLS, the client limited to `highest` (0: any version)
  // and, when given, to these TLS 1.2 suites; an empty answer when the
  // handshake fails.
  beast::http::response<beast::http::string_body> Get(std::uint16_t port, int highest = 0,
                                                      const char* suites = nullptr) {
    asio::io_context io;
    asio::ssl::context context(asio::ssl::context::tls_client);
    context.set_verify_mode(asio::ssl::verify_none);  // the test's own certificate
    if (highest) {
      SSL_CTX_set_security_level(context.native_handle(), 0);
      SSL_CTX_set_min_proto_version(context.native_handle(), TLS1_VERSION);
      SSL_CTX_set_max_proto_version(context.native_handle(), highest);
    }
    if (suites) {
      EXPECT_EQ(SSL_CTX_set_cipher_list(context.native_handle(), suites), 1);
    }
    beast::ssl_stream<beast::tcp_stream> stream(io, context);
    beast::get_lowest_layer(stream).expires_after(10s);
    beast::get_lowest_layer(stream).connect(
        asio::ip::tcp::endpoint(asio::ip::make_address("127.0.0.1"), port));
    beast::error_code ec;
    beast::http::response<beast::http::string_body> response;
    response.result(0);
    stream.handshake(asio::ssl::stream_base::client, ec);
    if (ec) return response;
    beast::http::request<beast::http::empty_body> request(beast::http::verb::post, "/echo", 11);
    beast::http::write(stream, request);
    beast::flat_buffer buffer;
    beast::http::read(stream, buffer, response);
    EXPECT_EQ(response["X-Content-Type-Options"], "nosniff");
    EXPECT_EQ(response["Strict-Transport-Security"], "max-age=63072000");
    EXPECT_TRUE(response[beast::http::field::date].ends_with(" GMT"));
    return response;
  }

  fs::path folder_;
  ServerOptions options_;
};

TEST_F(Https, ServesOverTlsAndOnlyOverTls) {
  TestService service(options_);
  EXPECT_TRUE(service.server.Tls());
  EXPECT_EQ(Get(service.Port()).body(), "length=0");
  EXPECT_EQ(Get(service.Port(), TLS1_2_VERSION).result_int(), 200u);
  EXPECT_EQ(Get(service.Port(), TLS1_1_VERSION).result_int(), 0u);

  RawClient plain(service.Port());
  ASSERT_TRUE(plain.Send("GET /page HTTP/1.1\r\n\r\n"));
  EXPECT_EQ(plain.Read().status, 0u);
  EXPECT_TRUE(plain.WaitClosed());
}

TEST_F(Https, Tls12OffersOnlyForwardSecretAeadSuites) {
  TestService service(options_);
  struct Case {
    const char* suite;
    bool served;
  };
  const Case cases[] = {
      {"ECDHE-ECDSA-AES128-GCM-SHA256", true}, {"ECDHE-ECDSA-AES256-GCM-SHA384", true},
      {"ECDHE-ECDSA-CHACHA20-POLY1305", true}, {"ECDHE-ECDSA-AES128-SHA", false},
      {"ECDHE-ECDSA-AES256-SHA", false},       {"ECDHE-ECDSA-AES128-SHA256", false},
      {"ECDHE-ECDSA-AES256-SHA384", false},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.suite);
    EXPECT_EQ(Get(service.Port(), TLS1_2_VERSION, test.suite).result_int(),
              test.served ? 200u : 0u);
  }
}

TEST_F(Https, AConnectionPastTheLimitIsToldToComeBackOverTls) {
  auto options = options_;
  options.max_connections_per_client = 1;
  TestService service(options);
  RawClient holder(service.Port());  // holds the one slot through its handshake's deadline
  ASSERT_TRUE(Eventually([&] { return service.server.Stats().connections == 1; }));
  const auto refused = Get(service.Port());
  EXPECT_EQ(refused.result_int(), 503u);
  EXPECT_EQ(refused[beast::http::field::retry_after], "1");
}

TEST_F(Https, ACertificateOrKeyThatCannotBeUsedIsNamed) {
  struct Case {
    const char* name;
    fs::path cert;
    fs::path key;
    const char* named;  // the setting
    const char* why;
  };
  std::ofstream(folder_ / "junk.pem") << "not a certificate\n";
  MakePair("other-cert.pem", "other-key.pem");
  const std::string encrypt = "openssl pkey -in '" + options_.tls_key.string() +
                              "' -aes256 -passout pass:secret -out '" +
                              (folder_ / "locked.pem").string() + "'";
  ASSERT_EQ(std::system(encrypt.c_str()), 0);
  const Case cases[] = {
      {"missing certificate", folder_ / "none.pem", options_.tls_key, "tls_cert", "cannot be read"},
      {"junk certificate", folder_ / "junk.pem", options_.tls_key, "tls_cert",
       "no PEM certificate"},
      {"missing key", options_.tls_cert, folder_ / "none.pem", "tls_key", "cannot be read"},
      {"junk key", options_.tls_cert, folder_ / "junk.pem", "tls_key", "no PEM private key"},
      {"a certificate for a key", options_.tls_cert, options_.tls_cert, "tls_key",
       "no PEM private key"},
      {"another certificate's key", options_.tls_cert, folder_ / "other-key.pem", "tls_key",
       "does not match the certificate in"},
      {"a key behind a passphrase", options_.tls_cert, folder_ / "locked.pem", "tls_key",
       "is encrypted"},
      {"key without certificate", "", options_.tls_key, "tls_cert and tls_key", "go together"},
      {"certificate without key", options_.tls_cert, "", "tls_cert and tls_key", "go together"},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    auto options = options_;
    options.tls_cert = test.cert;
    options.tls_key = test.key;
    Server server(options, [](const Request&, Answer&) {});
    try {
      server.Start();
      ADD_FAILURE() << "started";
    } catch (const TlsError& error) {
      const std::string what = error.what();
      EXPECT_EQ(what.rfind(test.named, 0), 0u) << what;
      EXPECT_NE(what.find(test.why), std::string::npos) << what;
      // The configuration check says the same, without a server.
      EXPECT_EQ(CheckCertificatePair(test.cert, test.key), error.what());
    }
  }
  EXPECT_EQ(CheckCertificatePair(options_.tls_cert, options_.tls_key), "");
  EXPECT_EQ(CheckCertificatePair("", ""), "");
}

}  // namespace
}  // namespace quorlan::http::test

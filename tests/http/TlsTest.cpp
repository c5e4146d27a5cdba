// SPDX-License-Identifier: Apache-2.0
// HTTPS: with a certificate and key the server speaks TLS 1.2 and up only.

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
    const std::string command =
        "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 1 "
        "-subj /CN=localhost -keyout '" +
        (folder_ / "key.pem").string() + "' -out '" + (folder_ / "cert.pem").string() +
        "' 2>/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    options_.tls_cert = folder_ / "cert.pem";
    options_.tls_key = folder_ / "key.pem";
  }
  void TearDown() override { fs::remove_all(folder_); }

  // One request over TLS, the client limited to `highest` (0: any version).
  unsigned Get(std::uint16_t port, int highest = 0) {
    asio::io_context io;
    asio::ssl::context context(asio::ssl::context::tls_client);
    context.set_verify_mode(asio::ssl::verify_none);  // the test's own certificate
    if (highest) {
      SSL_CTX_set_security_level(context.native_handle(), 0);
      SSL_CTX_set_min_proto_version(context.native_handle(), TLS1_VERSION);
      SSL_CTX_set_max_proto_version(context.native_handle(), highest);
    }
    beast::ssl_stream<beast::tcp_stream> stream(io, context);
    beast::get_lowest_layer(stream).expires_after(10s);
    beast::get_lowest_layer(stream).connect(
        asio::ip::tcp::endpoint(asio::ip::make_address("127.0.0.1"), port));
    beast::error_code ec;
    stream.handshake(asio::ssl::stream_base::client, ec);
    if (ec) return 0;
    beast::http::request<beast::http::empty_body> request(beast::http::verb::post, "/echo", 11);
    beast::http::write(stream, request);
    beast::flat_buffer buffer;
    beast::http::response<beast::http::string_body> response;
    beast::http::read(stream, buffer, response);
    EXPECT_EQ(response.body(), "length=0");
    EXPECT_EQ(response["X-Content-Type-Options"], "nosniff");
    return response.result_int();
  }

  fs::path folder_;
  ServerOptions options_;
};

TEST_F(Https, ServesOverTlsAndOnlyOverTls) {
  TestService service(options_);
  EXPECT_TRUE(service.server.Tls());
  EXPECT_EQ(Get(service.Port()), 200u);
  EXPECT_EQ(Get(service.Port(), TLS1_2_VERSION), 200u);
  EXPECT_EQ(Get(service.Port(), TLS1_1_VERSION), 0u);

  RawClient plain(service.Port());
  ASSERT_TRUE(plain.Send("GET /page HTTP/1.1\r\n\r\n"));
  EXPECT_EQ(plain.Read().status, 0u);
  EXPECT_TRUE(plain.WaitClosed());
}

TEST_F(Https, ACertificateOrKeyThatCannotBeUsedIsNamed) {
  struct Case {
    const char* name;
    fs::path cert;
    fs::path key;
    const char* named;
  };
  std::ofstream(folder_ / "junk.pem") << "not a certificate\n";
  const Case cases[] = {
      {"missing certificate", folder_ / "none.pem", options_.tls_key, "tls_cert"},
      {"junk key", options_.tls_cert, folder_ / "junk.pem", "tls_key"},
      {"key without certificate", "", options_.tls_key, "tls_cert and tls_key"},
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
      EXPECT_NE(std::string(error.what()).find(test.named), std::string::npos) << error.what();
    }
  }
}

}  // namespace
}  // namespace quorlan::http::test

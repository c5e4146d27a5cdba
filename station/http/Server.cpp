// SPDX-License-Identifier: Apache-2.0
#include "station/http/Server.h"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <future>
#include <optional>
#include <thread>
#include <vector>

#include "station/http/Context.h"
#include "station/http/Session.h"
#include "station/http/Tls.h"

namespace quorlan::http {

namespace asio = boost::asio;
namespace beast = boost::beast;
using tcp = asio::ip::tcp;
using PlainSession = Session<beast::tcp_stream>;
using TlsSession = Session<beast::ssl_stream<beast::tcp_stream>>;

namespace {
// After a failed accept (e.g. out of descriptors), so the loop does not spin.
constexpr std::chrono::milliseconds kAcceptRetry{50};
}  // namespace

struct Server::Impl {
  Impl(ServerOptions options, Router router, RequestObserver observer)
      : context(std::move(options), std::move(router), std::move(observer)) {}

  void Listen();
  void Accept();
  void Admit(tcp::socket socket);
  void Beat();

  Context context;
  std::optional<asio::ssl::context> tls;
  std::unique_ptr<asio::io_context> io;
  std::optional<asio::executor_work_guard<asio::io_context::executor_type>> work;
  std::optional<asio::strand<asio::io_context::executor_type>> strand;  // acceptor and timers
  std::optional<tcp::acceptor> acceptor;
  std::optional<asio::steady_timer> heartbeat;
  std::optional<asio::steady_timer> retry;
  std::unique_ptr<asio::thread_pool> routes;
  std::unique_ptr<asio::thread_pool> urgent;
  std::vector<std::thread> threads;
  std::uint16_t port = 0;
  bool started = false;
  bool stopped = false;
};

void Server::Impl::Listen() {
  const auto& options = context.options;
  const std::string where = options.address + ":" + std::to_string(options.port);
  boost::system::error_code ec;
  const auto address = asio::ip::make_address(options.address, ec);
  if (ec) throw ListenError("not an address: " + options.address);
  const tcp::endpoint endpoint(address, options.port);
  acceptor.emplace(*strand);
  acceptor->open(endpoint.protocol(), ec);
  // Reusing an address in TIME_WAIT lets a restart bind at once; a second
  // listener on a live address still fails (no SO_REUSEPORT here).
  if (!ec) acceptor->set_option(tcp::acceptor::reuse_address(true), ec);
  if (!ec) acceptor->bind(endpoint, ec);
  if (ec == asio::error::address_in_use) throw ListenError("address in use: " + where);
  if (!ec) acceptor->listen(asio::socket_base::max_listen_connections, ec);
  if (ec == asio::error::address_in_use) throw ListenError("address in use: " + where);
  if (ec) throw ListenError("cannot listen on " + where + ": " + ec.message());
  port = acceptor->local_endpoint().port();
}

void Server::Impl::Accept() {
  acceptor->async_accept(asio::make_strand(*io),
                         [this](boost::system::error_code ec, tcp::socket socket) {
                           if (ec == asio::error::operation_aborted || !acceptor->is_open()) return;
                           if (ec) {
                             retry->expires_after(kAcceptRetry);
                             retry->async_wait([this](boost::system::error_code error) {
                               if (!error) Accept();
                             });
                             return;
                           }
                           Admit(std::move(socket));
                           Accept();
                         });
}

void Server::Impl::Admit(tcp::socket socket) {
  boost::system::error_code ec;
  const auto remote = socket.remote_endpoint(ec);
  if (ec) return;
  auto slot = context.admission.Enter(remote.address().to_string());
  if (!slot) {
    // A flood past the limits: closed at once, so it holds nothing another
    // client needs.
    socket.close(ec);
    return;
  }
  // An event is one small write: it goes out at once, not after an acknowledgement.
  socket.set_option(tcp::no_delay(true), ec);
  if (tls) {
    std::make_shared<TlsSession>(context, std::move(*slot),
                                 beast::ssl_stream<beast::tcp_stream>(std::move(socket), *tls))
        ->Start();
  } else {
    std::make_shared<PlainSession>(context, std::move(*slot), beast::tcp_stream(std::move(socket)))
        ->Start();
  }
}

void Server::Impl::Beat() {
  heartbeat->expires_after(context.options.stream_heartbeat);
  heartbeat->async_wait([this](boost::system::error_code ec) {
    if (ec) return;
    context.streams->ForEach([](EventStream& stream) { stream.Comment(); });
    Beat();
  });
}

Server::Server(ServerOptions options, Router router, RequestObserver observer)
    : impl_(std::make_unique<Impl>(std::move(options), std::move(router), std::move(observer))) {}

Server::~Server() {
  Stop();
}

void Server::Start() {
  auto& impl = *impl_;
  if (impl.started) return;
  const auto& options = impl.context.options;
  if (!options.tls_cert.empty() || !options.tls_key.empty()) {
    impl.tls.emplace(MakeTlsContext(options.tls_cert, options.tls_key));
  }

  impl.io = std::make_unique<asio::io_context>(static_cast<int>(options.io_threads));
  impl.strand.emplace(asio::make_strand(*impl.io));
  try {
    impl.Listen();
  } catch (...) {
    impl.acceptor.reset();
    impl.strand.reset();
    impl.io.reset();
    throw;
  }
  impl.heartbeat.emplace(*impl.strand);
  impl.retry.emplace(*impl.strand);
  impl.work.emplace(impl.io->get_executor());
  if (options.handler_threads > 0) {
    impl.routes = std::make_unique<asio::thread_pool>(options.handler_threads);
    impl.context.routes = impl.routes.get();
    if (options.urgent) {
      impl.urgent = std::make_unique<asio::thread_pool>(std::max(1u, options.urgent_threads));
      impl.context.urgent = impl.urgent.get();
    }
  }
  asio::post(*impl.strand, [&impl] {
    impl.Accept();
    impl.Beat();
  });
  for (unsigned i = 0; i < std::max(1u, options.io_threads); ++i) {
    impl.threads.emplace_back([&impl] { impl.io->run(); });
  }
  impl.started = true;
}

void Server::Stop() {
  auto& impl = *impl_;
  if (!impl.started || impl.stopped) return;
  impl.stopped = true;
  std::promise<void> closed;
  asio::post(*impl.strand, [&impl, &closed] {
    boost::system::error_code ignored;
    impl.acceptor->close(ignored);
    impl.heartbeat->cancel();
    impl.retry->cancel();
    closed.set_value();
  });
  closed.get_future().wait();
  // Network work ends first; routes still running post their answers to the
  // stopped context, where they are dropped with it.
  impl.work.reset();
  impl.io->stop();
  for (auto& thread : impl.threads) thread.join();
  impl.threads.clear();
  if (impl.routes) impl.routes->join();
  if (impl.urgent) impl.urgent->join();
  // Publishers may hold streams longer than the server lives: from here on
  // their writes return false and reach nothing of it.
  impl.context.streams->ForEach([](EventStream& stream) { stream.Ended(); });
  impl.heartbeat.reset();
  impl.retry.reset();
  impl.acceptor.reset();
  impl.strand.reset();  // belongs to the io_context's services
  impl.io.reset();      // ends every session, giving back its connection slot
  impl.routes.reset();
  impl.context.routes = nullptr;
  impl.urgent.reset();
  impl.context.urgent = nullptr;
}

std::uint16_t Server::Port() const {
  return impl_->port;
}

bool Server::Tls() const {
  return !impl_->context.options.tls_cert.empty();
}

ServerStats Server::Stats() const {
  const auto& context = impl_->context;
  return {context.admission.Open(), context.streams->Count(), context.admission.Rejected(),
          context.admission.Dropped(), context.requests.load()};
}

std::size_t Server::CloseStreams(const std::function<bool(const StreamInfo&)>& predicate) {
  std::size_t closed = 0;
  impl_->context.streams->ForEach([&](EventStream& stream) {
    if (stream.IsOpen() && predicate(stream.Info())) {
      stream.Close();
      ++closed;
    }
  });
  return closed;
}

}  // namespace quorlan::http

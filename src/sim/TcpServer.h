#pragma once
// Serves a simulated device over TCP on the loopback address, one client at
// a time, as a serial-to-Ethernet bridge does: a client that connects while
// another is served waits until that one leaves.

#include <memory>

#include "StreamServer.h"

namespace quorlan::sim {

class TcpServer : public StreamServer {
 public:
  // Listens on 127.0.0.1:port (0: a free port); std::system_error when it
  // cannot.
  TcpServer(std::shared_ptr<Responder> responder, int port, PtyOptions options = {});
  ~TcpServer() override;

  // The port it listens on.
  int Port() const { return port_; }

 private:
  void Run() override;

  int listener_ = -1;
  int port_ = 0;
};

}  // namespace quorlan::sim

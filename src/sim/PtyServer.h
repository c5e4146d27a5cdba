#pragma once
// Serves a simulated device on a pseudo-terminal, so that any program can
// open its slave end as a serial line. One thread reads requests from the
// master end and writes the replies, optionally paced at the line rate.

#include <memory>
#include <string>

#include "Line.h"
#include "StreamServer.h"

namespace quorlan::sim {

class PtyServer : public StreamServer {
 public:
  // Opens the pair (raw, no echo); std::system_error when it cannot.
  explicit PtyServer(std::shared_ptr<Line> line, PtyOptions options = {});
  PtyServer(std::shared_ptr<Responder> responder, PtyOptions options);
  ~PtyServer() override;

  const std::string& SlavePath() const { return slavePath_; }

 private:
  void Run() override { Serve(master_); }

  int master_ = -1;
  int slave_ = -1;  // kept open so the master never sees a hang-up
  std::string slavePath_;
};

}  // namespace quorlan::sim

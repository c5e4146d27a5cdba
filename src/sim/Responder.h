#pragma once
// A simulated device as a byte stream's server sees it: it cuts requests out
// of what arrives and answers each. The dispensers' line and the tank gauge
// are both served this way, on a pseudo-terminal or over TCP.

#include <cstdint>
#include <memory>
#include <optional>
#include <span>

#include "Line.h"
#include "RequestReader.h"
#include "Response.h"

namespace quorlan::sim {

class Responder {
 public:
  virtual ~Responder() = default;
  // Feeds one byte; a whole request when it completes one.
  virtual std::optional<Bytes> Feed(std::uint8_t byte) = 0;
  // A request is half read.
  virtual bool Partial() const = 0;
  // The line fell silent inside a request: forget it.
  virtual void Reset() = 0;
  virtual Response Answer(std::span<const std::uint8_t> request) = 0;
};

// The dispensers of a Line, reading requests as a dispenser listens.
class LineResponder : public Responder {
 public:
  explicit LineResponder(std::shared_ptr<Line> line) : line_(std::move(line)) {}
  std::optional<Bytes> Feed(std::uint8_t byte) override { return reader_.Feed(byte); }
  bool Partial() const override { return reader_.Partial(); }
  void Reset() override { reader_.Reset(); }
  Response Answer(std::span<const std::uint8_t> request) override { return line_->Answer(request); }

 private:
  std::shared_ptr<Line> line_;
  RequestReader reader_;
};

}  // namespace quorlan::sim

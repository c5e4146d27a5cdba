// SPDX-License-Identifier: Apache-2.0
#pragma once
// A serial line opened only to listen: read-only, raw, 8 data bits, no
// parity, at the line's speed. Nothing is ever written to it.

#include <string>

namespace quorlan::cli {

class ListenPort {
 public:
  // LineSetupError naming the path and the reason when it cannot be opened,
  // UsageError for a speed the system does not know.
  ListenPort(const std::string& path, int baud);
  ~ListenPort();
  ListenPort(const ListenPort&) = delete;
  ListenPort& operator=(const ListenPort&) = delete;

  int Descriptor() const { return fd_; }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
  int fd_ = -1;
};

}  // namespace quorlan::cli

#pragma once
// The far end of a pseudo-terminal for serial tests: the dispatcher opens the
// slave by its path, the test plays the dispenser on the master.

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace quorlan::testing {

class PtyPeer {
 public:
  PtyPeer();
  ~PtyPeer();
  PtyPeer(const PtyPeer&) = delete;
  PtyPeer& operator=(const PtyPeer&) = delete;

  const std::string& Path() const { return path_; }
  // Reads exactly `count` bytes sent to the peer (empty if the line closed).
  std::vector<std::uint8_t> Read(std::size_t count);
  void Write(const std::vector<std::uint8_t>& bytes);
  // Returns once written bytes wait in the slave's input queue.
  void WaitUntilQueued();
  // Closes the master: the slave side sees the line fail.
  void Hangup();

 private:
  int master_ = -1;
  int slave_ = -1;  // keeps the line up while the dispatcher reopens it
  std::string path_;
};

}  // namespace quorlan::testing

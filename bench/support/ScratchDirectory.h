#pragma once
// A fresh directory for the log files the benchmarks write, removed with
// everything in it at the end. It lives under TMPDIR (or /tmp).

#include <filesystem>
#include <string>

namespace quorlan::bench {

class ScratchDirectory {
 public:
  ScratchDirectory();
  ~ScratchDirectory();
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;

  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

}  // namespace quorlan::bench

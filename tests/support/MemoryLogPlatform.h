#pragma once
// An in-memory file system and a settable clock for the logger, so tests can
// read every byte the driver logs and inject failures.

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "log/LogPlatform.h"

namespace quorlan::testing {

class MemoryLogPlatform : public LogPlatform {
 public:
  std::string ExecutablePath() override { return executable; }
  LocalTime Now() override { return now; }
  bool Exists(const std::string& path) override;
  void Delete(const std::string& path) override;
  void Rename(const std::string& from, const std::string& to) override;
  std::optional<LockedFile> OpenLocked(const std::string& path) override;
  bool StillNamed(const LockedFile& file, const std::string& path) override;
  bool Append(const LockedFile& file, std::string_view bytes) override;
  void Close(const LockedFile& file) override;

  // The texts of the lines of a file, without time stamps and line ends;
  // the paragraph break shows as an empty text.
  std::vector<std::string> Texts(const std::string& path) const;
  std::string Content(const std::string& path) const;

  std::string executable = "C:\\Station\\host.exe";
  LocalTime now{14, 5, 9, 42};
  bool failOpen = false;
  bool failWrite = false;
  std::map<std::string, std::string> files;
  int openHandles = 0;

 private:
  mutable std::mutex mutex_;
  std::map<FileHandle, std::string> handles_;
  FileHandle nextHandle_ = 1;
};

}  // namespace quorlan::testing

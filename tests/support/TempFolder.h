// SPDX-License-Identifier: Apache-2.0
#pragma once
// A fresh folder of a test's own under the system's temporary one, removed
// with everything in it at the end; kept for a look after a failure when
// QUORLAN_KEEP_TEMP is set.

#include <stdlib.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

namespace quorlan::testing {

class TempFolder {
 public:
  // The folder's name starts with `prefix`, so a leftover says whose it is.
  explicit TempFolder(std::string_view prefix = "quorlan") {
    std::string pattern =
        (std::filesystem::temp_directory_path() / (std::string(prefix) + "-XXXXXX")).string();
    if (!::mkdtemp(pattern.data())) {
      throw std::system_error(errno, std::generic_category(), "mkdtemp " + pattern);
    }
    path_ = pattern;
  }
  ~TempFolder() {
    if (std::getenv("QUORLAN_KEEP_TEMP")) return;
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  // A file's path in the folder.
  std::string File(std::string_view name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

}  // namespace quorlan::testing

#pragma once
// The service's own record of who did what: one line per request with the
// token's name, the route and the outcome; never a secret. Separate from the
// driver's log.

#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>

namespace quorlan::station {

class AuditLog {
 public:
  // Appends to `path`; standard error when it is empty.
  explicit AuditLog(const std::string& path);
  ~AuditLog();
  AuditLog(const AuditLog&) = delete;
  AuditLog& operator=(const AuditLog&) = delete;

  // `who` is "-" for a request without a valid token.
  void Record(std::string_view who, std::string_view method, std::string_view path, int status,
              std::string_view detail = {});
  // For logrotate: appends to a file of the same name from now on; the old
  // one stays when the new cannot be opened.
  void Reopen();

 private:
  std::string path_;
  std::mutex mutex_;
  std::FILE* file_ = nullptr;
  bool owned_ = false;
};

}  // namespace quorlan::station

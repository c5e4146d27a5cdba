#pragma once
// The service's own record of who did what: one line per command (authorize,
// stop, prices, settlement, shifts) with the token's name, the route and the
// outcome, and the requests refused for want of a valid token, a run of the
// same refusal summarized; never a secret. Reads only when asked for, so
// that health probes and dashboards do not bury the commands. Separate from
// the driver's log.

#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>

#include "station/base/RepeatFilter.h"

namespace quorlan::station {

class AuditLog {
 public:
  // Appends to `path`; standard error when it is empty. `reads`: GET, HEAD
  // and OPTIONS requests too.
  explicit AuditLog(const std::string& path, bool reads = false);
  ~AuditLog();
  AuditLog(const AuditLog&) = delete;
  AuditLog& operator=(const AuditLog&) = delete;

  // `who` is "-" for a request without a valid token. Writes nothing for a
  // read unless reads are recorded.
  void Record(std::string_view who, std::string_view method, std::string_view path, int status,
              std::string_view detail = {});
  // For logrotate: appends to a file of the same name from now on; the old
  // one stays when the new cannot be opened.
  void Reopen();

 private:
  void Write(const std::string& line);

  std::string path_;
  bool reads_;
  RepeatFilter refusals_;
  std::mutex mutex_;
  std::FILE* file_ = nullptr;
  bool owned_ = false;
};

}  // namespace quorlan::station

#include "station/router/Audit.h"

#include <fmt/format.h>

#include <stdexcept>

#include "station/base/Clock.h"
#include "station/base/LogText.h"

namespace quorlan::station {

AuditLog::AuditLog(const std::string& path) : path_(path) {
  if (path.empty()) {
    file_ = stderr;
    return;
  }
  file_ = std::fopen(path.c_str(), "a");
  if (!file_) throw std::runtime_error("cannot open the audit log " + path);
  owned_ = true;
}

void AuditLog::Reopen() {
  if (!owned_) return;
  std::FILE* reopened = std::fopen(path_.c_str(), "a");
  if (!reopened) return;
  std::lock_guard lock(mutex_);
  std::fclose(file_);
  file_ = reopened;
}

AuditLog::~AuditLog() {
  if (owned_) std::fclose(file_);
}

void AuditLog::Record(std::string_view who, std::string_view method, std::string_view path,
                      int status, std::string_view detail) {
  // One line, and no control character, whatever a client put into the path.
  std::string line =
      fmt::format("{} {} {} {} {}", NowUtc(), LogText(who), LogText(method), LogText(path), status);
  if (!detail.empty()) line += fmt::format(" {}", LogText(detail));
  std::lock_guard lock(mutex_);
  std::fputs((line + "\n").c_str(), file_);
  std::fflush(file_);
}

}  // namespace quorlan::station

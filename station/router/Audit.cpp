#include "station/router/Audit.h"

#include <fmt/format.h>

#include <stdexcept>

#include "station/base/Clock.h"
#include "station/base/LogText.h"

namespace quorlan::station {

namespace {

constexpr int kUnauthorized = 401;

bool IsRead(std::string_view method) {
  return method == "GET" || method == "HEAD" || method == "OPTIONS";
}

}  // namespace

AuditLog::AuditLog(const std::string& path, bool reads) : path_(path), reads_(reads) {
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
  if (status != kUnauthorized && IsRead(method) && !reads_) return;
  // One line, and no control character, whatever a client put into the path.
  std::string line =
      fmt::format("{} {} {} {}", LogText(who), LogText(method), LogText(path), status);
  if (!detail.empty()) line += fmt::format(" {}", LogText(detail));
  if (status != kUnauthorized) return Write(line);
  // A client that keeps knocking without a valid token makes one line, and
  // then how often it knocked.
  for (const std::string& taken : refusals_.Take(line)) Write(taken);
}

void AuditLog::Write(const std::string& line) {
  const std::string stamped = fmt::format("{} {}\n", NowUtc(), line);
  std::lock_guard lock(mutex_);
  std::fputs(stamped.c_str(), file_);
  std::fflush(file_);
}

}  // namespace quorlan::station

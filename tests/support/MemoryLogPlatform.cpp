#include "support/MemoryLogPlatform.h"

namespace quorlan::testing {

bool MemoryLogPlatform::Exists(const std::string& path) {
  std::lock_guard lock(mutex_);
  return files.count(path) != 0;
}

void MemoryLogPlatform::Delete(const std::string& path) {
  std::lock_guard lock(mutex_);
  files.erase(path);
}

void MemoryLogPlatform::Rename(const std::string& from, const std::string& to) {
  std::lock_guard lock(mutex_);
  auto it = files.find(from);
  if (it == files.end()) return;
  files[to] = std::move(it->second);
  files.erase(from);
}

std::optional<LogPlatform::LockedFile> MemoryLogPlatform::OpenLocked(const std::string& path) {
  std::lock_guard lock(mutex_);
  if (failOpen) return std::nullopt;
  ++openHandles;
  handles_[nextHandle_] = path;
  return LockedFile{nextHandle_++, files[path].size(), true};
}

bool MemoryLogPlatform::StillNamed(const LockedFile& file, const std::string& path) {
  std::lock_guard lock(mutex_);
  return handles_.at(file.handle) == path && files.count(path) != 0;
}

bool MemoryLogPlatform::Append(const LockedFile& file, std::string_view bytes) {
  std::lock_guard lock(mutex_);
  if (failWrite) return false;
  files[handles_.at(file.handle)].append(bytes);
  return true;
}

void MemoryLogPlatform::Close(const LockedFile& file) {
  std::lock_guard lock(mutex_);
  handles_.erase(file.handle);
  --openHandles;
}

std::string MemoryLogPlatform::Content(const std::string& path) const {
  std::lock_guard lock(mutex_);
  auto it = files.find(path);
  return it == files.end() ? std::string() : it->second;
}

std::vector<std::string> MemoryLogPlatform::Texts(const std::string& path) const {
  std::vector<std::string> texts;
  const std::string content = Content(path);
  std::size_t start = 0;
  while (start < content.size()) {
    auto end = content.find("\r\n", start);
    if (end == std::string::npos) end = content.size();
    const std::string line = content.substr(start, end - start);
    texts.push_back(line.size() >= 13 ? line.substr(13) : line);
    start = end + 2;
  }
  return texts;
}

}  // namespace quorlan::testing

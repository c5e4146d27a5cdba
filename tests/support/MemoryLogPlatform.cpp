#include "support/MemoryLogPlatform.h"

namespace quorlan::testing {

std::optional<std::uint64_t> MemoryLogPlatform::FileSize(const std::string& path) {
  std::lock_guard lock(mutex_);
  auto it = files.find(path);
  if (it == files.end()) return std::nullopt;
  return it->second.size();
}

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

LogPlatform::FileHandle MemoryLogPlatform::OpenAppend(const std::string& path) {
  std::lock_guard lock(mutex_);
  if (failOpen || files.count(path) == 0) return kNoFile;
  ++openHandles;
  handles_[nextHandle_] = path;
  return nextHandle_++;
}

LogPlatform::FileHandle MemoryLogPlatform::OpenNew(const std::string& path) {
  std::lock_guard lock(mutex_);
  if (failOpen) return kNoFile;
  files[path].clear();
  ++openHandles;
  handles_[nextHandle_] = path;
  return nextHandle_++;
}

bool MemoryLogPlatform::Write(FileHandle file, std::string_view bytes) {
  std::lock_guard lock(mutex_);
  if (failWrite) return false;
  files[handles_.at(file)].append(bytes);
  return true;
}

void MemoryLogPlatform::Close(FileHandle file) {
  std::lock_guard lock(mutex_);
  handles_.erase(file);
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

// File and clock services of the logger on Windows. Paths are ANSI strings
// (the system code page), like every text of the driver.
#include <windows.h>

#include <vector>

#include "log/LogPlatform.h"

namespace quorlan {

namespace {

HANDLE AsHandle(LogPlatform::FileHandle file) {
  return reinterpret_cast<HANDLE>(file);
}

class Win32LogPlatform final : public LogPlatform {
 public:
  std::string ExecutablePath() override {
    // Paths may be longer than MAX_PATH; grow until the whole name fits.
    std::vector<char> path(MAX_PATH);
    for (;;) {
      const DWORD length =
          GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
      if (length == 0) return {};
      if (length < path.size()) return std::string(path.data(), length);
      path.resize(path.size() * 2);
    }
  }

  LocalTime Now() override {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    return {now.wHour, now.wMinute, now.wSecond, now.wMilliseconds};
  }

  std::optional<std::uint64_t> FileSize(const std::string& path) override {
    // A directory lookup, as for any attribute: the size of whatever entry
    // carries the name, without opening it.
    WIN32_FIND_DATAA entry{};
    const HANDLE search = FindFirstFileA(path.c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return std::nullopt;
    FindClose(search);
    return (static_cast<std::uint64_t>(entry.nFileSizeHigh) << 32) | entry.nFileSizeLow;
  }

  bool Exists(const std::string& path) override {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
  }
  void Delete(const std::string& path) override { DeleteFileA(path.c_str()); }
  void Rename(const std::string& from, const std::string& to) override {
    MoveFileA(from.c_str(), to.c_str());
  }

  FileHandle OpenAppend(const std::string& path) override {
    // Append access: every write lands at the end, also when another
    // process writes to the same log.
    return Open(path, FILE_APPEND_DATA, OPEN_EXISTING);
  }
  FileHandle OpenNew(const std::string& path) override {
    return Open(path, FILE_APPEND_DATA, CREATE_ALWAYS);
  }

  bool Write(FileHandle file, std::string_view bytes) override {
    while (!bytes.empty()) {
      DWORD written = 0;
      if (!WriteFile(AsHandle(file), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                     nullptr) ||
          written == 0) {
        return false;
      }
      bytes.remove_prefix(written);
    }
    return true;
  }

  void Close(FileHandle file) override { CloseHandle(AsHandle(file)); }

 private:
  static FileHandle Open(const std::string& path, DWORD access, DWORD disposition) {
    // Readers, writers and the rotation's rename may share the file.
    const HANDLE file =
        CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    return file == INVALID_HANDLE_VALUE ? kNoFile : reinterpret_cast<FileHandle>(file);
  }
};

}  // namespace

LogPlatform& SystemLogPlatform() {
  static Win32LogPlatform platform;
  return platform;
}

}  // namespace quorlan

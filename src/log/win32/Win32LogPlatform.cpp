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

  bool Exists(const std::string& path) override {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
  }
  void Delete(const std::string& path) override { DeleteFileA(path.c_str()); }
  void Rename(const std::string& from, const std::string& to) override {
    MoveFileA(from.c_str(), to.c_str());
  }

  std::optional<LockedFile> OpenLocked(const std::string& path) override {
    const HANDLE file = Open(path, GENERIC_WRITE, OPEN_ALWAYS);
    if (file == INVALID_HANDLE_VALUE) return std::nullopt;
    // Pipes, consoles and devices are no log files.
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileType(file) != FILE_TYPE_DISK) {
      CloseHandle(file);
      return std::nullopt;
    }
    OVERLAPPED at = LockedByte();
    if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at) ||
        !GetFileInformationByHandle(file, &info)) {
      CloseHandle(file);
      return std::nullopt;
    }
    const std::uint64_t size =
        (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    return LockedFile{reinterpret_cast<FileHandle>(file), size, info.nNumberOfLinks > 0};
  }

  bool StillNamed(const LockedFile& file, const std::string& path) override {
    const HANDLE named = Open(path, 0, OPEN_EXISTING);
    if (named == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION open{}, current{};
    const bool same = GetFileInformationByHandle(AsHandle(file.handle), &open) &&
                      GetFileInformationByHandle(named, &current) &&
                      open.dwVolumeSerialNumber == current.dwVolumeSerialNumber &&
                      open.nFileIndexHigh == current.nFileIndexHigh &&
                      open.nFileIndexLow == current.nFileIndexLow;
    CloseHandle(named);
    return same;
  }

  bool Append(const LockedFile& file, std::string_view bytes) override {
    // Under the lock the end stays where it was found.
    const HANDLE handle = AsHandle(file.handle);
    LARGE_INTEGER end{};
    end.QuadPart = static_cast<LONGLONG>(file.size);
    if (!SetFilePointerEx(handle, end, nullptr, FILE_BEGIN)) return false;
    for (std::string_view left = bytes; !left.empty();) {
      DWORD written = 0;
      if (!WriteFile(handle, left.data(), static_cast<DWORD>(left.size()), &written, nullptr) ||
          written == 0) {
        // A full disk cut the line: no torn line stays for the next one.
        if (SetFilePointerEx(handle, end, nullptr, FILE_BEGIN)) SetEndOfFile(handle);
        return false;
      }
      left.remove_prefix(written);
    }
    return true;
  }

  void Close(const LockedFile& file) override {
    OVERLAPPED at = LockedByte();
    UnlockFileEx(AsHandle(file.handle), 0, 1, 0, &at);
    CloseHandle(AsHandle(file.handle));
  }

 private:
  // The lock covers one byte far beyond any log's end, so it stops other
  // loggers and never a reader of the text.
  static OVERLAPPED LockedByte() {
    OVERLAPPED at{};
    at.Offset = 0xFFFFFFFF;
    at.OffsetHigh = 0x7FFFFFFF;
    return at;
  }

  static HANDLE Open(const std::string& path, DWORD access, DWORD disposition) {
    // Readers, writers and the rotation's rename may share the file.
    return CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  }
};

}  // namespace

LogPlatform& SystemLogPlatform() {
  static Win32LogPlatform platform;
  return platform;
}

}  // namespace quorlan

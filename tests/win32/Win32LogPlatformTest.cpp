// The logger's Win32 services on real files: the locked open that appends
// and never empties, rename without replacing, and a whole rotation.
#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <sstream>

#include "log/Logger.h"

namespace quorlan::hosttest {
namespace {

class Win32LogPlatform : public ::testing::Test {
 protected:
  void SetUp() override {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    folder = std::string(temp) + "quorlan-log-" + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(folder.c_str(), nullptr);
    name = folder + "\\host.log";
  }
  void TearDown() override {
    WIN32_FIND_DATAA entry;
    const HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
      do {
        DeleteFileA((folder + "\\" + entry.cFileName).c_str());
      } while (FindNextFileA(search, &entry));
      FindClose(search);
    }
    RemoveDirectoryA(folder.c_str());
  }
  static std::string Content(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream content;
    content << file.rdbuf();
    return content.str();
  }

  LogPlatform& platform = SystemLogPlatform();
  std::string folder, name;
};

TEST_F(Win32LogPlatform, TheLockedOpenCreatesAppendsAndNeverEmpties) {
  auto file = platform.OpenLocked(name);
  ASSERT_TRUE(file.has_value());
  EXPECT_EQ(file->size, 0u);
  EXPECT_TRUE(platform.Append(*file, "abc"));
  platform.Close(*file);

  file = platform.OpenLocked(name);
  ASSERT_TRUE(file.has_value());
  EXPECT_EQ(file->size, 3u);
  EXPECT_TRUE(platform.StillNamed(*file, name));
  EXPECT_TRUE(platform.Append(*file, "def"));
  platform.Close(*file);
  EXPECT_EQ(Content(name), "abcdef");
}

TEST_F(Win32LogPlatform, RenameNeverReplacesAndDeleteRemoves) {
  for (const std::string path : {"a", "b"}) {
    const auto file = platform.OpenLocked(folder + "\\" + path);
    ASSERT_TRUE(file.has_value());
    platform.Append(*file, path);
    platform.Close(*file);
  }
  platform.Rename(folder + "\\a", folder + "\\b");
  EXPECT_EQ(Content(folder + "\\b"), "b");
  EXPECT_TRUE(platform.Exists(folder + "\\a"));
  platform.Delete(folder + "\\a");
  EXPECT_FALSE(platform.Exists(folder + "\\a"));
  platform.Rename(folder + "\\b", folder + "\\c");
  EXPECT_EQ(Content(folder + "\\c"), "b");
}

TEST_F(Win32LogPlatform, LoggerRotatesRealFilesAboveItsLimit) {
  Logger logger(platform, 20);
  logger.SetFileName(name);
  logger.Log(kTraceLevel, "first line");   // empty line + 25 bytes
  logger.Log(kTraceLevel, "second line");  // the file is above 20: rotated first
  EXPECT_TRUE(platform.Exists(name + ".0"));
  EXPECT_NE(Content(name + ".0").find("first line\r\n"), std::string::npos);
  const auto current = Content(name);
  EXPECT_EQ(current.size(), 12u + 1 + 11 + 2);
  EXPECT_EQ(current.substr(13), "second line\r\n");
}

TEST_F(Win32LogPlatform, ExecutablePathIsTheHostProgram) {
  const auto path = platform.ExecutablePath();
  EXPECT_EQ(Logger::LogNameFor(path).substr(path.size() - 4), ".log");
  EXPECT_NE(path.find("host_tests.exe"), std::string::npos);
  const auto now = platform.Now();
  EXPECT_LT(now.hour, 24);
  EXPECT_LT(now.millisecond, 1000);
}

}  // namespace
}  // namespace quorlan::hosttest

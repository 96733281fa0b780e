#include "platform/durable_file.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <utility>
#include <vector>

#include "platform/file_sync.h"
#include "tests/support/temp_dir.h"

TEST(DurableFile, TheTemporaryIsFlushedBeforeItReplacesTheFile) {
  TempDir dir;
  const std::string file = dir / "user.hive";
  WriteFile(file, "old");
  std::vector<std::pair<std::string, std::string>> seen;  // the file and the temporary at each flush
  {
    ScopedSyncHook hook([&](int fd) {
      seen.emplace_back(ReadFile(file), ReadFile(file + ".tmp"));
      return RealSyncFile(fd);
    });
    ASSERT_EQ(ReplaceFileDurably(file, "new", 0600), 0);
  }
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.front(), std::make_pair(std::string("old"), std::string("new")));
  EXPECT_EQ(ReadFile(file), "new");

  // A flush that fails leaves the file as it was and no temporary behind.
  {
    ScopedSyncHook hook([](int) { return EIO; });
    EXPECT_EQ(ReplaceFileDurably(file, "newer", 0600), EIO);
  }
  EXPECT_EQ(ReadFile(file), "new");
  EXPECT_FALSE(std::filesystem::exists(file + ".tmp"));
}

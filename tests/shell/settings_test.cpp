#include "shell/settings.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <filesystem>

#include "platform/executable.h"
#include "platform/registry/registry.h"
#include "process/command_line.h"
#include "process/executor.h"
#include "tests/support/temp_dir.h"

namespace {

class Settings : public ::testing::Test {
 protected:
  HKEY Subkey(const char* name) {
    key_.Create(HKEY_CURRENT_USER, std::string(kSettingsKey) + name);
    return key_.get();
  }
  TempDir dir;
  ScopedEnv registry{"VANTOR_REGISTRY_DIR", dir.path().c_str()};
  CRegKey key_;
};

}  // namespace

TEST_F(Settings, AFreshUserHasTheDefaults) {
  EXPECT_EQ(ReadSetting(kBatchFileSetting), "flash_all.sh");
  EXPECT_EQ(ReadSetting(kSearchPathSetting), "");
  MruList list;
  EXPECT_FALSE(LoadMru(&list, "RawFile"));
  EXPECT_EQ(list.size(), 0u);
}

TEST_F(Settings, TheValueIsTheNewestEntryAndTheListNeedsItsCount) {
  HKEY key = Subkey("Programmer");
  RegSetString(key, "Document1", "custom.hex");
  RegSetDword(key, "Document2", 5);  // the wrong type: skipped
  EXPECT_EQ(ReadSetting(kProgrammerSetting), "custom.hex");
  MruList list;
  EXPECT_FALSE(LoadMru(&list, "Programmer"));  // no DocumentCount: the drop-down stays empty
  RegSetDword(key, "DocumentCount", 10);
  RegSetString(key, "Document3", "older.hex");
  ASSERT_TRUE(LoadMru(&list, "Programmer"));
  EXPECT_EQ(list.capacity(), 10u);
  EXPECT_EQ(list.NewestFirst(), (std::vector<std::string>{"custom.hex", "older.hex"}));
  RegSetDword(Subkey("BootImage"), "Document1", 7);
  EXPECT_EQ(ReadSetting(kBootImageSetting), "8660_msimage.mbn");
}

TEST_F(Settings, AddingKeepsOneSpellingAndTheCapacity) {
  MruList list;
  for (const char* text : {"a", "b", "C:/Pkg", "d", "e", "f"}) EXPECT_TRUE(AddToMru(&list, text));
  EXPECT_TRUE(AddToMru(&list, "c:/pkg"));
  EXPECT_EQ(list.NewestFirst(), (std::vector<std::string>{"c:/pkg", "f", "e", "d", "b", "a"}));
  EXPECT_TRUE(AddToMru(&list, "g"));  // a seventh distinct entry drops the oldest
  EXPECT_EQ(list.NewestFirst().back(), "b");
  EXPECT_FALSE(AddToMru(&list, ""));
  EXPECT_FALSE(AddToMru(&list, std::string(256, 'x')));
  EXPECT_TRUE(AddToMru(&list, std::string(255, 'x')));
}

TEST_F(Settings, EntriesThatDifferOnlyInTheCaseOfAnyScriptAreOneEntry) {
  MruList list;
  EXPECT_TRUE(AddToMru(&list, "/x/\xD0\x9F\xD0\xB0\xD0\xBA\xD0\xB5\xD1\x82"));  // /x/Пакет
  EXPECT_TRUE(AddToMru(&list, "/y"));
  EXPECT_TRUE(AddToMru(&list, "/x/\xD0\xBF\xD0\xB0\xD0\xBA\xD0\xB5\xD1\x82"));  // /x/пакет
  EXPECT_EQ(list.NewestFirst(), (std::vector<std::string>{"/x/\xD0\xBF\xD0\xB0\xD0\xBA\xD0\xB5\xD1\x82", "/y"}));
}

TEST_F(Settings, SavingDeletesTheEntriesPastTheListUpToNineteen) {
  HKEY key = Subkey("SearchPath");
  for (int k = 1; k <= 21; ++k) RegSetString(key, "Document" + std::to_string(k), "old" + std::to_string(k));
  MruList list;
  for (const char* text : {"/p1", "/p2", "/p3"}) AddToMru(&list, text);
  ASSERT_TRUE(SaveMru(list, "SearchPath"));
  EXPECT_EQ(ReadSetting(kSearchPathSetting), "/p3");
  MruList back;
  ASSERT_TRUE(LoadMru(&back, "SearchPath"));
  EXPECT_EQ(back.NewestFirst(), (std::vector<std::string>{"/p3", "/p2", "/p1"}));
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueEx(key, "Document4", nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegQueryValueEx(key, "Document19", nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegQueryValueEx(key, "Document20", nullptr, nullptr, &size), ERROR_SUCCESS);
}

TEST_F(Settings, TheMarkerFollowsThisVeryExecutable) {
  EXPECT_FALSE(IsInstalled());
  EXPECT_EQ(MarkInstalled(), ERROR_SUCCESS);
  EXPECT_TRUE(IsInstalled());
  // A newer build at the same path is not installed.
  std::string exe = ExecutablePath();
  struct stat st{};
  ASSERT_EQ(::stat(exe.c_str(), &st), 0);
  timespec times[2] = {st.st_atim, st.st_mtim};
  times[1].tv_sec += 60;
  ASSERT_EQ(::utimensat(AT_FDCWD, exe.c_str(), times, 0), 0);
  EXPECT_FALSE(IsInstalled());
  times[1] = st.st_mtim;
  ::utimensat(AT_FDCWD, exe.c_str(), times, 0);
  EXPECT_TRUE(IsInstalled());
  unsigned char stamp[8];
  ASSERT_TRUE(ExecutableStamp(exe, stamp));
  unsigned long long t = 0;
  for (int i = 7; i >= 0; --i) t = t << 8 | stamp[i];
  EXPECT_EQ((t - 116444736000000000ull) / 10000000ull, static_cast<unsigned long long>(st.st_mtim.tv_sec));
}

// The child side of the next test: runs only in the copy under "Пакет".
TEST(MarkerChild, TheRecordedPathMatchesInAnotherCase) {
  if (!std::getenv("VANTOR_MARKER_CHILD")) GTEST_SKIP() << "runs in the child process only";
  ASSERT_EQ(MarkInstalled(), ERROR_SUCCESS);
  std::string exe = ExecutablePath();
  const std::string upper = "\xD0\x9F\xD0\x90\xD0\x9A\xD0\x95\xD0\xA2";  // ПАКЕТ
  size_t at = exe.find("\xD0\x9F\xD0\xB0\xD0\xBA\xD0\xB5\xD1\x82");  // Пакет
  ASSERT_NE(at, std::string::npos) << exe;
  CRegKey key;
  ASSERT_EQ(key.Open(HKEY_LOCAL_MACHINE, kSettingsKey), ERROR_SUCCESS);
  ASSERT_EQ(RegSetString(key.get(), "ExeFile", exe.replace(at, 10, upper)), ERROR_SUCCESS);
  EXPECT_TRUE(IsInstalled());
}

TEST_F(Settings, TheMarkerMatchesAnExecutablePathInAnyCase) {
  std::string copy = dir / "\xD0\x9F\xD0\xB0\xD0\xBA\xD0\xB5\xD1\x82/shell_tests";
  std::filesystem::create_directories(dir / "\xD0\x9F\xD0\xB0\xD0\xBA\xD0\xB5\xD1\x82");
  std::filesystem::copy_file("/proc/self/exe", copy);
  ScopedEnv child("VANTOR_MARKER_CHILD", "1");
  std::string output;
  HRESULT status = ExecuteCommand(QuoteArgument(copy) + " --gtest_filter=MarkerChild.*", &output);
  EXPECT_EQ(status, 0) << output;
  EXPECT_NE(output.find("[  PASSED  ] 1 test"), std::string::npos) << output;
}

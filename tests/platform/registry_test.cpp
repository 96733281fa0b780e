#include "platform/registry/registry.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <random>

#include "platform/registry/hive_file.h"
#include "platform/registry/regedit_format.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr const char* kVantorKey = "Software\\Orlesk\\Vantor";

class Registry : public ::testing::Test {
 protected:
  TempDir dir;
  ScopedEnv env{"VANTOR_REGISTRY_DIR", dir.path().c_str()};
};

std::string QueryString(HKEY key, const char* name, LSTATUS* rc = nullptr) {
  char buffer[8192];
  DWORD type = 0, size = sizeof buffer;
  LSTATUS status = RegQueryValueEx(key, name, &type, reinterpret_cast<BYTE*>(buffer), &size);
  if (rc) *rc = status;
  if (status != ERROR_SUCCESS || type != REG_SZ || size == 0) return "";
  return std::string(buffer, size - 1);
}

}  // namespace

TEST_F(Registry, ValuesKeepTheirTypesAndSizeRulesHold) {
  CRegKey key;
  ASSERT_EQ(key.Create(HKEY_CURRENT_USER, kVantorKey), ERROR_SUCCESS);
  ASSERT_EQ(RegSetString(key.get(), "SearchPath", "D:\\pkg;E:\\\"x\""), ERROR_SUCCESS);
  ASSERT_EQ(RegSetString(key.get(), "Expand", "%HOME%/x", REG_EXPAND_SZ), ERROR_SUCCESS);
  ASSERT_EQ(RegSetDword(key.get(), "NoQPST", 0xA0B0C0D0u), ERROR_SUCCESS);
  const BYTE blob[] = {0, 1, 2, 0xFF};
  ASSERT_EQ(RegSetValueEx(key.get(), "Installed", REG_BINARY, blob, 4), ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueEx(key.get(), "Short", REG_DWORD, blob, 3), ERROR_INVALID_PARAMETER);

  EXPECT_EQ(QueryString(key.get(), "searchpath"), "D:\\pkg;E:\\\"x\"");  // names ignore case

  DWORD type = 0, value = 0, size = sizeof value;
  ASSERT_EQ(RegQueryValueEx(key.get(), "NoQPST", &type, reinterpret_cast<BYTE*>(&value), &size), ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(value, 0xA0B0C0D0u);

  BYTE small[2];
  size = sizeof small;
  EXPECT_EQ(RegQueryValueEx(key.get(), "Installed", &type, small, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(RegQueryValueEx(key.get(), "Expand", &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_EXPAND_SZ));
  EXPECT_EQ(size, 9u);
  BYTE back[4];
  size = sizeof back;
  ASSERT_EQ(RegQueryValueEx(key.get(), "Installed", &type, back, &size), ERROR_SUCCESS);
  EXPECT_EQ(std::memcmp(back, blob, 4), 0);
}

TEST_F(Registry, MissingKeysAndValuesAreFileNotFound) {
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "Software\\Nobody", &key), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(key, nullptr);
  CRegKey vantor;
  ASSERT_EQ(vantor.Create(HKEY_CURRENT_USER, kVantorKey), ERROR_SUCCESS);
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueEx(vantor.get(), "Absent", nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteValue(vantor.get(), "Absent"), ERROR_FILE_NOT_FOUND);
  // The hives are separate: the machine hive does not hold the user's key.
  EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, kVantorKey, &key), ERROR_FILE_NOT_FOUND);
}

TEST_F(Registry, DeleteTreeRemovesEverythingBelowAndHandlesNoticeIt) {
  CRegKey root, child;
  ASSERT_EQ(root.Create(HKEY_CLASSES_ROOT, "AppID\\{X}"), ERROR_SUCCESS);
  ASSERT_EQ(child.Create(root.get(), "Sub\\Deeper"), ERROR_SUCCESS);
  ASSERT_EQ(RegSetString(child.get(), "", "default"), ERROR_SUCCESS);
  ASSERT_EQ(RegSetString(root.get(), "Name", "x"), ERROR_SUCCESS);
  CRegKey sibling;
  ASSERT_EQ(sibling.Create(HKEY_CLASSES_ROOT, "AppID\\{X}Other"), ERROR_SUCCESS);

  std::string name;
  ASSERT_EQ(RegEnumKey(root.get(), 0, &name), ERROR_SUCCESS);
  EXPECT_EQ(name, "Sub");
  EXPECT_EQ(RegEnumKey(root.get(), 1, &name), ERROR_NO_MORE_ITEMS);

  // An empty subkey name clears the key but keeps it.
  ASSERT_EQ(RegDeleteTree(root.get(), ""), ERROR_SUCCESS);
  LSTATUS rc;
  QueryString(root.get(), "Name", &rc);
  EXPECT_EQ(rc, ERROR_FILE_NOT_FOUND);
  QueryString(child.get(), "", &rc);
  EXPECT_EQ(rc, ERROR_KEY_DELETED);

  ASSERT_EQ(RegDeleteTree(HKEY_CLASSES_ROOT, "AppID\\{X}"), ERROR_SUCCESS);
  HKEY gone = nullptr;
  EXPECT_EQ(RegOpenKeyEx(HKEY_CLASSES_ROOT, "AppID\\{X}", &gone), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegSetString(root.get(), "Name", "y"), ERROR_KEY_DELETED);
  HKEY kept = nullptr;
  EXPECT_EQ(RegOpenKeyEx(HKEY_CLASSES_ROOT, "appid\\{x}other", &kept), ERROR_SUCCESS);  // a name prefix is not a parent
  RegCloseKey(kept);
  EXPECT_EQ(RegDeleteTree(HKEY_CLASSES_ROOT, "AppID\\{X}"), ERROR_FILE_NOT_FOUND);
}

TEST_F(Registry, KeyAndValueNamesMatchInAnyCaseOfAnyScript) {
  CRegKey key;
  // "Пакет\\Kıt": the dotless i's upper case is one byte shorter than itself.
  ASSERT_EQ(key.Create(HKEY_CURRENT_USER, "Software\\\xD0\x9F\xD0\xB0\xD0\xBA\xD0\xB5\xD1\x82\\K\xC4\xB1t"),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetString(key.get(), "\xC3\x89t\xC3\xA9", "summer"), ERROR_SUCCESS);  // Été
  CRegKey same;
  ASSERT_EQ(same.Open(HKEY_CURRENT_USER, "SOFTWARE\\\xD0\xBF\xD0\xB0\xD0\xBA\xD0\xB5\xD1\x82\\KIT"), ERROR_SUCCESS);
  EXPECT_EQ(QueryString(same.get(), "\xC3\xA9T\xC3\x89"), "summer");
  // Subkeys are listed as they were spelled when created.
  CRegKey parent;
  ASSERT_EQ(parent.Open(HKEY_CURRENT_USER, "software\\\xD0\x9F\xD0\x90\xD0\x9A\xD0\x95\xD0\xA2"), ERROR_SUCCESS);
  std::string name;
  ASSERT_EQ(RegEnumKey(parent.get(), 0, &name), ERROR_SUCCESS);
  EXPECT_EQ(name, "K\xC4\xB1t");
  EXPECT_EQ(RegEnumKey(parent.get(), 1, &name), ERROR_NO_MORE_ITEMS);
}

TEST_F(Registry, EveryValueSurvivesTheFileUnchanged) {
  Hive hive;
  std::vector<RegValue> values = {
      {"Plain", REG_SZ, {'a', '\\', '"', 'b', 0}},
      {"Lines", REG_SZ, {'a', '\r', '\n', 'b', 0}},
      {"NoTerminator", REG_SZ, {'a', 'b'}},
      {"Utf8", REG_SZ, {0xE5, 0x88, 0xB7, 0}},
      {"Bad", REG_SZ, {0xFF, 0}},
      {"", REG_DWORD, {1, 2, 3, 4}},
      {"Big", REG_BINARY, std::vector<BYTE>(300, 0xAB)},
      {"Empty", REG_BINARY, {}},
      {"Odd", 7, {0, 0}},
      {"q\"uo\\te", REG_EXPAND_SZ, {'%', 0}},
  };
  for (const RegValue& v : values) hive.SetValue("Key\\Sub", v);
  hive.CreateKey("Empty Key");
  std::string text = SerializeHive(hive, "HKEY_CURRENT_USER");
  EXPECT_EQ(text.rfind("REGEDIT4\r\n", 0), 0u);
  EXPECT_NE(text.find("\"Plain\"=\"a\\\\\\\"b\""), std::string::npos);

  Hive back;
  ASSERT_TRUE(ParseHive(text, "HKEY_CURRENT_USER", &back));
  EXPECT_TRUE(back.HasKey("Empty Key"));
  for (const RegValue& v : values) {
    const RegValue* got = back.FindValue("key\\sub", v.name);
    ASSERT_NE(got, nullptr) << v.name;
    EXPECT_EQ(got->type, v.type) << v.name;
    EXPECT_EQ(got->data, v.data) << v.name;
  }
  EXPECT_FALSE(ParseHive("REGEDIT4\r\n\"orphan\"=\"x\"\r\n", "HKEY_CURRENT_USER", &back));
  EXPECT_FALSE(ParseHive("REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\X]\r\n", "HKEY_CURRENT_USER", &back));
  EXPECT_FALSE(ParseHive("REGEDIT4\r\n[HKEY_CURRENT_USER\\X]\r\n\"v\"=dword:123\r\n", "HKEY_CURRENT_USER", &back));
  EXPECT_FALSE(ParseHive("not a hive", "HKEY_CURRENT_USER", &back));
}

TEST_F(Registry, AMalformedHiveIsNeitherReadNorOverwritten) {
  std::string path = RegistryHivePath(HKEY_CURRENT_USER);
  WriteFile(path, "REGEDIT4\r\n[HKEY_CURRENT_USER\\X]\r\ngarbage\r\n");
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "X", &key), ERROR_BAD_FORMAT);
  EXPECT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, "Y", &key), ERROR_BAD_FORMAT);
  EXPECT_EQ(ReadFile(path), "REGEDIT4\r\n[HKEY_CURRENT_USER\\X]\r\ngarbage\r\n");
}

TEST_F(Registry, TwoProcessesWritingAtOnceLoseNothing) {
  constexpr int kPerWriter = 40;
  pid_t children[2];
  for (int w = 0; w < 2; ++w) {
    children[w] = ::fork();
    ASSERT_GE(children[w], 0);
    if (children[w] == 0) {
      CRegKey key;
      if (key.Create(HKEY_CURRENT_USER, kVantorKey) != ERROR_SUCCESS) _exit(2);
      for (int i = 0; i < kPerWriter; ++i) {
        std::string name = "w" + std::to_string(w) + "_" + std::to_string(i);
        if (RegSetString(key.get(), name, name) != ERROR_SUCCESS) _exit(3);
      }
      _exit(0);
    }
  }
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  CRegKey key;
  ASSERT_EQ(key.Open(HKEY_CURRENT_USER, kVantorKey), ERROR_SUCCESS);
  for (int w = 0; w < 2; ++w) {
    for (int i = 0; i < kPerWriter; ++i) {
      std::string name = "w" + std::to_string(w) + "_" + std::to_string(i);
      EXPECT_EQ(QueryString(key.get(), name.c_str()), name);
    }
  }
}

TEST_F(Registry, AWriterKilledWhileSavingLeavesAWholeHive) {
  {
    CRegKey key;
    ASSERT_EQ(key.Create(HKEY_CURRENT_USER, kVantorKey), ERROR_SUCCESS);
    ASSERT_EQ(RegSetString(key.get(), "Keep", "me"), ERROR_SUCCESS);
  }
  // Each round kills a writer at a random moment of its saves; the hive
  // must always read back whole, the old value and every new one intact.
  std::mt19937 random(12345);
  for (int round = 0; round < 1000; ++round) {
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      CRegKey key;
      key.Open(HKEY_CURRENT_USER, kVantorKey);
      std::string big(4000, 'x');
      for (int i = 0;; ++i) RegSetString(key.get(), "v" + std::to_string(i % 50), big);
    }
    ::usleep(200 + random() % 3000);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    CRegKey key;
    ASSERT_EQ(key.Open(HKEY_CURRENT_USER, kVantorKey), ERROR_SUCCESS) << "round " << round;
    ASSERT_EQ(QueryString(key.get(), "Keep"), "me") << "round " << round;
    std::string value = QueryString(key.get(), ("v" + std::to_string(round % 50)).c_str());
    ASSERT_TRUE(value.empty() || value == std::string(4000, 'x')) << "round " << round;
  }
}

TEST_F(Registry, ShellBooleanReaderAcceptsItsForms) {
  CRegKey user, machine;
  ASSERT_EQ(user.Create(HKEY_CURRENT_USER, kVantorKey), ERROR_SUCCESS);
  ASSERT_EQ(machine.Create(HKEY_LOCAL_MACHINE, kVantorKey), ERROR_SUCCESS);
  struct Case {
    const char* text;
    bool expected;
  } cases[] = {{"YES", true}, {"true", true}, {"1", true}, {"No", false}, {"FALSE", false}, {"0", false}};
  for (const Case& c : cases) {
    RegSetString(user.get(), "Flag", c.text);
    EXPECT_EQ(SHRegGetBoolUSValue(kVantorKey, "Flag", false, !c.expected), c.expected) << c.text;
  }
  RegSetString(user.get(), "Flag", "maybe");  // not a boolean: the machine value decides
  RegSetDword(machine.get(), "Flag", 2);
  EXPECT_TRUE(SHRegGetBoolUSValue(kVantorKey, "Flag", false, false));
  RegSetDword(user.get(), "Flag", 0);
  EXPECT_FALSE(SHRegGetBoolUSValue(kVantorKey, "Flag", false, true));
  EXPECT_TRUE(SHRegGetBoolUSValue(kVantorKey, "Flag", true, false));  // user hive ignored
  EXPECT_TRUE(SHRegGetBoolUSValue(kVantorKey, "Missing", false, true));
  EXPECT_FALSE(SHRegGetBoolUSValue(kVantorKey, "Missing", false, false));
}

// The user's hive may hold the records server's connection string with its
// password: no other user reads it. The machine's hives stay readable.
TEST_F(Registry, TheUsersHiveIsWrittenForTheUserAloneAndItsHomeNeverFallsBackToTmp) {
  for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
    CRegKey key;
    ASSERT_EQ(key.Create(root, kVantorKey), ERROR_SUCCESS);
    ASSERT_EQ(RegSetString(key.get(), "RecordsServer", "host=db password=secret"), ERROR_SUCCESS);
  }
  struct stat user {}, machine {};
  ASSERT_EQ(::stat(RegistryHivePath(HKEY_CURRENT_USER).c_str(), &user), 0);
  ASSERT_EQ(::stat(RegistryHivePath(HKEY_LOCAL_MACHINE).c_str(), &machine), 0);
  EXPECT_EQ(user.st_mode & 0777, 0600u);
  EXPECT_EQ(machine.st_mode & 0777, 0644u);

  // Started without HOME (a service, a cron job): the password database names the home.
  ScopedEnv noDir("VANTOR_REGISTRY_DIR", nullptr);
  ScopedEnv noConfig("XDG_CONFIG_HOME", nullptr);
  ScopedEnv noHome("HOME", nullptr);
  passwd* pw = ::getpwuid(::geteuid());
  ASSERT_NE(pw, nullptr);
  EXPECT_EQ(RegistryHivePath(HKEY_CURRENT_USER), std::string(pw->pw_dir) + "/.config/vantor/HKEY_CURRENT_USER.reg");
}

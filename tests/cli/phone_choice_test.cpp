// Which phones a run takes from what -d names.
#include "cli/phone_choice.h"

#include <gtest/gtest.h>

#include "jobs/discovery.h"

namespace {

const std::vector<AttachedPhone> kBench = {
    {"/dev/pts/4", 1, kDeviceEmergencyDownload},
    {"VB1002", 2, kDeviceFastboot},
    {"/tmp/bench/disk-3.img", 3, kDeviceUsbDisk},
    {"/dev/pts/7", 4, kDeviceDiagnostic},
    {"12", 12, kDeviceDiagnostic},  // an identifier that looks like an index
};

std::vector<std::string> Ids(const std::vector<AttachedPhone>& phones) {
  std::vector<std::string> ids;
  for (const AttachedPhone& p : phones) ids.push_back(p.id);
  return ids;
}

std::vector<std::string> Choose(bool backup, std::vector<std::string> named, std::string* unmatched = nullptr) {
  std::vector<AttachedPhone> chosen;
  std::string word;
  bool ok = ChoosePhones(backup, named, kBench, &chosen, &word);
  if (unmatched) *unmatched = ok ? "" : word;
  return ok ? Ids(chosen) : std::vector<std::string>{"<unmatched>"};
}

}  // namespace

TEST(PhoneChoice, WithoutDFlashTakesEveryPhoneAndBackupOnlyTheRunningOnes) {
  EXPECT_EQ(Choose(false, {}), Ids(kBench));
  EXPECT_EQ(Choose(true, {}), (std::vector<std::string>{"/dev/pts/7", "12"}));
  std::vector<AttachedPhone> chosen;
  std::string word;
  EXPECT_TRUE(ChoosePhones(false, {}, {}, &chosen, &word));
  EXPECT_TRUE(chosen.empty());
}

TEST(PhoneChoice, DNamesAPhoneByIdentifierOrIndexAndEachPhoneOnce) {
  EXPECT_EQ(Choose(false, {"3", "VB1002"}), (std::vector<std::string>{"/tmp/bench/disk-3.img", "VB1002"}));
  EXPECT_EQ(Choose(false, {"VB1002", "VB1002", "2", "002"}), (std::vector<std::string>{"VB1002"}));
  EXPECT_EQ(Choose(false, {"12"}), (std::vector<std::string>{"12"}));  // the identifier before the index
  // Backup takes any phone -d names; the job then refuses one not running.
  EXPECT_EQ(Choose(true, {"1", "4"}), (std::vector<std::string>{"/dev/pts/4", "/dev/pts/7"}));
}

TEST(PhoneChoice, AWordThatNamesNoPhoneIsReported) {
  std::string unmatched;
  for (const char* word : {"5", "VB9999", "", "-1", "3x", "99999999999999999999", "/dev/pts"}) {
    EXPECT_EQ(Choose(false, {"1", word}, &unmatched), std::vector<std::string>{"<unmatched>"}) << word;
    EXPECT_EQ(unmatched, word);
  }
}

// Backup and restore of NV items against an in-memory phone: what reaches
// the phone, the status texts, and a clear code for every way it can fail.
#include <gtest/gtest.h>

#include <filesystem>

#include "nv/nv_service.h"
#include "nv/phone_identity.h"
#include "nv/qcn_file.h"
#include "platform/registry/registry.h"
#include "platform/timing.h"
#include "shell/settings.h"
#include "tests/support/fake_diag_phone.h"
#include "tests/support/log_capture.h"
#include "tests/support/status_list.h"

namespace {

NvData Value(unsigned seed, int element = -1) {
  NvData d{};
  for (size_t i = 0; i < d.size(); ++i) d[i] = static_cast<unsigned char>(seed + i * 3);
  if (element >= 0) d[0] = static_cast<unsigned char>(element);
  return d;
}

// A phone with plain items, a six-element array item, a read-only ESN item,
// an item behind the code, the IMEI, and subscription copies.
void Fill(FakeDiagPhone* phone, unsigned seed) {
  for (std::uint16_t id : {0, 10, 85, 550, 1000, 4095, 8191}) phone->items[{id, 0}] = Value(seed + id);
  for (int e = 0; e < 6; ++e) phone->items[{465, static_cast<std::uint16_t>(e)}] = Value(seed + 465 + e, e);
  phone->arrays = {465};
  phone->readOnly = {0};
  phone->locked = {85};
  phone->contextItems[{10, 1}] = Value(seed + 77);
  phone->contextItems[{550, 2}] = Value(seed + 78);
}

// Item 550 as a phone holds an IMEI: length 8, digit 1 behind the type
// nibble A, then the other digits in pairs, low nibble first.
NvData ImeiItem(const std::string& digits) {
  NvData d{};
  d[0] = 8;
  d[1] = static_cast<unsigned char>((digits[0] - '0') << 4 | 0x0A);
  for (size_t b = 2; b <= 8; ++b)
    d[b] = static_cast<unsigned char>((digits[2 * b - 3] - '0') | (digits[2 * b - 2] - '0') << 4);
  return d;
}

NvData MeidItem(std::uint64_t meid) {
  NvData d{};
  for (size_t i = 0; i < 7; ++i) d[i] = static_cast<unsigned char>(meid >> (8 * i));
  return d;
}

class NvService : public ::testing::Test {
 protected:
  ScopedTimeScale fast{0.01};
  TempDir dir;
  LogCapture log;
  StatusList texts;
};

}  // namespace

TEST_F(NvService, ABackupRestoredIntoAnotherPhoneGivesItTheSameItems) {
  FakeDiagPhone first, second;
  Fill(&first, 1);
  Fill(&second, 100);
  second.items[{4000, 0}] = Value(9);  // an item the first phone does not have stays
  ASSERT_EQ(BackupNvItems(first, dir / "a.qcn", "482615", NvBackupOptions{}, &texts), S_OK);
  EXPECT_EQ(texts.texts, (std::vector<std::string>{"Read NV items 2048/8192", "Read NV items 4096/8192",
                                                   "Read NV items 6144/8192", "Read NV items 8192/8192"}));
  EXPECT_EQ(first.Count("27"), 0);  // a backup writes nothing
  EXPECT_EQ(first.Count("29"), 0);  // and does not go offline
  EXPECT_EQ(first.Count("41"), 1);

  texts.texts.clear();
  ASSERT_EQ(RestoreNvItems(second, dir / "a.qcn", "482615", false, &texts), S_OK);
  std::map<FakeDiagPhone::Key, NvData> expected = first.items;
  expected[{0, 0}] = second.items[{0, 0}];  // read-only: skipped, and said so
  expected[{550, 0}] = second.items[{550, 0}];  // an identity item: only where the phone holds the same
  expected[{4000, 0}] = Value(9);
  EXPECT_EQ(second.items, expected);
  std::map<FakeDiagPhone::Key, NvData> expectedContexts = first.contextItems;
  expectedContexts[{550, 2}] = second.contextItems[{550, 2}];
  EXPECT_EQ(second.contextItems, expectedContexts);
  EXPECT_EQ(log.Count("NV item 0 is read-only; skipped."), 1);
  EXPECT_LE(texts.texts.size(), 8u);
  EXPECT_EQ(texts.texts.front(), "Restore 15 NV items");
  EXPECT_EQ(texts.texts.back(), "Reset phone");
  EXPECT_EQ(second.mode, kModeReset);
  // Offline before the first write, reset after the last.
  auto at = [&](const std::string& r) { return std::find(second.requests.begin(), second.requests.end(), r) - second.requests.begin(); };
  EXPECT_LT(at("29"), at("27 0/0"));
  EXPECT_EQ(second.requests.back(), "29");
}

TEST_F(NvService, EveryFaultOfABackupHasItsCodeAndLeavesNoFile) {
  struct Case {
    const char* what;
    void (*set)(FakeDiagPhone*);
    HRESULT expected;
  } cases[] = {
      {"silent from the start", [](FakeDiagPhone* p) { p->silentAfter = 0; }, HRESULT_FROM_WIN32(ERROR_TIMEOUT)},
      {"silent midway", [](FakeDiagPhone* p) { p->silentAfter = 500; }, HRESULT_FROM_WIN32(ERROR_TIMEOUT)},
      {"garbled answers", [](FakeDiagPhone* p) { p->corruptFrom = 40; }, HRESULT_FROM_WIN32(ERROR_CRC)},
      {"code refused", [](FakeDiagPhone* p) { p->refuseSpc = true; }, HRESULT_FROM_WIN32(ERROR_INVALID_PASSWORD)},
      {"busy for good", [](FakeDiagPhone* p) { p->busyRequests = 1000; }, HRESULT_FROM_WIN32(ERROR_BUSY)},
  };
  for (const Case& c : cases) {
    FakeDiagPhone phone;
    Fill(&phone, 1);
    c.set(&phone);
    EXPECT_EQ(BackupNvItems(phone, dir / "f.qcn", "482615", NvBackupOptions{}, nullptr), c.expected) << c.what;
    EXPECT_FALSE(std::filesystem::exists(dir / "f.qcn")) << c.what;
    EXPECT_FALSE(std::filesystem::exists(dir / "f.qcn.tmp")) << c.what;
  }
  // Busy for a while only, a leading flag on every answer, and a phone
  // without subscription copies: all fine.
  FakeDiagPhone phone;
  Fill(&phone, 1);
  phone.busyRequests = 5;
  phone.leadingFlag = true;
  phone.knowsContexts = false;
  NvBackupOptions shortWalk;
  shortWalk.walkBound = 600;
  ASSERT_EQ(BackupNvItems(phone, dir / "f.qcn", "482615", shortWalk, nullptr), S_OK);
  QcnContents read;
  ASSERT_EQ(ReadQcnFile(dir / "f.qcn", &read), S_OK);
  EXPECT_EQ(read.items.size(), 10u);  // ids below 600: 0, 10, 85, 465 x6, 550
  EXPECT_TRUE(read.contextItems[0].empty());
  EXPECT_EQ(read.esn, 0x80123456u);
  EXPECT_EQ(phone.Count("26 600/0"), 0);
}

TEST_F(NvService, ARestoreStopsAtTheFirstFaultAndNamesWhatItWrote) {
  FakeDiagPhone source;
  Fill(&source, 1);
  ASSERT_EQ(BackupNvItems(source, dir / "a.qcn", "482615", NvBackupOptions{}, nullptr), S_OK);

  FakeDiagPhone readback;
  readback.badReadback = true;
  EXPECT_EQ(RestoreNvItems(readback, dir / "a.qcn", "482615", true, nullptr), HRESULT_FROM_WIN32(ERROR_WRITE_FAULT));
  EXPECT_EQ(readback.mode, kModeOffline);  // no reset after a failure
  EXPECT_EQ(log.Count("reads back other data"), 1);

  // Silent after the probe, code, identity (items 550 and 1943, ESN),
  // offline, the read-only item 0 (one answer) and three items (two answers
  // each: the write and its read-back).
  FakeDiagPhone stops;
  stops.readOnly = {0};
  stops.silentAfter = 6 + 1 + 2 * 3;
  EXPECT_EQ(RestoreNvItems(stops, dir / "a.qcn", "482615", true, nullptr), HRESULT_FROM_WIN32(ERROR_TIMEOUT));
  EXPECT_EQ(log.Count("NV items written before the failure (3): 10 85 465"), 1) << log.Text();
  EXPECT_EQ(log.Count("NV item 465/1 could not be restored."), 1);

  FakeDiagPhone other;
  other.esn = 0x80000001;
  EXPECT_EQ(RestoreNvItems(other, dir / "a.qcn", "482615", false, nullptr), HRESULT_FROM_WIN32(ERROR_WRONG_DISK));
  EXPECT_EQ(other.Count("27"), 0);
  EXPECT_EQ(RestoreNvItems(other, dir / "a.qcn", "482615", true, nullptr), S_OK);  // allowed

  FakeDiagPhone refuses;
  refuses.refuseSpc = true;
  EXPECT_EQ(RestoreNvItems(refuses, dir / "a.qcn", "482615", true, nullptr), HRESULT_FROM_WIN32(ERROR_INVALID_PASSWORD));
  EXPECT_EQ(refuses.Count("27"), 0);
  EXPECT_EQ(RestoreNvItems(refuses, dir / "missing.qcn", "482615", true, nullptr), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
}

TEST_F(NvService, OfflineIsAModeChangeThatMustBeAnswered) {
  FakeDiagPhone phone;
  ASSERT_EQ(PhoneOffline(phone), S_OK);
  EXPECT_EQ(phone.mode, kModeOffline);
  EXPECT_EQ(phone.requests, (std::vector<std::string>{"00", "29"}));
  FakeDiagPhone silent;
  silent.silentAfter = 1;
  EXPECT_EQ(PhoneOffline(silent), HRESULT_FROM_WIN32(ERROR_TIMEOUT));
  EXPECT_GE(log.Count("PhoneOffline("), 1);
  FakeDiagPhone refuses;
  refuses.refuseModes = true;
  EXPECT_EQ(PhoneOffline(refuses), HRESULT_FROM_WIN32(ERROR_INVALID_STATE));
  EXPECT_EQ(refuses.mode, kModeOnline);
  EXPECT_EQ(PhoneOffline(dir / "no-such-port"), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
}

TEST_F(NvService, TheWalkBoundIsAUserSettingWithinLimits) {
  ScopedEnv registry("VANTOR_REGISTRY_DIR", dir.path().c_str());
  EXPECT_EQ(ReadNvWalkBound(), 8192u);
  const std::pair<DWORD, unsigned> values[] = {{600, 600}, {0, 8192}, {100000, 65536}};
  for (auto [stored, used] : values) {
    CRegKey key;
    ASSERT_EQ(key.Create(HKEY_CURRENT_USER, kSettingsKey), ERROR_SUCCESS);
    ASSERT_EQ(RegSetDword(key.get(), "NvWalkBound", stored), ERROR_SUCCESS);
    EXPECT_EQ(ReadNvWalkBound(), used) << stored;
  }
}

TEST_F(NvService, AFileOfAnotherPhoneIsRefusedBeforeAnythingIsWritten) {
  // Two phones that differ only by their IMEI item (same ESN), two CDMA
  // phones that differ only by their MEID.
  FakeDiagPhone a, b, c, d;
  Fill(&a, 1);
  Fill(&b, 100);
  a.items[{550, 0}] = ImeiItem("490154203237518");
  b.items[{550, 0}] = ImeiItem("356938035643809");
  for (FakeDiagPhone* p : {&c, &d}) {
    Fill(p, 7);
    p->items.erase({550, 0});
    p->contextItems.erase({550, 2});
  }
  c.items[{1943, 0}] = MeidItem(0xA1000000000001);
  d.items[{1943, 0}] = MeidItem(0xA1000000000002);
  ASSERT_EQ(BackupNvItems(a, dir / "a.qcn", "482615", NvBackupOptions{}, nullptr), S_OK);
  ASSERT_EQ(BackupNvItems(c, dir / "c.qcn", "482615", NvBackupOptions{}, nullptr), S_OK);

  EXPECT_EQ(RestoreNvItems(b, dir / "a.qcn", "482615", false, &texts), HRESULT_FROM_WIN32(ERROR_WRONG_DISK));
  EXPECT_EQ(b.Count("27"), 0);
  EXPECT_EQ(b.Count("29"), 0);  // not even taken offline
  EXPECT_EQ(texts.texts.back(), "The NV file is another phone's: file IMEI 490154203237518, phone IMEI 356938035643809");
  EXPECT_EQ(RestoreNvItems(d, dir / "c.qcn", "482615", false, &texts), HRESULT_FROM_WIN32(ERROR_WRONG_DISK));
  EXPECT_EQ(d.Count("27"), 0);
  EXPECT_EQ(texts.texts.back(), "The NV file is another phone's: file MEID A1000000000001, phone MEID A1000000000002");

  // Its own file goes back into the phone, identity included.
  ASSERT_EQ(RestoreNvItems(a, dir / "a.qcn", "482615", false, nullptr), S_OK);
  EXPECT_EQ(a.Count("27 550/"), 1);
}

TEST_F(NvService, ATemplateNeverClonesAnIdentity) {
  FakeDiagPhone a, b;
  Fill(&a, 1);
  Fill(&b, 100);
  a.items[{550, 0}] = ImeiItem("490154203237518");
  b.items[{550, 0}] = ImeiItem("356938035643809");
  a.items[{1943, 0}] = MeidItem(0xA1000000000001);
  ASSERT_EQ(BackupNvItems(a, dir / "a.qcn", "482615", NvBackupOptions{}, nullptr), S_OK);
  ASSERT_EQ(RestoreNvItems(b, dir / "a.qcn", "482615", true, nullptr), S_OK);
  EXPECT_EQ((b.items[{550, 0}]), ImeiItem("356938035643809"));
  EXPECT_EQ((b.items.count({1943, 0})), 0u);  // a phone without MEID gets none
  EXPECT_EQ((b.items[{1000, 0}]), (a.items[{1000, 0}]));  // everything else is restored
  EXPECT_EQ(log.Count("NV item 550 holds another identity than the phone's; skipped."), 1);
  EXPECT_EQ(log.Count("NV item 1943 holds another identity than the phone's; skipped."), 1);
}

TEST_F(NvService, APhoneIsNamedByTheFirstOfItsImeiMeidAndEsn) {
  EXPECT_EQ(ImeiOfItem(ImeiItem("490154203237518")), "490154203237518");
  EXPECT_EQ(ImeiOfItem(ImeiItem("000000000000000")), "");  // an item never set
  EXPECT_EQ(ImeiOfItem(NvData{}), "");
  EXPECT_EQ(MeidOfItem(MeidItem(0xA10000009296F2)), "A10000009296F2");
  EXPECT_EQ(MeidOfItem(NvData{}), "");

  FakeDiagPhone phone;
  phone.items[{550, 0}] = ImeiItem("490154203237518");
  phone.items[{1943, 0}] = MeidItem(0xA10000009296F2);
  phone.locked = {550, 1943};  // behind the service programming code
  PhoneIdentity identity;
  ASSERT_EQ(AskPhoneIdentity(phone, "482615", &identity), S_OK);
  EXPECT_EQ(identity.imei, "490154203237518");
  EXPECT_EQ(identity.meid, "A10000009296F2");
  EXPECT_EQ(identity.esn, 0x80123456u);
  EXPECT_EQ(IdentityName(identity), "490154203237518");
  identity.imei.clear();
  EXPECT_EQ(IdentityName(identity), "A10000009296F2");
  EXPECT_EQ(IdentityLabel(identity), "MEID A10000009296F2");
  identity.meid.clear();
  EXPECT_EQ(IdentityName(identity), "80123456");
  EXPECT_EQ(IdentityLabel(identity), "ESN 80123456");
  identity.esn = 0;
  EXPECT_EQ(IdentityName(identity), "");

  FakeDiagPhone silent;
  silent.silentAfter = 0;
  EXPECT_EQ(AskPhoneIdentity(silent, "482615", &identity), HRESULT_FROM_WIN32(ERROR_TIMEOUT));
  EXPECT_TRUE(identity.empty());
}

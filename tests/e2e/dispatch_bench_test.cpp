// Every mode of the virtual bench gets its job through the real device helper.
#include <gtest/gtest.h>

#include <filesystem>

#include "download/server_objects.h"
#include "jobs/dispatch.h"
#include "platform/com/class_registry.h"
#include "process/executor.h"
#include "tests/support/log_capture.h"
#include "tools/phonesim/diagnostic_phone.h"
#include "tools/phonesim/fastboot_phone.h"

TEST(BenchDispatch, FastbootAndDiagnosticPhonesGetTheirJobs) {
  if (ExecuteCommand("fastboot --version") != 0) GTEST_SKIP() << "Debian's fastboot is not installed";
  TempDir dir;
  ScopedEnv bench("VANTOR_BENCH_DIR", dir.path().c_str());
  ScopedEnv helper("VANTOR_DEVICE_HELPER", VANTOR_DEVICES_BIN);
  // adb of the test's own: the diagnostic phone's IMEI.
  std::filesystem::create_directories(dir / "bin");
  WriteFile(dir / "bin/adb", "#!/bin/sh\n[ \"$2\" = VB0009 ] && printf '[ro.ril.oem.imei]: [359999000011112]\\n'\n");
  std::filesystem::permissions(dir / "bin/adb", std::filesystem::perms::owner_all);
  ScopedEnv path("PATH", (dir / "bin:" + std::string(std::getenv("PATH"))).c_str());
  LogCapture log;

  phonesim::FastbootPhoneOptions fastbootOptions;
  fastbootOptions.benchDir = dir.path();
  fastbootOptions.index = 8;
  phonesim::TcpFastbootPhone fastboot(fastbootOptions);
  phonesim::DiagnosticPhone running(dir.path(), 9, "VB0009");
  std::string error;
  ASSERT_TRUE(fastboot.Start(&error)) << error;
  ASSERT_TRUE(running.Start(&error)) << error;
  std::vector<DWORD> cookies;
  ASSERT_EQ(RegisterServerObjects(&cookies), S_OK);
  CoResumeClassObjects();

  std::filesystem::create_directories(dir / "package");
  WriteFile(dir / "package/boot.img", std::string(4096, 'b'));
  WriteFile(dir / "package/flash_all.sh", "fastboot \"$1\" \"$2\" flash boot boot.img\n");
  JobSettings settings;
  settings.fastbootScript = dir / "package/flash_all.sh";
  settings.searchPaths = dir.path();
  std::string fastbootId = fastboot.identifier(), diagnosticId = running.portPath();
  ComPtr<IDeviceReport> flash, backup, refused;
  StartFlash(&fastbootId, &settings, flash.ReleaseAndGetAddressOf());
  StartBackup(&diagnosticId, &settings.searchPaths, backup.ReleaseAndGetAddressOf());
  StartBackup(&fastbootId, &settings.searchPaths, refused.ReleaseAndGetAddressOf());
  ASSERT_TRUE(WaitUntil([&] { return flash->IsCompleted() && backup->IsCompleted(); }, std::chrono::seconds(30)));
  EXPECT_EQ(flash->GetResult(), S_OK);
  EXPECT_EQ(fastboot.partitions()["boot"], std::vector<std::uint8_t>(4096, 'b'));
  EXPECT_EQ(backup->GetResult(), S_OK);  // the own server backs up NV items
  EXPECT_EQ(backup->GetPercent(), 100);  // 20, and 20 for each of the four status texts
  EXPECT_GT(std::filesystem::file_size(dir / "359999000011112.qcn"), 0u);
  EXPECT_EQ(log.Count("\tstart backup " + dir / "359999000011112.qcn"), 1);
  EXPECT_TRUE(std::filesystem::exists(dir / "359999000011112.qcn"));
  EXPECT_EQ(refused->GetResult(), HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED));  // a fastboot phone gets no backup
  flash.Reset();
  backup.Reset();
  RevokeServerObjects(&cookies);
}

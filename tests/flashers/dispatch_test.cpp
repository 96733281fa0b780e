// The fastboot and NV item jobs, and the choice of job by the phone's mode.
#include <gtest/gtest.h>

#include "tests/support/job_helpers.h"

#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <filesystem>

#include "flashers/fastboot_flasher.h"
#include "flashers/nv_item_jobs.h"
#include "jobs/dispatch.h"
#include "process/command_line.h"
#include "process/executor.h"
#include "platform/com/module.h"
#include "platform/timing.h"
#include "tests/support/fake_server.h"
#include "tests/support/log_capture.h"
#include "tests/support/refused_pidfds.h"

namespace {


// A folder of outside tools of the test's own: the device helper, adb and
// fastboot, each a shell script.
class Tools : public ::testing::Test {
 protected:
  void Tool(const std::string& name, const std::string& body) {
    std::filesystem::create_directories(std::filesystem::path(dir / name).parent_path());
    WriteFile(dir / name, "#!/bin/sh\n" + body);
    std::filesystem::permissions(dir / name, std::filesystem::perms::owner_all);
  }
  // The helper lists one phone, fb1, answers `type` with the code for the
  // identifier's first word and `index` with the identifier's digits (each
  // phone at a port of its own); adb reports IMEI 351234567890123.
  void SetUp() override {
    Tool("helper",
         "case \"$1 $2\" in\n"
         "  'type edl'*) printf 16777217;; 'type disk'*) printf 16777218;;\n"
         "  'type fb'*) printf 16777219;; 'type diag'*) printf 16777220;;\n"
         "  'type '*) printf 0;; 'index '*) printf '%s' \"$2\" | tr -cd 0-9;; 'name '*) printf SER3;; 'list '*) printf fb1;; esac\n");
    Tool("bin/adb", "printf '[ro.ril.oem.imei]: [351234567890123]\\n'\n");
  }
  TempDir dir;
  ScopedEnv helper{"VANTOR_DEVICE_HELPER", (dir / "helper").c_str()};
  ScopedEnv path{"PATH", (dir / "bin:" + std::string(std::getenv("PATH"))).c_str()};
  LogCapture log;
};

ComPtr<IDeviceReport> Fastboot(const std::string& serial, const std::string& script) {
  ComPtr<IDeviceReport> job;
  EXPECT_EQ(CFastBootFlasher::StartFlash(serial, script, job.ReleaseAndGetAddressOf()), S_OK);
  return job;
}

}  // namespace

TEST(FastbootLines, WordsDecideTheMeaning) {
  EXPECT_DOUBLE_EQ(ClassifyFastbootLine("$fastboot -s X flash system system.img.ext4").weight, 30.592);
  EXPECT_DOUBLE_EQ(ClassifyFastbootLine("$FASTBOOT flash boot BOOT.IMG").weight, 0.896);
  EXPECT_DOUBLE_EQ(ClassifyFastbootLine("$fastboot flash x boot.img recovery.img").weight, 0.896);  // table order
  EXPECT_TRUE(ClassifyFastbootLine("$fastboot reboot").command);
  EXPECT_DOUBLE_EQ(ClassifyFastbootLine("$fastboot reboot").weight, 0.0);
  EXPECT_TRUE(ClassifyFastbootLine("FAILED (remote: 'locked')").failed);
  EXPECT_TRUE(ClassifyFastbootLine("an ErRoR occurred").failed);
  EXPECT_TRUE(ClassifyFastbootLine("Finished. Total time: 0.1s").finished);
  EXPECT_FALSE(ClassifyFastbootLine("Sending 'boot' (4 KB)").finished);
}

// Every file of the table and its weight, whatever partition it goes to.
TEST(FastbootLines, EveryFileOfTheTableHasItsWeight) {
  const std::pair<const char*, double> table[] = {
      {"boot.img", 0.896},        {"cache.img.ext4", 0.199},   {"emmc_appsboot.mbn", 0.155}, {"misc.img", 0.005},
      {"NON-HLOS.bin", 4.208},    {"persist.img.ext4", 0.828}, {"recovery.img", 0.872},      {"rpm.mbn", 0.028},
      {"sbl1.mbn", 0.019},        {"sbl2.mbn", 0.024},         {"sbl3.mbn", 0.117},          {"system.img.ext4", 30.592},
      {"tz.mbn", 0.026},          {"userdata.img.ext4", 30.543}};
  for (auto [file, weight] : table) {
    FastbootLine line = ClassifyFastbootLine(std::string("$fastboot -s SER flash part ") + file);
    EXPECT_TRUE(line.command) << file;
    EXPECT_DOUBLE_EQ(line.weight, weight) << file;
  }
}

// A script that flashes every file of the table earns 68.512 percent while it
// runs; the reboot earns nothing.
TEST_F(Tools, AScriptFlashingEveryFileEarnsTheWholeTable) {
  Tool("bin/fastboot", "echo \"Finished. Total time: 0.001s\"\n");
  std::string script;
  for (const char* file : {"boot.img", "cache.img.ext4", "emmc_appsboot.mbn", "misc.img", "NON-HLOS.bin",
                           "persist.img.ext4", "recovery.img", "rpm.mbn", "sbl1.mbn", "sbl2.mbn", "sbl3.mbn",
                           "system.img.ext4", "tz.mbn", "userdata.img.ext4"})
    script += std::string("fastboot \"$1\" \"$2\" flash part ") + file + "\n";
  Tool("package/all.sh", script + "fastboot \"$1\" \"$2\" reboot\nsleep 3041\n");
  ComPtr<IDeviceReport> job = Fastboot("SER9", dir / "package/all.sh");
  ASSERT_TRUE(WaitUntil([&] { return log.Count("\tFinished. Total time") == 15; }));
  EXPECT_EQ(job->GetPercent(), 68);
  EXPECT_FALSE(job->IsCompleted());
}

TEST_F(Tools, AFastbootJobFollowsItsScriptAndEndsItsTreeWhenReleased) {
  Tool("bin/fastboot", "echo \"$@\" >> \"$FASTBOOT_LOG\"\necho OKAY\necho 'Finished. Total time: 0.010s'\n");
  ScopedEnv fastbootLog("FASTBOOT_LOG", (dir / "fastboot.log").c_str());
  Tool("package/flash_all.sh",
       "fastboot \"$1\" \"$2\" flash boot boot.img\nfastboot \"$1\" \"$2\" flash system system.img.ext4\n"
       "fastboot \"$1\" \"$2\" reboot\nsleep 37\n");
  ComPtr<IDeviceReport> job = Fastboot("SER 1; touch " + dir / "owned", dir / "package/flash_all.sh");
  // 0.896 + 30.592 earned; the reboot names no file.
  ASSERT_TRUE(WaitUntil([&] { return log.Count("\tfinished") + log.Count("\tFinished") == 3; }));
  EXPECT_EQ(job->GetPercent(), 31);
  EXPECT_FALSE(job->IsCompleted());
  EXPECT_EQ(ReadFile(dir / "fastboot.log"),
            "-s SER 1; touch " + dir / "owned flash boot boot.img\n-s SER 1; touch " + dir / "owned flash system system.img.ext4\n"
            "-s SER 1; touch " + dir / "owned reboot\n");
  EXPECT_FALSE(std::filesystem::exists(dir / "owned"));
  EXPECT_EQ(log.Count("\tstart flash " + dir / "package"), 1);
  job.Reset();  // released while the script sleeps: its tree is ended
  EXPECT_EQ(ExecuteCommand("pgrep -f \"^sleep 37$\""), 1);
}

TEST_F(Tools, AFailedLineEndsTheFastbootJob) {
  Tool("bin/fastboot", "[ \"$4\" = recovery ] && { echo \"FAILED (remote: 'partition locked')\"; exit 1; }\necho finished\n");
  Tool("package/flash_all.sh", "fastboot -s \"$2\" flash boot boot.img\nfastboot -s \"$2\" flash recovery recovery.img\n"
                               "fastboot -s \"$2\" flash system system.img.ext4\n");
  ComPtr<IDeviceReport> job = Fastboot("SER2", dir / "package/flash_all.sh");
  ASSERT_TRUE(Finished(job.Get()));
  EXPECT_EQ(job->GetResult(), E_FAIL);
  EXPECT_EQ(job->GetPercent(), 0);  // 0.896 earned, truncated
  EXPECT_EQ(Status(job.Get()), "The operation failed.(0x80004005: FAILED (remote: 'partition locked'))");
  EXPECT_EQ(log.Count("system.img.ext4"), 0);  // nothing after the failure
  ComPtr<IDeviceReport> missing = Fastboot("SER2", dir / "package/no-such-script.sh");
  ASSERT_TRUE(Finished(missing.Get()));
  EXPECT_EQ(missing->GetResult(), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));  // not a success that flashed nothing
}

// A script's exit status counts as well as its lines: a script that stops
// short or runs a command that is not there has not flashed the phone.
TEST_F(Tools, AScriptThatExitsWithAFailureFailsItsJob) {
  Tool("bin/fastboot", "echo finished\n");
  Tool("package/stops.sh", "fastboot -s \"$2\" flash boot boot.img\nexit 3\n");
  Tool("package/typo.sh", "fastbot -s \"$2\" flash boot boot.img\n");
  Tool("package/good.sh", "fastboot -s \"$2\" flash boot boot.img\nfalse || true\n");
  ComPtr<IDeviceReport> stops = Fastboot("SER4", dir / "package/stops.sh");
  ComPtr<IDeviceReport> typo = Fastboot("SER5", dir / "package/typo.sh");
  ComPtr<IDeviceReport> good = Fastboot("SER6", dir / "package/good.sh");
  ASSERT_TRUE(Finished(stops.Get()) && Finished(typo.Get()) && Finished(good.Get()));
  EXPECT_EQ(Status(stops.Get()), "The operation failed.(0x80004005: script exited with status 3)");
  EXPECT_EQ(typo->GetResult(), E_FAIL);
  EXPECT_EQ(Status(typo.Get()), "The operation failed.(0x80004005: script exited with status 127)");
  EXPECT_EQ(good->GetResult(), S_OK);
  EXPECT_EQ(log.Count("CFastBootFlasher::DoWork("), 2);  // one trace line per failed job
}

// Nothing the script started outlives its job: not a background child, not a
// subshell's orphan, not a new session; on completion and on release alike.
TEST_F(Tools, NoProcessOfTheScriptOutlivesItsJob) {
  Tool("package/leaves.sh", "sleep 3011 &\n( sleep 3012 & )\nsetsid sleep 3013 &\necho finished\n");
  ComPtr<IDeviceReport> done = Fastboot("SER7", dir / "package/leaves.sh");
  ASSERT_TRUE(Finished(done.Get()));
  EXPECT_EQ(done->GetResult(), S_OK);
  EXPECT_EQ(ExecuteCommand("pgrep -f \"^sleep 301[123]$\""), 1);

  Tool("package/hangs.sh", "sleep 3021 &\n( sleep 3022 & )\nsetsid sleep 3023 &\nsleep 3024\n");
  ComPtr<IDeviceReport> released = Fastboot("SER8", dir / "package/hangs.sh");
  ASSERT_TRUE(WaitUntil([] { return ExecuteCommand("pgrep -f \"^sleep 3024$\"") == 0; }));
  released.Reset();
  EXPECT_TRUE(WaitUntil([] { return ExecuteCommand("pgrep -f \"^sleep 302[1234]$\"") == 1; },
                        std::chrono::seconds(3)));
}

// Where pidfd_open is refused the script is followed by polling: its lines,
// its exit status, and the end of its whole tree on release are the same.
TEST_F(Tools, WithoutPidfdsAFastbootJobStillFollowsItsScriptAndEndsItsTree) {
  ScopedRefusedPidfds refused;
  Tool("bin/fastboot", "echo finished\n");
  Tool("package/stops.sh", "fastboot -s \"$2\" flash boot boot.img\nexit 3\n");
  Tool("package/hangs.sh", "fastboot -s \"$2\" flash boot boot.img\nsleep 3061 &\nsleep 3062\n");
  ComPtr<IDeviceReport> stops = Fastboot("SER4", dir / "package/stops.sh");
  ASSERT_TRUE(Finished(stops.Get()));
  EXPECT_EQ(Status(stops.Get()), "The operation failed.(0x80004005: script exited with status 3)");
  ComPtr<IDeviceReport> released = Fastboot("SER8", dir / "package/hangs.sh");
  ASSERT_TRUE(WaitUntil([] { return ExecuteCommand("pgrep -f \"^sleep 3062$\"") == 0; }));
  EXPECT_TRUE(WaitUntil([&] { return log.Count("\tfinished") == 2; })) << log.Text();
  EXPECT_FALSE(released->IsCompleted());
  released.Reset();
  EXPECT_TRUE(WaitUntil([] { return ExecuteCommand("pgrep -f \"^sleep 306[12]$\"") == 1; },
                        std::chrono::seconds(3)));
}

// A program killed outright while its job runs the script: the script's
// tree is ended by the kernel's parent-death signal, not left under init.
TEST_F(Tools, AKilledProgramLeavesNoScriptRunning) {
  Tool("package/flash_all.sh", "sleep 3031 &\nsetsid sleep 3032 &\nsleep 3033\n");
  TempDir registry;
  ScopedEnv registryDir("VANTOR_REGISTRY_DIR", registry.path().c_str());
  auto sleeping = [] {
    std::string pids;
    ExecuteCommand("pgrep -f \"^sleep 303[123]$\"", &pids);
    return std::count(pids.begin(), pids.end(), '\n');
  };
  ChildProcess cli;
  ASSERT_EQ(StartProcess(QuoteArgument(VANTOR_CLI_BIN) + " flash -p " + QuoteArgument(dir / "package") + " -d fb1 --script " +
                             QuoteArgument(dir / "package/flash_all.sh"),
                         false, &cli),
            S_OK);
  bool started = WaitUntil([&] { return sleeping() == 3; });
  ::kill(cli.process.pid(), SIGKILL);
  ::waitpid(cli.process.pid(), nullptr, 0);
  ASSERT_TRUE(started);
  EXPECT_TRUE(WaitUntil([&] { return sleeping() == 0; }, std::chrono::seconds(3)));
}

TEST_F(Tools, TheQcnFileIsTheConfiguredOneOrNamedAfterTheImei) {
  TempDir first, second;
  WriteFile(dir / "configured.qcn", "nv");
  Tool("bin/adb", "echo asked >> " + dir / "adb.log" + "\nprintf '[ro.ril.oem.imei]: [351234567890123]\\n'\n");
  EXPECT_EQ(ChooseRestoreFile("diag1", dir / "configured.qcn", first.path() + ";" + second.path()).path,
            dir / "configured.qcn");
  EXPECT_EQ(ReadFile(dir / "adb.log"), "");  // never asked for the IMEI
  WriteFile(second / "351234567890123.qcn", "nv");
  EXPECT_EQ(ChooseRestoreFile("diag1", dir / "missing.qcn", first.path() + ";" + second.path()).path,
            second / "351234567890123.qcn");
  EXPECT_EQ(ChooseBackupFile("diag1", first.path() + ";" + dir.path()).path, first / "351234567890123.qcn");
  // The phone's answer never steers the file: an answer that is no IMEI
  // names the fifteen zeros' file in the first folder.
  WriteFile(dir / "victim.qcn", "host file");
  for (const std::string& answer : {dir / "victim", std::string("../victim"), std::string()}) {
    Tool("bin/adb", "printf '[ro.ril.oem.imei]: [%s]\\n' '" + answer + "'\n");
    EXPECT_EQ(ChooseBackupFile("diag1", first.path() + ";" + dir.path()).path, first / "000000000000000.qcn") << answer;
    EXPECT_EQ(ChooseRestoreFile("diag1", "", dir.path() + "/sub;" + first.path()).path,
              dir / "sub/000000000000000.qcn")
        << answer;
  }
}

TEST_F(Tools, WithTheOwnServerNvJobsReachThePhonesPort) {
  std::vector<DWORD> cookies;
  ASSERT_EQ(RegisterServerObjects(&cookies), S_OK);
  CoResumeClassObjects();
  WriteFile(dir / "351234567890123.qcn", "old backup");
  ComPtr<IDeviceReport> restore, backup;
  ASSERT_EQ(CNvItemFlasher::StartFlash("diag1", "", dir.path(), restore.ReleaseAndGetAddressOf()), S_OK);
  ASSERT_TRUE(Finished(restore.Get()));
  // The port "diag1" is not there: Offline fails opening it, on the first attempt.
  EXPECT_EQ(restore->GetResult(), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(restore->GetPercent(), 20);
  ASSERT_EQ(CNvItemBackup::StartBackup("diag1", dir.path(), backup.ReleaseAndGetAddressOf()), S_OK);
  ASSERT_TRUE(Finished(backup.Get()));
  EXPECT_EQ(backup->GetResult(), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));  // at BackupNV
  EXPECT_EQ(ReadFile(dir / "351234567890123.qcn"), "old backup");  // the previous backup stays
  EXPECT_EQ(log.Count("\tstart backup " + dir / "351234567890123.qcn"), 1);
  restore.Reset();
  backup.Reset();
  RevokeServerObjects(&cookies);
}

namespace {
std::atomic<int> g_restores{0};

class CFailingRestore : public CSoftwareDownload {
 public:
  HRESULT put_StatusReport(IUnknown*) override { return S_OK; }
  HRESULT RestoreNV(const Variant&, const Variant&, const Variant&) override {
    ++g_restores;
    return HRESULT_FROM_WIN32(ERROR_WRITE_FAULT);
  }
};

class CRestorePort : public CPortProxy {
 public:
  HRESULT Offline() override { return S_OK; }
  HRESULT get_SoftwareDownload(IUnknown** download) override {
    CComObject<CFailingRestore>* d = nullptr;
    CComObject<CFailingRestore>::CreateInstance(&d);
    ComPtr<IQSoftwareDownload> hold(d);
    return d->QueryInterface(IUnknown::kIid, reinterpret_cast<void**>(download));
  }
};
}  // namespace

TEST_F(Tools, AFailingRestoreIsTriedTwice) {
  ScopedTimeScale fast(0.001);
  ScopedClass<CFakeServer<CRestorePort>, IDispatch> server(CLSID_AtmnServer);
  g_restores = 0;
  ComPtr<IDeviceReport> job;
  ASSERT_EQ(CNvItemFlasher::StartFlash("diag1", "", dir.path(), job.ReleaseAndGetAddressOf()), S_OK);
  ASSERT_TRUE(Finished(job.Get()));
  EXPECT_EQ(job->GetResult(), HRESULT_FROM_WIN32(ERROR_WRITE_FAULT));
  EXPECT_EQ(g_restores, 2);
  EXPECT_EQ(job->GetPercent(), 40);  // 20 for each attempt
}

TEST_F(Tools, TheModeChoosesTheJobAndFailuresShareAPlaceholder) {
  JobSettings settings;
  settings.fastbootScript = dir / "package/none.sh";
  settings.rawprogramXml = dir / "raw.xml";
  ComPtr<IDeviceReport> disk, fastboot, unknown, again, none, backup;
  std::string diskId = "disk " + dir / "x.img", fbId = "fb1", otherId = "mouse";
  StartFlash(&diskId, &settings, disk.ReleaseAndGetAddressOf());
  StartFlash(&fbId, &settings, fastboot.ReleaseAndGetAddressOf());
  StartFlash(&otherId, &settings, unknown.ReleaseAndGetAddressOf());
  StartFlash(&otherId, &settings, again.ReleaseAndGetAddressOf());
  StartFlash(nullptr, &settings, none.ReleaseAndGetAddressOf());
  StartBackup(&fbId, &settings.searchPaths, backup.ReleaseAndGetAddressOf());
  ASSERT_TRUE(Finished(disk.Get()));
  EXPECT_EQ(disk->GetResult(), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));  // a disk job, on a disk that is not there
  EXPECT_NE(disk.Get(), unknown.Get());
  EXPECT_EQ(unknown.Get(), again.Get());  // the same placeholder, a reference each
  EXPECT_EQ(unknown.Get(), none.Get());
  EXPECT_EQ(Status(unknown.Get()), "Out of memory.(0x8007000e)");
  // A fastboot phone is no running phone: its backup is refused as such.
  EXPECT_NE(backup.Get(), unknown.Get());
  EXPECT_EQ(backup->GetResult(), HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED));
  EXPECT_EQ(Status(backup.Get()),
            "The request is not supported.(0x80070032: the phone is not a running phone in diagnostic mode)");
  EXPECT_EQ(log.Count("StartFlash("), 3);
  EXPECT_EQ(log.Count("StartBackup("), 1);
  // Without a phone to ask about, the backup placeholder.
  ComPtr<IDeviceReport> noPhone;
  StartBackup(nullptr, &settings.searchPaths, noPhone.ReleaseAndGetAddressOf());
  EXPECT_EQ(noPhone->GetResult(), E_OUTOFMEMORY);
  EXPECT_NE(noPhone.Get(), unknown.Get());
  StartFlash(&otherId, &settings, nullptr);  // no out-pointer: only the trace line
  EXPECT_EQ(log.Count("StartFlash("), 4);

  // With no server classes registered, the server jobs are created and fail
  // on their own: the emergency job cannot make its parameter set.
  ComPtr<IDeviceReport> emergency, restore;
  std::string edlId = "edl1", diagId = "diag1";
  StartFlash(&edlId, &settings, emergency.ReleaseAndGetAddressOf());
  StartFlash(&diagId, &settings, restore.ReleaseAndGetAddressOf());
  ASSERT_TRUE(Finished(emergency.Get()) && Finished(restore.Get()));
  EXPECT_EQ(emergency->GetResult(), REGDB_E_CLASSNOTREG);
  EXPECT_NE(emergency.Get(), unknown.Get());
  EXPECT_EQ(restore->GetResult(), E_UNEXPECTED);
}

// A placeholder handed out holds the module as any job does, one lock per
// reference, and gives it back when its holder releases it.
TEST_F(Tools, APlaceholderHoldsTheModuleUntilItIsReleased) {
  JobSettings settings;
  std::string otherId = "mouse";
  LONG base = ModuleLockCount();
  ComPtr<IDeviceReport> flash, backup;
  StartFlash(&otherId, &settings, flash.ReleaseAndGetAddressOf());
  StartBackup(nullptr, &settings.searchPaths, backup.ReleaseAndGetAddressOf());
  ASSERT_TRUE(flash && backup);
  EXPECT_EQ(ModuleLockCount(), base + 2);
  flash.Reset();
  backup.Reset();
  EXPECT_EQ(ModuleLockCount(), base);
}

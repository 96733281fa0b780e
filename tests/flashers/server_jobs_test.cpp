// The emergency and NV jobs against an outside server of the test's own
// whose answers and failures each test sets: what the jobs ask, with which
// arguments, how often, how long they pause, and how each failure is traced.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <vector>

#include "flashers/disk_drive_flasher.h"
#include "flashers/download_lock.h"
#include "flashers/emergency_flasher.h"
#include "flashers/fastboot_flasher.h"
#include "flashers/nv_item_jobs.h"
#include "jobs/dispatch.h"
#include "jobs/status_report.h"
#include "platform/timing.h"
#include "tests/support/bench_package.h"
#include "tests/support/fake_server.h"
#include "tests/support/job_helpers.h"
#include "tests/support/log_capture.h"

namespace {

using Clock = std::chrono::steady_clock;

// What the server answers, and what it was asked.
struct Script {
  HRESULT getPort = S_OK;
  HRESULT addPort = S_OK;
  LONG phoneStatus = kPhoneReady;
  HRESULT softwareDownload = S_OK;
  HRESULT restore = S_OK;
  HRESULT backup = S_OK;
  HRESULT download = S_OK;
  bool knownConfiguration = false;  // the outside server's parameter set

  std::mutex m;
  std::vector<std::string> calls;
  std::vector<std::vector<Variant>> arguments;
  std::vector<std::pair<std::string, std::string>> parameters;
  std::vector<Clock::time_point> restoreTimes;
  Clock::time_point lastGetPort;
  void Note(const std::string& call, std::vector<Variant> args = {}) {
    std::lock_guard l(m);
    calls.push_back(call);
    arguments.push_back(std::move(args));
  }
  int Count(const std::string& call) {
    std::lock_guard l(m);
    return static_cast<int>(std::count(calls.begin(), calls.end(), call));
  }
};
Script* g_script = nullptr;

class CScriptDownload : public CSoftwareDownload {
 public:
  HRESULT put_StatusReport(IUnknown* sink) override {
    g_script->Note("put_StatusReport");
    return S_OK;
  }
  HRESULT RestoreNV(const Variant& path, const Variant& spc, const Variant& allowEsnMismatch) override {
    g_script->Note("RestoreNV", {path, spc, allowEsnMismatch});
    std::lock_guard l(g_script->m);
    g_script->restoreTimes.push_back(Clock::now());
    return g_script->restore;
  }
  HRESULT BackupNV(const Variant& path, const Variant& spc) override {
    g_script->Note("BackupNV", {path, spc});
    return g_script->backup;
  }
  HRESULT DownloadBySettings(IUnknown*) override {
    g_script->Note("DownloadBySettings");
    return g_script->download;
  }
};

class CScriptPort : public CPortProxy {
 public:
  HRESULT get_PhoneStatus(Variant* status) override {
    *status = Variant::I4(g_script->phoneStatus);
    return S_OK;
  }
  HRESULT Offline() override {
    g_script->Note("Offline");
    return S_OK;
  }
  HRESULT get_SoftwareDownload(IUnknown** download) override {
    if (FAILED(g_script->softwareDownload)) return g_script->softwareDownload;
    CComObject<CScriptDownload>* d = nullptr;
    CComObject<CScriptDownload>::CreateInstance(&d);
    ComPtr<IQSoftwareDownload> hold(d);
    return d->QueryInterface(IUnknown::kIid, reinterpret_cast<void**>(download));
  }
};

class CScriptServer : public CFakeServer<CScriptPort> {
 public:
  HRESULT Invoke(DISPID id, WORD flags, DISPPARAMS* params, Variant* result) override {
    if (id == 5) {
      g_script->Note("GetPort");
      {
        std::lock_guard l(g_script->m);
        g_script->lastGetPort = Clock::now();
      }
      if (FAILED(g_script->getPort)) return g_script->getPort;
    }
    if (id == 8) {
      g_script->Note("AddPort");
      return g_script->addPort;
    }
    if (id == 9) g_script->Note("RemovePort");
    return CFakeServer<CScriptPort>::Invoke(id, flags, params, result);
  }
};

class CScriptSettings : public CDownloadSettings {
 public:
  HRESULT SetParam(const Variant& name, const Variant& value) override {
    std::lock_guard l(g_script->m);
    g_script->parameters.emplace_back(name.vt() == VT_BSTR ? name.bstr().str() : "?",
                                      value.vt() == VT_BSTR ? value.bstr().str() : "?");
    return S_OK;
  }
  HRESULT get_IsKnownConfiguration(Variant* out) override {
    if (!g_script->knownConfiguration) return E_NOTIMPL;
    *out = Variant::I4(1);
    return S_OK;
  }
};

class ServerJobs : public ::testing::Test {
 protected:
  ServerJobs() { g_script = &script; }
  ~ServerJobs() override { g_script = nullptr; }
  ComPtr<IDeviceReport> Restore(const std::string& nvFile = "") {
    ComPtr<IDeviceReport> job;
    EXPECT_EQ(CNvItemFlasher::StartFlash("COM11", nvFile, dir.path(), job.ReleaseAndGetAddressOf()), S_OK);
    EXPECT_TRUE(Finished(job.Get()));
    return job;
  }
  // The phone's IMEI comes from an adb of the test's own.
  static std::string Tools(const TempDir& dir) {
    std::filesystem::create_directories(dir / "bin");
    // The type code follows the identifier's form; each identifier has an
    // index of its own (its length), every other answer is 3.
    WriteFile(dir / "bin/helper",
              "#!/bin/sh\ncase \"$1 $2\" in\n"
              "  'type edl'*) printf 16777217;; 'type '*.img) printf 16777218;; 'type fb'*) printf 16777219;;\n"
              "  'type COM'*) printf 16777220;; 'type '*) printf 0;; 'index '*) printf '%s' \"$2\" | wc -c;; *) printf 3;; esac\n");
    WriteFile(dir / "bin/adb", "#!/bin/sh\nprintf '[ro.ril.oem.imei]: [351234567890123]\\n'\n");
    for (const char* tool : {"bin/helper", "bin/adb"})
      std::filesystem::permissions(dir / tool, std::filesystem::perms::owner_all);
    return dir / "bin";
  }
  Script script;
  TempDir dir;
  std::string bin = Tools(dir);
  ScopedEnv helper{"VANTOR_DEVICE_HELPER", (dir / "bin/helper").c_str()};
  ScopedEnv path{"PATH", (bin + ":" + std::getenv("PATH")).c_str()};
  ScopedClass<CScriptServer, IDispatch> server{CLSID_AtmnServer};
  ScopedClass<CScriptSettings, IDownloadSettings> settings{CLSID_DownloadSettings};
  LogCapture log;
};

}  // namespace

TEST_F(ServerJobs, ARestoreAsksWithTheFileTheCodeAndEsnMismatchAllowed) {
  WriteFile(dir / "nv.qcn", "nv");
  ComPtr<IDeviceReport> job = Restore(dir / "nv.qcn");
  EXPECT_EQ(job->GetResult(), S_OK);
  ASSERT_EQ(script.Count("RestoreNV"), 1);
  EXPECT_EQ(script.Count("Offline"), 1);
  const std::vector<Variant>& args = script.arguments.back();
  ASSERT_EQ(args.size(), 3u);
  EXPECT_EQ(args[0].vt(), VT_BSTR);
  EXPECT_EQ(args[0].bstr().str(), dir / "nv.qcn");
  EXPECT_EQ(args[1].vt(), VT_BSTR);
  EXPECT_EQ(args[1].bstr().str(), "482615");
  EXPECT_EQ(args[2].vt(), VT_I4);
  EXPECT_EQ(args[2].Signed(), 1);
  EXPECT_EQ(log.Count("\tstart flash " + dir / "nv.qcn"), 1);

  ComPtr<IDeviceReport> backup;
  ASSERT_EQ(CNvItemBackup::StartBackup("COM12", dir.path(), backup.ReleaseAndGetAddressOf()), S_OK);
  ASSERT_TRUE(Finished(backup.Get()));
  ASSERT_EQ(script.Count("BackupNV"), 1);
  const std::vector<Variant>& backupArgs = script.arguments.back();
  ASSERT_EQ(backupArgs.size(), 2u);
  EXPECT_EQ(backupArgs[0].bstr().str(), dir / "351234567890123.qcn");
  EXPECT_EQ(backupArgs[1].vt(), VT_BSTR);
  EXPECT_EQ(backupArgs[1].bstr().str(), "482615");
  EXPECT_EQ(script.Count("Offline"), 1);  // a backup does not take the phone offline
}

// A file chosen by the phone's name must be the phone's (allowEsnMismatch
// 0), and a file of another phone is not tried again.
TEST_F(ServerJobs, ARestoreByThePhonesNameAllowsNoOtherPhonesFile) {
  ScopedTimeScale fast(0.001);
  script.restore = HRESULT_FROM_WIN32(ERROR_WRONG_DISK);
  ComPtr<IDeviceReport> job = Restore(dir / "not-there.qcn");
  EXPECT_EQ(job->GetResult(), HRESULT_FROM_WIN32(ERROR_WRONG_DISK));
  ASSERT_EQ(script.Count("RestoreNV"), 1);
  const std::vector<Variant>& args = script.arguments.back();
  EXPECT_EQ(args[0].bstr().str(), dir / "351234567890123.qcn");
  EXPECT_EQ(args[2].Signed(), 0);
}

// A backup never deletes the file it replaces: when it fails, the previous
// backup is there as it was. And a file another backup writes is not
// touched: the job fails at once.
TEST_F(ServerJobs, ABackupKeepsThePreviousFileAndNeverSharesIt) {
  const std::string qcn = dir / "351234567890123.qcn";
  WriteFile(qcn, "the previous backup");
  script.backup = HRESULT_FROM_WIN32(ERROR_TIMEOUT);
  ComPtr<IDeviceReport> failing;
  ASSERT_EQ(CNvItemBackup::StartBackup("COM12", dir.path(), failing.ReleaseAndGetAddressOf()), S_OK);
  ASSERT_TRUE(Finished(failing.Get()));
  EXPECT_EQ(failing->GetResult(), HRESULT_FROM_WIN32(ERROR_TIMEOUT));
  EXPECT_EQ(ReadFile(qcn), "the previous backup");

  // Another holder of the file's lock (a lock file of its own, as another
  // process has): busy, without asking the server anything.
  CPhoneLock other;
  ASSERT_EQ(other.TryAcquireFile(RuntimeLockPath("backup", qcn)), S_OK);
  script.calls.clear();
  ComPtr<IDeviceReport> busy;
  ASSERT_EQ(CNvItemBackup::StartBackup("COM12", dir.path() + "/.", busy.ReleaseAndGetAddressOf()), S_OK);
  ASSERT_TRUE(Finished(busy.Get()));
  EXPECT_EQ(busy->GetResult(), HRESULT_FROM_WIN32(ERROR_BUSY));
  EXPECT_EQ(script.Count("GetPort"), 0);
  EXPECT_EQ(script.Count("BackupNV"), 0);
  EXPECT_NE(Status(busy.Get()).find("another backup writes"), std::string::npos) << Status(busy.Get());
}

// Two failed attempts, each followed by its 5000 ms pause (shortened by the
// seam), and one trace line per failure.
TEST_F(ServerJobs, AFailingRestoreIsTriedTwiceWithAPauseAfterEachAttempt) {
  ScopedTimeScale fast(0.02);  // 5000 ms become 100 ms
  const auto pause = std::chrono::milliseconds(100);
  script.restore = HRESULT_FROM_WIN32(ERROR_WRITE_FAULT);
  ComPtr<IDeviceReport> job = Restore();
  Clock::time_point ended = Clock::now();
  EXPECT_EQ(job->GetResult(), HRESULT_FROM_WIN32(ERROR_WRITE_FAULT));
  ASSERT_EQ(script.restoreTimes.size(), 2u);
  auto between = script.restoreTimes[1] - script.restoreTimes[0];
  EXPECT_GE(between, pause);
  EXPECT_LT(between, 5 * pause);
  EXPECT_GE(ended - script.restoreTimes[1], pause);  // the second failure is paused after too
  EXPECT_EQ(script.Count("GetPort"), 4);  // the port, then the software download, per attempt
  EXPECT_EQ(log.Count("CNvItemFlasher::DoWork("), 2);
  EXPECT_EQ(job->GetPercent(), 40);
}

// A failure to reach the software-download object is retried too, and each
// attempt traces it once, at the line of the failing step.
TEST_F(ServerJobs, OneFailureOfAnAttemptLeavesOneTraceLine) {
  ScopedTimeScale fast(0.001);
  script.softwareDownload = E_ACCESSDENIED;
  ComPtr<IDeviceReport> job = Restore();
  EXPECT_EQ(job->GetResult(), E_ACCESSDENIED);
  EXPECT_EQ(script.Count("Offline"), 2);
  EXPECT_EQ(log.Count("CNvItemFlasher::DoWork("), 2);
  EXPECT_EQ(log.Count("CQPSTReport::GetSoftwareDownload("), 2);
}

TEST_F(ServerJobs, APortNeverReadyEndsTheRestoreAfterOneAttemptWithoutAPause) {
  ScopedTimeScale fast(0.1);  // 30 port waits of 100 ms; a pause would be 500 ms
  script.phoneStatus = 2;
  ComPtr<IDeviceReport> job = Restore();
  Clock::time_point ended = Clock::now();
  EXPECT_EQ(job->GetResult(), HRESULT_FROM_WIN32(ERROR_NOT_READY));
  EXPECT_EQ(script.Count("GetPort"), 31);  // one attempt of the restore
  EXPECT_EQ(script.Count("Offline"), 0);
  EXPECT_LT(ended - script.lastGetPort, std::chrono::milliseconds(400));
  EXPECT_EQ(job->GetPercent(), 10);
  EXPECT_EQ(log.Count("CNvItemFlasher::DoWork("), 1);
}

TEST_F(ServerJobs, AFailingAddPortEndsTheWaitAndAFailingGetPortIsWaitedFor) {
  ScopedTimeScale fast(0.001);
  script.phoneStatus = 0;
  script.addPort = E_ACCESSDENIED;
  ComPtr<IDeviceReport> job = Restore();
  EXPECT_EQ(job->GetResult(), E_ACCESSDENIED);
  EXPECT_EQ(script.Count("AddPort"), 1);
  EXPECT_EQ(script.Count("GetPort"), 11);  // attempts 0 to 10, then the wait ends
  EXPECT_EQ(script.Count("RestoreNV"), 0);

  script.calls.clear();
  script.addPort = S_OK;
  script.getPort = E_FAIL;
  ComPtr<IDeviceReport> backup;
  ASSERT_EQ(CNvItemBackup::StartBackup("COM13", dir.path(), backup.ReleaseAndGetAddressOf()), S_OK);
  ASSERT_TRUE(Finished(backup.Get()));
  EXPECT_EQ(backup->GetResult(), HRESULT_FROM_WIN32(ERROR_NOT_READY));  // retried like an absent port
  EXPECT_EQ(script.Count("GetPort"), 31);
  EXPECT_EQ(script.Count("AddPort"), 2);
  EXPECT_EQ(script.Count("RemovePort"), 1);
  EXPECT_EQ(backup->GetPercent(), 20);
}

TEST_F(ServerJobs, TheEmergencyJobSetsItsParametersInOrderAndTracesAFailureOnce) {
  ComPtr<IDeviceReport> job;
  ASSERT_EQ(CEmergencyFlasher::StartFlash("COM14", "p.hex", "boot.mbn", "raw.xml", "patch.xml", "/a;/b",
                                          job.ReleaseAndGetAddressOf(), "prog_firehose.elf", "UFS"),
            S_OK);
  ASSERT_TRUE(Finished(job.Get()));
  EXPECT_EQ(job->GetResult(), S_OK);
  EXPECT_EQ(script.parameters, (std::vector<std::pair<std::string, std::string>>{{"flashprogrammer", "p.hex"},
                                                                                  {"emmcfilepathboot", "boot.mbn"},
                                                                                  {"filepathxml", "raw.xml"},
                                                                                  {"filepathpatch", "patch.xml"},
                                                                                  {"searchpaths", "/a;/b"},
                                                                                  {"downloadtarget", "emmc"},
                                                                                  {"skipreset", "1"},
                                                                                  {"usetrustedmode", "1"},
                                                                                  {"firehoseprogrammer", "prog_firehose.elf"},
                                                                                  {"firehosememory", "UFS"}}));
  EXPECT_EQ(script.Count("DownloadBySettings"), 1);

  script.softwareDownload = E_ACCESSDENIED;
  ComPtr<IDeviceReport> failing;
  ASSERT_EQ(CEmergencyFlasher::StartFlash("COM14", "p.hex", "boot.mbn", "raw.xml", "patch.xml", "/a;/b",
                                          failing.ReleaseAndGetAddressOf()),
            S_OK);
  ASSERT_TRUE(Finished(failing.Get()));
  EXPECT_EQ(failing->GetResult(), E_ACCESSDENIED);
  EXPECT_EQ(log.Count("CEmergencyFlasher::DoWork("), 1);
}

// With the program's own server the emergency download lock is not taken:
// a job runs while another holds the lock.
TEST_F(ServerJobs, WithTheOwnParameterSetTheJobTakesNoDownloadLock) {
  CDownloadLock held;
  ASSERT_EQ(held.Acquire(), S_OK);
  ComPtr<IDeviceReport> job;
  ASSERT_EQ(CEmergencyFlasher::StartFlash("COM15", "p", "b", "r", "q", "s", job.ReleaseAndGetAddressOf()), S_OK);
  EXPECT_TRUE(WaitUntil([&] { return job->IsCompleted() != 0; }, std::chrono::seconds(5)));
  EXPECT_EQ(job->GetResult(), S_OK);
  // With the outside server's parameter set the same job waits for the lock.
  script.knownConfiguration = true;
  ComPtr<IDeviceReport> waiting;
  ASSERT_EQ(CEmergencyFlasher::StartFlash("COM16", "p", "b", "r", "q", "s", waiting.ReleaseAndGetAddressOf()), S_OK);
  EXPECT_FALSE(WaitUntil([&] { return waiting->IsCompleted() != 0; }, std::chrono::milliseconds(300)));
  EXPECT_EQ(script.Count("DownloadBySettings"), 1);
  held.Release();
  EXPECT_TRUE(Finished(waiting.Get()));
  EXPECT_EQ(script.Count("DownloadBySettings"), 2);
}

// Each status the server sends moves the job's bar by its class's step:
// the bar after n statuses, and after one more.
TEST(ProgressSteps, EachJobClassAddsItsOwnStepPerStatus) {
  LogCapture log;
  auto percentAfter = [](auto* job, auto createSink, int n) {
    ComPtr<IQStatusReport> sink;
    EXPECT_EQ(createSink(job, sink.ReleaseAndGetAddressOf()), S_OK);
    for (int i = 0; i < n; ++i) sink->NewStatus(1, "", "step");
    int before = job->GetPercent();
    sink->NewStatus(1, "", "step");
    return std::make_pair(before, job->GetPercent());
  };
  CComObject<CEmergencyFlasher>* emergency = nullptr;
  ASSERT_EQ(CComObject<CEmergencyFlasher>::CreateInstance(&emergency), S_OK);
  ComPtr<IDeviceReport> holdEmergency(emergency);
  // 0.142 per status: 161 give 22.862, 162 give 23.004 (0.14 would give 22.68).
  EXPECT_EQ(percentAfter(emergency, CStatusReport<CEmergencyFlasher>::CreateInstance, 161), std::make_pair(22, 23));
  CComObject<CDiskDriveFlasher>* disk = nullptr;
  ASSERT_EQ(CComObject<CDiskDriveFlasher>::CreateInstance(&disk), S_OK);
  ComPtr<IDeviceReport> holdDisk(disk);
  // 0.191 per status: 20 give 3.82, 21 give 4.011 (0.19 would give 3.99).
  EXPECT_EQ(percentAfter(disk, CStatusReport<CDiskDriveFlasher>::CreateInstance, 20), std::make_pair(3, 4));
  CComObject<CNvItemFlasher>* restore = nullptr;
  ASSERT_EQ(CComObject<CNvItemFlasher>::CreateInstance(&restore), S_OK);
  ComPtr<IDeviceReport> holdRestore(restore);
  EXPECT_EQ(percentAfter(restore, CStatusReport<CNvItemFlasher>::CreateInstance, 4), std::make_pair(40, 50));
  CComObject<CNvItemBackup>* backup = nullptr;
  ASSERT_EQ(CComObject<CNvItemBackup>::CreateInstance(&backup), S_OK);
  ComPtr<IDeviceReport> holdBackup(backup);
  EXPECT_EQ(percentAfter(backup, CStatusReport<CNvItemBackup>::CreateInstance, 2), std::make_pair(40, 60));
}

// Each type code creates its own job class, with the record's fields in the
// order that class takes them.
TEST_F(ServerJobs, EachTypeCodeCreatesItsJobWithTheRecordsFields) {
  BenchPackage package(dir.path());
  WriteFile(dir / "disk.img", std::string(1 << 20, '\0'));
  WriteFile(dir / "nv.qcn", "nv");
  std::filesystem::create_directories(dir / "fastboot");
  WriteFile(dir / "fastboot/run.sh", "echo ran\n");
  JobSettings settings;
  settings.nvItemFile = dir / "nv.qcn";
  settings.fastbootScript = dir / "fastboot/run.sh";
  settings.flashProgrammer = "programmer.hex";
  settings.bootImage = "boot.mbn";
  settings.rawprogramXml = package.Path("rawprogram0.xml");
  settings.patchXml = package.Path("patch0.xml");
  settings.searchPaths = package.dir;
  std::string edl = "edl1", disk = dir / "disk.img", fastboot = "fb1", diag = "COM21";
  ComPtr<IDeviceReport> jobs[4];
  StartFlash(&edl, &settings, jobs[0].ReleaseAndGetAddressOf());
  StartFlash(&disk, &settings, jobs[1].ReleaseAndGetAddressOf());
  StartFlash(&fastboot, &settings, jobs[2].ReleaseAndGetAddressOf());
  StartFlash(&diag, &settings, jobs[3].ReleaseAndGetAddressOf());
  for (auto& job : jobs) ASSERT_TRUE(Finished(job.Get()));
  EXPECT_NE(dynamic_cast<CEmergencyFlasher*>(jobs[0].Get()), nullptr);
  EXPECT_NE(dynamic_cast<CDiskDriveFlasher*>(jobs[1].Get()), nullptr);
  EXPECT_NE(dynamic_cast<CFastBootFlasher*>(jobs[2].Get()), nullptr);
  EXPECT_NE(dynamic_cast<CNvItemFlasher*>(jobs[3].Get()), nullptr);
  for (auto& job : jobs) EXPECT_EQ(job->GetResult(), S_OK) << Status(job.Get());
  std::vector<std::pair<std::string, std::string>> first(script.parameters.begin(), script.parameters.begin() + 5);
  EXPECT_EQ(first, (std::vector<std::pair<std::string, std::string>>{{"flashprogrammer", "programmer.hex"},
                                                                      {"emmcfilepathboot", "boot.mbn"},
                                                                      {"filepathxml", settings.rawprogramXml},
                                                                      {"filepathpatch", settings.patchXml},
                                                                      {"searchpaths", package.dir}}));
  EXPECT_TRUE(package.OnDisk(disk));                    // rawprogram, patch and search paths in their places
  EXPECT_EQ(log.Count("\tstart flash " + dir / "fastboot"), 1);  // the script of the record
  ASSERT_EQ(script.Count("RestoreNV"), 1);
  // The four jobs ran at once: the restore's call is not necessarily the last.
  size_t restore = std::find(script.calls.begin(), script.calls.end(), "RestoreNV") - script.calls.begin();
  ASSERT_FALSE(script.arguments[restore].empty());
  EXPECT_EQ(script.arguments[restore][0].bstr().str(), dir / "nv.qcn");  // the NV item file of the record
}

// What the NV jobs tell their records: the file, and the identity it is
// named after (none for the configured file, which is every phone's).
TEST_F(ServerJobs, TheNvJobsDescribeTheirFileAndTheIdentityItIsNamedAfter) {
  ComPtr<IDeviceReport> backup;
  ASSERT_EQ(CNvItemBackup::StartBackup("COM12", dir.path(), backup.ReleaseAndGetAddressOf()), S_OK);
  ASSERT_TRUE(Finished(backup.Get()));
  WriteFile(dir / "nv.qcn", "nv");
  ComPtr<IDeviceReport> restore = Restore(dir / "nv.qcn");
  auto describe = [](IDeviceReport* job) {
    JobDescription d;
    auto* describing = dynamic_cast<IJobDescription*>(job);
    if (describing) describing->DescribeJob(JobSettings{}, &d);
    return d;
  };
  JobDescription saved = describe(backup.Get()), restored = describe(restore.Get());
  EXPECT_EQ(saved.method, "NV item backup");
  EXPECT_EQ(saved.typeCode, 0x1000004u);
  EXPECT_EQ(saved.files, std::vector<std::string>{dir / "351234567890123.qcn"});
  EXPECT_EQ(saved.identity, "351234567890123");
  EXPECT_EQ(restored.method, "NV item restore");
  EXPECT_EQ(restored.files, std::vector<std::string>{dir / "nv.qcn"});
  EXPECT_EQ(restored.identity, "");
}

#include <gtest/gtest.h>

#include "tests/support/job_helpers.h"

#include <atomic>
#include <thread>

#include "flashers/disk_drive_flasher.h"
#include "flashers/emergency_flasher.h"
#include "jobs/status_sink.h"
#include "platform/com/git.h"
#include "platform/timing.h"
#include "tests/support/bench_package.h"
#include "tests/support/fake_server.h"
#include "tests/support/log_capture.h"
#include "tests/support/bench_phone.h"

namespace {


// The virtual bench, answered by the real device helper.
class Bench : public ::testing::Test {
 protected:
  TempDir dir;
  ScopedEnv benchDir{"VANTOR_BENCH_DIR", dir.path().c_str()};
  ScopedEnv helper{"VANTOR_DEVICE_HELPER", VANTOR_DEVICES_BIN};
  LogCapture log;
};

// --- an outside server whose downloads are scripted ---

std::atomic<int> g_running{0}, g_mostAtOnce{0};
std::atomic<bool> g_reportLastEvent{false};

// A software-download object that reports, optionally sends event 4425, and
// fails; it notes how many downloads run at once.
class CScriptedDownload : public CSoftwareDownload {
 public:
  HRESULT put_StatusReport(IUnknown* sink) override {
    sink_ = nullptr;
    if (sink) sink->QueryInterface(IQStatusReport::kIid, sink_.ReleaseAndGetVoidAddress());
    return S_OK;
  }
  HRESULT DownloadBySettings(IUnknown*) override {
    int now = ++g_running;
    for (int seen = g_mostAtOnce; now > seen && !g_mostAtOnce.compare_exchange_weak(seen, now);) {
    }
    sink_->NewStatus(1, "", "Downloading");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // a download in progress, for the overlap check
    if (g_reportLastEvent) sink_->NewStatus(4425, "", "last event");
    --g_running;
    return E_FAIL;
  }

 private:
  ComPtr<IQStatusReport> sink_;
};

class CScriptedPort : public CPortProxy {
 public:
  HRESULT get_SoftwareDownload(IUnknown** download) override {
    CComObject<CScriptedDownload>* d = nullptr;
    HRESULT hr = CComObject<CScriptedDownload>::CreateInstance(&d);
    if (FAILED(hr)) return hr;
    ComPtr<IQSoftwareDownload> hold(d);
    return d->QueryInterface(IUnknown::kIid, reinterpret_cast<void**>(download));
  }
};

// The outside server's parameter set knows its configuration.
class COutsideSettings : public CDownloadSettings {
 public:
  HRESULT get_IsKnownConfiguration(Variant* out) override {
    *out = Variant::I4(1);
    return S_OK;
  }
};

class OutsideServer : public ::testing::Test {
 protected:
  ScopedClass<CFakeServer<CScriptedPort>, IDispatch> server{CLSID_AtmnServer};
  ScopedClass<COutsideSettings, IDownloadSettings> settings{CLSID_DownloadSettings};
  LogCapture log;
};

ComPtr<IDeviceReport> StartEmergency(const std::string& port, const BenchPackage& p) {
  ComPtr<IDeviceReport> job;
  EXPECT_EQ(CEmergencyFlasher::StartFlash(port, p.Path("MPRG8660.hex"), p.Path("8660_msimage.mbn"),
                                          p.Path("rawprogram0.xml"), p.Path("patch0.xml"), p.dir,
                                          job.ReleaseAndGetAddressOf()),
            S_OK);
  return job;
}

}  // namespace

TEST_F(Bench, AnEmergencyJobFlashesThePhoneWithTheOwnServer) {
  ScopedTimeScale fast(0.01);
  std::vector<DWORD> cookies;
  ASSERT_EQ(RegisterServerObjects(&cookies), S_OK);
  CoResumeClassObjects();
  BenchPackage package(dir.path());
  phonesim::PtyEmergencyPhone phone(BenchPhoneAt(dir.path(), 2));
  std::string error;
  ASSERT_TRUE(phone.Start(&error)) << error;

  ComPtr<IDeviceReport> job = StartEmergency(phone.portPath(), package);
  ASSERT_TRUE(Finished(job.Get()));
  EXPECT_EQ(job->GetResult(), S_OK) << Status(job.Get());
  EXPECT_EQ(job->GetPercent(), 100);
  EXPECT_TRUE(package.OnDisk(phone.diskPath()));
  // The own parameter set does not know IsKnownConfiguration: one trace per run, no lock.
  EXPECT_EQ(log.Count("CEmergencyFlasher::IsQPSTServer("), 1);
  EXPECT_GT(log.Count("\tStreamWrite address"), 0);  // the server's texts became status lines
  job.Reset();
  RevokeServerObjects(&cookies);
}

// The phone lock follows the phone: while an emergency job waits for its
// phone to settle as a USB disk, a disk job for that disk (another
// identifier at the same location index) ends at once with ERROR_BUSY and
// writes nothing; the emergency job then completes the flash.
TEST_F(Bench, AnEmergencyJobHoldsItsPhoneWhenItComesBackAsADisk) {
  ScopedTimeScale scale(0.5);  // the disk is given 2500 ms to settle: the window for the second job
  std::vector<DWORD> cookies;
  ASSERT_EQ(RegisterServerObjects(&cookies), S_OK);
  CoResumeClassObjects();
  BenchPackage package(dir.path());
  // The disk comes back 300 ms after the reset: the job's first look misses
  // it even on a slow build, so the disk found later is given its time.
  phonesim::PtyEmergencyPhone phone(BenchPhoneAt(dir.path(), 4, 300));
  std::string error;
  ASSERT_TRUE(phone.Start(&error)) << error;

  ComPtr<IDeviceReport> job = StartEmergency(phone.portPath(), package);
  ASSERT_TRUE(WaitUntil([&] { return phone.IsDisk() || job->IsCompleted(); }, std::chrono::seconds(60)));
  ASSERT_FALSE(job->IsCompleted()) << Status(job.Get());
  TempDir other;
  BenchPackage otherPackage(other.path());
  WriteFile(other / "system.img", "another package");
  ComPtr<IDeviceReport> second;
  ASSERT_EQ(CDiskDriveFlasher::StartFlash(phone.diskPath(), otherPackage.Path("rawprogram0.xml"),
                                          otherPackage.Path("patch0.xml"), other.path(), second.ReleaseAndGetAddressOf()),
            S_OK);
  ASSERT_TRUE(Finished(second.Get()));
  EXPECT_EQ(second->GetResult(), HRESULT_FROM_WIN32(ERROR_BUSY)) << Status(second.Get());
  EXPECT_FALSE(job->IsCompleted());  // the second job ended while the first still held the phone
  ASSERT_TRUE(Finished(job.Get()));
  EXPECT_EQ(job->GetResult(), S_OK) << Status(job.Get());
  EXPECT_TRUE(package.OnDisk(phone.diskPath()));
  job.Reset();
  RevokeServerObjects(&cookies);
}

TEST_F(OutsideServer, AFailureAfterTheLastEventCountsAsSuccess) {
  TempDir dir;
  BenchPackage package(dir.path());
  g_reportLastEvent = true;
  ComPtr<IDeviceReport> job = StartEmergency("/dev/ttyUSB0", package);
  ASSERT_TRUE(Finished(job.Get()));
  EXPECT_EQ(job->GetResult(), S_OK);
  EXPECT_EQ(job->GetPercent(), 100);
  EXPECT_EQ(log.Count("\treceive last event, but fail with 0x80004005"), 1);
  g_reportLastEvent = false;
  ComPtr<IDeviceReport> failing = StartEmergency("/dev/ttyUSB0", package);
  ASSERT_TRUE(Finished(failing.Get()));
  EXPECT_EQ(failing->GetResult(), E_FAIL);
  EXPECT_EQ(Status(failing.Get()), "The operation failed.(0x80004005: Downloading)");
}

TEST_F(OutsideServer, WithTheOutsideServerDownloadsRunOneAtATime) {
  TempDir dir;
  BenchPackage package(dir.path());
  g_mostAtOnce = 0;
  std::vector<ComPtr<IDeviceReport>> jobs;
  for (int i = 0; i < 3; ++i) jobs.push_back(StartEmergency("/dev/ttyUSB" + std::to_string(i), package));
  for (auto& job : jobs) ASSERT_TRUE(Finished(job.Get()));
  EXPECT_EQ(g_mostAtOnce, 1);
  EXPECT_EQ(log.Count("CEmergencyFlasher::IsQPSTServer("), 0);
}

TEST_F(Bench, ADiskJobWritesThePackage) {
  BenchPackage package(dir.path());
  std::string disk = dir / "disk-5.img";
  WriteFile(disk, std::string(1 << 20, '\0'));
  ComPtr<IDeviceReport> job;
  ASSERT_EQ(CDiskDriveFlasher::StartFlash(disk, package.Path("rawprogram0.xml"), package.Path("patch0.xml"),
                                          package.dir, job.ReleaseAndGetAddressOf()),
            S_OK);
  ASSERT_TRUE(Finished(job.Get()));
  EXPECT_EQ(job->GetResult(), S_OK);
  EXPECT_TRUE(package.OnDisk(disk));
  EXPECT_EQ(log.Count("\tWriteFile position"), 1);

  ComPtr<IDeviceReport> missing;
  CDiskDriveFlasher::StartFlash(dir / "no-disk.img", package.Path("rawprogram0.xml"), package.Path("patch0.xml"),
                                package.dir, missing.ReleaseAndGetAddressOf());
  ASSERT_TRUE(Finished(missing.Get()));
  EXPECT_EQ(Status(missing.Get()), "The file was not found.(0x80070002: Open disk \"" + dir / "no-disk.img" + "\")");

  ComPtr<IDeviceReport> noPatch;
  CDiskDriveFlasher::StartFlash(disk, package.Path("rawprogram0.xml"), "", package.dir, noPatch.ReleaseAndGetAddressOf());
  ASSERT_TRUE(Finished(noPatch.Get()));
  EXPECT_EQ(noPatch->GetResult(), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(log.Count("\tWriteFile position"), 1);  // found before the images are written
}

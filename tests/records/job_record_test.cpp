// The record of each started job, handed over once by the thread that sees
// its end.
#include "jobs/job_record.h"

#include <gtest/gtest.h>

#include <atomic>

#include "flashers/disk_drive_flasher.h"
#include "platform/timing.h"
#include "records/file_digest.h"
#include "records/local_records.h"
#include "records/recorder.h"
#include "tests/support/job_helpers.h"
#include "tests/support/temp_dir.h"

namespace {

class CGatedJob : public CDeviceReport {
 public:
  HRESULT DoWork() override {
    ReportStatus("step %d", 1);
    while (!open.load() && !StopRequested()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return result;
  }
  std::atomic<bool> open{false};
  HRESULT result = S_OK;
};

ComPtr<CComObject<CGatedJob>> StartGated(const std::string& id, HRESULT result) {
  CComObject<CGatedJob>* p = nullptr;
  EXPECT_EQ(CComObject<CGatedJob>::CreateInstance(&p), S_OK);
  ComPtr<CComObject<CGatedJob>> job(p);
  job->result = result;
  job->StartWork(id);
  return job;
}

class JobRecords : public ::testing::Test {
 protected:
  JobRecords() {
    RecorderConfig config;
    config.localPath = dir / "records.db";
    recorder = std::make_unique<CRecorder>(config);
    scope = std::make_unique<ScopedJobRecorder>(recorder.get());
  }
  ~JobRecords() override { scope.reset(); }

  std::vector<FlashRecord> Written() {
    EXPECT_TRUE(recorder->Flush(std::chrono::seconds(10)));
    CLocalRecords store;
    std::vector<FlashRecord> out;
    EXPECT_EQ(store.Open(dir / "records.db"), S_OK);
    EXPECT_EQ(store.Query({}, &out), S_OK);
    return out;
  }

  TempDir dir;
  std::unique_ptr<CRecorder> recorder;
  std::unique_ptr<ScopedJobRecorder> scope;
  JobSettings settings;
};

}  // namespace

TEST_F(JobRecords, ACompletedJobIsRecordedOnceByThePollThatSeesIt) {
  auto job = StartGated("dev-1", HRESULT_FROM_WIN32(ERROR_CRC));
  IDeviceReport* report = job.Get();
  NoteJobStarted(report, "dev-1", false, "/pkg", settings);
  RecordJobIfEnded(report, "dev-1", 7, "step 1");
  EXPECT_TRUE(Written().empty());  // still running
  job->open = true;
  ASSERT_TRUE(Finished(report));
  for (int poll = 0; poll < 3; ++poll) RecordJobIfEnded(report, "dev-1", 7, Status(report));
  job.Reset();  // the release after completion adds nothing
  std::vector<FlashRecord> all = Written();
  ASSERT_EQ(all.size(), 1u);
  const FlashRecord& r = all[0];
  EXPECT_EQ(r.outcome, kOutcomeFailed);
  EXPECT_EQ(r.result, HRESULT_FROM_WIN32(ERROR_CRC));
  EXPECT_EQ(r.lastStatus, "Data error: the check sequence does not match.(0x80070017: step 1)");
  EXPECT_EQ(r.locationIndex, 7u);
  EXPECT_EQ(r.deviceId, "dev-1");
  EXPECT_EQ(r.package, "/pkg");
  EXPECT_EQ(r.version, "6.0.0.1");
  EXPECT_LE(r.startUtc, r.endUtc);
  EXPECT_EQ(r.startUtc.size(), 24u);
}

TEST_F(JobRecords, AJobReleasedWhileRunningIsRecordedAsReleased) {
  auto job = StartGated("dev-2", S_OK);
  NoteJobStarted(job.Get(), "dev-2", false, "/pkg", settings);
  ASSERT_TRUE(WaitUntil([&] { return Status(job.Get()) == "step 1"; }));
  RecordJobIfEnded(job.Get(), "dev-2", 3, "step 1");
  job.Reset();  // the last reference: the job is stopped
  std::vector<FlashRecord> all = Written();
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(all[0].outcome, kOutcomeReleased);
  EXPECT_EQ(all[0].lastStatus, "step 1");
  EXPECT_EQ(all[0].locationIndex, 3u);

  // A job no front end started is nobody's record.
  auto other = StartGated("dev-3", S_OK);
  other.Reset();
  EXPECT_EQ(Written().size(), 1u);
}

TEST_F(JobRecords, TheSharedPlaceholderGetsOneRecordPerRow) {
  IDeviceReport* placeholder = nullptr;
  StartFlash(nullptr, nullptr, &placeholder);  // the dispatcher's placeholder for a job that cannot be made
  ASSERT_NE(placeholder, nullptr);
  NoteJobStarted(placeholder, "a", false, "/pkg", settings);
  NoteJobStarted(placeholder, "b", false, "/pkg", settings);
  RecordJobIfEnded(placeholder, "a", 1, "x");
  RecordJobIfEnded(placeholder, "b", 2, "y");
  RecordJobIfEnded(placeholder, "a", 1, "x");
  placeholder->Release();
  std::vector<FlashRecord> all = Written();
  ASSERT_EQ(all.size(), 2u);
  EXPECT_EQ(all[0].result, E_OUTOFMEMORY);
  EXPECT_NE(all[0].deviceId, all[1].deviceId);
}

TEST_F(JobRecords, ADiskJobRecordsItsPackageFilesWithTheirDigests) {
  std::filesystem::create_directories(dir / "pkg");
  WriteFile(dir / "pkg/rawprogram0.xml",
            "<data><program filename=\"system.img\" start_sector=\"0\" num_partition_sectors=\"1\"/>"
            "<program filename=\"\" start_sector=\"1\"/><program filename=\"boot.img\" start_sector=\"2\"/></data>");
  WriteFile(dir / "pkg/patch0.xml", "<patches/>");
  WriteFile(dir / "pkg/system.img", "system bytes");
  settings.rawprogramXml = dir / "pkg/rawprogram0.xml";
  settings.patchXml = dir / "pkg/patch0.xml";
  settings.searchPaths = dir / "pkg";
  ComPtr<IDeviceReport> job;
  ASSERT_EQ(CDiskDriveFlasher::StartFlash("/nonexistent-disk", settings.rawprogramXml, settings.patchXml,
                                          settings.searchPaths, job.ReleaseAndGetAddressOf()),
            S_OK);
  NoteJobStarted(job.Get(), "/nonexistent-disk", false, dir / "pkg", settings);
  ASSERT_TRUE(Finished(job.Get()));
  RecordJobIfEnded(job.Get(), "/nonexistent-disk", 2, Status(job.Get()));
  std::vector<FlashRecord> all = Written();
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(all[0].typeCode, 0x1000002u);
  EXPECT_EQ(all[0].method, "disk drive");
  EXPECT_EQ(all[0].outcome, kOutcomeFailed);
  ASSERT_EQ(all[0].files.size(), 4u);
  EXPECT_EQ(all[0].files[2].path, dir / "pkg/system.img");
  EXPECT_EQ(all[0].files[2].sha256, Sha256Hex("system bytes", 12));
  EXPECT_EQ(all[0].files[3].path, dir / "pkg/boot.img");  // named but missing: no digest
  EXPECT_EQ(all[0].files[3].sha256, "");
}

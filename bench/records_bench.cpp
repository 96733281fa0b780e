// What flash records cost. Per job, with 100 000 records already in the
// local file: noting the start, the poll that sees the job end, and the store
// thread's work until the record is committed (file digests included; the
// package is the same for every job, as on a bench). Then the delivery of
// 10 000 waiting records to a PostgreSQL server started for the purpose.
// The last line reads "records per-job-ms=<x> deliver-10k-s=<y>".
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "flashers/disk_drive_flasher.h"
#include "jobs/job_record.h"
#include "records/local_records.h"
#include "records/recorder.h"
#include "tests/records/throwaway_postgres.h"
#include "tests/support/temp_dir.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

FlashRecord Filler(int n) {
  FlashRecord r;
  r.uid = NewRecordUid();
  r.startUtc = r.endUtc = UtcNow();
  r.host = "bench";
  r.version = "6.0.0.1";
  r.user = "tech";
  r.locationIndex = static_cast<std::uint32_t>(n % 16 + 1);
  r.deviceId = "/dev/sd" + std::string(1, static_cast<char>('a' + n % 16));
  r.typeCode = 0x1000002;
  r.method = "disk drive";
  r.package = "/srv/packages/8660";
  r.files = {{"/srv/packages/8660/rawprogram0.xml", 4096, std::string(64, 'a')},
             {"/srv/packages/8660/system.img", 1 << 30, std::string(64, 'b')}};
  r.resultText = "The operation completed successfully.";
  r.outcome = kOutcomeSucceeded;
  r.lastStatus = "The operation completed successfully.";
  r.logFile = "Vantor-1@bench.log";
  return r;
}

bool Fill(const std::string& path, int count) {
  CLocalRecords store;
  if (FAILED(store.Open(path))) return false;
  for (int done = 0; done < count;) {
    std::vector<FlashRecord> batch;
    for (int i = 0; i < 10000 && done < count; ++i, ++done) batch.push_back(Filler(done));
    if (FAILED(store.Insert(batch))) return false;
  }
  return true;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// The median cost of recording one job, in ms; -1 on failure.
double PerJobMs(const TempDir& dir) {
  std::string db = dir / "per-job.db";
  if (!Fill(db, 100000)) return -1;
  std::filesystem::create_directories(dir / "package");
  WriteFile(dir / "package/rawprogram0.xml", "<data><program filename=\"system.img\" start_sector=\"0\"/></data>");
  WriteFile(dir / "package/patch0.xml", "<patches/>");
  WriteFile(dir / "package/system.img", std::string(32 << 20, 'S'));
  JobSettings settings;
  settings.rawprogramXml = dir / "package/rawprogram0.xml";
  settings.patchXml = dir / "package/patch0.xml";
  settings.searchPaths = dir / "package";

  RecorderConfig config;
  config.localPath = db;
  CRecorder recorder(config);
  ScopedJobRecorder scope(&recorder);
  std::vector<double> perJob, poll;
  for (int n = 0; n < 101; ++n) {
    ComPtr<IDeviceReport> job;
    CDiskDriveFlasher::StartFlash("/nonexistent-disk", settings.rawprogramXml, settings.patchXml, settings.searchPaths,
                                  job.ReleaseAndGetAddressOf());
    while (!job->IsCompleted()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    auto start = Clock::now();
    NoteJobStarted(job.Get(), "/nonexistent-disk", false, dir / "package", settings);
    auto polled = Clock::now();
    RecordJobIfEnded(job.Get(), "/nonexistent-disk", 1, "done");
    auto handed = Clock::now();
    if (!recorder.Flush(std::chrono::seconds(30))) return -1;
    // The first job reads the package's files; the others find their digests.
    if (n == 0) continue;
    perJob.push_back(Ms(Clock::now() - start));
    poll.push_back(Ms(handed - polled));
  }
  std::printf("records poll-ms median=%.4f max=%.4f (the window timer's share)\n", Median(poll),
              *std::max_element(poll.begin(), poll.end()));
  return recorder.written() == 101 ? Median(perJob) : -1;
}

// Seconds to deliver 10 000 waiting records; -1 on failure.
double Deliver10kSeconds(const TempDir& dir) {
  ThrowawayPostgres server;
  std::string why;
  if (!server.Start(&why)) {
    std::fprintf(stderr, "records_bench: no server: %s\n", why.c_str());
    return -1;
  }
  RecorderConfig config;
  config.localPath = dir / "deliver.db";
  config.serverUrl = server.Url();
  if (!Fill(config.localPath, 10000)) return -1;
  auto start = Clock::now();
  CRecorder recorder(config);
  while (recorder.delivered() < 10000) {
    if (Clock::now() - start > std::chrono::seconds(120)) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return Ms(Clock::now() - start) / 1000.0;
}

}  // namespace

int main() {
  TempDir dir;
  double perJob = PerJobMs(dir);
  double deliver = Deliver10kSeconds(dir);
  if (perJob < 0 || deliver < 0) {
    std::fprintf(stderr, "records_bench failed\n");
    return 1;
  }
  std::printf("records per-job-ms=%.3f deliver-10k-s=%.2f\n", perJob, deliver);
  return 0;
}

// The embedded store and the recorder against real SQLite files.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sqlite3.h>

#include <chrono>
#include <filesystem>
#include <set>
#include <thread>

#include "records/file_digest.h"
#include "records/local_records.h"
#include "records/record_query.h"
#include "records/recorder.h"
#include "tests/records/record_helpers.h"
#include "tests/support/log_capture.h"
#include "tests/support/temp_dir.h"

namespace {

std::vector<FlashRecord> All(CLocalRecords& store, const RecordFilter& filter = {}) {
  std::vector<FlashRecord> out;
  EXPECT_EQ(store.Query(filter, &out), S_OK);
  return out;
}

// Runs body in a child process and returns its exit status.
template <typename Body>
pid_t Spawn(Body body) {
  pid_t pid = ::fork();
  if (pid == 0) {
    body();
    ::_exit(0);
  }
  return pid;
}

int ExitStatus(pid_t pid) {
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace

TEST(LocalRecords, KeepsEveryFieldAndFiltersNewestFirst) {
  TempDir dir;
  CLocalRecords store;
  ASSERT_EQ(store.Open(dir / "state/vantor/records.db"), S_OK);  // creates the folders
  EXPECT_EQ(store.SchemaVersion(), 2);
  std::vector<FlashRecord> in;
  for (int n = 0; n < 6; ++n) in.push_back(SampleRecord(n, n == 3 ? kOutcomeFailed : n == 5 ? kOutcomeReleased : kOutcomeSucceeded));
  ASSERT_EQ(store.Insert(in), S_OK);

  std::vector<FlashRecord> all = All(store);
  ASSERT_EQ(all.size(), 6u);
  EXPECT_EQ(all[0].startUtc, in[5].startUtc);  // newest first
  const FlashRecord& back = all[5];
  EXPECT_EQ(RecordToJsonLine(back), RecordToJsonLine(in[0]));  // every field, the files included

  RecordFilter failed;
  failed.failedOnly = true;
  EXPECT_EQ(All(store, failed).size(), 2u);
  RecordFilter range;
  ASSERT_TRUE(RecordDateKey("2026-12-02", false, &range.since));
  ASSERT_TRUE(RecordDateKey("2026-12-04", true, &range.until));  // the whole of the 4th
  EXPECT_EQ(All(store, range).size(), 3u);
  RecordFilter one;
  one.device = "device-1";
  one.package = "/pkg/a";
  ASSERT_EQ(All(store, one).size(), 2u);
  // A package is one folder of a run's list, matched whole.
  FlashRecord listed = SampleRecord(7);
  listed.package = "/pkg/c;/pkg/a/images";
  ASSERT_EQ(store.Insert({listed}), S_OK);
  RecordFilter folder;
  for (const char* name : {"/pkg/c", "/pkg/a/images"}) {
    folder.package = name;
    EXPECT_EQ(All(store, folder).size(), 1u) << name;
  }
  for (const char* name : {"/pkg", "pkg/c", "/pkg/a/images;", "%"}) {
    folder.package = name;
    EXPECT_EQ(All(store, folder).size(), 0u) << name;
  }
  folder.package = "/pkg/a";
  EXPECT_EQ(All(store, folder).size(), 3u);
  ASSERT_EQ(store.Insert({}), S_OK);
  RecordFilter quoteInValue;
  quoteInValue.device = "x' OR '1'='1";
  EXPECT_TRUE(All(store, quoteInValue).empty());
  EXPECT_EQ(RecordSummaryLine(All(store)),
            "total 7, succeeded 5, failed 1, released 1; by package: /pkg/a 3, /pkg/b 3, /pkg/c;/pkg/a/images 1");
}

TEST(LocalRecords, DateOptionsAreCheckedAndCoverWhatTheyName) {
  std::string key;
  for (const char* bad : {"", "yesterday", "2026-13-01", "2026-12-32", "2026-12-1", "2026-12-01T25:00",
                          "2026-12-01T10:00:0", "2026-12-01X10:00", "2026-12-01T10:00;DROP"})
    EXPECT_FALSE(RecordDateKey(bad, false, &key)) << bad;
  const std::string stored = "2026-12-01T10:30:59.999Z";
  for (const char* end : {"2026-12-01", "2026-12-01T10:30", "2026-12-01 10:30:59", "2026-12-01T10:30:59.999Z"}) {
    ASSERT_TRUE(RecordDateKey(end, true, &key)) << end;
    EXPECT_LE(stored, key) << end;
    ASSERT_TRUE(RecordDateKey(end, false, &key)) << end;
    EXPECT_GE(stored, key) << end;
  }
  ASSERT_TRUE(RecordDateKey("2026-12-01T10:29", true, &key));
  EXPECT_GT(stored, key);
}

TEST(LocalRecords, FilesSurviveTheirTextFormAndDigestsAreSha256) {
  std::vector<RecordFile> files = {{"/a \"q\"\\b\n", 18446744073709551615ull, "ff"}, {"", 0, ""}};
  std::vector<RecordFile> back;
  ASSERT_TRUE(FilesFromJson(FilesToJson(files), &back));
  ASSERT_EQ(back.size(), 2u);
  EXPECT_EQ(back[0].path, files[0].path);
  EXPECT_EQ(back[0].size, files[0].size);
  for (const char* bad : {"", "[", "[{}]", "[{\"path\":\"a\",\"size\":1,\"sha256\":\"b\"}]x", "[{\"path\":\"\\q\"}]"})
    EXPECT_FALSE(FilesFromJson(bad, &back)) << bad;

  EXPECT_EQ(Sha256Hex("abc", 3), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  TempDir dir;
  WriteFile(dir / "f", "abc");
  RecordFile f = DigestFile(dir / "f");
  EXPECT_EQ(f.size, 3u);
  EXPECT_EQ(f.sha256, Sha256Hex("abc", 3));
  // A changed file is read again, not answered from the cache.
  WriteFile(dir / "f", "abcd");
  EXPECT_EQ(DigestFile(dir / "f").sha256, Sha256Hex("abcd", 4));
  EXPECT_EQ(DigestFile(dir / "missing").sha256, "");
  EXPECT_EQ(DigestFile(dir.path()).sha256, "");  // a folder is no file
}

TEST(LocalRecords, ACorruptOrForeignFileIsMovedAsideAndANewOneStarted) {
  TempDir dir;
  LogCapture log;
  WriteFile(dir / "records.db", std::string(8192, 'x'));  // not a database at all
  {
    CLocalRecords store;
    ASSERT_EQ(store.Open(dir / "records.db"), S_OK);
    ASSERT_NE(store.movedAside(), "");
    EXPECT_EQ(ReadFile(store.movedAside()), std::string(8192, 'x'));
    EXPECT_EQ(store.Insert({SampleRecord(1)}), S_OK);
    EXPECT_EQ(All(store).size(), 1u);
  }
  EXPECT_EQ(log.Count("is not a record store; moved aside"), 1);
  EXPECT_EQ(log.Count("CLocalRecords::Open("), 1);  // the trace line

  // Another program's database: tables, but not ours.
  std::filesystem::remove(dir / "records.db");
  {
    SqliteDb other;
    ASSERT_EQ(other.Open(dir / "records.db"), SQLITE_OK);
    ASSERT_EQ(other.Exec("CREATE TABLE contacts (name TEXT); INSERT INTO contacts VALUES ('x')"), SQLITE_OK);
  }
  CLocalRecords store;
  ASSERT_EQ(store.Open(dir / "records.db"), S_OK);
  EXPECT_NE(store.movedAside(), "");
  EXPECT_TRUE(All(store).empty());
  // A store of this program opens as it is.
  ASSERT_EQ(store.Insert({SampleRecord(2)}), S_OK);
  CLocalRecords again;
  ASSERT_EQ(again.Open(dir / "records.db"), S_OK);
  EXPECT_EQ(again.movedAside(), "");
  EXPECT_EQ(All(again).size(), 1u);
}

// Two connections that open one new store at the same moment both set it up
// or wait for the other: SQLite refuses one of them at once, without its busy
// time-out, when each holds a lock the other needs.
TEST(LocalRecords, TwoConnectionsOpeningANewStoreAtOnceBothSucceed) {
  TempDir dir;
  for (int round = 0; round < 300; ++round) {
    std::string path = dir / ("records-" + std::to_string(round) + ".db");
    HRESULT first = E_FAIL, second = E_FAIL;
    CLocalRecords a, b;
    std::thread other([&] { second = b.Open(path); });
    first = a.Open(path);
    other.join();
    ASSERT_EQ(first, S_OK) << "round " << round;
    ASSERT_EQ(second, S_OK) << "round " << round;
  }
}

TEST(LocalRecords, TwoProcessesWritingAtOnceLoseNothing) {
  TempDir dir;
  std::string path = dir / "records.db";
  auto writer = [&] {
    RecorderConfig config;
    config.localPath = path;
    CRecorder recorder(config);
    for (int n = 0; n < 500; ++n) {
      recorder.Submit(SampleRecord(n));
      if (n % 50 == 0) recorder.Flush(std::chrono::seconds(30));  // many small transactions, interleaved
    }
    recorder.Flush(std::chrono::seconds(60));
    ::_exit(recorder.written() == 500 ? 0 : 1);
  };
  pid_t a = Spawn(writer), b = Spawn(writer);
  EXPECT_EQ(ExitStatus(a), 0);
  EXPECT_EQ(ExitStatus(b), 0);
  CLocalRecords store;
  ASSERT_EQ(store.Open(path), S_OK);
  std::vector<FlashRecord> all = All(store);
  EXPECT_EQ(all.size(), 1000u);
  std::set<std::string> uids;
  for (const FlashRecord& r : all) uids.insert(r.uid);
  EXPECT_EQ(uids.size(), 1000u);
}

TEST(LocalRecords, AProcessKilledWhileWritingLeavesAReadableStore) {
  TempDir dir;
  std::string path = dir / "records.db";
  for (int round = 0; round < 3; ++round) {
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    pid_t pid = Spawn([&] {
      CLocalRecords store;
      if (FAILED(store.Open(path))) ::_exit(1);
      for (int n = 0;; ++n) {
        std::vector<FlashRecord> batch;
        for (int i = 0; i < 20; ++i) batch.push_back(SampleRecord(n * 20 + i));
        store.Insert(batch);
        if (n == 5) (void)::write(pipeFds[1], "x", 1);
      }
    });
    char c;
    ASSERT_EQ(::read(pipeFds[0], &c, 1), 1);
    ::usleep(static_cast<useconds_t>(1000 * (round * 7 % 10)));
    ::kill(pid, SIGKILL);
    EXPECT_EQ(ExitStatus(pid), 128 + SIGKILL);
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);

    CLocalRecords store;
    ASSERT_EQ(store.Open(path), S_OK);
    EXPECT_EQ(store.movedAside(), "");
    SqliteDb raw;
    ASSERT_EQ(raw.Open(path), SQLITE_OK);
    SqliteStatement check;
    ASSERT_EQ(raw.Prepare("PRAGMA integrity_check", &check), SQLITE_OK);
    ASSERT_EQ(sqlite3_step(check.get()), SQLITE_ROW);
    EXPECT_EQ(check.Text(0), "ok");
    std::vector<FlashRecord> all = All(store);
    EXPECT_GE(all.size(), 120u);
    EXPECT_EQ(all.size() % 20, 0u);  // whole batches only
    for (const FlashRecord& r : all) ASSERT_EQ(r.files.size(), 2u);
  }
}

TEST(Recorder, AStoreThatCannotBeWrittenDropsRecordsAndSaysSoOnce) {
  TempDir dir;
  WriteFile(dir / "file", "");
  LogCapture log;
  RecorderConfig config;
  config.localPath = dir / "file/records.db";  // its folder is a file: nothing can be created there
  CRecorder recorder(config);
  for (int n = 0; n < 3; ++n) {
    recorder.Submit(SampleRecord(n));
    ASSERT_TRUE(recorder.Flush(std::chrono::seconds(10)));
  }
  EXPECT_EQ(recorder.written(), 0u);
  EXPECT_EQ(log.Count("the records of this run are not kept"), 1);
  EXPECT_TRUE(FAILED(recorder.TakeFault()));
  EXPECT_EQ(recorder.TakeFault(), S_OK);  // once
}

TEST(Recorder, RecordsThatFindTheStoreBusyWaitAndAreWrittenWhenItIsFree) {
  TempDir dir;
  LogCapture log;
  RecorderConfig config;
  config.localPath = dir / "records.db";
  config.busyTimeoutMs = 20;
  config.retryMs = 30;
  CLocalRecords created;
  ASSERT_EQ(created.Open(config.localPath), S_OK);
  SqliteDb other;  // another process's long write
  ASSERT_EQ(other.Open(config.localPath), SQLITE_OK);
  ASSERT_EQ(other.Exec("BEGIN EXCLUSIVE"), SQLITE_OK);
  CRecorder recorder(config);  // busy from its start
  recorder.Submit(SampleRecord(1));
  ASSERT_TRUE(recorder.Flush(std::chrono::seconds(10)));
  EXPECT_EQ(recorder.written(), 0u);
  ASSERT_EQ(other.Exec("COMMIT"), SQLITE_OK);
  ASSERT_TRUE(WaitUntil([&] { return recorder.written() == 1u; }));

  ASSERT_EQ(other.Exec("BEGIN EXCLUSIVE"), SQLITE_OK);  // busy again, now that it is open
  recorder.Submit(SampleRecord(2));
  recorder.Submit(SampleRecord(3));
  ASSERT_TRUE(recorder.Flush(std::chrono::seconds(10)));
  EXPECT_EQ(recorder.written(), 1u);
  ASSERT_EQ(other.Exec("COMMIT"), SQLITE_OK);
  ASSERT_TRUE(WaitUntil([&] { return recorder.written() == 3u; }));
  EXPECT_EQ(All(created).size(), 3u);
  EXPECT_EQ(log.Count("they are kept and tried again"), 1);
  EXPECT_EQ(recorder.TakeFault(), HRESULT_FROM_WIN32(ERROR_BUSY));
}

TEST(Recorder, FillsInFileDigestsAndWritesOnItsOwnThread) {
  TempDir dir;
  WriteFile(dir / "boot.img", "boot image bytes");
  RecorderConfig config;
  config.localPath = dir / "records.db";
  CRecorder recorder(config);
  FlashRecord r = SampleRecord(1);
  r.files = {{dir / "boot.img", 0, ""}, {dir / "gone.img", 0, ""}};
  recorder.Submit(r);
  ASSERT_TRUE(recorder.Flush(std::chrono::seconds(10)));
  EXPECT_EQ(recorder.written(), 1u);
  CLocalRecords store;
  ASSERT_EQ(store.Open(config.localPath), S_OK);
  std::vector<FlashRecord> all = All(store);
  ASSERT_EQ(all.size(), 1u);
  ASSERT_EQ(all[0].files.size(), 2u);
  EXPECT_EQ(all[0].files[0].size, 16u);
  EXPECT_EQ(all[0].files[0].sha256, Sha256Hex("boot image bytes", 16));
  EXPECT_EQ(all[0].files[1].sha256, "");
  // Without a server nothing waits for delivery and nothing is marked.
  std::vector<WaitingRecord> waiting;
  ASSERT_EQ(store.Waiting(10, &waiting), S_OK);
  EXPECT_EQ(waiting.size(), 1u);
}

// The records of a line of benches on a real PostgreSQL server, started once
// for this binary, and a whole flash of the virtual bench through vantor-cli.
#include <gtest/gtest.h>
#include <libpq-fe.h>

#include <atomic>
#include <filesystem>
#include <set>
#include <thread>

#include "platform/format.h"
#include "platform/path_name.h"
#include "process/command_line.h"
#include "process/executor.h"
#include "records/file_digest.h"
#include "records/local_records.h"
#include "records/recorder.h"
#include "records/server_records.h"
#include "tests/records/record_helpers.h"
#include "tests/records/throwaway_postgres.h"
#include "tests/support/log_capture.h"
#include "tests/support/sample_package.h"
#include "tests/support/temp_dir.h"

namespace {

ThrowawayPostgres* g_server = nullptr;

class ServerEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    server_ = std::make_unique<ThrowawayPostgres>();
    std::string why;
    ASSERT_TRUE(server_->Start(&why)) << why;
    g_server = server_.get();
  }
  void TearDown() override {
    g_server = nullptr;
    server_.reset();
  }

 private:
  std::unique_ptr<ThrowawayPostgres> server_;
};

// Runs one statement on the server's maintenance database; the first column
// of each row.
std::vector<std::string> Sql(const std::string& url, const std::string& sql) {
  std::vector<std::string> rows;
  PGconn* conn = PQconnectdb(url.c_str());
  EXPECT_EQ(PQstatus(conn), CONNECTION_OK) << PQerrorMessage(conn);
  PGresult* r = PQexec(conn, sql.c_str());
  EXPECT_TRUE(PQresultStatus(r) == PGRES_TUPLES_OK || PQresultStatus(r) == PGRES_COMMAND_OK) << PQerrorMessage(conn);
  for (int i = 0; i < PQntuples(r); ++i) rows.push_back(PQgetvalue(r, i, 0));
  PQclear(r);
  PQfinish(conn);
  return rows;
}

// Each test gets a database of its own on the one server.
class ServerRecords : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(g_server, nullptr);
    std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    Sql(g_server->Url(), "CREATE DATABASE " + name);
    url = g_server->Url() + " dbname=" + name;
  }
  RecorderConfig Config() {
    RecorderConfig config;
    config.localPath = dir / "records.db";
    config.serverUrl = url;
    config.retryMs = 100;
    return config;
  }
  std::vector<WaitingRecord> Waiting() {
    CLocalRecords local;
    std::vector<WaitingRecord> waiting;
    EXPECT_EQ(local.Open(dir / "records.db"), S_OK);
    EXPECT_EQ(local.Waiting(100000, &waiting), S_OK);
    return waiting;
  }
  TempDir dir;
  std::string url;
};

}  // namespace

TEST_F(ServerRecords, RecordsReachTheServerOnceEach) {
  std::vector<FlashRecord> sent;
  {
    CRecorder recorder(Config());
    for (int n = 0; n < 50; ++n) {
      sent.push_back(SampleRecord(n));
      recorder.Submit(sent.back());
    }
    // Text from a phone or a script need not be UTF-8, nor free of NUL; the
    // server takes neither, so they are stored as "?".
    FlashRecord odd = SampleRecord(50);
    odd.lastStatus = std::string("bad \xff\xfe byte, \xe5\x88 cut, NUL \0 end", 30);
    odd.files[0].path = "/pkg/\xc0\xaf.img";
    recorder.Submit(odd);
    odd.lastStatus = "bad ?? byte, ?? cut, NUL ? end";
    odd.files[0].path = "/pkg/??.img";
    sent.push_back(odd);
    ASSERT_TRUE(recorder.Flush(std::chrono::seconds(30)));
    EXPECT_EQ(recorder.delivered(), 51u);
  }
  EXPECT_TRUE(Waiting().empty());
  CServerRecords server;
  ASSERT_EQ(server.Connect(url), S_OK);
  long long count = 0;
  ASSERT_EQ(server.Count(&count), S_OK);
  EXPECT_EQ(count, 51);
  RecordFilter oddOne;
  oddOne.since = sent.back().startUtc;
  oddOne.until = sent.back().startUtc;
  std::vector<FlashRecord> stored;
  ASSERT_EQ(server.Query(oddOne, &stored), S_OK);
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_EQ(stored[0].lastStatus, sent.back().lastStatus);
  EXPECT_EQ(stored[0].files[0].path, sent.back().files[0].path);
  // A batch sent again (its delivery mark lost to a kill) adds nothing.
  ASSERT_EQ(server.Insert(sent), S_OK);
  ASSERT_EQ(server.Count(&count), S_OK);
  EXPECT_EQ(count, 51);
  EXPECT_EQ(Sql(url, "SELECT version FROM schema_version"), std::vector<std::string>{"2"});
  // The server gives back what the bench wrote, filtered like the local file.
  RecordFilter filter;
  filter.device = "device-1";
  std::vector<FlashRecord> back;
  ASSERT_EQ(server.Query(filter, &back), S_OK);
  ASSERT_EQ(back.size(), 13u);
  auto same = std::find_if(sent.begin(), sent.end(), [&](const FlashRecord& r) { return r.uid == back[0].uid; });
  ASSERT_NE(same, sent.end());
  EXPECT_EQ(RecordToJsonLine(back[0]), RecordToJsonLine(*same));
}

TEST_F(ServerRecords, AServerStoppedMidRunGetsEveryRecordExactlyOnceInOrder) {
  CRecorder recorder(Config());
  std::vector<std::string> uids;
  auto submit = [&](int from, int to) {
    for (int n = from; n < to; ++n) {
      FlashRecord r = SampleRecord(n);
      uids.push_back(r.uid);
      recorder.Submit(r);
      if (n % 10 == 0) recorder.Flush(std::chrono::seconds(30));
    }
    ASSERT_TRUE(recorder.Flush(std::chrono::seconds(30)));
  };
  submit(0, 100);
  EXPECT_EQ(recorder.delivered(), 100u);
  ASSERT_TRUE(g_server->Stop());
  submit(100, 200);
  EXPECT_EQ(recorder.written(), 200u);  // the bench goes on; records wait in the file
  EXPECT_EQ(recorder.delivered(), 100u);
  EXPECT_EQ(Waiting().size(), 100u);
  EXPECT_TRUE(FAILED(recorder.TakeFault()));
  ASSERT_TRUE(g_server->Restart());
  ASSERT_TRUE(WaitUntil([&] { return recorder.delivered() == 200u; }, std::chrono::seconds(30)));
  EXPECT_EQ(Sql(url, "SELECT uid FROM flash_records ORDER BY id"), uids);
  EXPECT_TRUE(Waiting().empty());
}

// A server that holds a lock on the records never holds the program's end:
// the recorder ends within its 3 seconds, the record waits in the local file
// for the next run, and the log says so once.
TEST_F(ServerRecords, AServerHoldingALockDelaysTheEndAtMostThreeSeconds) {
  LogCapture log;
  auto recorder = std::make_unique<CRecorder>(Config());
  recorder->Submit(SampleRecord(1));
  ASSERT_TRUE(recorder->Flush(std::chrono::seconds(30)));
  ASSERT_EQ(recorder->delivered(), 1u);

  std::unique_ptr<PGconn, decltype(&PQfinish)> holder(PQconnectdb(url.c_str()), &PQfinish);
  ASSERT_EQ(PQstatus(holder.get()), CONNECTION_OK);
  PQclear(PQexec(holder.get(), "BEGIN"));
  PGresult* locked = PQexec(holder.get(), "LOCK TABLE flash_records IN ACCESS EXCLUSIVE MODE");
  ASSERT_EQ(PQresultStatus(locked), PGRES_COMMAND_OK);
  PQclear(locked);
  // Released once the recorder has ended, or after 20 s in any case, so a
  // recorder that waits for the lock ends too, late.
  std::atomic<bool> ended{false};
  std::thread release([&] {
    WaitUntil([&] { return ended.load(); }, std::chrono::seconds(20));
    PQclear(PQexec(holder.get(), "COMMIT"));
  });

  FlashRecord second = SampleRecord(2);
  recorder->Submit(second);
  ASSERT_TRUE(WaitUntil([&] { return recorder->written() == 2u; }));
  auto start = std::chrono::steady_clock::now();
  recorder.reset();
  auto took = std::chrono::steady_clock::now() - start;
  ended = true;
  release.join();
  EXPECT_LT(took, std::chrono::milliseconds(CRecorder::kExitWaitMs + 1500));
  ASSERT_EQ(Waiting().size(), 1u);
  EXPECT_EQ(Waiting()[0].record.uid, second.uid);
  EXPECT_EQ(log.Count("records not delivered to the records server wait in"), 1);
}

TEST_F(ServerRecords, AWrongConnectionOrRefusedLoginIsReportedOnceAndRecordsWait) {
  LogCapture log;
  struct Case {
    std::string url;
    HRESULT expected;
  } cases[] = {{"this is no connection string", E_INVALIDARG},
               {g_server->Url("nosuchuser") + " dbname=postgres", E_ACCESSDENIED}};
  for (const Case& c : cases) {
    std::string message;
    CServerRecords server;
    EXPECT_EQ(server.Connect(c.url, &message), c.expected) << message;
  }
  {
    RecorderConfig config = Config();
    config.serverUrl = cases[1].url;
    CRecorder recorder(config);
    for (int n = 0; n < 5; ++n) {
      recorder.Submit(SampleRecord(n));
      ASSERT_TRUE(recorder.Flush(std::chrono::seconds(10)));
      std::this_thread::sleep_for(std::chrono::milliseconds(120));  // past the retry period: tried again
    }
    EXPECT_EQ(recorder.written(), 5u);
    EXPECT_EQ(recorder.TakeFault(), E_ACCESSDENIED);
    EXPECT_EQ(recorder.TakeFault(), S_OK);
  }
  EXPECT_EQ(log.Count("Records: the records server cannot take records"), 1);
  EXPECT_EQ(Waiting().size(), 5u);
  // Set right, the next run sends what waited.
  CRecorder recorder(Config());
  ASSERT_TRUE(WaitUntil([&] { return recorder.delivered() == 5u; }));
  EXPECT_TRUE(Waiting().empty());
}

// The four phones of the virtual bench through vantor-cli, recording to the
// file and the server: four records, the right results, the files' digests.
TEST_F(ServerRecords, AFlashOfTheVirtualBenchLeavesFourRecords) {
  if (!FastbootInstalled()) GTEST_SKIP() << "Debian's fastboot is not installed";
  std::filesystem::create_directories(dir / "bench");
  ASSERT_TRUE(MakeSamplePackage(dir / "package"));
  ScopedEnv benchDir("VANTOR_BENCH_DIR", (dir / "bench").c_str());
  ScopedEnv helper("VANTOR_DEVICE_HELPER", VANTOR_DEVICES_BIN);
  ScopedEnv scale("VANTOR_TIME_SCALE", "0.1");
  ScopedEnv db("VANTOR_RECORDS_DB", (dir / "records.db").c_str());
  ScopedEnv server("VANTOR_RECORDS_URL", url.c_str());
  CAutoExecutor bench(QuoteArgument(VANTOR_PHONESIM_BIN) + " --dir " + QuoteArgument(dir / "bench") +
                      " --phones 1 --disk-phones 1 --fastboot-phones 1 --diagnostic-phones 1 --disk-delay 100");
  ASSERT_TRUE(WaitUntil([&] { return std::filesystem::exists(dir / "bench/phone-4.state"); }));
  std::string cli = QuoteArgument(VANTOR_CLI_BIN);
  std::string out;
  EXPECT_EQ(ExecuteCommand(cli + " flash --json -p " + QuoteArgument(dir / "package"), &out), 1) << out;

  out.clear();
  ASSERT_EQ(ExecuteCommand(cli + " records --json --package " + QuoteArgument(dir / "package"), &out), 0) << out;
  std::vector<std::string> lines;
  for (size_t start = 0, end; (end = out.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(out.substr(start, end - start));
  ASSERT_EQ(lines.size(), 4u) << out;
  CServerRecords store;
  ASSERT_EQ(store.Connect(url), S_OK);
  std::vector<FlashRecord> records;
  ASSERT_EQ(store.Query({}, &records), S_OK);
  ASSERT_EQ(records.size(), 4u);
  std::map<std::string, FlashRecord> byMethod;
  for (const FlashRecord& r : records) {
    byMethod[r.method] = r;
    EXPECT_EQ(r.package, dir / "package");
    EXPECT_NE(r.deviceId, "");
    EXPECT_GT(r.locationIndex, 0u);
    EXPECT_NE(r.logFile.find("Vantor-"), std::string::npos);
    for (const RecordFile& f : r.files) {
      if (!std::filesystem::exists(f.path)) continue;
      std::string bytes = ReadFile(f.path);
      EXPECT_EQ(f.size, bytes.size()) << f.path;
      EXPECT_EQ(f.sha256, Sha256Hex(bytes.data(), bytes.size())) << f.path;
    }
  }
  ASSERT_EQ(byMethod.size(), 4u);
  EXPECT_EQ(byMethod["emergency download (DMSS)"].outcome, kOutcomeSucceeded);
  EXPECT_EQ(byMethod["emergency download (DMSS)"].typeCode, 0x1000001u);
  EXPECT_EQ(byMethod["disk drive"].outcome, kOutcomeSucceeded);
  EXPECT_EQ(byMethod["fastboot"].outcome, kOutcomeSucceeded);
  // The running phone's restore fails here (no .qcn file in the sample package).
  EXPECT_EQ(byMethod["NV item restore"].outcome, kOutcomeFailed);
  EXPECT_TRUE(FAILED(byMethod["NV item restore"].result));
  EXPECT_EQ(byMethod["NV item restore"].typeCode, 0x1000004u);
  std::set<std::string> diskFiles;
  for (const RecordFile& f : byMethod["disk drive"].files) diskFiles.insert(FileName(f.path));
  EXPECT_TRUE(diskFiles.count("rawprogram0.xml") && diskFiles.count("system.img")) << out;
  EXPECT_EQ(byMethod["emergency download (DMSS)"].files.size(), byMethod["disk drive"].files.size() + 2);

  // The table with its summary, the filters, CSV; the local file holds the
  // same records, all delivered.
  out.clear();
  ASSERT_EQ(ExecuteCommand(cli + " records --failed", &out), 0);
  EXPECT_NE(out.find("total 1, succeeded 0, failed 1, released 0; by package: " + dir / "package" + " 1"),
            std::string::npos) << out;
  out.clear();
  ASSERT_EQ(ExecuteCommand(cli + " records --csv --device " + QuoteArgument(byMethod["fastboot"].deviceId), &out), 0);
  EXPECT_EQ(out.find(RecordCsvHeader() + "\r\n"), 0u) << out;
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 2) << out;
  out.clear();
  EXPECT_EQ(ExecuteCommand(cli + " records --since 2026-02-30x", &out), 2);
  EXPECT_EQ(ExecuteCommand(cli + " records --json --csv", &out), 2);
  EXPECT_TRUE(Waiting().empty());
  ScopedEnv local("VANTOR_RECORDS_URL", nullptr);
  out.clear();
  ASSERT_EQ(ExecuteCommand(cli + " records --until 2999-01-01", &out), 0);
  EXPECT_NE(out.find("total 4, succeeded 3, failed 1, released 0"), std::string::npos) << out;

  // One phone whose files no earlier record read: the process reads them
  // while it ends, and ends well.
  WriteFile(dir / "package/system.img", "new system image");
  out.clear();
  EXPECT_EQ(ExecuteCommand(cli + " flash -p " + QuoteArgument(dir / "package") + " -d " +
                               QuoteArgument(byMethod["disk drive"].deviceId), &out), 0) << out;
  CLocalRecords file;
  ASSERT_EQ(file.Open(dir / "records.db"), S_OK);
  RecordFilter disk;
  disk.device = byMethod["disk drive"].deviceId;
  ASSERT_EQ(file.Query(disk, &records), S_OK);
  ASSERT_EQ(records.size(), 2u);
  bool found = false;
  for (const RecordFile& f : records[0].files) found = found || f.sha256 == Sha256Hex("new system image", 16);
  EXPECT_TRUE(found);
}

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new ServerEnvironment);
  return RUN_ALL_TESTS();
}

#include "shell/log.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <ctime>
#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <thread>
#include <vector>

#include "platform/file_sync.h"

#include "platform/unique_fd.h"
#include "tests/support/temp_dir.h"

namespace {

LogPlacement InFolder(const std::string& folder, std::optional<std::string> host = "bench-7") {
  return LogPlacement{[folder](const std::string& name) { return folder + "/" + name; }, "",
                      [host] { return host; }};
}

// Sends the process log into a fresh folder for one test.
class ProcessLogTest : public ::testing::Test {
 protected:
  void SetUp() override { ProcessLog().Redirect(InFolder(dir.path())); }
  void TearDown() override { ProcessLog().Redirect(LogPlacement::Default()); }
  std::string Contents() {
    ProcessLog().Flush();
    return ReadFile(ProcessLog().path());
  }
  TempDir dir;
};

}  // namespace

TEST(LogFile, NameCarriesTheOpeningTimeAndTheHostName) {
  TempDir dir;
  unsigned before = static_cast<unsigned>(std::time(nullptr));
  LogFile log(InFolder(dir.path()));
  log.WriteLine("first");
  unsigned after = static_cast<unsigned>(std::time(nullptr));
  std::smatch m;
  std::string path = log.path();
  ASSERT_TRUE(std::regex_match(path, m, std::regex(".*/Vantor-([0-9]+)@bench-7\\.log")));
  unsigned stamp = static_cast<unsigned>(std::stoul(m[1]));
  EXPECT_GE(stamp, before);
  EXPECT_LE(stamp, after);
  log.WriteLine("second");
  log.Flush();
  EXPECT_EQ(ReadFile(path), "first\r\nsecond\r\n");  // CR LF, no byte-order mark
}

// The read-me shown with F1 and the project's README name the log by
// placeholders; filled in, they must give the name the program writes.
TEST(LogFile, TheReadMesNameTheLogAsTheProgramWritesIt) {
  TempDir dir;
  LogFile log(InFolder(dir.path()));
  log.WriteLine("x");
  std::string name = log.path().substr(log.path().rfind('/') + 1);
  for (const char* file : {"/resources/ReadMe.txt", "/README.md"}) {
    std::string text = ReadFile(std::string(VANTOR_SOURCE_DIR) + file);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(text, m, std::regex("Vantor-<([a-z]+)>@<([a-z]+)>\\.log"))) << file;
    const std::map<std::string, std::string> meaning = {{"time", "[0-9]+"}, {"host", "bench-7"}};
    ASSERT_TRUE(meaning.count(m[1]) && meaning.count(m[2])) << file << " names " << m[0];
    std::regex written("Vantor-" + meaning.at(m[1]) + "@" + meaning.at(m[2]) + "\\.log");
    EXPECT_TRUE(std::regex_match(name, written)) << file << " says " << m[0] << ", the program wrote " << name;
  }
}

TEST(LogFile, MissingHostNameReadsUnknown) {
  TempDir dir;
  LogFile log(InFolder(dir.path(), std::nullopt));
  log.WriteLine("x");
  EXPECT_TRUE(std::regex_match(log.path(), std::regex(".*/Vantor-[0-9]+@unknown\\.log")));
}

TEST(LogFile, AnUnwritableFolderLosesLinesAndRetriesEachTime) {
  TempDir dir;
  std::atomic<int> attempts{0};
  std::string target = "/proc/vantor-no-such-folder";
  LogFile log(LogPlacement{[&](const std::string& name) {
                             ++attempts;
                             return target + "/" + name;
                           },
                           "", [] { return std::optional<std::string>("h"); }});
  log.WriteLine("lost 1");
  log.WriteLine("lost 2");
  EXPECT_EQ(attempts, 2);
  EXPECT_EQ(log.path(), "");
  target = dir.path();
  log.WriteLine("kept");
  log.Flush();
  EXPECT_EQ(ReadFile(log.path()), "kept\r\n");
}

TEST(LogFile, AnUnwritableExecutableFolderFallsBackToTheStateFolder) {
  TempDir dir;
  LogFile log(LogPlacement{[](const std::string& name) { return "/proc/vantor-no-such-folder/" + name; },
                           dir / "state/vantor", [] { return std::optional<std::string>("h"); }});
  log.WriteLine("saved");
  EXPECT_EQ(log.path().rfind(dir / "state/vantor/Vantor-", 0), 0u);
  log.Flush();
  EXPECT_EQ(ReadFile(log.path()), "saved\r\n");
}

TEST(LogFile, ASecondLogOfTheSameSecondNeverTruncatesTheFirst) {
  TempDir dir;
  auto placement = [&] {
    return LogPlacement{[&](const std::string& name) { return dir / name; }, dir / "state",
                        [] { return std::optional<std::string>("h"); }};
  };
  LogFile first(placement());
  first.WriteLine("first run");
  LogFile second(placement());
  second.WriteLine("second run");
  EXPECT_NE(first.path(), second.path());
  first.Flush();
  second.Flush();
  EXPECT_EQ(ReadFile(first.path()), "first run\r\n");
  EXPECT_EQ(ReadFile(second.path()), "second run\r\n");
}

TEST(LogFile, ALogAnEndedRunLeftIsAppendedTo) {
  TempDir dir;
  auto placement = [&] {
    return LogPlacement{[&](const std::string&) { return dir / "Vantor-1@h.log"; }, "",
                        [] { return std::optional<std::string>("h"); }};
  };
  {
    LogFile ended(placement());
    ended.WriteLine("earlier run");
  }
  LogFile log(placement());
  log.WriteLine("this run");
  log.Flush();
  EXPECT_EQ(ReadFile(dir / "Vantor-1@h.log"), "earlier run\r\nthis run\r\n");
}

// The folder beside the executable or the current folder may be writable
// by another user: a link planted at the log's name is never followed.
TEST(LogFile, ALinkPlantedAtTheLogsNameIsNeverFollowed) {
  TempDir dir;
  WriteFile(dir / "victim", "precious\n");
  std::filesystem::create_symlink(dir / "victim", dir / "Vantor-1@h.log");
  LogFile log(LogPlacement{[&](const std::string&) { return dir / "Vantor-1@h.log"; }, dir / "state",
                           [] { return std::optional<std::string>("h"); }});
  log.WriteLine("a line");
  log.Flush();
  EXPECT_EQ(ReadFile(dir / "victim"), "precious\n");
  EXPECT_EQ(log.path().rfind(dir / "state/Vantor-", 0), 0u) << log.path();
  EXPECT_EQ(ReadFile(log.path()), "a line\r\n");
}

TEST(LogFile, TextTheCodesetCannotHoldIsReplaced) {
  TempDir dir;
  LogFile log(InFolder(dir.path()));
  log.WriteLine("\xE5\x88\xB7\xE6\x96\xB0 ok");  // the tests run in the C locale
  log.Flush();
  EXPECT_EQ(ReadFile(log.path()), "?? ok\r\n");
}

TEST(LogFile, ManyThreadsWriteWholeLines) {
  TempDir dir;
  LogFile log(InFolder(dir.path()));
  constexpr int kThreads = 8, kLines = 400;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kLines; ++i) log.WriteLine("thread " + std::to_string(t) + " line " + std::to_string(i) + " " + std::string(100, static_cast<char>('a' + t)));
    });
  }
  for (auto& th : threads) th.join();
  log.Flush();
  std::string text = ReadFile(log.path());
  std::set<std::string> seen;
  std::map<int, int> lastOfThread;  // each thread's lines come in the order it logged them
  size_t start = 0;
  std::regex whole("thread ([0-7]) line ([0-9]+) ([a-h])\\3{99}");
  while (start < text.size()) {
    size_t end = text.find("\r\n", start);
    ASSERT_NE(end, std::string::npos);
    std::string line = text.substr(start, end - start);
    std::smatch m;
    EXPECT_TRUE(std::regex_match(line, m, whole)) << line;
    if (!m.empty()) {
      int thread = std::stoi(m[1]), number = std::stoi(m[2]);
      EXPECT_EQ(number, lastOfThread.count(thread) ? lastOfThread[thread] + 1 : 0) << line;
      lastOfThread[thread] = number;
    }
    seen.insert(line);
    start = end + 2;
  }
  EXPECT_EQ(seen.size(), static_cast<size_t>(kThreads * kLines));
}

TEST_F(ProcessLogTest, TraceLinesNameTheOperationTheLineTheTextAndTheCode) {
  EXPECT_FALSE(TraceResult(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), "WriteFileToDiskDrive", 42));
  EXPECT_FALSE(TraceResult(MakeHresult(0x8badf00d), "CDeviceReport::GetStatus", 7));
  EXPECT_TRUE(TraceResult(S_OK, "Quiet", 1));
  EXPECT_TRUE(TraceResult(S_FALSE, "Quiet", 2));
  EXPECT_TRUE(TraceResult(0x7fffffff, "Quiet", 3));
  WriteLog("%s %s(0x%08x)", "Install", "Driver", 5u);
  EXPECT_EQ(Contents(),
            "WriteFileToDiskDrive(42): The file was not found.(0x80070002)\r\n"
            "CDeviceReport::GetStatus(7): (0x8badf00d)\r\n"
            "Install Driver(0x00000005)\r\n");
}

// A line is handed to the writer thread: the thread that logs it goes on
// while the disk is slow, and one flush covers the lines queued before it.
// A failure's trace line is different: it is on disk (written, then flushed)
// before TraceResult returns, so a crash right after keeps the cause.
TEST_F(ProcessLogTest, LinesNeverWaitForTheDiskButATraceLineIsOnItBeforeTraceResultReturns) {
  WriteLog("opened");
  Contents();  // the file exists and the writer is idle
  std::mutex lock;
  std::condition_variable changed;
  bool open = false;
  std::vector<std::string> onDiskAtFlush;  // the file as each flush found it
  ScopedSyncHook slowDisk([&](int fd) {
    std::unique_lock held(lock);
    onDiskAtFlush.push_back(ReadFile(ProcessLog().path()));
    changed.wait_for(held, std::chrono::seconds(5), [&] { return open; });
    return RealSyncFileData(fd);
  }, SyncKind::Data);
  auto start = std::chrono::steady_clock::now();
  WriteLog("status 1");
  WriteLog("status 2");
  WriteLog("status 3");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2)) << "a line waited for the disk";
  {
    std::lock_guard held(lock);
    open = true;
  }
  changed.notify_all();
  EXPECT_FALSE(TraceResult(E_FAIL, "DownloadMiniKernel", 9));
  std::vector<std::string> flushes;
  {
    std::lock_guard held(lock);
    flushes = onDiskAtFlush;
  }
  ASSERT_FALSE(flushes.empty());
  EXPECT_NE(flushes.back().find("DownloadMiniKernel(9): "), std::string::npos)
      << "TraceResult returned before a flush covered its line";
  EXPECT_LE(flushes.size(), 3u) << "each of four lines had a flush of its own";
  EXPECT_EQ(Contents(), "opened\r\nstatus 1\r\nstatus 2\r\nstatus 3\r\nDownloadMiniKernel(9): The operation failed.(0x80004005)\r\n");
}

TEST(HexDump, RowsOfSixteenWithNoBreakAfterTheLast) {
  std::vector<unsigned char> bytes(33);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<unsigned char>(0xF0 + i);
  EXPECT_EQ(FormatHexDump("T\r\n", bytes.data(), 0), "T\r\n");
  std::string sixteen = FormatHexDump("", bytes.data(), 16);
  EXPECT_EQ(sixteen, "F0 F1 F2 F3 F4 F5 F6 F7 F8 F9 FA FB FC FD FE FF ");
  std::string seventeen = FormatHexDump("ReceivePacket\r\n", bytes.data(), 17);
  EXPECT_EQ(seventeen, "ReceivePacket\r\n" + sixteen + "\r\n00 ");
  EXPECT_EQ(FormatHexDump("", bytes.data(), 32).find("\r\n", 48 + 2), std::string::npos);
}

TEST(HexDump, OnlyExactlyOneSwitchesDumpsOn) {
  EXPECT_TRUE(DumpSwitchFromValue("1"));
  EXPECT_FALSE(DumpSwitchFromValue("1 "));
  EXPECT_FALSE(DumpSwitchFromValue("yes"));
  EXPECT_FALSE(DumpSwitchFromValue(""));
  EXPECT_FALSE(DumpSwitchFromValue(nullptr));
}

TEST_F(ProcessLogTest, DumpsFollowTheSwitchOfThisProcess) {
  const unsigned char bytes[] = {0x7E, 0x07};
  {
    CHexDump empty("TransmitPacket\r\n");
  }
  {
    CHexDump dump("TransmitPacket\r\n");
    dump.Append(bytes, sizeof bytes);
  }
  WriteLog("end");
  // This binary runs once with DumpVantor unset and once with it set to "1".
  EXPECT_EQ(Contents(), DumpEnabled() ? "TransmitPacket\r\n7E 07 \r\nend\r\n" : "end\r\n");
}

// A script that prints without end must not fill the disk: past the bound
// status lines are counted, trace lines still written, and the count is told.
TEST(LogFile, PastItsBoundOnlyTraceLinesAreWrittenAndTheRestCounted) {
  TempDir dir;
  LogPlacement placement = InFolder(dir.path());
  placement.maxBytes = 2000;
  LogFile log(placement);
  const std::string status(48, 's');  // 50 bytes with CR LF
  for (int i = 0; i < 100; ++i) log.WriteLine(status);
  log.WriteLine("CFastBootFlasher::DoWork(170): Unspecified error(0x80004005)", LogLineKind::Trace);
  log.WriteLine(status);
  log.WriteLeftOutCount();
  log.Flush();
  std::string text = ReadFile(log.path());
  size_t statusLines = 0;
  for (size_t at = text.find(status); at != std::string::npos; at = text.find(status, at + 1)) ++statusLines;
  EXPECT_EQ(statusLines, 40u);  // 2000 bytes of them
  EXPECT_NE(text.find("\r\nThe log has reached its bound of 2000 bytes"), std::string::npos) << text;
  EXPECT_NE(text.find("\r\nCFastBootFlasher::DoWork(170): Unspecified error(0x80004005)\r\n"), std::string::npos);
  EXPECT_NE(text.find("\r\n61 lines were left out of this log past its bound of 2000 bytes\r\n"), std::string::npos)
      << text.substr(text.size() > 300 ? text.size() - 300 : 0);
  EXPECT_LT(text.size(), 2400u);
}

namespace {

void SetWriteTime(const std::string& path, std::time_t when) {
  timespec times[2] = {{when, 0}, {when, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

size_t CountLogs(const std::string& folder) {
  size_t n = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    n += entry.path().filename().string().rfind("Vantor-", 0) == 0 && entry.path().extension() == ".log";
  return n;
}

}  // namespace

// Opening a log prunes the folder it lies in: logs older than 30 days go, and
// beyond the newest 200; other files, and a log a running program still
// writes, stay.
TEST(LogFile, OpeningALogPrunesTheOldOnesBesideIt) {
  TempDir dir;
  std::time_t now = std::time(nullptr);
  WriteFile(dir / "Vantor-1000@old.log", "old\r\n");
  SetWriteTime(dir / "Vantor-1000@old.log", now - 31 * 24 * 3600);
  WriteFile(dir / "notes.txt", "kept\r\n");
  SetWriteTime(dir / "notes.txt", now - 400 * 24 * 3600);
  for (int i = 0; i < 205; ++i) {
    std::string name = dir / ("Vantor-" + std::to_string(2000 + i) + "@bench.log");
    WriteFile(name, "recent\r\n");
    SetWriteTime(name, now - 3600 - (205 - i) * 60);  // Vantor-2000 is the oldest
  }
  UniqueFd inUse(::open((dir / "Vantor-2000@bench.log").c_str(), O_RDONLY | O_CLOEXEC));
  ASSERT_EQ(::flock(inUse.get(), LOCK_EX), 0);  // as a running program holds its log

  LogFile log(InFolder(dir.path()));
  log.WriteLine("this run");
  EXPECT_FALSE(std::filesystem::exists(dir / "Vantor-1000@old.log"));
  EXPECT_TRUE(std::filesystem::exists(dir / "notes.txt"));
  EXPECT_TRUE(std::filesystem::exists(dir / "Vantor-2000@bench.log"));
  EXPECT_FALSE(std::filesystem::exists(dir / "Vantor-2001@bench.log"));
  EXPECT_TRUE(std::filesystem::exists(dir / "Vantor-2006@bench.log"));
  EXPECT_TRUE(std::filesystem::exists(log.path()));
  EXPECT_EQ(CountLogs(dir.path()), 201u);  // this run's, the 199 newest others, the one in use
}

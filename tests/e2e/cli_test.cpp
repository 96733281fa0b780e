// vantor-cli against the virtual bench, as an engineer's script runs it.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <regex>
#include <filesystem>
#include <thread>

#include "platform/unique_fd.h"
#include "platform/version.h"
#include "process/command_line.h"
#include "process/path_list.h"
#include "process/executor.h"
#include "tools/phonesim/generated_nv.h"
#include "shell/settings.h"
#include "tests/support/cli_bench.h"

namespace {

class Cli : public CliBench {
 protected:
  void SetUp() override {
    if (!FastbootInstalled()) GTEST_SKIP() << "Debian's fastboot is not installed";
    CliBench::SetUp();
  }
  // One phone of each mode; `faults` are options of the bench.
  void StartBench(const std::string& faults = "") {
    CliBench::StartBench("--phones 1 --disk-phones 1 --fastboot-phones 1 --diagnostic-phones 1 --disk-delay 100 " + faults,
                         4);
  }
  // The quoted identifier of the bench's phone at index (from "list").
  std::string Phone(unsigned index) {
    std::string list;
    Run("list", &list);
    std::string prefix = std::to_string(index) + " ";
    for (size_t at = 0, end; (end = list.find('\n', at)) != std::string::npos; at = end + 1) {
      std::string line = list.substr(at, end - at);
      if (line.rfind(prefix, 0) == 0) return QuoteArgument(line.substr(prefix.size(), line.find(' ', prefix.size()) - prefix.size()));
    }
    ADD_FAILURE() << "no phone at " << index << " in\n" << list;
    return "";
  }
  // The final object of the phone at index in --json output, or "".
  std::string FinalObject(const std::string& out, int index) {
    std::string key = "\"index\":" + std::to_string(index) + ",";
    for (size_t at = 0, end; (end = out.find('\n', at)) != std::string::npos; at = end + 1) {
      std::string line = out.substr(at, end - at);
      if (line.find(key) != std::string::npos && line.find("\"done\":true") != std::string::npos) return line;
    }
    return "";
  }
};

}  // namespace

TEST_F(Cli, EveryModeOfTheBenchIsFlashedAndTheRunningPhoneRestoresItsBackup) {
  StartBench();
  std::string out;
  EXPECT_EQ(Run("backup --json -p " + QuoteArgument(dir / "package"), &out), 0) << out;
  EXPECT_EQ(Run("flash --json -p " + QuoteArgument(dir / "package"), &out), 0) << out;
  EXPECT_EQ(Lines(out, "\"done\":true"), 4) << out;
  EXPECT_EQ(Lines(out, "\"status\":\"The operation completed successfully.\",\"error\":false,\"done\":true"), 4) << out;
  EXPECT_NE(out.find("{\"summary\":{\"phones\":4,\"succeeded\":4,\"failed\":0}}"), std::string::npos);
  std::string system = ReadFile(dir / "package/system.img");
  for (const char* disk : {"bench/disk-1.img", "bench/disk-3.img"}) {
    EXPECT_EQ(ReadFile(dir / disk).substr(28672 * 512, system.size()), system) << disk;
  }
}

TEST_F(Cli, APhoneThatGoesSilentFailsAloneWithItsCode) {
  StartBench("--silence-after 30");  // the emergency phone stops answering mid-stream
  ScopedEnv fast("VANTOR_TIME_SCALE", "0.01");
  std::string out;
  EXPECT_EQ(Run("flash --json -p " + QuoteArgument(dir / "package"), &out), 1);
  EXPECT_NE(out.find("\"status\":\"The end of the file was reached.(0x80070026"), std::string::npos) << out;
  EXPECT_NE(out.find("{\"summary\":{\"phones\":4,\"succeeded\":2,\"failed\":2}}"), std::string::npos) << out;
  std::string system = ReadFile(dir / "package/system.img");
  EXPECT_EQ(ReadFile(dir / "bench/disk-3.img").substr(28672 * 512, system.size()), system);  // the disk phone is flashed
}

TEST_F(Cli, DevicesUsageAndMissingPackages) {
  StartBench();
  std::string out;
  EXPECT_EQ(Run("list", &out), 0);
  EXPECT_EQ(Lines(out, "\n"), 4);
  EXPECT_NE(out.find(" usb-disk 0x1000002"), std::string::npos);
  EXPECT_EQ(Run("flash -p " + QuoteArgument(dir / "package") + " -d " + QuoteArgument(dir / "bench/disk-3.img"), &out), 0);
  EXPECT_NE(out.find("1 phones: 1 succeeded, 0 failed"), std::string::npos) << out;
  {
    ScopedEnv registry("VANTOR_REGISTRY_DIR", (dir / "registry").c_str());
    EXPECT_EQ(Run("flash -d x", &out), 2);  // no package: none given, none stored
    MruList folders;
    AddToMru(&folders, dir / "package");
    ASSERT_TRUE(SaveMru(folders, kSearchPathSetting.name));
    EXPECT_EQ(Run("flash -d " + QuoteArgument(dir / "bench/disk-3.img"), &out), 0) << out;  // the stored folders
  }
  EXPECT_EQ(Run("flash -p " + QuoteArgument(dir / "package") + " --bogus", &out), 2);
  EXPECT_EQ(Run("backup -p " + QuoteArgument(dir / "package") + " --boot x", &out), 2);  // not a backup option
  EXPECT_EQ(Run("flash -p " + QuoteArgument(dir / "no-such-folder"), &out), 2);
  EXPECT_EQ(Run("frobnicate", &out), 2);
}

namespace {

// A script that stays until it is ended, with children that leave its
// process group and its parent; `mark` makes its processes this test's own.
std::string StuckScript(const std::string& mark) {
  return "echo started\n"
         "sleep " + mark + "1 &\n"
         "( sleep " + mark + "2 & )\n"
         "setsid sleep " + mark + "3 &\n"
         "sleep " + mark + "4\n";
}

// The script's processes still running, with their parents and states
// ("" when none is).
std::string Leftovers(const std::string& mark) {
  std::string pids, out;
  if (ExecuteCommand("pgrep -f " + QuoteArgument("^sleep " + mark), &pids) != 0) return "";
  std::string list = std::regex_replace(pids, std::regex("\\s+"), ",");
  if (!list.empty() && list.back() == ',') list.pop_back();
  ExecuteCommand("ps -o pid,ppid,pgid,sid,stat,args -p " + QuoteArgument(list), &out);
  return out.empty() ? pids : out;
}

// "" once no process of the script is left, else what still runs after 10 s:
// a process the run killed may take a moment to go on a loaded machine, one
// it left running never goes.
std::string LeftoversAfterAWhile(const std::string& mark) {
  std::string left;
  WaitUntil([&] {
    left = Leftovers(mark);
    if (!left.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return left.empty();
  }, std::chrono::seconds(10));
  return left;
}

// The wait status of a child once it has ended; -1 (and the child killed)
// when it has not ended within the deadline.
int StatusWithin(pid_t pid, std::chrono::seconds deadline = std::chrono::seconds(60)) {
  int status = 0;
  if (WaitUntil([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, deadline)) return status;
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
  return -1;
}

}  // namespace

TEST_F(Cli, HelpForEveryCommandAndUsageErrorsNameTheWord) {
  std::string out;
  for (const char* help : {"--help", "-h", "list --help", "flash --help", "backup -h", "download --help",
                           "write-disk --help --bogus"}) {
    EXPECT_EQ(Run(help, &out), 0) << help;
    EXPECT_NE(out.find("usage: vantor-cli"), std::string::npos) << help << "\n" << out;
  }
  EXPECT_EQ(Run("flash --help", &out), 0);
  for (const char* option : {"--package", "--device", "--timeout", "--json", "--script", "--help"})
    EXPECT_NE(out.find(option), std::string::npos) << option;
  struct {
    const char* args;
    const char* named;
  } errors[] = {{"flash --bogus", "\"--bogus\""},
                {"flash -p", "\"-p\""},
                {"flash --timeout soon", "\"soon\""},
                {"backup --boot x", "\"--boot\""},
                {"download --port /dev/null", "\"--programmer\""},
                {"frobnicate", "\"frobnicate\""}};
  for (const auto& e : errors) {
    EXPECT_EQ(Run(e.args, &out), 2) << e.args;
    EXPECT_NE(out.find(e.named), std::string::npos) << e.args << "\n" << out;
  }
  EXPECT_EQ(ExecuteCommand(QuoteArgument(VANTOR_DEVICES_BIN) + " --help", &out), 0);
  for (const char* verb : {"list", "volumes ID", "type ID", "index ID", "name INDEX", "monitor", "init"})
    EXPECT_NE(out.find(verb), std::string::npos) << verb << "\n" << out;
}

TEST_F(Cli, DTakesAnIndexOrAnIdentifierOncePerPhoneAndAnUnknownOneIsAUsageError) {
  StartBench();
  std::string out;
  std::string disk = QuoteArgument(dir / "bench/disk-3.img");
  EXPECT_EQ(Run("flash --json -p " + QuoteArgument(dir / "package") + " -d " + disk + " -d " + disk, &out), 0);
  EXPECT_EQ(Lines(out, "\"done\":true"), 1) << out;
  EXPECT_EQ(Run("flash --json --package=" + QuoteArgument(dir / "package") + " -d 3 -d " + disk + " --device=3", &out), 0);
  EXPECT_EQ(Lines(out, "\"done\":true"), 1) << out;
  EXPECT_NE(out.find("{\"summary\":{\"phones\":1,\"succeeded\":1,\"failed\":0}}"), std::string::npos) << out;

  EXPECT_EQ(Run("flash -p " + QuoteArgument(dir / "package") + " -d 3 -d 9", &out), 2);
  EXPECT_NE(out.find("\"9\""), std::string::npos) << out;
  EXPECT_EQ(out.find("Out of memory"), std::string::npos) << out;
  EXPECT_EQ(Run("flash --json -p " + QuoteArgument(dir / "package") + " -d nothing-here", &out), 2);
  EXPECT_NE(out.find("{\"error\":{\"message\":\"-d \\\"nothing-here\\\" names no attached phone\"}}"),
            std::string::npos) << out;
}

TEST_F(Cli, BackupTakesTheRunningPhonesOnlyAndARefusedRowTookNoTime) {
  StartBench();
  std::string out;
  EXPECT_EQ(Run("backup --json -p " + QuoteArgument(dir / "package"), &out), 0) << out;
  EXPECT_EQ(Lines(out, "\"done\":true"), 1) << out;
  // adb is not allowed on the bench's phone: its own IMEI item names the file.
  EXPECT_TRUE(std::filesystem::exists(dir / ("package/" + phonesim::GeneratedImei(4) + ".qcn"))) << out;
  EXPECT_NE(FinalObject(out, 4), "") << out;  // the running phone
  EXPECT_NE(out.find("{\"summary\":{\"phones\":1,"), std::string::npos) << out;
  // Named, a phone that is not running gets its row, refused at once.
  EXPECT_EQ(Run("backup --json -p " + QuoteArgument(dir / "package") + " -d 2", &out), 1);
  EXPECT_NE(out.find("\"index\":2,\"percent\":0,\"elapsed\":0.00,\"status\":\"The request is not supported.(0x80070032: "
                     "the phone is not a running phone in diagnostic mode)"),
            std::string::npos)
      << out;
}

TEST_F(Cli, ARunWhoseRecordsCannotBeKeptSaysSoOnce) {
  StartBench();
  WriteFile(dir / "not-a-folder", "");  // the records' folder cannot be made
  ScopedEnv records("VANTOR_RECORDS_DB", (dir / "not-a-folder/records.db").c_str());
  std::string out;
  EXPECT_EQ(Run("backup -p " + QuoteArgument(dir / "package"), &out), 0) << out;
  EXPECT_EQ(Lines(out, "the flash records of this run could not be kept"), 1) << out;
}

TEST_F(Cli, NoPhoneAndAFailingDiscoveryAreErrorsAlsoInJson) {
  std::filesystem::create_directories(dir / "empty");
  ScopedEnv empty("VANTOR_BENCH_DIR", (dir / "empty").c_str());
  std::string out;
  EXPECT_EQ(Run("flash -p " + QuoteArgument(dir / "package"), &out), 1);
  EXPECT_NE(out.find("no phone is attached"), std::string::npos) << out;
  EXPECT_EQ(Run("flash --json -p " + QuoteArgument(dir / "package"), &out), 1);
  EXPECT_EQ(out, "{\"error\":{\"message\":\"no phone is attached\"}}\n");
  EXPECT_EQ(Run("backup --json -p " + QuoteArgument(dir / "package"), &out), 1);
  EXPECT_EQ(out, "{\"error\":{\"message\":\"no running phone is attached\"}}\n");

  ScopedEnv broken("VANTOR_DEVICE_HELPER", (dir / "no-such-helper").c_str());
  EXPECT_EQ(Run("flash --json -p " + QuoteArgument(dir / "package"), &out), 1);
  EXPECT_EQ(out.rfind("{\"error\":{\"message\":\"the phones cannot be listed: ", 0), 0u) << out;
  EXPECT_NE(out.find("\"code\":\"0x8007"), std::string::npos) << out;
}

TEST_F(Cli, JsonCarriesEveryLineAScriptPrintedInOrder) {
  StartBench();
  WriteFile(dir / "package/chatty.sh", "i=0; while [ $i -lt 400 ]; do i=$((i+1)); echo \"line $i\"; done\n");
  std::string out;
  EXPECT_EQ(Run("flash --json --script chatty.sh -p " + QuoteArgument(dir / "package") + " -d " + Phone(2), &out), 0);
  size_t at = 0;
  for (int i = 1; i <= 400; ++i) {
    at = out.find("\"status\":\"line " + std::to_string(i) + "\"", at);
    ASSERT_NE(at, std::string::npos) << "line " << i << " is missing or out of order";
  }
  EXPECT_LT(at, out.find("\"done\":true"));
}

TEST_F(Cli, ATimeLimitFailsAStuckScriptAndEndsEveryProcessOfIt) {
  StartBench();
  WriteFile(dir / "package/stuck.sh", StuckScript("411."));
  std::string out;
  auto begun = std::chrono::steady_clock::now();
  EXPECT_EQ(Run("flash --json --timeout 1.5 --script stuck.sh -p " + QuoteArgument(dir / "package") + " -d " + Phone(2),
                &out), 1);
  EXPECT_LT(std::chrono::steady_clock::now() - begun, std::chrono::seconds(20));
  EXPECT_NE(out.find("\"status\":\"started\""), std::string::npos) << out;
  EXPECT_NE(out.find("\"error\":true,\"done\":true,\"result\":\"0x800705b4\""), std::string::npos) << out;
  EXPECT_EQ(LeftoversAfterAWhile("411."), "") << "a process of the script was left behind";
}

// A phone whose port streams bytes without end (never a flag) keeps no job
// past its time limit: the receive loop sees the release within 100 ms, so
// the worker ends inside the job's one-second wait instead of being left
// holding the port. The program runs from a folder of the test's own, so the
// log beside it is this run's alone.
TEST_F(Cli, ATimeLimitEndsAJobWhosePortNeverStopsTalking) {
  // After the answer to the probe's question, an endless stream.
  StartBench("--babble-after 1");
  std::filesystem::create_directories(dir / "cli");
  std::filesystem::copy_file(VANTOR_CLI_BIN, dir / "cli/vantor-cli");
  ScopedEnv unscaled{"VANTOR_TIME_SCALE", "1"};  // the job's release waits its full second
  std::string out;
  auto begun = std::chrono::steady_clock::now();
  EXPECT_EQ(ExecuteCommand(QuoteArgument(dir / "cli/vantor-cli") + " flash --json --timeout 5 -p " +
                               QuoteArgument(dir / "package") + " -d " + Phone(1),
                           &out),
            1);
  EXPECT_LT(std::chrono::steady_clock::now() - begun, std::chrono::seconds(20));
  EXPECT_NE(out.find("\"error\":true,\"done\":true,\"result\":\"0x800705b4\""), std::string::npos) << out;
  std::string log;
  for (const auto& entry : std::filesystem::directory_iterator(dir / "cli"))
    if (entry.path().filename().string().rfind("Vantor-", 0) == 0) log += ReadFile(entry.path());
  // The worker's receive ended at the release: cancelled, not abandoned.
  EXPECT_TRUE(std::regex_search(log, std::regex("ReceivePacket\\([0-9]+\\): [^\r\n]*\\(0x800704c7\\)")))
      << log;
}

TEST_F(Cli, TerminationSignalsReleaseTheJobsEndTheScriptsAndExitLikeCtrlC) {
  StartBench();
  WriteFile(dir / "package/stuck.sh", StuckScript("412."));
  std::string fastboot = Phone(2);
  for (auto [signal, status] : {std::pair{SIGTERM, 143}, {SIGINT, 130}, {SIGHUP, 129}}) {
    ChildProcess cli;
    ASSERT_EQ(StartProcess(QuoteArgument(VANTOR_CLI_BIN) + " flash --json --script stuck.sh -p " +
                               QuoteArgument(dir / "package") + " -d " + fastboot,
                           true, &cli), S_OK);
    ASSERT_TRUE(WaitUntil([] { return ExecuteCommand("pgrep -f \"^sleep 412.4\"") == 0; }, std::chrono::seconds(20)));
    ::kill(cli.process.pid(), signal);
    // Read while the run ends, so a full pipe never holds it up.
    std::string text;
    bool outputEnded = WaitUntil([&] {
      char buffer[4096];
      ssize_t n = ::read(cli.output.get(), buffer, sizeof buffer);
      if (n > 0) text.append(buffer, static_cast<size_t>(n));
      return n == 0;
    }, std::chrono::seconds(60));
    int wait = StatusWithin(cli.process.pid());
    ASSERT_NE(wait, -1) << "the run did not end after signal " << signal;
    EXPECT_TRUE(outputEnded) << signal;
    EXPECT_TRUE(WIFEXITED(wait)) << "the signal killed the program";
    EXPECT_EQ(WEXITSTATUS(wait), status) << signal;
    EXPECT_EQ(LeftoversAfterAWhile("412."), "") << "a process of the script was left behind after signal " << signal
                                               << " to " << cli.process.pid();
    EXPECT_NE(text.find("\"result\":\"0x800704c7\""), std::string::npos) << "signal " << signal << ":\n" << text;
  }
}

TEST_F(Cli, WriteDiskFindsTheImagesBesideTheRawprogramFile) {
  StartBench();
  std::string out;
  EXPECT_EQ(Run("write-disk --disk " + QuoteArgument(dir / "bench/disk-3.img") + " --rawprogram=" +
                    QuoteArgument(dir / "package/rawprogram0.xml") + " --patch " + QuoteArgument(dir / "package/patch0.xml"),
                &out), 0) << out;
  std::string system = ReadFile(dir / "package/system.img");
  EXPECT_EQ(ReadFile(dir / "bench/disk-3.img").substr(28672 * 512, system.size()), system);
}

namespace {

// What a terminal shows of text: escape sequences and carriage returns
// taken out, split into lines.
std::vector<std::string> ScreenLines(const std::string& text) {
  std::string plain = std::regex_replace(text, std::regex("\x1b\\[[0-9;]*[A-Za-z]|\r"), "");
  std::vector<std::string> lines;
  for (size_t at = 0, end; (end = plain.find('\n', at)) != std::string::npos; at = end + 1)
    lines.push_back(plain.substr(at, end - at));
  return lines;
}

}  // namespace

TEST_F(Cli, OnATerminalTheTableFitsItsSizeAndFollowsAResize) {
  StartBench();
  WriteFile(dir / "package/stuck.sh", StuckScript("413."));
  winsize size{};
  size.ws_row = 4;  // room for two rows and the "more" line
  size.ws_col = 50;
  int master = -1;
  pid_t pid = ::forkpty(&master, nullptr, nullptr, &size);
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    std::string package = dir / "package";
    ::execl(VANTOR_CLI_BIN, VANTOR_CLI_BIN, "flash", "--script", "stuck.sh", "-p", package.c_str(), nullptr);
    ::_exit(127);
  }
  std::string screen;
  auto readUntil = [&](const std::function<bool()>& seen) {
    return WaitUntil([&] {
      char buffer[4096];
      pollfd p{master, POLLIN, 0};
      while (::poll(&p, 1, 0) > 0) {
        ssize_t n = ::read(master, buffer, sizeof buffer);
        if (n <= 0) break;
        screen.append(buffer, static_cast<size_t>(n));
      }
      return seen();
    }, std::chrono::seconds(20));
  };
  EXPECT_TRUE(readUntil([&] { return screen.find("... and 2 more") != std::string::npos; })) << screen;
  for (const std::string& line : ScreenLines(screen)) EXPECT_LE(line.size(), 50u) << line;

  size_t before = screen.size();
  size.ws_row = 10;
  size.ws_col = 120;
  ASSERT_EQ(::ioctl(master, TIOCSWINSZ, &size), 0);  // the terminal sends SIGWINCH
  EXPECT_TRUE(readUntil([&] {
    std::vector<std::string> lines = ScreenLines(screen.substr(before));
    return std::any_of(lines.begin(), lines.end(), [](const std::string& l) { return l.rfind("  4  ", 0) == 0; });
  })) << screen.substr(before);
  bool wide = false;
  for (const std::string& line : ScreenLines(screen.substr(before))) {
    EXPECT_LE(line.size(), 120u) << line;
    wide = wide || line.size() > 50;
  }
  EXPECT_TRUE(wide) << screen.substr(before);

  ASSERT_TRUE(WaitUntil([] { return ExecuteCommand("pgrep -f \"^sleep 413.4\"") == 0; }, std::chrono::seconds(20)));
  ::kill(pid, SIGTERM);
  readUntil([&] { return screen.find("phones:") != std::string::npos; });
  int status = StatusWithin(pid);
  ASSERT_NE(status, -1) << "the run did not end after SIGTERM";
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 143) << status;
  ::close(master);
  // What a run leaves is the signal test's; here only what this test started
  // is cleared away (the terminal's hang-up races the run's own ending).
  std::string pids;
  if (ExecuteCommand("pgrep -f \"^sleep 413\\.\"", &pids) == 0)
    for (const std::string& pid : SplitPathList(std::regex_replace(pids, std::regex("\\s+"), ";"))) ::kill(std::stoi(pid), SIGKILL);
}

namespace {

// Starts vantor-cli with its standard output on outFd and its standard error
// on errFd; the pid.
pid_t StartCli(const std::vector<std::string>& args, int outFd, int errFd) {
  std::vector<std::string> words = {VANTOR_CLI_BIN};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, outFd, STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, errFd, STDERR_FILENO);
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

// Runs vantor-cli to its end with its output in files; the wait status.
int RunToFiles(const std::vector<std::string>& args, const std::string& outPath, const std::string& errPath) {
  UniqueFd out(::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  UniqueFd err(::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  pid_t pid = StartCli(args, out.get(), err.get());
  int status = -1;
  if (pid > 0) ::waitpid(pid, &status, 0);
  return status;
}

std::string ExitText(int status) {
  if (WIFEXITED(status)) return "exit " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return "killed by signal " + std::to_string(WTERMSIG(status));
  return "status " + std::to_string(status);
}

}  // namespace

TEST_F(Cli, EveryProgramPrintsItsVersion) {
  for (const char* program : {VANTOR_CLI_BIN, VANTOR_DEVICES_BIN, VANTOR_PHONESIM_BIN}) {
    std::string out;
    EXPECT_EQ(ExecuteCommand(QuoteArgument(program) + " --version", &out), 0) << program;
    EXPECT_EQ(out, std::filesystem::path(program).filename().string() + " " VANTOR_VERSION "\n");
  }
}

// `vantor-cli flash ... | head -1`: the reader goes after one line. The run
// ends as SIGTERM ends it: the script's processes end, the row is released
// (and recorded), and the exit status is that of a closed pipe.
TEST_F(Cli, AClosedOutputPipeEndsTheRunLikeATerminationSignal) {
  ScopedEnv records("VANTOR_RECORDS_DB", (dir / "records.db").c_str());
  StartBench();
  WriteFile(dir / "package/endless.sh",
            "echo started\nsleep 414.1 &\nwhile :; do echo tick; sleep 0.02; done\n");
  std::string fastboot = Phone(2);
  int pipeFds[2];
  ASSERT_EQ(::pipe2(pipeFds, O_CLOEXEC), 0);
  UniqueFd readEnd(pipeFds[0]), writeEnd(pipeFds[1]);
  UniqueFd err(::open((dir / "stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  pid_t pid = StartCli({"flash", "--json", "--script", "endless.sh", "-p", dir / "package", "-d",
                        fastboot.substr(1, fastboot.size() - 2)},
                       writeEnd.get(), err.get());
  ASSERT_GT(pid, 0);
  writeEnd.Reset();
  std::string first;
  char c;
  while (::read(readEnd.get(), &c, 1) == 1 && c != '\n') first += c;  // head -1
  EXPECT_NE(first.find("\"device\":"), std::string::npos) << first;
  ASSERT_TRUE(WaitUntil([] { return ExecuteCommand("pgrep -f \"^sleep 414.1\"") == 0; }, std::chrono::seconds(20)));
  readEnd.Reset();
  int status = StatusWithin(pid);
  ASSERT_NE(status, -1) << "the run did not end after its output closed";
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 128 + SIGPIPE) << ExitText(status);
  EXPECT_EQ(LeftoversAfterAWhile("414."), "") << "a process of the script was left behind";
  std::string out;
  EXPECT_EQ(Run("records --json", &out), 0) << out;
  EXPECT_NE(out.find("\"method\":\"fastboot\""), std::string::npos) << "the released row left no record:\n" << out;
  // Ended by the closed output as by a termination signal: failed, with its code.
  EXPECT_NE(out.find("\"outcome\":\"failed\""), std::string::npos) << out;
}

TEST_F(Cli, OutputToAFullDiskIsAFailureAndListSpeaksJson) {
  StartBench();
  std::string disk = dir / "bench/disk-3.img";
  int status = RunToFiles({"flash", "--json", "-p", dir / "package", "-d", disk}, "/dev/full", dir / "err.txt");
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 74) << ExitText(status);
  status = RunToFiles({"list"}, "/dev/full", dir / "err.txt");
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 74) << ExitText(status);
  EXPECT_NE(ReadFile(dir / "err.txt").find("the output cannot be written"), std::string::npos);

  std::string out;
  EXPECT_EQ(Run("list --json", &out), 0);
  EXPECT_EQ(Lines(out, "\n"), 4) << out;
  EXPECT_NE(out.find("{\"index\":3,\"device\":\"" + disk + "\",\"mode\":\"usb-disk\",\"type\":\"0x1000002\"}\n"),
            std::string::npos) << out;
}

TEST_F(Cli, DownloadAndWriteDiskFailuresGoToStandardErrorAndNameTheMissingImage) {
  StartBench();
  WriteFile(dir / "package/raw-absent.xml",
            "<?xml version=\"1.0\"?>\n<data><program start_sector=\"34\" filename=\"absent.img\"/></data>\n");
  int status = RunToFiles({"write-disk", "--disk", dir / "bench/disk-3.img", "--rawprogram",
                           dir / "package/raw-absent.xml", "--patch", dir / "package/patch0.xml"},
                          dir / "out.txt", dir / "err.txt");
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << ExitText(status);
  std::string err = ReadFile(dir / "err.txt");
  EXPECT_EQ(err.rfind("vantor-cli write-disk: ", 0), 0u) << err;
  EXPECT_NE(err.find("(0x80070002: Open image file \"" + dir / "package/absent.img\")"), std::string::npos) << err;
  EXPECT_EQ(ReadFile(dir / "out.txt").find("0x80070002"), std::string::npos) << "the error went to standard output";

  status = RunToFiles({"download", "--port", dir / "no-such-port", "--programmer", dir / "package/MPRG8660.hex",
                       "--boot", dir / "package/8660_msimage.mbn"},
                      dir / "out.txt", dir / "err.txt");
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << ExitText(status);
  EXPECT_EQ(ReadFile(dir / "err.txt").rfind("vantor-cli download: ", 0), 0u) << ReadFile(dir / "err.txt");
  EXPECT_EQ(ReadFile(dir / "out.txt"), "");
}

TEST_F(Cli, CheckReadsThePackageAsTheJobsWouldAndNamesWhatFails) {
  std::string out;
  std::string package = QuoteArgument(dir / "package");
  EXPECT_EQ(Run("check --mode emergency -p " + package, &out), 0) << out;
  for (const char* role : {"flash programmer", "boot image", "rawprogram XML", "patch XML"})
    EXPECT_NE(out.find("ok      emergency " + std::string(role)), std::string::npos) << role << "\n" << out;
  EXPECT_EQ(Run("check -m fastboot -p" + package, &out), 0) << out;
  EXPECT_NE(out.find("fastboot script"), std::string::npos) << out;
  // No .qcn in the sample package: the whole check fails on that file alone.
  EXPECT_EQ(Run("check -p " + package, &out), 1) << out;
  EXPECT_EQ(Lines(out, "FAILED  "), 1) << out;
  EXPECT_NE(out.find("FAILED  nv        NV item file"), std::string::npos) << out;
  WriteFile(dir / "package/broken.qcn", "not a compound file");
  EXPECT_EQ(Run("check --mode=nv --nv broken.qcn -p " + package, &out), 1) << out;
  EXPECT_NE(out.find("(0x8007000b)"), std::string::npos) << out;

  WriteFile(dir / "package/raw-absent.xml",
            "<?xml version=\"1.0\"?>\n<data><program start_sector=\"34\" filename=\"absent.img\"/></data>\n");
  EXPECT_EQ(Run("check --mode disk --rawprogram raw-absent.xml -p " + package, &out), 1) << out;
  EXPECT_NE(out.find("absent.img"), std::string::npos) << out;
  WriteFile(dir / "package/raw-bad.xml",
            "<?xml version=\"1.0\"?>\n<data><program start_sector=\"0x22\" filename=\"boot.img\"/></data>\n");
  EXPECT_EQ(Run("check --mode disk --rawprogram raw-bad.xml -p " + package, &out), 1) << out;
  EXPECT_EQ(Run("check --mode sideways -p " + package, &out), 2) << out;
  EXPECT_NE(out.find("\"sideways\""), std::string::npos) << out;
}

// Installed, the device helper is an internal program under libexec.
TEST_F(Cli, AnInstalledProgramFindsItsHelperUnderLibexec) {
  namespace fs = std::filesystem;
  fs::create_directories(dir / "usr/bin");
  fs::create_directories(dir / "usr/libexec/vantor");
  fs::copy_file(VANTOR_CLI_BIN, dir / "usr/bin/vantor-cli");
  fs::copy_file(VANTOR_DEVICES_BIN, dir / "usr/libexec/vantor/vantor-devices");
  StartBench();
  ScopedEnv noHelper("VANTOR_DEVICE_HELPER", nullptr);
  std::string out;
  EXPECT_EQ(ExecuteCommand(QuoteArgument(dir / "usr/bin/vantor-cli") + " list", &out), 0) << out;
  EXPECT_EQ(Lines(out, "\n"), 4) << out;
}

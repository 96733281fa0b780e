// What a user of vantor-cli sees of a package that is wrong, or that changes
// under the run: the whole package is refused before a phone hears a byte or
// a disk is written; a file that changes fails only the job reading it; a
// FIFO never holds the program; a phone on its way back as a disk stays the
// first run's; many images on several phones fit the usual open-file limit.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "tests/support/cli_bench.h"

namespace {

// A vantor-cli run in the background, its output taken as it comes. A run
// still going at the end of the test is killed.
class BackgroundCli {
 public:
  explicit BackgroundCli(const std::string& args) {
    EXPECT_EQ(StartProcess(QuoteArgument(VANTOR_CLI_BIN) + " " + args, true, &child_), S_OK) << args;
  }
  ~BackgroundCli() {
    if (!child_.process.valid() || ended_) return;
    ::kill(child_.process.pid(), SIGKILL);
    ::waitpid(child_.process.pid(), nullptr, 0);
  }
  // True once the output holds fragment.
  bool Seen(const std::string& fragment) {
    Drain();
    return output_.find(fragment) != std::string::npos;
  }
  // The exit code when the run ends within the deadline; -1 when it is
  // killed by a signal or outlasts the deadline.
  int Wait(std::chrono::milliseconds deadline) {
    if (!WaitUntil([&] { return Drain(), child_.process.WaitForExit(0); }, deadline)) return -1;
    int status = 0;
    ::waitpid(child_.process.pid(), &status, 0);
    ended_ = true;
    Drain();
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  const std::string& output() const { return output_; }
  // Takes what the run has printed so far, so it never waits on a full pipe.
  void Drain() {
    char buffer[4096];
    for (ssize_t n; (n = ::read(child_.output.get(), buffer, sizeof buffer)) > 0;)
      output_.append(buffer, static_cast<size_t>(n));
  }

 private:
  ChildProcess child_;
  bool ended_ = false;
  std::string output_;
};

class CliPackage : public CliBench {
 protected:
  // A rawprogram file of these program elements in the package.
  void Rawprogram(const std::string& name, const std::string& programs) {
    WriteFile(dir / ("package/" + name), "<?xml version=\"1.0\"?>\n<data>\n" + programs + "</data>\n");
  }
  // size bytes of the disk from offset (fewer at its end).
  static std::string Sectors(const std::string& disk, std::uint64_t offset, std::uint64_t size) {
    std::ifstream in(disk, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(offset));
    std::string bytes(size, '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(size));
    bytes.resize(static_cast<size_t>(in.gcount()));
    return bytes;
  }
  // True when the disk holds only zeros in [offset, offset + size).
  static bool Blank(const std::string& disk, std::uint64_t offset, std::uint64_t size) {
    return Sectors(disk, offset, size) == std::string(size, '\0');
  }
  std::string package() { return QuoteArgument(dir / "package"); }
};

constexpr const char* kFailedRow = "\"error\":true,\"done\":true";
constexpr const char* kSucceededRow = "\"status\":\"The operation completed successfully.\",\"error\":false,\"done\":true";

}  // namespace

// A rawprogram file naming an image that is not there fails both phones'
// jobs at their check: the phone in emergency download mode never hears a
// byte (it stays in its boot loader, not half flashed), the disk gets nothing.
TEST_F(CliPackage, AMissingImageIsRefusedBeforeThePhoneHearsAByte) {
  StartBench("--phones 1 --disk-phones 1 --disk-delay 100", 2);
  Rawprogram("raw-absent.xml",
             "<program start_sector=\"34\" filename=\"boot.img\"/>\n<program start_sector=\"9000\" filename=\"absent.img\"/>\n");
  std::string out;
  EXPECT_EQ(Run("flash --json --rawprogram raw-absent.xml -p " + package(), &out), 1) << out;
  EXPECT_EQ(Lines(out, kFailedRow), 2) << out;
  EXPECT_EQ(Lines(out, "\"result\":\"0x80070002\""), 2) << out;
  EXPECT_NE(out.find("absent.img"), std::string::npos) << out;
  bench::PhoneState emergency = State(1);
  EXPECT_EQ(emergency.mode, "emergency");
  EXPECT_FALSE(emergency.heard) << "the phone was sent bytes";
  EXPECT_TRUE(Blank(dir / "bench/disk-2.img", 34 * 512, 4096));
}

// The boot image shrinks while it streams (a new package copied over the old
// one): that phone's job fails with a short read, the disk phone's job is
// flashed, the program exits as a failed run does and both jobs are recorded.
TEST_F(CliPackage, ABootImageThatShrinksFailsItsJobAloneAndEveryJobIsRecorded) {
  ScopedEnv records("VANTOR_RECORDS_DB", (dir / "records.db").c_str());
  StartBench("--phones 1 --disk-phones 1 --disk-delay 100 --rate 1", 2);  // 2 MiB stream in more than 2 s
  BackgroundCli cli("flash --json -p " + package());
  ASSERT_TRUE(WaitUntil([&] { return cli.Seen("StreamWrite address"); }, std::chrono::seconds(60))) << cli.output();
  std::filesystem::resize_file(dir / "package/8660_msimage.mbn", 4096);
  EXPECT_EQ(cli.Wait(std::chrono::seconds(60)), 1) << "the run did not end as a failed run:\n" << cli.output();
  EXPECT_EQ(Lines(cli.output(), "\"result\":\"0x80070026\""), 1) << cli.output();
  EXPECT_NE(cli.output().find("{\"summary\":{\"phones\":2,\"succeeded\":1,\"failed\":1}}"), std::string::npos)
      << cli.output();
  std::string out;
  EXPECT_EQ(Run("records --json", &out), 0) << out;
  EXPECT_EQ(Lines(out, "\n"), 2) << out;
  EXPECT_EQ(Lines(out, "\"result\":\"0x80070026\""), 1) << out;
  EXPECT_EQ(Lines(out, "\"outcome\":\"succeeded\""), 1) << out;
}

// A FIFO as the boot image and as an image of the rawprogram file is no
// package file: both jobs fail with E_INVALIDARG at once, the emergency
// phone hears nothing, and the program exits well inside the jobs' time limit
// (a blocking open would hold it, and the phone's lock, for ever).
TEST_F(CliPackage, AFifoIsRefusedAndTheProgramEndsPromptly) {
  StartBench("--phones 1 --disk-phones 1 --disk-delay 100", 2);
  ASSERT_EQ(::mkfifo((dir / "package/fifo.mbn").c_str(), 0600), 0);
  ASSERT_EQ(::mkfifo((dir / "package/fifo.img").c_str(), 0600), 0);
  Rawprogram("raw-fifo.xml",
             "<program start_sector=\"34\" filename=\"boot.img\"/>\n<program start_sector=\"9000\" filename=\"fifo.img\"/>\n");
  auto begun = std::chrono::steady_clock::now();
  BackgroundCli cli("flash --json --timeout 10 --boot fifo.mbn --rawprogram raw-fifo.xml -p " + package());
  EXPECT_EQ(cli.Wait(std::chrono::seconds(20)), 1) << "the run did not end:\n" << cli.output();
  EXPECT_LT(std::chrono::steady_clock::now() - begun, std::chrono::seconds(10));
  EXPECT_EQ(Lines(cli.output(), "\"result\":\"0x80070057\""), 2) << cli.output();
  EXPECT_FALSE(State(1).heard) << "the phone was sent bytes";
  EXPECT_TRUE(Blank(dir / "bench/disk-2.img", 34 * 512, 4096));
}

// "0x2" sectors of partition is not a number: the run is refused before its
// first write, also of the elements before it. A plain size still limits
// what is written of its file.
TEST_F(CliPackage, AHexPartitionSizeIsRefusedBeforeAnyWrite) {
  StartBench("--phones 0 --disk-phones 1", 1);
  WriteFile(dir / "package/one.img", std::string(512, '\x5A'));
  WriteFile(dir / "package/eight.img", std::string(8 * 512, '\xA5'));
  std::string disk = dir / "bench/disk-1.img";
  auto raw = [&](const char* sectors) {
    Rawprogram("raw-size.xml", "<program start_sector=\"34\" filename=\"one.img\"/>\n"
                               "<program start_sector=\"100\" num_partition_sectors=\"" +
                                   std::string(sectors) + "\" filename=\"eight.img\"/>\n");
  };
  raw("0x2");
  std::string out;
  EXPECT_EQ(Run("flash --json --rawprogram raw-size.xml -p " + package() + " -d 1", &out), 1) << out;
  EXPECT_NE(out.find("\"result\":\"0x803d0000\""), std::string::npos) << out;
  EXPECT_TRUE(Blank(disk, 34 * 512, (108 - 34) * 512)) << "the disk was written";

  raw("2");
  EXPECT_EQ(Run("flash --json --rawprogram raw-size.xml -p " + package() + " -d 1", &out), 0) << out;
  EXPECT_EQ(Sectors(disk, 34 * 512, 512), std::string(512, '\x5A'));
  EXPECT_EQ(Sectors(disk, 100 * 512, 3 * 512), std::string(2 * 512, '\xA5') + std::string(512, '\0'));
}

// While the emergency job of a phone waits for it to come back as a USB
// disk, a second run for that disk ends at once with ERROR_BUSY; the first
// run then writes its package.
TEST_F(CliPackage, ASecondRunForAPhoneOnItsWayBackAsADiskIsBusy) {
  StartBench("--phones 1 --disk-delay 3000", 1);  // back 300 ms after the reset
  std::unique_ptr<BackgroundCli> first;
  {
    // The first run waits its full second between looks and 5 s once the disk is there.
    ScopedEnv unscaled("VANTOR_TIME_SCALE", "1");
    first = std::make_unique<BackgroundCli>("flash --json -p " + package() + " -d 1");
  }
  ASSERT_TRUE(WaitUntil([&] { return first->Drain(), State(1).mode == "disk"; }, std::chrono::seconds(60)))
      << first->output();
  std::string out;
  EXPECT_EQ(Run("flash --json -p " + package() + " -d 1", &out), 1) << out;
  EXPECT_NE(out.find("\"result\":\"0x800700aa\""), std::string::npos) << out;
  EXPECT_EQ(first->Wait(std::chrono::seconds(60)), 0) << first->output();
  EXPECT_EQ(Lines(first->output(), kSucceededRow), 1) << first->output();
}

// Five phones, each written 300 images, under a hard limit of 1024 open
// files: images are opened one at a time, never all held. Two phones speak
// Sahara and Firehose, two the older protocol (their package is checked for
// both), one is a disk already.
TEST_F(CliPackage, FivePhonesOf300ImagesEachFitAThousandOpenFiles) {
  StartBench("--phones 2 --disk-phones 1 --firehose-phones 2 --disk-delay 100 --disk-bytes 16777216 "
             "--fh-lun-bytes 16777216",
             5);
  std::string programs;
  for (int i = 0; i < 300; ++i) {
    std::string name = "part" + std::to_string(i) + ".img";
    WriteFile(dir / ("package/" + name), std::string(512, static_cast<char>(i + 1)));
    programs += "<program start_sector=\"" + std::to_string(8192 + i) + "\" filename=\"" + name + "\"/>\n";
  }
  Rawprogram("raw-many.xml", programs);
  std::string out;
  EXPECT_EQ(ExecuteCommand("sh -c " + QuoteArgument("ulimit -n 1024 && exec \"$0\" \"$@\"") + " " +
                               QuoteArgument(VANTOR_CLI_BIN) + " flash --json --rawprogram raw-many.xml -p " + package(),
                           &out),
            0)
      << out;
  EXPECT_NE(out.find("{\"summary\":{\"phones\":5,\"succeeded\":5,\"failed\":0}}"), std::string::npos) << out;
  for (const char* disk : {"disk-1.img", "disk-2.img", "disk-3.img", "firehose-4-lun0.img", "firehose-5-lun0.img"})
    EXPECT_EQ(Sectors(dir / ("bench/" + std::string(disk)), (8192 + 299) * 512, 512),
              std::string(512, static_cast<char>(300)))
        << disk;
}

// The whole-package check and what reads package files: numbers read
// strictly, only regular files opened (never waiting on a FIFO), few files
// held open, and a file that changes under a run failing that run.
#include "download/package_check.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <future>

#include "download/disk_writer.h"
#include "download/download_run.h"
#include "download/download_settings.h"
#include "download/intel_hex.h"
#include "download/streaming.h"
#include "firehose/firehose_package.h"
#include "platform/open_file_limit.h"
#include "platform/timing.h"
#include "records/file_digest.h"
#include "tests/support/bench_package.h"
#include "tests/support/bench_phone.h"
#include "tests/support/fake_ports.h"
#include "tests/support/log_capture.h"
#include "tests/support/status_list.h"
#include "tests/support/temp_dir.h"

namespace {

using Bytes = std::vector<unsigned char>;

std::string Xml(const std::string& path, const std::string& body) {
  WriteFile(path, "<?xml version=\"1.0\" ?>\n<data>\n" + body + "</data>\n");
  return path;
}

// A disk of 64 sectors filled with 0xEE and a folder for the package.
class Package : public ::testing::Test {
 protected:
  void SetUp() override { WriteFile(disk(), std::string(64 * 512, '\xEE')); }
  std::string disk() const { return dir / "disk.img"; }
  std::string Image(const std::string& name, size_t size, unsigned seed = 1) {
    Bytes bytes = Pattern(size, seed);
    WriteFile(dir / name, std::string(bytes.begin(), bytes.end()));
    return name;
  }
  HRESULT Write(const std::string& raw, const std::string& patch, IQStatusReport* sink = nullptr) {
    return DownloadToDiskDrive(disk(), Xml(dir / "raw.xml", raw), Xml(dir / "patch.xml", patch), dir.path(), sink);
  }
  TempDir dir;
};

// Runs call on a thread of its own; when it has not returned within the
// deadline the FIFO is opened for writing too, which lets an open blocked on
// it go on, and the case fails.
HRESULT WithinDeadline(const std::string& fifo, std::function<HRESULT()> call) {
  auto result = std::async(std::launch::async, std::move(call));
  if (result.wait_for(std::chrono::seconds(5)) == std::future_status::ready) return result.get();
  UniqueFd release(::open(fifo.c_str(), O_RDWR | O_NONBLOCK));
  ADD_FAILURE() << "blocked on the FIFO " << fifo;
  result.wait();
  return E_FAIL;
}

}  // namespace

// Every number of an element the writer uses is a plain decimal: "0x2" is
// refused instead of read as 0, which once let an 8-sector image be written
// whole past its 2-sector partition.
TEST_F(Package, EveryNumberTheWriterReadsIsAPlainDecimal) {
  Image("boot.img", 8 * 512);
  const std::string before = ReadFile(disk());
  const std::string program = "<program start_sector=\"10\" filename=\"boot.img\" ";
  const std::string patch = "<patch start_sector=\"1\" size_in_bytes=\"4\" filename=\"DISK\" ";
  const std::pair<std::string, std::string> refused[] = {
      {program + "num_partition_sectors=\"0x2\"/>", ""},
      {program + "num_partition_sectors=\"2 sectors\"/>", ""},
      {program + "num_partition_sectors=\"-1\"/>", ""},
      {program + "num_partition_sectors=\"\"/>", ""},
      {program + "file_sector_offset=\"0x1\"/>", ""},
      {program + "file_sector_offset=\"99999999999999999999999\"/>", ""},
      {"<program start_sector=\"+10\" filename=\"boot.img\"/>", ""},
      {"", patch + "byte_offset=\"0x8\"/>"},
      {"", patch.substr(0, patch.find("size_in_bytes")) + "size_in_bytes=\"4bytes\" filename=\"DISK\"/>"},
      {"", "<patch start_sector=\"0x1\" size_in_bytes=\"4\" filename=\"DISK\"/>"},
      {"", "<patch start_sector=\"NUM_DISK_SECTORS-1.x\" size_in_bytes=\"4\" filename=\"DISK\"/>"},
  };
  for (const auto& [raw, patchBody] : refused) {
    LogCapture log;
    EXPECT_EQ(Write(raw + "\n", patchBody + "\n"), WS_E_INVALID_FORMAT) << raw << patchBody;
    EXPECT_EQ(ReadFile(disk()), before) << raw << patchBody;
    EXPECT_EQ(log.Count("CheckPackage("), 1) << raw << patchBody;
  }
  // A valid partition size still limits what is written of its file, and
  // plain numbers may carry blanks and a closing period.
  ASSERT_EQ(Write(program + "num_partition_sectors=\" 2 \" file_sector_offset=\"1.\"/>\n", ""), S_OK);
  std::string disk = ReadFile(this->disk());
  Bytes image = Pattern(8 * 512, 1);
  EXPECT_EQ(disk.substr(10 * 512, 2 * 512), std::string(image.begin() + 512, image.begin() + 3 * 512));
  EXPECT_EQ(disk.substr(12 * 512), before.substr(12 * 512));
}

// The backup table's patches name their sector from the disk's end: they
// land in the last sector, not in the first.
TEST_F(Package, APatchSectorCountedFromTheDiskEnd) {
  ASSERT_EQ(Write("", "<patch start_sector=\"NUM_DISK_SECTORS-1.\" byte_offset=\"16\" size_in_bytes=\"2\" "
                      "value=\"NUM_DISK_SECTORS-0\" filename=\"DISK\"/>\n"),
            S_OK);
  std::string disk = ReadFile(this->disk());
  EXPECT_EQ(disk.substr(63 * 512 + 16, 2), std::string("\x40\x00", 2));
  EXPECT_EQ(disk.substr(0, 512), std::string(512, '\xEE'));
}

// Only regular files are package files: a FIFO or a folder is refused at
// once with E_INVALIDARG, wherever the package names it, and nothing waits.
TEST_F(Package, OnlyRegularFilesAreRead) {
  const std::string fifo = dir / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::filesystem::create_directory(dir / "folder.img");
  Image("boot.img", 512);
  const std::string before = ReadFile(disk());
  std::string good = "<program start_sector=\"1\" filename=\"boot.img\"/>\n";
  for (const char* name : {"fifo", "folder.img"}) {
    LogCapture log;
    std::string raw = good + "<program start_sector=\"2\" filename=\"" + std::string(name) + "\"/>\n";
    EXPECT_EQ(WithinDeadline(fifo, [&] { return Write(raw, ""); }), E_INVALIDARG) << name;
    EXPECT_EQ(log.Count("ReadProgramElements("), 1) << name;
  }
  EXPECT_EQ(WithinDeadline(fifo, [&] { return DownloadToDiskDrive(disk(), fifo, fifo, dir.path(), nullptr); }),
            E_INVALIDARG);
  EXPECT_EQ(ReadFile(disk()), before);
  ProgrammerImage programmer;
  EXPECT_EQ(WithinDeadline(fifo, [&] { return LoadIntelHex(fifo, &programmer); }), E_INVALIDARG);
  phonesim::EmergencyPhoneConfig config;
  config.startInProgrammer = true;
  SimPort port(config, {});
  EXPECT_EQ(WithinDeadline(fifo, [&] { return DownloadMiniKernel(fifo, nullptr, port); }), E_INVALIDARG);
  EXPECT_TRUE(port.events.empty());
  // The Firehose half of a package: its programmer and its images.
  WriteFile(dir / "prog.elf", "\x7F" "ELF" + std::string(60, '\0'));
  std::string raw = Xml(dir / "raw.xml", good + "<program start_sector=\"2\" filename=\"fifo\"/>\n");
  std::string patch = Xml(dir / "patch.xml", "");
  auto firehose = [&](const std::string& programmer) {
    FirehosePackage package;
    return ReadFirehosePackage(programmer, raw, patch, dir.path(), "", nullptr, &package);
  };
  EXPECT_EQ(WithinDeadline(fifo, [&] { return firehose(fifo); }), E_INVALIDARG);
  EXPECT_EQ(WithinDeadline(fifo, [&] { return firehose(dir / "prog.elf"); }), E_INVALIDARG);
  // The records' digest of such a file is left empty, without waiting.
  RecordFile digest;
  WithinDeadline(fifo, [&] {
    digest = DigestFile(fifo);
    return S_OK;
  });
  EXPECT_EQ(digest.sha256, "");
}

// The check holds no image open: a package of 300 elements is checked and
// written under an open-file limit far below 300, and its Firehose half is
// checked there too.
TEST_F(Package, ManyElementsHoldFewFilesOpen) {
  std::string raw;
  for (int i = 0; i < 300; ++i) {
    std::string name = Image("part" + std::to_string(i) + ".img", 100, static_cast<unsigned>(i));
    raw += "<program start_sector=\"" + std::to_string(i % 60) + "\" filename=\"" + name + "\"/>\n";
  }
  std::string rawXml = Xml(dir / "raw.xml", raw), patchXml = Xml(dir / "patch.xml", "");
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
  rlimit low = saved;
  low.rlim_cur = 64;
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
  HRESULT written = DownloadToDiskDrive(disk(), rawXml, patchXml, dir.path(), nullptr);
  WriteFile(dir / "prog.elf", "\x7F" "ELF" + std::string(60, '\0'));
  FirehosePackage firehose;
  HRESULT checked = ReadFirehosePackage(dir / "prog.elf", rawXml, patchXml, dir.path(), "", nullptr, &firehose);
  ::setrlimit(RLIMIT_NOFILE, &saved);
  EXPECT_EQ(written, S_OK);
  EXPECT_EQ(checked, S_OK);
  EXPECT_EQ(firehose.programs.size(), 300u);
  Bytes last = Pattern(100, 299);
  EXPECT_EQ(ReadFile(disk()).substr((299 % 60) * 512, 100), std::string(last.begin(), last.end()));
}

// At start the programs raise their soft limit of open files to the hard one.
TEST(OpenFileLimit, TheSoftLimitIsRaisedToTheHardOne) {
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
  rlimit low = saved;
  low.rlim_cur = 32;
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
  RaiseOpenFileLimit();
  rlimit raised{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &raised), 0);
  ::setrlimit(RLIMIT_NOFILE, &saved);
  EXPECT_EQ(raised.rlim_cur, saved.rlim_max);
}

// An image that shrinks after the check fails the write with a read error;
// the bytes it no longer has are never written as zeros.
TEST_F(Package, AnImageThatShrinksFailsTheWrite) {
  Image("big.img", 2049 * 512);
  WriteFile(disk(), std::string(4096 * 512, '\xEE'));
  // Cut while the first block is written: the second block's read comes short.
  struct Cutter : StatusList {
    std::string path;
    HRESULT NewStatus(LONG id, const Bstr& one, const Bstr& text) override {
      if (text.str().rfind("WriteFile position", 0) == 0 && Count("WriteFile position") == 0)
        std::filesystem::resize_file(path, 2048 * 512 + 100);
      return StatusList::NewStatus(id, one, text);
    }
  } cutter;
  cutter.path = dir / "big.img";
  LogCapture log;
  EXPECT_EQ(Write("<program start_sector=\"0\" filename=\"big.img\"/>\n", "", &cutter),
            HRESULT_FROM_WIN32(ERROR_HANDLE_EOF));
  EXPECT_EQ(log.Count("WriteFileToDiskDrive("), 1);
  EXPECT_EQ(cutter.Count("WriteFile position"), 2);
}

// An image replaced by a shorter file between the check and the write is
// refused before it is read.
TEST_F(Package, AnImageReplacedAfterTheCheckIsRefused) {
  Image("big.img", 4 * 512);
  CheckedPackage package;
  ASSERT_EQ(CheckPackage(Xml(dir / "raw.xml", "<program start_sector=\"0\" filename=\"big.img\"/>\n"),
                         Xml(dir / "patch.xml", ""), dir.path(), &package),
            S_OK);
  Image("big.img", 512);
  const std::string before = ReadFile(disk());
  EXPECT_EQ(DownloadToDiskDrive(disk(), package, nullptr), HRESULT_FROM_WIN32(ERROR_HANDLE_EOF));
  EXPECT_EQ(ReadFile(disk()), before);
}

// A boot image cut while it is streamed fails the download with a read error,
// and the process goes on.
TEST_F(Package, ABootImageCutWhileStreamedFailsTheDownload) {
  phonesim::EmergencyPhoneConfig config;
  config.startInProgrammer = true;
  config.block = 64;
  SimPort port(config, {});
  const std::string path = dir / Image("boot.mbn", 64 * 100);
  struct Cutter : StatusList {
    std::string path;
    HRESULT NewStatus(LONG id, const Bstr& one, const Bstr& text) override {
      if (text.str() == "Open EMMC card USER partition") ::truncate(path.c_str(), 64 * 10);
      return StatusList::NewStatus(id, one, text);
    }
  } cutter;
  cutter.path = path;
  EXPECT_EQ(DownloadMiniKernel(path, &cutter, port), HRESULT_FROM_WIN32(ERROR_HANDLE_EOF));
}

// The emergency download checks its whole package before the phone hears a
// byte: a rawprogram file that names a missing image, or a number that is
// not one, leaves the phone in its boot loader.
TEST_F(Package, AnEmergencyDownloadChecksThePackageFirst) {
  ScopedEnv benchDir("VANTOR_BENCH_DIR", dir.path().c_str());
  ScopedEnv helper("VANTOR_DEVICE_HELPER", VANTOR_DEVICES_BIN);
  ScopedTimeScale fast(0.01);
  BenchPackage package(dir.path());
  const std::pair<std::string, HRESULT> cases[] = {
      {"<data><program start_sector=\"200\" filename=\"system.img\"/>"
       "<program start_sector=\"300\" filename=\"userdata.img\"/></data>",
       HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)},
      {"<data><program start_sector=\"200\" num_partition_sectors=\"0x2\" filename=\"system.img\"/></data>",
       WS_E_INVALID_FORMAT},
  };
  for (const auto& [raw, expected] : cases) {
    WriteFile(package.Path("rawprogram0.xml"), raw);
    phonesim::PtyEmergencyPhone phone(BenchPhoneAt(dir.path(), 6));
    std::string error;
    ASSERT_TRUE(phone.Start(&error)) << error;
    ComPtr<IDownloadSettings> settings;
    ASSERT_EQ(CreateDownloadSettings(settings.ReleaseAndGetAddressOf()), S_OK);
    for (auto [name, file] : {std::pair{"filepathxml", "rawprogram0.xml"}, {"emmcfilepathboot", "8660_msimage.mbn"},
                              {"filepathpatch", "patch0.xml"}, {"flashprogrammer", "MPRG8660.hex"}})
      settings->SetParam(Variant::String(Bstr(name)), Variant::String(Bstr(package.Path(file))));
    settings->SetParam(Variant::String(Bstr("searchpaths")), Variant::String(Bstr(dir.path())));
    StatusList status;
    EXPECT_EQ(RunDownload(settings.Get(), 6, &status), expected) << raw;
    phone.Stop();
    EXPECT_EQ(phone.Snapshot().stage(), phonesim::EmergencyPhone::Stage::BootLoader) << raw;
    EXPECT_TRUE(phone.Snapshot().memory().empty()) << raw;
    EXPECT_EQ(status.Count("Open serial port"), 0) << raw;
  }
}

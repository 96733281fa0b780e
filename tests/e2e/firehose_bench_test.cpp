// Sahara/Firehose phones of the virtual bench flashed through vantor-cli,
// one and eight at once, each phone's storage compared byte for byte with
// the package; and the faults a phone can show.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>

#include "process/command_line.h"
#include "process/executor.h"
#include "shell/settings.h"
#include "tests/firehose/wire_vectors.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr std::uint64_t kSector = 512;
constexpr std::uint64_t kLunBytes = 8ull << 20;

std::string Pattern(size_t size, unsigned seed) {
  std::string s(size, '\0');
  for (size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * 131 + seed * 17 + i / 509) & 0xFF);
  return s;
}

struct Image {
  std::string name;
  std::uint64_t startSector;
  std::string bytes;
};

class FirehoseBench : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(dir / "bench");
    std::filesystem::create_directories(dir / "package");
    WriteFile(dir / "package/prog_firehose_test.elf", [] {
      vectors::Bytes b = vectors::SyntheticProgrammer();
      return std::string(b.begin(), b.end());
    }());
    // Sizes that are and are not sector multiples, one larger than a chunk.
    images = {{"gpt_main0.bin", 0, Pattern(34 * kSector, 1)},
              {"boot.img", 2048, Pattern(1500000, 2)},
              {"efi.bin", 6000, Pattern(5000, 3)}};
    std::string rawprogram = "<?xml version=\"1.0\" ?>\n<data>\n";
    for (const Image& i : images) {
      WriteFile(dir / ("package/" + i.name), i.bytes);
      rawprogram += "  <program SECTOR_SIZE_IN_BYTES=\"512\" file_sector_offset=\"0\" filename=\"" + i.name +
                    "\" label=\"" + i.name + "\" num_partition_sectors=\"0\" physical_partition_number=\"0\" "
                    "start_sector=\"" + std::to_string(i.startSector) + "\" />\n";
    }
    rawprogram += "  <program SECTOR_SIZE_IN_BYTES=\"512\" filename=\"\" label=\"userdata\" "
                  "num_partition_sectors=\"0\" physical_partition_number=\"0\" start_sector=\"9000\" />\n</data>\n";
    WriteFile(dir / "package/rawprogram0.xml", rawprogram);
    WriteFile(dir / "package/patch0.xml",
              "<?xml version=\"1.0\" ?>\n<patches>\n"
              "  <patch SECTOR_SIZE_IN_BYTES=\"512\" byte_offset=\"32\" filename=\"DISK\" physical_partition_number=\"0\" "
              "size_in_bytes=\"8\" start_sector=\"1\" value=\"NUM_DISK_SECTORS-1.\" what=\"backup GPT LBA\" />\n"
              "  <patch SECTOR_SIZE_IN_BYTES=\"512\" byte_offset=\"32\" filename=\"gpt_main0.bin\" "
              "physical_partition_number=\"0\" size_in_bytes=\"8\" start_sector=\"1\" value=\"5\" />\n"
              "</patches>\n");
  }

  void StartBench(int phones, const std::string& options = "") {
    bench_ = std::make_unique<CAutoExecutor>(QuoteArgument(VANTOR_PHONESIM_BIN) + " --dir " +
                                             QuoteArgument(dir / "bench") + " --phones 0 --firehose-phones " +
                                             std::to_string(phones) + " --fh-lun-bytes " +
                                             std::to_string(kLunBytes) + " " + options);
    ASSERT_TRUE(WaitUntil([&] { return std::filesystem::exists(dir / ("bench/phone-" + std::to_string(phones) + ".state")); }));
  }

  HRESULT Flash(const std::string& extra, std::string* out) {
    out->clear();
    return ExecuteCommand(QuoteArgument(VANTOR_CLI_BIN) + " flash --json -p " + QuoteArgument(dir / "package") +
                              " --firehose-programmer \"prog_*firehose*\" " + extra,
                          out);
  }

  // The phone's storage holds every image at its place, zero padded to its
  // last sector, and the patched backup-GPT field.
  void ExpectFlashed(int index) {
    std::string lun = ReadFile(dir / ("bench/firehose-" + std::to_string(index) + "-lun0.img"));
    ASSERT_EQ(lun.size(), kLunBytes) << index;
    std::uint64_t value = 0;
    for (int b = 7; b >= 0; --b) value = value << 8 | static_cast<unsigned char>(lun[kSector + 32 + b]);
    EXPECT_EQ(value, kLunBytes / kSector - 1) << index;
    for (const Image& i : images) {
      std::string padded = i.bytes;
      padded.resize((i.bytes.size() + kSector - 1) / kSector * kSector, '\0');
      if (i.startSector == 0) padded.replace(kSector + 32, 8, lun, kSector + 32, 8);  // the patched field, checked above
      ASSERT_TRUE(lun.compare(i.startSector * kSector, padded.size(), padded) == 0) << i.name << " on phone " << index;
    }
  }

  static int Count(const std::string& text, const std::string& fragment) {
    int n = 0;
    for (size_t at = text.find(fragment); at != std::string::npos; at = text.find(fragment, at + 1)) ++n;
    return n;
  }

  TempDir dir;
  std::vector<Image> images;
  ScopedEnv benchDir{"VANTOR_BENCH_DIR", (dir / "bench").c_str()};
  ScopedEnv helper{"VANTOR_DEVICE_HELPER", VANTOR_DEVICES_BIN};
  ScopedEnv scale{"VANTOR_TIME_SCALE", "0.1"};
  ScopedEnv records{"VANTOR_RECORDS_DB", (dir / "records.db").c_str()};
  std::unique_ptr<CAutoExecutor> bench_;
};

}  // namespace

TEST_F(FirehoseBench, OnePhoneIsFlashedByteForByteAndItsRecordNamesTheProtocol) {
  StartBench(1);
  std::string out;
  ASSERT_EQ(Flash("", &out), 0) << out;
  ExpectFlashed(1);
  EXPECT_EQ(Count(out, "Flash by Sahara and Firehose"), 1) << out;
  EXPECT_GE(Count(out, "Program \\\"boot.img\\\" block"), 2) << out;
  EXPECT_EQ(Count(out, "Patch LUN 0 sector 1 offset 32"), 1) << out;  // the gpt_main0.bin patch stays on the host
  EXPECT_NE(out.find("\"summary\":{\"phones\":1,\"succeeded\":1,\"failed\":0}"), std::string::npos) << out;
  std::string records;
  ASSERT_EQ(ExecuteCommand(QuoteArgument(VANTOR_CLI_BIN) + " records --json", &records), 0);
  EXPECT_NE(records.find("emergency download (Sahara/Firehose)"), std::string::npos) << records;
  EXPECT_NE(records.find("prog_firehose_test.elf"), std::string::npos) << records;
}

TEST_F(FirehoseBench, EightPhonesAtOnceEachGetTheWholePackage) {
  StartBench(8, "--fh-max-payload 65536 --fh-log-flood 3");
  std::string out;
  ASSERT_EQ(Flash("", &out), 0) << out;
  for (int index = 1; index <= 8; ++index) ExpectFlashed(index);
  EXPECT_NE(out.find("\"summary\":{\"phones\":8,\"succeeded\":8,\"failed\":0}"), std::string::npos) << out;
  EXPECT_EQ(Count(out, "Firehose configure emmc, payload 65536"), 8) << out;  // negotiated down
}

// Each fault fails the job with its own code, and the phone's text shows.
TEST_F(FirehoseBench, FaultsFailWithTheirCodeAndText) {
  struct Case {
    std::string options;
    const char* result;
    const char* text;
  };
  const Case cases[] = {
      {"--fh-nak-program 2", "0x8007001d", "program \\\"boot.img\\\" refused by the phone: ERROR"},
      {"--fh-sector-size 4096", "0x8007001d", "refused by the phone: ERROR"},
      {"--fh-silent-after 3", "0x800705b4", "Program \\\"boot.img\\\" to LUN 0"},
      {"--sahara-unsigned", "0x80070005", "image authentication failed (status 0x25)"},
      {"--sahara-profile 32", "0x8007000b", "invalid ELF header (status 0x14)"},
      {"--fh-vanish-after-bytes 100000", "0x8007048f", "Program \\\"boot.img\\\" to LUN 0"},
  };
  for (const Case& c : cases) {
    StartBench(1, c.options);
    std::string out;
    EXPECT_EQ(Flash("", &out), 1) << c.options << "\n" << out;
    EXPECT_NE(out.find("\"result\":\"" + std::string(c.result) + "\""), std::string::npos) << c.options << "\n" << out;
    EXPECT_NE(out.find(c.text), std::string::npos) << c.options << "\n" << out;
    bench_.reset();
    std::filesystem::remove_all(dir / "bench");
    std::filesystem::create_directories(dir / "bench");
  }
}

// --timeout ends a Firehose job whose phone went silent well before the
// step's own wait would (the waits here are not shortened).
TEST_F(FirehoseBench, TimeoutEndsASilentFirehoseJobWithinASecond) {
  ScopedEnv unscaled("VANTOR_TIME_SCALE", "1");
  StartBench(1, "--fh-silent-after 3");
  std::string out;
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Flash("--timeout 6", &out), 1) << out;
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_NE(out.find("\"result\":\"0x800705b4\""), std::string::npos) << out;
  EXPECT_LT(seconds, 7.5) << out;  // the 10 s wait for the silent ACK did not run out
}

// A UFS phone: 4096-byte sectors, elements on two LUNs, a patch on the
// second one evaluated against that LUN's size; the package's sector size
// makes the host configure "ufs".
TEST_F(FirehoseBench, UfsElementsLandOnTheirLuns) {
  std::string lun0 = Pattern(3 * 4096 + 100, 7), lun2 = Pattern(10000, 8);
  WriteFile(dir / "package/xbl.elf", lun0);
  WriteFile(dir / "package/modem.bin", lun2);
  WriteFile(dir / "package/rawprogram0.xml",
            "<?xml version=\"1.0\" ?><data>"
            "<program SECTOR_SIZE_IN_BYTES=\"4096\" filename=\"xbl.elf\" physical_partition_number=\"0\" start_sector=\"6\" />"
            "<program SECTOR_SIZE_IN_BYTES=\"4096\" filename=\"modem.bin\" physical_partition_number=\"2\" "
            "start_sector=\"NUM_DISK_SECTORS-10.\" /></data>");
  WriteFile(dir / "package/patch0.xml",
            "<?xml version=\"1.0\" ?><patches><patch SECTOR_SIZE_IN_BYTES=\"4096\" byte_offset=\"48\" filename=\"DISK\" "
            "physical_partition_number=\"2\" size_in_bytes=\"8\" start_sector=\"1\" value=\"NUM_DISK_SECTORS-6.\" />"
            "</patches>");
  StartBench(1, "--fh-memory ufs");
  std::string out;
  ASSERT_EQ(Flash("", &out), 0) << out;
  EXPECT_NE(out.find("Firehose configure ufs"), std::string::npos) << out;
  const std::uint64_t sectors = kLunBytes / 4096;
  std::string first = ReadFile(dir / "bench/firehose-1-lun0.img");
  std::string third = ReadFile(dir / "bench/firehose-1-lun2.img");
  ASSERT_EQ(first.size(), kLunBytes);
  ASSERT_EQ(third.size(), kLunBytes);
  std::string padded0 = lun0, padded2 = lun2;
  padded0.resize(4 * 4096, '\0');
  padded2.resize(3 * 4096, '\0');
  EXPECT_TRUE(first.compare(6 * 4096, padded0.size(), padded0) == 0);
  EXPECT_TRUE(third.compare((sectors - 10) * 4096, padded2.size(), padded2) == 0);
  std::uint64_t value = 0;
  for (int b = 7; b >= 0; --b) value = value << 8 | static_cast<unsigned char>(third[4096 + 48 + b]);
  EXPECT_EQ(value, sectors - 6);
}

// A UFS device that reports 512-byte sectors, and a package of 512-byte
// sectors: only the stored storage type makes the host configure "ufs". A
// storage type that is neither is refused before any phone is touched.
TEST_F(FirehoseBench, TheStorageSettingConfiguresUfsOverThePackagesSectorSize) {
  ScopedEnv registry("VANTOR_REGISTRY_DIR", (dir / "registry").c_str());
  StartBench(1, "--fh-memory ufs --fh-sector-size 512");
  std::string out;
  EXPECT_EQ(Flash("--firehose-memory nand", &out), 2) << out;
  EXPECT_NE(out.find("--firehose-memory \"nand\" is neither emmc nor ufs"), std::string::npos) << out;
  MruList memory;
  AddToMru(&memory, "nand");
  ASSERT_TRUE(SaveMru(memory, kFirehoseMemorySetting.name));
  EXPECT_EQ(Flash("", &out), 2) << out;
  EXPECT_NE(out.find("the stored storage type \"nand\" is neither emmc nor ufs"), std::string::npos) << out;
  EXPECT_EQ(ReadFile(dir / "bench/firehose-1-lun0.img").find_first_not_of('\0'), std::string::npos);  // untouched

  AddToMru(&memory, "Ufs");
  ASSERT_TRUE(SaveMru(memory, kFirehoseMemorySetting.name));
  ASSERT_EQ(Flash("", &out), 0) << out;
  EXPECT_NE(out.find("Firehose configure ufs, payload"), std::string::npos) << out;
  EXPECT_EQ(Count(out, "Firehose configure emmc"), 0) << out;
  ExpectFlashed(1);
}

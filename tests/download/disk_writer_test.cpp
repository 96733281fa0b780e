#include "download/disk_writer.h"
#include "download/disk_numbers.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include "tests/support/status_list.h"

#include <cstring>

#include "tests/support/hex_writer.h"
#include "tests/support/log_capture.h"
#include "tests/support/temp_dir.h"

namespace {


using Bytes = std::vector<unsigned char>;
constexpr size_t kDiskSectors = 6000;

// A file-backed disk and the bytes the test expects it to hold.
class DiskWriter : public ::testing::Test {
 protected:
  void SetUp() override {
    expected.assign(kDiskSectors * 512, 0xEE);
    Save(disk(), expected);
  }
  std::string disk() const { return dir / "disk.img"; }
  static void Save(const std::string& path, const Bytes& bytes) { WriteFile(path, std::string(bytes.begin(), bytes.end())); }
  std::string Image(const std::string& name, size_t size, unsigned seed) {
    Bytes bytes = Pattern(size, seed);
    Save(dir / name, bytes);
    images[name] = bytes;
    return name;
  }
  // What writing `name` at `start` from file sector `offset`, `sectors` long, does.
  void ExpectWrite(const std::string& name, size_t start, size_t offset, size_t sectors) {
    Bytes padded = images[name];
    padded.resize((padded.size() + 511) / 512 * 512, 0);
    std::copy_n(padded.begin() + offset * 512, sectors * 512, expected.begin() + start * 512);
  }
  std::string Xml(const std::string& name, const std::string& body) {
    WriteFile(dir / name, "<?xml version=\"1.0\" ?>\n<data>\n" + body + "</data>\n");
    return dir / name;
  }
  Bytes Disk() const {
    std::string text = ReadFile(disk());
    return Bytes(text.begin(), text.end());
  }
  HRESULT Run(const std::string& rawprogram, const std::string& patch) {
    return DownloadToDiskDrive(disk(), rawprogram, patch, dir.path(), &status);
  }

  TempDir dir;
  Bytes expected;
  std::map<std::string, Bytes> images;
  StatusList status;
};

}  // namespace

TEST_F(DiskWriter, ProgramElementsWriteTheirSectors) {
  Image("boot.img", 5000, 1);
  Image("small.bin", 1000, 2);
  Image("big.bin", 2049 * 512 - 100, 3);
  std::string raw = Xml("rawprogram0.xml",
                        "<program start_sector=\"10\" num_partition_sectors=\"0\" filename=\"boot.img\"/>\n"
                        "<program start_sector=\"40\" num_partition_sectors=\"3\" file_sector_offset=\"2\" filename=\"boot.img\"/>\n"
                        "<Program START_SECTOR=\"60\" FileName=\"small.bin\" label=\"x\"/>\n"
                        "<program start_sector=\"70\" file_sector_offset=\"10\" filename=\"boot.img\"/>\n"
                        "<program start_sector=\"80\" filename=\"\"/>\n<program start_sector=\"90\"/>\n"
                        "<nested><program start_sector=\"100\" filename=\"big.bin\"/></nested>\n");
  std::string patch = Xml("patch0.xml", "");
  ASSERT_EQ(Run(raw, patch), S_OK);
  ExpectWrite("boot.img", 10, 0, 10);  // 5000 bytes round up to 10 sectors
  ExpectWrite("boot.img", 40, 2, 3);   // the limit, from the offset
  ExpectWrite("small.bin", 60, 0, 2);  // 1000 bytes: two sectors, the last 24 bytes zero
  ExpectWrite("big.bin", 100, 0, 2049);
  Bytes disk = Disk();
  EXPECT_TRUE(disk == expected);
  EXPECT_EQ(std::vector<unsigned char>(disk.begin() + 60 * 512 + 1000, disk.begin() + 62 * 512), Bytes(24, 0));
  EXPECT_EQ(status.Count("Writing file"), 5);  // the element past its file's end names it too
  // 2049 sectors go out as a block of 2048 and one of 1: the last two texts.
  ASSERT_GE(status.texts.size(), 3u);
  EXPECT_EQ(std::vector<std::string>(status.texts.end() - 3, status.texts.end() - 1),
            (std::vector<std::string>{"WriteFile position 0x0000000000c800, size 1048576",
                                      "WriteFile position 0x0000000010c800, size 512"}));
}

TEST_F(DiskWriter, PatchesChangeOnlyTheirBytes) {
  std::string raw = Xml("raw.xml", "");
  std::string patch = Xml("patch.xml",
                          "<patch start_sector=\"1\" byte_offset=\"8\" size_in_bytes=\"4\" value=\"NUM_DISK_SECTORS-34.\" filename=\"DISK\"/>\n"
                          "<PATCH Start_Sector=\"3\" BYTE_OFFSET=\"508\" size_in_bytes=\"4\" VALUE=\"num_disk_sectors-0\" FILENAME=\"disk\"/>\n"
                          "<patch start_sector=\"5\" size_in_bytes=\"8\" value=\"NUM_DISK_SECTORS-1\" filename=\"gpt_main0.bin\"/>\n"
                          "<patch start_sector=\"6\" size_in_bytes=\"12\" filename=\"DISK\"/>\n");
  ASSERT_EQ(Run(raw, patch), S_OK);
  auto put = [&](size_t at, std::uint64_t value, size_t size) {
    for (size_t i = 0; i < size; ++i, value >>= 8) expected[at + i] = static_cast<unsigned char>(value);
  };
  put(520, kDiskSectors - 34, 4);
  put(3 * 512 + 508, kDiskSectors, 4);
  put(6 * 512, 0, 12);  // no value: zeros, beyond the eighth byte too
  EXPECT_TRUE(Disk() == expected);
  EXPECT_EQ(status.Count("ApplyPatch position"), 3);
  EXPECT_NE(std::find(status.texts.begin(), status.texts.end(), "ApplyPatch position 0x00000000000208, value 0x0000000000174e, size 4"),
            status.texts.end());
}

TEST_F(DiskWriter, PatchFaultsEndTheStage) {
  Image("boot.img", 512, 4);
  std::string raw = Xml("raw.xml", "<program start_sector=\"2\" filename=\"boot.img\"/>\n");
  LogCapture log;
  std::string plain = Xml("plain.xml", "<patch start_sector=\"1\" size_in_bytes=\"4\" value=\"1234\" filename=\"other\"/>\n");
  EXPECT_EQ(Run(raw, plain), WS_E_INVALID_FORMAT);
  ExpectWrite("boot.img", 2, 0, 1);  // the programs were written first
  EXPECT_TRUE(Disk() == expected);
  EXPECT_EQ(log.Count("ApplyPatchesToDiskDrive("), 1);
  EXPECT_EQ(log.Count("DownloadToDiskDrive("), 1);
  std::string outside = Xml("outside.xml", "<patch start_sector=\"1\" byte_offset=\"510\" size_in_bytes=\"4\" filename=\"DISK\"/>\n");
  EXPECT_EQ(Run(raw, outside), E_INVALIDARG);
  std::string pastEnd = Xml("end.xml", "<patch start_sector=\"6000\" size_in_bytes=\"4\" filename=\"DISK\"/>\n");
  EXPECT_EQ(Run(raw, pastEnd), HRESULT_FROM_WIN32(ERROR_HANDLE_EOF));
  EXPECT_TRUE(Disk() == expected);
}

TEST_F(DiskWriter, RefusedDocumentsWriteNothingFurther) {
  Image("boot.img", 512, 5);
  std::string patch = Xml("patch.xml", "");
  std::string laughs = dir / "laughs.xml";
  WriteFile(laughs,
            "<?xml version=\"1.0\"?>\n<!DOCTYPE data [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;\">"
            "<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;\">]>\n<data><program start_sector=\"&c;\" filename=\"boot.img\"/></data>\n");
  std::string external = dir / "external.xml";
  WriteFile(external, "<?xml version=\"1.0\"?>\n<!DOCTYPE data SYSTEM \"file:///etc/passwd\">\n"
                      "<data><program start_sector=\"1\" filename=\"boot.img\"/></data>\n");
  std::string broken = dir / "broken.xml";
  WriteFile(broken, "<data><program start_sector=\"1\" filename=\"boot.img\"/><program start_sector=\"3\" filename=\"boot.img\">"
                    "</data>\n<program start_sector=\"5\" filename=\"boot.img\"/>");
  EXPECT_EQ(Run(laughs, patch), WC_E_DTDPROHIBITED);
  EXPECT_EQ(Run(external, patch), WC_E_DTDPROHIBITED);
  EXPECT_TRUE(Disk() == expected);
  EXPECT_EQ(Run(broken, patch), WC_E_SYNTAX);
  Bytes after = Disk();  // what follows the bad end tag is never written
  EXPECT_TRUE(std::equal(after.begin() + 5 * 512, after.end(), expected.begin() + 5 * 512));
  EXPECT_EQ(Run(dir / "missing.xml", patch), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
}

TEST_F(DiskWriter, AMissingImageResolvesToTheFirstFolderAndFails) {
  TempDir other;
  std::string raw = Xml("raw.xml", "<program start_sector=\"1\" filename=\"userdata.img\"/>\n");
  EXPECT_EQ(DownloadToDiskDrive(disk(), raw, Xml("patch.xml", ""), other.path() + ";" + dir.path(), &status),
            HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(status.texts.at(2), "Writing file \"" + other / "userdata.img" + "\" to partition at 0x00000000000200");
  Save(dir / "empty.img", {});
  EXPECT_EQ(Run(Xml("raw2.xml", "<program filename=\"empty.img\"/>\n"), Xml("patch.xml", "")),
            HRESULT_FROM_WIN32(ERROR_FILE_INVALID));
}

TEST_F(DiskWriter, ARunSendsItsTextsInOrder) {
  Image("a.bin", 600, 6);
  ASSERT_EQ(Run(Xml("raw.xml", "<program start_sector=\"7\" filename=\"a.bin\" xmlns:q=\"urn:x\"/>\n"),
                Xml("patch.xml", "<patch start_sector=\"1\" size_in_bytes=\"1\" value=\"NUM_DISK_SECTORS-5999\" filename=\"DISK\"/>\n")),
            S_OK);
  std::vector<std::string> want = {"Open disk \"" + disk() + "\"",
                                   "Open program file \"" + dir / "raw.xml" + "\"",
                                   "Writing file \"" + dir / "a.bin" + "\" to partition at 0x00000000000e00",
                                   "WriteFile position 0x00000000000e00, size 1024",
                                   "Open patch file \"" + dir / "patch.xml" + "\"",
                                   "ApplyPatch position 0x00000000000200, value 0x00000000000001, size 1"};
  EXPECT_EQ(status.texts, want);
}

TEST(DiskNumbers, DecimalRulesOfAnUnsigned64BitConversion) {
  EXPECT_EQ(ParseDecimal64("  34"), 34u);
  EXPECT_EQ(ParseDecimal64("12abc"), 12u);
  EXPECT_EQ(ParseDecimal64("-1"), 0xFFFFFFFFFFFFFFFFull);
  EXPECT_EQ(ParseDecimal64("+7"), 7u);
  EXPECT_EQ(ParseDecimal64("99999999999999999999999"), 0xFFFFFFFFFFFFFFFFull);
  EXPECT_EQ(ParseDecimal64("0x10"), 0u);
  EXPECT_EQ(ParseDecimal64(""), 0u);
  std::uint64_t value = 0;
  EXPECT_EQ(EvaluatePatchValue("NUM_DISK_SECTORS-34.", 6000 * 512 + 100, &value), S_OK);
  EXPECT_EQ(value, 5966u);
  EXPECT_EQ(EvaluatePatchValue("NUM_DISK_SECTORS", 512, &value), WS_E_INVALID_FORMAT);
  EXPECT_EQ(EvaluatePatchValue("34", 512, &value), WS_E_INVALID_FORMAT);
}

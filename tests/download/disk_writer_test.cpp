#include "download/disk_writer.h"
#include "download/disk_numbers.h"
#include "download/disk_package.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include "tests/support/status_list.h"
#include "platform/file_sync.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

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
  EXPECT_TRUE(Disk() == expected);  // found before the programs are written
  EXPECT_EQ(log.Count("ReadPatchElements("), 1);
  EXPECT_EQ(log.Count("DownloadToDiskDrive("), 1);
  std::string outside = Xml("outside.xml", "<patch start_sector=\"1\" byte_offset=\"510\" size_in_bytes=\"4\" filename=\"DISK\"/>\n");
  EXPECT_EQ(Run(raw, outside), E_INVALIDARG);
  std::string pastEnd = Xml("end.xml", "<patch start_sector=\"6000\" size_in_bytes=\"4\" filename=\"DISK\"/>\n");
  EXPECT_EQ(Run(raw, pastEnd), E_INVALIDARG);
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
  EXPECT_TRUE(Disk() == expected);  // not even the elements before the bad end tag
  EXPECT_EQ(Run(dir / "missing.xml", patch), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
}

TEST_F(DiskWriter, ImagesAreLookedForInEachSearchFolder) {
  TempDir other;
  Image("userdata.img", 512, 12);
  std::string raw = Xml("raw.xml", "<program start_sector=\"1\" filename=\"userdata.img\"/>\n");
  ASSERT_EQ(DownloadToDiskDrive(disk(), raw, Xml("patch.xml", ""), other.path() + ";" + dir.path(), &status), S_OK);
  EXPECT_EQ(status.texts.at(2), "Writing file \"" + dir / "userdata.img" + "\" to partition at 0x00000000000200");
  ExpectWrite("userdata.img", 1, 0, 1);
  EXPECT_TRUE(Disk() == expected);
  status.texts.clear();
  EXPECT_EQ(DownloadToDiskDrive(disk(), raw, Xml("patch.xml", ""), other.path(), &status),
            HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(status.Count("Writing file"), 0);
  // The newest text, which a failed row shows, names the image that is missing.
  ASSERT_FALSE(status.texts.empty());
  EXPECT_EQ(status.texts.back(), "Open image file \"" + other / "userdata.img" + "\"");
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
  // Names with two periods that climb nowhere stay valid.
  EXPECT_TRUE(IsPackageRelativeName("system..img"));
  EXPECT_TRUE(IsPackageRelativeName("images/..boot.img"));
  EXPECT_FALSE(IsPackageRelativeName("images/.."));
}

// Every fault of a package is found before the first byte reaches the disk:
// each package below begins with a good element, and each run leaves the
// disk byte for byte as it was (and no longer).
TEST_F(DiskWriter, ABadPackageLeavesTheDiskAsItWas) {
  Image("boot.img", 1024, 7);
  Save(dir / "empty.img", {});
  std::filesystem::create_directory(dir / "folder.img");
  std::filesystem::create_directory(dir / "sub");
  WriteFile(dir.path() + "/../vantor-outside.img", "host file");
  const std::string good = "<program start_sector=\"10\" filename=\"boot.img\"/>\n";
  const std::string goodPatch = "<patch start_sector=\"1\" size_in_bytes=\"4\" value=\"NUM_DISK_SECTORS-1\" filename=\"DISK\"/>\n";
  struct Case {
    const char* what;
    std::string raw, patch;
    HRESULT expected;
  };
  const Case cases[] = {
      {"hexadecimal start", "<program start_sector=\"0x2000\" filename=\"boot.img\"/>", goodPatch, WS_E_INVALID_FORMAT},
      {"letters", "<program start_sector=\"abc\" filename=\"boot.img\"/>", goodPatch, WS_E_INVALID_FORMAT},
      {"empty start", "<program start_sector=\"\" filename=\"boot.img\"/>", goodPatch, WS_E_INVALID_FORMAT},
      {"an expression", "<program start_sector=\"100+34\" filename=\"boot.img\"/>", goodPatch, WS_E_INVALID_FORMAT},
      {"end form with trailing text", "<program start_sector=\"NUM_DISK_SECTORS-33.x\" filename=\"boot.img\"/>", goodPatch,
       WS_E_INVALID_FORMAT},
      {"far past the end", "<program start_sector=\"9999999\" filename=\"boot.img\"/>", goodPatch, E_INVALIDARG},
      {"last sector past the end", "<program start_sector=\"5999\" filename=\"boot.img\"/>", goodPatch, E_INVALIDARG},
      {"end form past the end", "<program start_sector=\"NUM_DISK_SECTORS-1.\" filename=\"boot.img\"/>", goodPatch,
       E_INVALIDARG},
      {"limit still past the end", "<program start_sector=\"6000\" num_partition_sectors=\"1\" filename=\"boot.img\"/>",
       goodPatch, E_INVALIDARG},
      {"missing image", "<program start_sector=\"20\" filename=\"userdata.img\"/>", goodPatch,
       HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)},
      {"empty image", "<program start_sector=\"20\" filename=\"empty.img\"/>", goodPatch, HRESULT_FROM_WIN32(ERROR_FILE_INVALID)},
      {"a folder as image", "<program start_sector=\"20\" filename=\"folder.img\"/>", goodPatch, E_INVALIDARG},
      {"absolute name", "<program start_sector=\"20\" filename=\"" + dir / "boot.img" + "\"/>", goodPatch, E_INVALIDARG},
      {"parent folder", "<program start_sector=\"20\" filename=\"../vantor-outside.img\"/>", goodPatch, E_INVALIDARG},
      {"parent inside a path", "<program start_sector=\"20\" filename=\"sub/../../vantor-outside.img\"/>", goodPatch,
       E_INVALIDARG},
      {"patch value", "", "<patch start_sector=\"1\" size_in_bytes=\"4\" value=\"1234\" filename=\"DISK\"/>",
       WS_E_INVALID_FORMAT},
      {"patch past the sector", "", "<patch start_sector=\"1\" byte_offset=\"509\" size_in_bytes=\"4\" filename=\"DISK\"/>",
       E_INVALIDARG},
      {"patch past the disk", "", "<patch start_sector=\"6000\" size_in_bytes=\"1\" filename=\"DISK\"/>", E_INVALIDARG},
  };
  const Bytes before = Disk();
  for (const Case& c : cases) {
    LogCapture log;
    EXPECT_EQ(Run(Xml("raw.xml", good + c.raw + "\n"), Xml("patch.xml", goodPatch + c.patch + "\n")), c.expected) << c.what;
    EXPECT_TRUE(Disk() == before) << c.what;
    EXPECT_EQ(log.Count("DownloadToDiskDrive("), 1) << c.what;  // traced, not passed over
  }
  // A patch file that is missing is found before the images are written too.
  EXPECT_EQ(Run(Xml("raw.xml", good), dir / "missing.xml"), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
  EXPECT_TRUE(Disk() == before);
  if (::geteuid() != 0) {  // root reads any file
    Image("locked.img", 512, 8);
    ::chmod((dir / "locked.img").c_str(), 0);
    EXPECT_EQ(Run(Xml("raw.xml", good + "<program start_sector=\"20\" filename=\"locked.img\"/>\n"), Xml("patch.xml", "")),
              HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(Disk() == before);
  }
  std::filesystem::remove(dir.path() + "/../vantor-outside.img");
}

TEST_F(DiskWriter, StartSectorsThatStayValid) {
  Image("a.bin", 1024, 9);
  std::string raw = Xml("raw.xml",
                        "<program start_sector=\"NUM_DISK_SECTORS-33.\" filename=\"a.bin\"/>\n"  // the backup table's form
                        "<program start_sector=\" 34\" filename=\"a.bin\"/>\n"
                        "<program start_sector=\"40.\" filename=\"a.bin\"/>\n"
                        "<program start_sector=\"5998\" filename=\"a.bin\"/>\n"  // its two sectors end at the disk's end
                        "<program start_sector=\"6000\" file_sector_offset=\"2\" filename=\"a.bin\"/>\n"  // writes nothing
                        "<program num_partition_sectors=\"1\" filename=\"a.bin\"/>\n");
  ASSERT_EQ(Run(raw, Xml("patch.xml", "")), S_OK);
  ExpectWrite("a.bin", kDiskSectors - 33, 0, 2);
  ExpectWrite("a.bin", 34, 0, 2);
  ExpectWrite("a.bin", 40, 0, 2);
  ExpectWrite("a.bin", 5998, 0, 2);
  ExpectWrite("a.bin", 0, 0, 1);
  EXPECT_TRUE(Disk() == expected);
}

TEST_F(DiskWriter, TheLastOfARepeatedAttributeWins) {
  Image("a.bin", 512, 10);
  Image("b.bin", 512, 11);
  ASSERT_EQ(Run(Xml("raw.xml", "<program start_sector=\"3\" filename=\"a.bin\" START_SECTOR=\"5\" FILENAME=\"b.bin\"/>\n"),
                Xml("patch.xml", "<patch start_sector=\"1\" size_in_bytes=\"1\" value=\"NUM_DISK_SECTORS-5999\" "
                                 "VALUE=\"NUM_DISK_SECTORS-5998\" filename=\"other\" FILENAME=\"DISK\"/>\n")),
            S_OK);
  ExpectWrite("b.bin", 5, 0, 1);
  expected[512] = 2;
  EXPECT_TRUE(Disk() == expected);
}

TEST_F(DiskWriter, TheDiskIsFlushedAfterTheImagesAndAgainAfterThePatches) {
  Image("a.bin", 512, 13);
  auto run = [&] {
    return Run(Xml("raw.xml", "<program start_sector=\"2\" filename=\"a.bin\"/>\n"),
               Xml("patch.xml", "<patch start_sector=\"1\" size_in_bytes=\"1\" value=\"NUM_DISK_SECTORS-5990\" filename=\"DISK\"/>\n"));
  };
  std::vector<Bytes> seen;  // the disk at each flush
  {
    ScopedSyncHook hook([&](int fd) {
      seen.push_back(Disk());
      return RealSyncFile(fd);
    });
    ASSERT_EQ(run(), S_OK);
  }
  ExpectWrite("a.bin", 2, 0, 1);
  Bytes imagesOnly = expected;
  expected[512] = 10;
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_TRUE(seen[0] == imagesOnly);
  EXPECT_TRUE(seen[1] == expected);

  // Either flush failing fails the run.
  for (int failing : {0, 1}) {
    int calls = 0;
    ScopedSyncHook hook([&](int) { return calls++ == failing ? EIO : 0; });
    LogCapture log;
    EXPECT_EQ(run(), HresultFromErrno(EIO)) << failing;
    EXPECT_EQ(log.Count("DownloadToDiskDrive("), 1) << failing;
  }
}

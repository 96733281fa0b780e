// The bench's Firehose programmer against the published documents and what a
// host gets wrong: payload negotiation, a program with its raw data, a patch
// with each expression form, documents split anywhere in the stream, the
// wrong sector size, noise instead of XML, and the phone's faults.
#include <gtest/gtest.h>

#include <chrono>

#include <fstream>

#include "tests/support/temp_dir.h"
#include "tools/phonesim/firehose_expression.h"
#include "tools/phonesim/firehose_target.h"

using phonesim::Bytes;
using phonesim::FirehoseConfig;
using phonesim::FirehoseTarget;
using phonesim::LunStore;

namespace {

const std::string kConfigureUfs =
    "<?xml version=\"1.0\" ?><data><configure MemoryName=\"ufs\" MaxPayloadSizeToTargetInBytes=\"1048576\" "
    "Verbose=\"0\" ZlpAwareHost=\"1\" SkipStorageInit=\"0\" /></data>";
const std::string kProgramVector =
    "<?xml version=\"1.0\" ?><data><program SECTOR_SIZE_IN_BYTES=\"4096\" num_partition_sectors=\"2\" "
    "physical_partition_number=\"0\" start_sector=\"6\" filename=\"efi.bin\" /></data>";
const std::string kPatchVector =
    "<?xml version=\"1.0\" ?><data><patch SECTOR_SIZE_IN_BYTES=\"4096\" byte_offset=\"48\" filename=\"DISK\" "
    "physical_partition_number=\"0\" size_in_bytes=\"8\" start_sector=\"1\" value=\"NUM_DISK_SECTORS-6.\" /></data>";
const std::string kRawAck = "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n<data>\n<response value=\"ACK\" rawmode=\"true\" /></data>";
const std::string kAck = "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n<data>\n<response value=\"ACK\" rawmode=\"false\" /></data>";
const std::string kConfigureAck =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n<data>\n<response value=\"ACK\" MinVersionSupported=\"1\" "
    "MemoryName=\"UFS\" MaxPayloadSizeFromTargetInBytes=\"4096\" MaxPayloadSizeToTargetInBytes=\"1048576\" "
    "MaxPayloadSizeToTargetInBytesSupported=\"1048576\" MaxXMLSizeInBytes=\"4096\" Version=\"1\" TargetName=\"VBENCH\" /></data>";

struct Phone {
  explicit Phone(FirehoseConfig config, std::uint64_t lunBytes = 1000 * 4096) {
    std::string error;
    EXPECT_TRUE(store.Open(dir.path() + "/lun", config.ufs ? 6 : 1, lunBytes, &error)) << error;
    target = std::make_unique<FirehoseTarget>(config, store);
  }
  std::vector<std::string> Send(const std::string& bytes) {
    return target->Feed(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  }
  std::string Sectors(unsigned lun, std::uint64_t offset, std::size_t n) {
    std::string out(n, '\0');
    EXPECT_TRUE(store.Read(lun, offset, reinterpret_cast<std::uint8_t*>(out.data()), n));
    return out;
  }
  TempDir dir;
  LunStore store;
  std::unique_ptr<FirehoseTarget> target;
};

FirehoseConfig Ufs() {
  FirehoseConfig c;
  c.ufs = true;
  return c;
}

bool Contains(const std::vector<std::string>& docs, const std::string& text) {
  for (const auto& d : docs)
    if (d.find(text) != std::string::npos) return true;
  return false;
}

}  // namespace

TEST(FirehoseTargetTest, ConfigureProgramAndPatchFollowTheVectors) {
  Phone phone(Ufs());
  auto configured = phone.Send(kConfigureUfs);
  ASSERT_FALSE(configured.empty());
  EXPECT_EQ(configured.back(), kConfigureAck);
  EXPECT_TRUE(Contains(configured, "Storage type set to value UFS"));

  EXPECT_EQ(kProgramVector.size(), 166u);
  EXPECT_EQ(phone.Send(kProgramVector), std::vector<std::string>{kRawAck});
  std::string efi(5000, '\0');
  for (std::size_t i = 0; i < efi.size(); ++i) efi[i] = static_cast<char>(i * 7 + 1);
  std::string chunk = efi + std::string(3192, '\0');
  EXPECT_EQ(phone.Send(chunk), std::vector<std::string>{kAck});
  EXPECT_EQ(kRawAck.size(), 93u);
  EXPECT_EQ(kAck.size(), 94u);
  EXPECT_EQ(phone.Sectors(0, 24576, 8192), chunk);
  EXPECT_EQ(phone.Sectors(0, 24576 - 1, 1), std::string(1, '\0'));

  EXPECT_EQ(kPatchVector.size(), 198u);
  EXPECT_EQ(phone.Send(kPatchVector), std::vector<std::string>{kAck});
  EXPECT_EQ(phone.Sectors(0, 4096 + 48, 8), std::string("\xe2\x03\0\0\0\0\0\0", 8));
}

TEST(FirehoseTargetTest, DocumentsAndRawDataSplitAtAnyByteGiveTheSameResult) {
  std::string data(4096, 'x');
  const std::string stream = kConfigureUfs + "\n" +
                             "<?xml version=\"1.0\" ?><data><program SECTOR_SIZE_IN_BYTES=\"4096\" "
                             "num_partition_sectors=\"1\" start_sector=\"3\" /></data>" +
                             data + kPatchVector;
  for (std::size_t cut = 1; cut < stream.size(); cut += 97) {
    Phone phone(Ufs());
    auto docs = phone.Send(stream.substr(0, cut));
    auto rest = phone.Send(stream.substr(cut));
    docs.insert(docs.end(), rest.begin(), rest.end());
    int acks = 0;
    for (const auto& d : docs) acks += d.find("value=\"ACK\"") != std::string::npos;
    EXPECT_EQ(acks, 4) << "cut at " << cut;
    EXPECT_EQ(phone.Sectors(0, 3 * 4096, 4096), data);
    EXPECT_EQ(phone.Sectors(0, 4096 + 48, 2), std::string("\xe2\x03", 2));
  }
}

TEST(FirehoseTargetTest, NegotiatesThePayloadDownAndRefusesTheWrongMemory) {
  FirehoseConfig config;
  config.maxPayload = 8192;
  Phone phone(config);
  auto refused = phone.Send(
      "<?xml version=\"1.0\" ?><data><configure MemoryName=\"emmc\" MaxPayloadSizeToTargetInBytes=\"1048576\" /></data>");
  EXPECT_TRUE(Contains(refused, "payload to target size is too large"));
  EXPECT_TRUE(Contains(refused, "value=\"NAK\" MemoryName=\"eMMC\" MaxPayloadSizeFromTargetInBytes=\"4096\" "
                                "MaxPayloadSizeToTargetInBytes=\"8192\""));
  EXPECT_TRUE(Contains(phone.Send("<?xml version=\"1.0\" ?><data><configure MemoryName=\"eMMC\" "
                                  "MaxPayloadSizeToTargetInBytes=\"8192\" /></data>"),
                       "value=\"ACK\""));
  EXPECT_EQ(phone.target->negotiatedPayload(), 8192u);
  auto wrong = phone.Send(kConfigureUfs);
  EXPECT_TRUE(Contains(wrong, "UFS Device slot"));
  EXPECT_TRUE(Contains(wrong, "value=\"NAK\""));
}

TEST(FirehoseTargetTest, RefusesWrongSectorSizesRangesPastTheEndAndNoise) {
  Phone phone(FirehoseConfig{}, 64 * 512);
  auto early = phone.Send(kProgramVector);
  EXPECT_TRUE(Contains(early, "send configure first"));
  phone.Send("<?xml version=\"1.0\" ?><data><configure MemoryName=\"emmc\" MaxPayloadSizeToTargetInBytes=\"1048576\" /></data>");
  auto size = phone.Send(kProgramVector);
  EXPECT_TRUE(Contains(size, "'SECTOR_SIZE_IN_BYTES'=4096 must be equal to disk sector size 512"));
  EXPECT_TRUE(Contains(size, "value=\"NAK\""));
  auto past = phone.Send("<?xml version=\"1.0\" ?><data><program SECTOR_SIZE_IN_BYTES=\"512\" "
                         "num_partition_sectors=\"2\" start_sector=\"NUM_DISK_SECTORS-1.\" /></data>");
  EXPECT_TRUE(Contains(past, "past the end"));
  auto noise = phone.Send(std::string(512, '\0') + "<?xml version=\"1.0\" ?><data><nop /></data>");
  EXPECT_TRUE(Contains(noise, "XML not formed correctly"));
  EXPECT_TRUE(Contains(phone.Send("<?xml version=\"1.0\" ?><data><nop /></data>"), "value=\"ACK\""));
  EXPECT_TRUE(Contains(phone.Send("<?xml version=\"1.0\" ?><data><bogus /></data>"), "Unknown command"));
}

TEST(FirehoseTargetTest, ReadsBackWhatWasWrittenAndEvaluatesCrcPatches) {
  Phone phone(FirehoseConfig{}, 100 * 512);
  phone.Send("<?xml version=\"1.0\" ?><data><configure MemoryName=\"emmc\" MaxPayloadSizeToTargetInBytes=\"4096\" /></data>");
  std::string sector(512, 'q');
  phone.Send("<?xml version=\"1.0\" ?><data><program SECTOR_SIZE_IN_BYTES=\"512\" num_partition_sectors=\"1\" "
             "start_sector=\"2\" /></data>" + sector);
  auto read = phone.Send("<?xml version=\"1.0\" ?><data><read SECTOR_SIZE_IN_BYTES=\"512\" num_partition_sectors=\"1\" "
                         "physical_partition_number=\"0\" start_sector=\"2\" /></data>");
  ASSERT_EQ(read.size(), 3u);
  EXPECT_EQ(read[0], kRawAck);
  EXPECT_EQ(read[1], sector);
  auto patched = phone.Send("<?xml version=\"1.0\" ?><data><patch SECTOR_SIZE_IN_BYTES=\"512\" byte_offset=\"16\" "
                            "filename=\"DISK\" size_in_bytes=\"4\" start_sector=\"NUM_DISK_SECTORS-99\" "
                            "value=\"CRC32(2,512)\" /></data>");
  EXPECT_EQ(patched.back(), kAck);
  std::uint32_t crc = phonesim::Crc32(reinterpret_cast<const std::uint8_t*>(sector.data()), sector.size());
  std::string le(4, '\0');
  for (int i = 0; i < 4; ++i) le[i] = static_cast<char>(crc >> (8 * i));
  EXPECT_EQ(phone.Sectors(0, 512 + 16, 4), le);
}

TEST(FirehoseTargetTest, ExpressionsReadAsProgrammersReadThem) {
  phonesim::ExpressionContext c;
  c.diskSectors = 1000;
  c.crc32 = [](std::uint64_t sector, std::uint64_t bytes) -> std::optional<std::uint32_t> {
    return static_cast<std::uint32_t>(sector * 1000 + bytes);
  };
  EXPECT_EQ(phonesim::EvaluateExpression("NUM_DISK_SECTORS-33.", c), 967u);
  EXPECT_EQ(phonesim::EvaluateExpression("NUM_DISK_SECTORS-1", c), 999u);
  EXPECT_EQ(phonesim::EvaluateExpression("0x10", c), 16u);
  EXPECT_EQ(phonesim::EvaluateExpression("2+3*4", c), 14u);
  EXPECT_EQ(phonesim::EvaluateExpression("CRC32(NUM_DISK_SECTORS-5.,4096)", c), 995u * 1000 + 4096);
  for (const char* bad : {"", "NUM_DISK_SECTORS-1001", "12abc", "1/0", "CRC32(1,", "99999999999999999999999"})
    EXPECT_FALSE(phonesim::EvaluateExpression(bad, c)) << bad;
  // GPT's CRC-32 of "123456789".
  const char text[] = "123456789";
  EXPECT_EQ(phonesim::Crc32(reinterpret_cast<const std::uint8_t*>(text), 9), 0xCBF43926u);
}

TEST(FirehoseTargetTest, FaultsRefuseAProgramFloodWithLogsFallSilentAndVanish) {
  FirehoseConfig config;
  config.nakProgram = 2;
  config.logFlood = 3;
  config.vanishAfterBytes = 700;
  Phone phone(config, 64 * 512);
  phone.Send("<?xml version=\"1.0\" ?><data><configure MemoryName=\"emmc\" MaxPayloadSizeToTargetInBytes=\"4096\" /></data>");
  const std::string program = "<?xml version=\"1.0\" ?><data><program SECTOR_SIZE_IN_BYTES=\"512\" "
                              "num_partition_sectors=\"1\" start_sector=\"0\" /></data>";
  auto first = phone.Send(program);
  EXPECT_EQ(first.size(), 4u) << "three logs and the rawmode ACK";
  EXPECT_EQ(phone.Send(std::string(512, 'a')).back(), kAck);
  EXPECT_TRUE(Contains(phone.Send(program), "value=\"NAK\""));
  phone.Send(program);
  EXPECT_TRUE(phone.Send(std::string(512, 'b')).empty());
  EXPECT_TRUE(phone.target->vanished());
  EXPECT_EQ(phone.target->rawBytes(), 700u);

  FirehoseConfig quiet;
  quiet.silentAfter = 2;
  Phone silent(quiet);
  EXPECT_FALSE(silent.Send("<?xml version=\"1.0\" ?><data><nop /></data>").empty());
  EXPECT_TRUE(silent.Send("<?xml version=\"1.0\" ?><data><nop /></data>").empty());
}

// A phone whose storage writes 1 MB/s takes the 8192 raw bytes of the
// program vector no faster than that, even sent in one piece.
TEST(FirehoseTargetTest, AStorageWriteRateHoldsTheRawDataBack) {
  FirehoseConfig config = Ufs();
  config.writeBytesPerSecond = 1000000;
  Phone phone(config);
  phone.Send(kConfigureUfs);
  ASSERT_EQ(phone.Send(kProgramVector), std::vector<std::string>{kRawAck});
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(phone.Send(std::string(8192, '\x5a')), std::vector<std::string>{kAck});
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::microseconds(8192));
}

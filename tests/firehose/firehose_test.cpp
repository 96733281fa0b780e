#include <gtest/gtest.h>

#include "firehose/firehose_configure.h"
#include "firehose/firehose_documents.h"
#include "firehose/firehose_package.h"
#include "firehose/firehose_patch.h"
#include "firehose/firehose_program.h"
#include "platform/timing.h"
#include "process/search_file.h"
#include "tests/firehose/wire_vectors.h"
#include "tests/support/fake_ports.h"
#include "tests/support/status_list.h"
#include "tests/support/temp_dir.h"

using namespace vectors;

namespace {

Bytes B(const std::string& text) { return Bytes(text.begin(), text.end()); }
std::string S(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

// Every document the splitter finds in the stream, fed in pieces cut at cut.
std::vector<std::string> Split(const std::string& stream, size_t cut) {
  firehose::DocumentSplitter splitter;
  std::vector<std::string> documents;
  auto drain = [&] {
    std::string d;
    while (splitter.Next(&d) == S_OK) documents.push_back(d);
  };
  splitter.Feed(reinterpret_cast<const unsigned char*>(stream.data()), cut);
  drain();
  splitter.Feed(reinterpret_cast<const unsigned char*>(stream.data()) + cut, stream.size() - cut);
  drain();
  return documents;
}

FirehoseProgram ProgramOf(const std::string& path, std::uint32_t sectorSize, const std::string& start) {
  FirehoseProgram p;
  p.path = path;
  p.filename = path.substr(path.rfind('/') + 1);
  p.fileBytes = ReadFile(path).size();
  p.sectorSize = sectorSize;
  p.startSector = start;
  return p;
}

std::string Pattern(size_t size) {
  std::string s(size, '\0');
  for (size_t i = 0; i < size; ++i) s[i] = static_cast<char>(i * 7 + i / 251);
  return s;
}

}  // namespace

// The phone's documents glued together, with stray bytes between the
// declaration and <data> and raw bytes behind the last one, cut at every
// position: the same documents come out, and the raw bytes stay behind.
TEST(FirehoseFraming, DocumentsSurviveEveryCut) {
  std::string stray = "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\xF0\xE9\x88\x14<data><log value=\"INFO: x\" /></data>";
  std::string stream = kConfigureLog + "\n" + kConfigureAck + kRawAck + stray + "RAWDATA";
  const std::vector<std::string> expected = {kConfigureLog, kConfigureAck, kRawAck, stray};
  for (size_t cut = 0; cut <= stream.size(); ++cut) ASSERT_EQ(Split(stream, cut), expected) << cut;

  std::vector<firehose::Element> elements;
  ASSERT_EQ(firehose::ParseDocument(kConfigureAck, &elements), S_OK);
  ASSERT_EQ(elements.size(), 1u);
  EXPECT_EQ(elements[0].localName, "response");
  EXPECT_EQ(*firehose::FindAttribute(elements[0], "maxpayloadsizetotargetinbytessupported"), "1048576");
  ASSERT_EQ(firehose::ParseDocument(stray, &elements), S_OK);
  EXPECT_EQ(*firehose::FindAttribute(elements[0], "value"), "INFO: x");
  // Entities in a log's value are decoded.
  ASSERT_EQ(firehose::ParseDocument("<?xml version=\"1.0\" ?><data><log value=\"{&quot;a&quot;:1}\"/></data>", &elements),
            S_OK);
  EXPECT_EQ(*firehose::FindAttribute(elements[0], "value"), "{\"a\":1}");
}

// What a phone cannot make the host do: hold an endless document, smuggle a
// document type, or pass a document that is not XML.
TEST(FirehoseFraming, UntrustedDocumentsAreBounded) {
  firehose::DocumentSplitter splitter;
  std::string endless = "<?xml version=\"1.0\" ?><data><log value=\"" + std::string(firehose::kMaxDocumentBytes, 'a');
  splitter.Feed(reinterpret_cast<const unsigned char*>(endless.data()), endless.size());
  std::string d;
  EXPECT_EQ(splitter.Next(&d), HRESULT_FROM_WIN32(ERROR_INVALID_DATA));
  // Garbage without a declaration is dropped, not kept.
  firehose::DocumentSplitter noise;
  std::string junk(100000, 'x');
  noise.Feed(reinterpret_cast<const unsigned char*>(junk.data()), junk.size());
  EXPECT_EQ(noise.Next(&d), S_FALSE);
  EXPECT_LT(noise.pending(), 8u);

  std::vector<firehose::Element> elements;
  EXPECT_TRUE(FAILED(firehose::ParseDocument("<?xml version=\"1.0\" ?><data><log value=\"x\"></data>", &elements)));
  EXPECT_TRUE(FAILED(firehose::ParseDocument("<?xml version=\"1.0\" ?><other/></data>", &elements)));
  std::string many = "<?xml version=\"1.0\" ?><data>";
  for (int i = 0; i < 100; ++i) many += "<log value=\"x\"/>";
  EXPECT_EQ(firehose::ParseDocument(many + "</data>", &elements), HRESULT_FROM_WIN32(ERROR_INVALID_DATA));
}

// The host's commands, byte for byte as the note gives them.
TEST(FirehoseCommands, VectorsAreBuiltExactly) {
  EXPECT_EQ(firehose::BuildCommand("configure", {{"MemoryName", "ufs"},
                                                 {"MaxPayloadSizeToTargetInBytes", "1048576"},
                                                 {"Verbose", "0"},
                                                 {"ZlpAwareHost", "1"},
                                                 {"SkipStorageInit", "0"}}),
            kConfigure);
  EXPECT_EQ(kConfigure.size(), 154u);
  TempDir dir;
  WriteFile(dir / "efi.bin", Pattern(5000));
  FirehoseProgram program = ProgramOf(dir / "efi.bin", 4096, "6");
  EXPECT_EQ(ProgramCommand(program), kProgram);
  EXPECT_EQ(kProgram.size(), 166u);
  FirehosePatch patch{4096, 0, "1", 48, 8, "NUM_DISK_SECTORS-6."};
  EXPECT_EQ(PatchCommand(patch), kPatch);
  EXPECT_EQ(kPatch.size(), 198u);
  // Values are escaped.
  EXPECT_EQ(firehose::BuildCommand("x", {{"a", "<\"&>"}}), "<?xml version=\"1.0\" ?><data><x a=\"&lt;&quot;&amp;&gt;\" /></data>");
}

// Payload negotiation: an ACK naming a smaller supported size and the NAND
// NAK both lead to a second configure with that size; a NAK with nothing to
// lower fails with the phone's text.
TEST(FirehoseConfigure, PayloadIsNegotiatedDown) {
  ScopedTimeScale fast(0.01);
  {
    ScriptedPort port;
    port.Answer(B(kConfigureLog + kNandNak + kConfigureLog + kAck));
    firehose::Channel channel(port);
    std::uint32_t payload = 0;
    ASSERT_EQ(ConfigureFirehose(channel, "emmc", nullptr, &payload), S_OK);
    EXPECT_EQ(payload, 8192u);
    ASSERT_EQ(port.writes.size(), 2u);
    EXPECT_EQ(S(port.writes[1]), ConfigureCommand("emmc", 8192));
  }
  {
    std::string smaller = kConfigureAck;
    smaller.replace(smaller.find("Supported=\"1048576\""), 19, "Supported=\"65536\"");
    ScriptedPort port;
    port.Answer(B(smaller + kAck));
    firehose::Channel channel(port);
    std::uint32_t payload = 0;
    ASSERT_EQ(ConfigureFirehose(channel, "ufs", nullptr, &payload), S_OK);
    EXPECT_EQ(payload, 65536u);
    EXPECT_EQ(port.writes.size(), 2u);
  }
  {
    ScriptedPort port;
    port.Answer(B(kConfigureAck));
    firehose::Channel channel(port);
    std::uint32_t payload = 0;
    ASSERT_EQ(ConfigureFirehose(channel, "ufs", nullptr, &payload), S_OK);
    EXPECT_EQ(payload, kWantedPayload);
    EXPECT_EQ(port.writes.size(), 1u);
  }
  {
    ScriptedPort port;
    port.Answer(B(Nak("ERROR: Not support configure MemoryName eMMC")));
    firehose::Channel channel(port);
    StatusList status;
    std::uint32_t payload = 0;
    EXPECT_EQ(ConfigureFirehose(channel, "emmc", &status, &payload), HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED));
    EXPECT_EQ(status.Count("configure refused by the phone: ERROR: Not support configure MemoryName eMMC"), 1);
  }
  {
    ScriptedPort port;  // a programmer that never answers
    firehose::Channel channel(port);
    std::uint32_t payload = 0;
    EXPECT_EQ(ConfigureFirehose(channel, "emmc", nullptr, &payload), HRESULT_FROM_WIN32(ERROR_TIMEOUT));
  }
}

// The raw data phase: exactly the announced sectors, the file first and
// zeros after it, in chunks of whole sectors within the payload, whether the
// payload divides the data or not; a file sector offset skips the start.
TEST(FirehoseProgram, DataArrivesExactlyInWholeSectorChunks) {
  ScopedTimeScale fast(0.01);
  TempDir dir;
  std::string file = Pattern(5000);
  WriteFile(dir / "efi.bin", file);
  struct Case {
    std::uint32_t sectorSize, payload;
    std::uint64_t offset, limit;
    std::vector<size_t> chunks;
  };
  const Case cases[] = {
      {4096, 1048576, 0, 0, {8192}},           // the note's example: one chunk, zero padded
      {4096, 4096, 0, 0, {4096, 4096}},        // payload of one sector
      {512, 2000, 0, 0, {1536, 1536, 1536, 512}},  // payload not a sector multiple: whole sectors only
      {512, 1048576, 2, 0, {4096}},            // from file sector 2: 8 sectors left
      {512, 1048576, 0, 3, {1536}},            // at most the rawprogram's count
  };
  for (const Case& c : cases) {
    FirehoseProgram p = ProgramOf(dir / "efi.bin", c.sectorSize, "6");
    p.fileSectorOffset = c.offset;
    p.sectorLimit = c.limit;
    ScriptedPort port;
    port.Answer(B(kConfigureLog + kRawAck + kAck));
    firehose::Channel channel(port);
    ProgramProgress progress{0, p.sectorsToSend() * c.sectorSize};
    StatusList status;
    ASSERT_EQ(ProgramFirehose(channel, p, c.payload, &progress, &status), S_OK) << c.payload;
    ASSERT_EQ(port.writes.size(), 1 + c.chunks.size()) << c.payload;
    std::string sent;
    for (size_t i = 0; i < c.chunks.size(); ++i) {
      EXPECT_EQ(port.writes[1 + i].size(), c.chunks[i]);
      sent += S(port.writes[1 + i]);
    }
    std::string expected = file.substr(std::min<size_t>(file.size(), c.offset * c.sectorSize));
    expected.resize(p.sectorsToSend() * c.sectorSize, '\0');
    EXPECT_EQ(sent, expected) << c.payload;
    EXPECT_EQ(progress.sent, progress.total);
    EXPECT_EQ(status.Count("Program \"efi.bin\" block"), static_cast<int>(c.chunks.size()));
    EXPECT_EQ(status.Starting("Program \"efi.bin\" block").back(),
              "Program \"efi.bin\" block " + std::to_string(c.chunks.size()) + " of " +
                  std::to_string(c.chunks.size()) + ", 100%");
  }
}

// A NAK before rawmode sends no data and fails with the phone's log; an
// ACK that is not rawmode sends none either; an error log with the closing
// ACK fails the element; a phone that goes silent times out.
TEST(FirehoseProgram, RefusalsFailWithThePhonesText) {
  ScopedTimeScale fast(0.01);
  TempDir dir;
  WriteFile(dir / "efi.bin", Pattern(5000));
  auto run = [&](const std::string& answers, StatusList* status, ScriptedPort* port) {
    FirehoseProgram p = ProgramOf(dir / "efi.bin", 4096, "6");
    port->Answer(B(answers));
    firehose::Channel channel(*port);
    ProgramProgress progress{0, 8192};
    return ProgramFirehose(channel, p, 1048576, &progress, status);
  };
  {
    ScriptedPort port;
    StatusList status;
    EXPECT_EQ(run(Nak("ERROR: Attribute 'SECTOR_SIZE_IN_BYTES'=4096 must be equal to disk sector size 512"), &status,
                  &port),
              HRESULT_FROM_WIN32(ERROR_WRITE_FAULT));
    EXPECT_EQ(port.writes.size(), 1u);
    EXPECT_EQ(status.Count("program \"efi.bin\" refused by the phone: ERROR: Attribute 'SECTOR_SIZE_IN_BYTES'=4096"), 1);
  }
  {
    ScriptedPort port;
    EXPECT_EQ(run(kAck, nullptr, &port), HRESULT_FROM_WIN32(ERROR_INVALID_DATA));
    EXPECT_EQ(port.writes.size(), 1u);
  }
  {
    ScriptedPort port;
    std::string errorThenAck =
        kRawAck + "<?xml version=\"1.0\" ?><data><log value=\"ERROR: write failed\"/></data>" + kAck;
    StatusList status;
    EXPECT_EQ(run(errorThenAck, &status, &port), HRESULT_FROM_WIN32(ERROR_WRITE_FAULT));
    EXPECT_EQ(status.Count("program \"efi.bin\" refused by the phone: ERROR: write failed"), 1);
  }
  {
    ScriptedPort port;
    EXPECT_EQ(run(kRawAck, nullptr, &port), HRESULT_FROM_WIN32(ERROR_TIMEOUT));
    EXPECT_EQ(port.writes.size(), 2u);  // the data went out; the closing ACK never came
  }
}

// Patches and the reset: sent as the files give them, a NAK fails.
TEST(FirehosePatch, PatchesAndResetAreAcknowledged) {
  ScopedTimeScale fast(0.01);
  FirehosePatch patch{4096, 0, "1", 48, 8, "NUM_DISK_SECTORS-6."};
  ScriptedPort port;
  port.Answer(B(kAck + Nak("ERROR: patch outside the disk") + kAck));
  firehose::Channel channel(port);
  EXPECT_EQ(PatchFirehose(channel, patch, nullptr), S_OK);
  EXPECT_EQ(PatchFirehose(channel, patch, nullptr), HRESULT_FROM_WIN32(ERROR_WRITE_FAULT));
  EXPECT_EQ(ResetFirehosePhone(channel, nullptr), S_OK);
  ASSERT_EQ(port.writes.size(), 3u);
  EXPECT_EQ(S(port.writes[0]), kPatch);
  EXPECT_EQ(S(port.writes[2]), "<?xml version=\"1.0\" ?><data><power value=\"reset\" /></data>");
}

// The package check refuses before the phone hears anything: a programmer
// that is no ELF file, a sparse image, a patch outside its sector, an
// expression the phone should not evaluate, a name that leaves the folder.
TEST(FirehosePackage, MalformedPackagesAreRefused) {
  TempDir dir;
  WriteFile(dir / "prog_firehose_ddr.elf", S(SyntheticProgrammer()));
  WriteFile(dir / "prog.hex", ":00000001FF\n");
  WriteFile(dir / "efi.bin", Pattern(5000));
  std::string sparse = "\x3A\xFF\x26\xED" + std::string(100, '\0');
  WriteFile(dir / "sparse.img", sparse);
  auto rawprogram = [&](const std::string& attributes) {
    WriteFile(dir / "rawprogram0.xml", "<?xml version=\"1.0\" ?><data><program SECTOR_SIZE_IN_BYTES=\"4096\" "
                                       "physical_partition_number=\"2\" " + attributes + " /></data>");
  };
  auto patches = [&](const std::string& attributes) {
    WriteFile(dir / "patch0.xml", "<?xml version=\"1.0\" ?><patches><patch SECTOR_SIZE_IN_BYTES=\"4096\" "
                                  "filename=\"DISK\" physical_partition_number=\"0\" start_sector=\"1\" " +
                                      attributes + " /></patches>");
  };
  auto read = [&](const std::string& programmer) {
    FirehosePackage package;
    return ReadFirehosePackage(dir / programmer, dir / "rawprogram0.xml", dir / "patch0.xml", dir.path(), "",
                               nullptr, &package);
  };
  rawprogram("start_sector=\"6\" filename=\"efi.bin\" num_partition_sectors=\"0\"");
  patches("byte_offset=\"48\" size_in_bytes=\"8\" value=\"CRC32(NUM_DISK_SECTORS-5.,4096)\"");
  {
    FirehosePackage package;
    ASSERT_EQ(ReadFirehosePackage(dir / "prog_firehose_ddr.elf", dir / "rawprogram0.xml", dir / "patch0.xml",
                                  dir.path(), "", nullptr, &package),
              S_OK);
    EXPECT_EQ(package.memoryName, "ufs");
    ASSERT_EQ(package.programs.size(), 1u);
    EXPECT_EQ(package.programs[0].partition, 2u);
    EXPECT_EQ(package.programs[0].sectorsToSend(), 2u);
    EXPECT_EQ(package.bytesToSend(), 8192u);
    ASSERT_EQ(package.patches.size(), 1u);
  }
  EXPECT_EQ(read("prog.hex"), HRESULT_FROM_WIN32(ERROR_BAD_FORMAT));
  EXPECT_EQ(read("missing.elf"), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
  rawprogram("start_sector=\"6\" filename=\"sparse.img\"");
  EXPECT_EQ(read("prog_firehose_ddr.elf"), HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED));
  rawprogram("start_sector=\"6\" filename=\"efi.bin\" sparse=\"true\"");
  EXPECT_EQ(read("prog_firehose_ddr.elf"), HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED));
  for (const char* bad : {"start_sector=\"6\" filename=\"../efi.bin\"", "start_sector=\"$(reboot)\" filename=\"efi.bin\"",
                          "start_sector=\"0x10\" filename=\"efi.bin\"", "filename=\"efi.bin\"",
                          "start_sector=\"6\" filename=\"efi.bin\" num_partition_sectors=\"-1\""}) {
    rawprogram(bad);
    EXPECT_EQ(read("prog_firehose_ddr.elf"), E_INVALIDARG) << bad;
  }
  rawprogram("start_sector=\"NUM_DISK_SECTORS-5.\" filename=\"efi.bin\"");
  EXPECT_EQ(read("prog_firehose_ddr.elf"), S_OK);
  for (const char* bad : {"byte_offset=\"4090\" size_in_bytes=\"8\" value=\"1\"",
                          "byte_offset=\"0\" size_in_bytes=\"9\" value=\"1\"",
                          "byte_offset=\"0\" size_in_bytes=\"8\" value=\"`id`\""}) {
    patches(bad);
    EXPECT_EQ(read("prog_firehose_ddr.elf"), E_INVALIDARG) << bad;
  }
  // The programmer setting may be a glob, found in folder order.
  EXPECT_EQ(SearchFilePattern(dir.path(), "prog_*firehose*"), dir / "prog_firehose_ddr.elf");
  EXPECT_EQ(SearchFilePattern(dir.path(), "prog_*nand*"), dir / "prog_*nand*");
}

// A storage type set by the user wins over the one the sector size implies,
// in any case; any other text is refused by name before anything is read.
TEST(FirehosePackage, TheStorageSettingNamesTheMemory) {
  TempDir dir;
  WriteFile(dir / "prog_firehose_ddr.elf", S(SyntheticProgrammer()));
  WriteFile(dir / "efi.bin", Pattern(5000));
  WriteFile(dir / "patch0.xml", "<?xml version=\"1.0\" ?><patches/>");
  auto read = [&](unsigned sectorSize, const std::string& memory, FirehosePackage* package, StatusList* status) {
    WriteFile(dir / "rawprogram0.xml", "<?xml version=\"1.0\" ?><data><program SECTOR_SIZE_IN_BYTES=\"" +
                                           std::to_string(sectorSize) +
                                           "\" filename=\"efi.bin\" start_sector=\"6\" /></data>");
    return ReadFirehosePackage(dir / "prog_firehose_ddr.elf", dir / "rawprogram0.xml", dir / "patch0.xml",
                               dir.path(), memory, status, package);
  };
  const struct {
    unsigned sectorSize;
    const char* setting;
    const char* memory;
  } cases[] = {{512, "", "emmc"}, {4096, "", "ufs"}, {512, "UFS", "ufs"}, {512, "ufs", "ufs"},
               {4096, "eMMC", "emmc"}, {4096, "EMMC", "emmc"}};
  for (const auto& c : cases) {
    FirehosePackage package;
    ASSERT_EQ(read(c.sectorSize, c.setting, &package, nullptr), S_OK) << c.setting;
    EXPECT_EQ(package.memoryName, c.memory) << c.sectorSize << " " << c.setting;
  }
  for (const char* bad : {"nand", "ufs ", "emmc0", "u"}) {
    FirehosePackage package;
    StatusList status;
    EXPECT_EQ(read(512, bad, &package, &status), E_INVALIDARG) << bad;
    EXPECT_EQ(status.Count("Package refused: the storage type is neither eMMC nor UFS (" + std::string(bad) + ")"), 1)
        << bad;
    EXPECT_TRUE(package.programmer.empty()) << bad;
  }
}

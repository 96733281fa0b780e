// The .qcn file: what the program writes is read by an independent reader
// (Debian's python3-olefile), and a file built here byte by byte from the
// published layouts is read and restored.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>

#include "download/byte_order.h"
#include "nv/nv_service.h"
#include "nv/qcn_file.h"
#include "platform/timing.h"
#include "tests/support/fake_diag_phone.h"
#include "tests/support/log_capture.h"

namespace {

NvData Pattern(unsigned seed) {
  NvData d{};
  for (size_t i = 0; i < d.size(); ++i) d[i] = static_cast<unsigned char>(seed * 31 + i * 7);
  return d;
}
// An element of an array item: its data byte 0 names the element.
NvData Element(unsigned seed, unsigned char element) {
  NvData d = Pattern(seed);
  d[0] = element;
  return d;
}

QcnContents Sample() {
  QcnContents c;
  c.esn = 0x80ABCDEF;
  c.phoneVersion = "Jun 11 2011 12:00:00";
  c.writer = "test";
  c.items = {{550, 0, Pattern(1)}, {7, 0, Pattern(2)}, {465, 0, Pattern(3)}, {465, 1, Pattern(4)}};
  c.contextItems[0] = {{7, 0, Pattern(5)}};
  return c;
}

// The small compound-file writer of the test: header, one FAT sector, the
// directory, one mini FAT sector, and every stream in the mini stream.
class HandMadeCompoundFile {
 public:
  // type 1 storage, 2 stream; parent -1 for the root's children, one no
  // entry has for an entry in no storage.
  int Add(const std::string& name, int type, int parent, const std::string& data = "") {
    entries_.push_back({name, type, parent, data});
    return static_cast<int>(entries_.size());  // entry 0 is the root
  }
  // Names an entry as the root's right sibling, which a root never has.
  void SetRootSibling(int entry) { rootSibling_ = static_cast<std::uint32_t>(entry); }

  std::string Bytes() {
    // Mini stream: each stream in whole 64-byte mini sectors, chained.
    std::string mini;
    std::vector<std::uint32_t> miniFat;
    std::vector<std::uint32_t> start(entries_.size() + 1, 0);
    for (size_t i = 0; i < entries_.size(); ++i) {
      const Entry& e = entries_[i];
      if (e.type != 2 || e.data.empty()) continue;
      size_t sectors = (e.data.size() + 63) / 64;
      start[i + 1] = static_cast<std::uint32_t>(miniFat.size());
      for (size_t s = 0; s < sectors; ++s) miniFat.push_back(s + 1 == sectors ? kEnd : static_cast<std::uint32_t>(miniFat.size() + 1));
      mini += e.data;
      mini.resize(miniFat.size() * 64, '\0');
    }
    size_t miniSectors = (mini.size() + 511) / 512;
    size_t dirEntries = entries_.size() + 1;
    size_t dirSectors = (dirEntries + 3) / 4;
    // Sectors: 0 FAT, 1.. directory, then the mini FAT, then the mini stream.
    std::uint32_t firstDir = 1, miniFatSector = 1 + static_cast<std::uint32_t>(dirSectors), firstMini = miniFatSector + 1;
    std::vector<std::uint32_t> fat(128, kFree);
    fat[0] = 0xFFFFFFFD;
    for (size_t s = 0; s < dirSectors; ++s) fat[firstDir + s] = s + 1 == dirSectors ? kEnd : firstDir + s + 1;
    fat[miniFatSector] = kEnd;
    for (size_t s = 0; s < miniSectors; ++s) fat[firstMini + s] = s + 1 == miniSectors ? kEnd : firstMini + s + 1;

    std::string out(512, '\0');
    auto p = [&](size_t at) { return reinterpret_cast<unsigned char*>(&out[at]); };
    const unsigned char signature[] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    std::memcpy(p(0), signature, 8);
    PutLittleEndian16(p(0x18), 0x003E);
    PutLittleEndian16(p(0x1A), 3);
    PutLittleEndian16(p(0x1C), 0xFFFE);
    PutLittleEndian16(p(0x1E), 9);
    PutLittleEndian16(p(0x20), 6);
    PutLittleEndian32(p(0x2C), 1);
    PutLittleEndian32(p(0x30), firstDir);
    PutLittleEndian32(p(0x38), 4096);
    PutLittleEndian32(p(0x3C), miniFatSector);
    PutLittleEndian32(p(0x40), 1);
    PutLittleEndian32(p(0x44), kEnd);
    PutLittleEndian32(p(0x4C), 0);
    for (size_t i = 1; i < 109; ++i) PutLittleEndian32(p(0x4C + 4 * i), kFree);
    out += Words(fat);
    std::string dir;
    dir += DirEntry("Root Entry", 5, kNone, rootSibling_, Child(-1), firstMini, static_cast<std::uint32_t>(mini.size()));
    for (size_t i = 0; i < entries_.size(); ++i) {
      const Entry& e = entries_[i];
      dir += DirEntry(e.name, e.type, kNone, Next(i), e.type == 1 ? Child(static_cast<int>(i + 1)) : kNone,
                      e.type == 2 ? start[i + 1] : 0, static_cast<std::uint32_t>(e.data.size()));
    }
    while (dir.size() < dirSectors * 512) dir += DirEntry("", 0, kNone, kNone, kNone, 0, 0);
    out += dir;
    miniFat.resize(128, kFree);
    out += Words(miniFat);
    mini.resize(miniSectors * 512, '\0');
    return out + mini;
  }

 private:
  struct Entry {
    std::string name;
    int type;
    int parent;
    std::string data;
  };
  static constexpr std::uint32_t kEnd = 0xFFFFFFFE, kFree = 0xFFFFFFFF, kNone = 0xFFFFFFFF;

  // Siblings ordered by name length, then name: the first is the parent's
  // child, each names the next as its right sibling.
  std::vector<int> Siblings(int parent) const {
    std::vector<int> ids;
    for (size_t i = 0; i < entries_.size(); ++i)
      if (entries_[i].parent == parent) ids.push_back(static_cast<int>(i));
    std::sort(ids.begin(), ids.end(), [&](int a, int b) {
      const std::string &x = entries_[a].name, &y = entries_[b].name;
      return x.size() != y.size() ? x.size() < y.size() : x < y;
    });
    return ids;
  }
  std::uint32_t Child(int parentEntry) const {
    auto ids = Siblings(parentEntry < 0 ? -1 : parentEntry - 1);
    return ids.empty() ? kNone : static_cast<std::uint32_t>(ids.front() + 1);
  }
  std::uint32_t Next(size_t i) const {
    auto ids = Siblings(entries_[i].parent);
    auto at = std::find(ids.begin(), ids.end(), static_cast<int>(i));
    return at + 1 == ids.end() ? kNone : static_cast<std::uint32_t>(*(at + 1) + 1);
  }
  static std::string Words(const std::vector<std::uint32_t>& words) {
    std::string out(words.size() * 4, '\0');
    for (size_t i = 0; i < words.size(); ++i) PutLittleEndian32(reinterpret_cast<unsigned char*>(&out[4 * i]), words[i]);
    return out;
  }
  static std::string DirEntry(const std::string& name, int type, std::uint32_t left, std::uint32_t right,
                              std::uint32_t child, std::uint32_t startSector, std::uint32_t size) {
    std::string e(128, '\0');
    auto p = [&](size_t at) { return reinterpret_cast<unsigned char*>(&e[at]); };
    for (size_t i = 0; i < name.size(); ++i) e[2 * i] = name[i];
    PutLittleEndian16(p(0x40), name.empty() ? 0 : static_cast<std::uint16_t>(2 * (name.size() + 1)));
    e[0x42] = static_cast<char>(type);
    e[0x43] = 1;
    PutLittleEndian32(p(0x44), left);
    PutLittleEndian32(p(0x48), right);
    PutLittleEndian32(p(0x4C), child);
    PutLittleEndian32(p(0x74), startSector);
    PutLittleEndian32(p(0x78), size);
    return e;
  }
  std::vector<Entry> entries_;
  std::uint32_t rootSibling_ = kNone;
};

std::string Record(std::uint16_t id, std::uint16_t index, const NvData& data) {
  std::string r(8, '\0');
  auto p = reinterpret_cast<unsigned char*>(r.data());
  PutLittleEndian16(p, 136);
  PutLittleEndian16(p + 2, 1);
  PutLittleEndian16(p + 4, id);
  PutLittleEndian16(p + 6, index);
  return r + std::string(data.begin(), data.end());
}

}  // namespace

TEST(QcnFile, AnIndependentReaderFindsTheTreeAndTheItems) {
  TempDir dir;
  ASSERT_EQ(WriteQcnFile(dir / "a.qcn", Sample()), S_OK);
  EXPECT_FALSE(std::filesystem::exists(dir / "a.qcn.tmp"));
  WriteFile(dir / "read.py", R"(import olefile, sys
ole = olefile.OleFileIO(sys.argv[1])
print("version", ole.openstream("File_Version").read().hex())
for e in sorted("/".join(p) for p in ole.listdir(streams=True, storages=True)):
    print("entry", e)
mpi = ole.openstream("00000000/default/Mobile_Property_Info").read()
print("esn %08X" % int.from_bytes(mpi[0:4], "little"))
for name in ("NV_ITEM_ARRAY", "NV_ITEM_ARRAY_SIM_1", "NV_ITEM_ARRAY_SIM_2"):
    data = ole.openstream("00000000/default/NV_NUMBERED_ITEMS/" + name).read()
    for at in range(0, len(data), 136):
        r = data[at:at + 136]
        print(name, int.from_bytes(r[0:2], "little"), int.from_bytes(r[2:4], "little"),
              int.from_bytes(r[4:6], "little"), int.from_bytes(r[6:8], "little"), r[8:].hex())
)");
  ASSERT_EQ(std::system(("/usr/bin/python3 " + dir / "read.py " + dir / "a.qcn > " + dir / "out.txt").c_str()), 0);
  std::string out = ReadFile(dir / "out.txt");
  EXPECT_NE(out.find("version 020000000000\n"), std::string::npos) << out;
  for (const char* entry : {"00000000/default/Feature_Mask", "00000000/default/NV_Items/EFS_Dir",
                            "00000000/default/EFS_Backup/EFS_Data", "00000000/default/Provisioning_Item_Files/EFS_Dir",
                            "00000000/default/NV_NUMBERED_ITEMS/NV_ITEM_ARRAY_SIM_2"})
    EXPECT_NE(out.find(std::string("entry ") + entry + "\n"), std::string::npos) << entry << "\n" << out;
  EXPECT_NE(out.find("esn 80ABCDEF\n"), std::string::npos);
  auto hex = [](const NvData& d) {
    std::string s;
    char b[3];
    for (unsigned char c : d) std::snprintf(b, sizeof b, "%02x", c), s += b;
    return s;
  };
  QcnContents sample = Sample();
  std::string expected;
  for (const NvItem& item : sample.items)
    expected += "NV_ITEM_ARRAY 136 1 " + std::to_string(item.id) + " " + std::to_string(item.index) + " " + hex(item.data) + "\n";
  expected += "NV_ITEM_ARRAY_SIM_1 136 1 7 0 " + hex(Pattern(5)) + "\n";
  EXPECT_NE(out.find(expected), std::string::npos) << out;
  QcnContents back;
  ASSERT_EQ(ReadQcnFile(dir / "a.qcn", &back), S_OK);
  EXPECT_EQ(back.items, sample.items);
  EXPECT_EQ(back.contextItems[0], sample.contextItems[0]);
  EXPECT_EQ(back.esn, sample.esn);
  EXPECT_EQ(back.phoneVersion, sample.phoneVersion);
}

TEST(QcnFile, AFileBuiltByHandIsRestored) {
  ScopedTimeScale fast(0.01);
  // Another model storage name, records out of id order, a short record
  // (padded with zeros), no feature mask, no subscription streams.
  NvData shortData{};
  shortData[0] = 0x42;
  HandMadeCompoundFile file;
  file.Add("File_Version", 2, -1, std::string("\x02\0\0\0\0\0", 6));
  int model = file.Add("00004110", 1, -1);
  int def = file.Add("default", 1, model - 1);
  std::string mpi("\xEF\xCD\xAB\x80\x00\x00\x00\x00\x02\x00v1\x00\x00", 14);
  file.Add("Mobile_Property_Info", 2, def - 1, mpi);
  int numbered = file.Add("NV_NUMBERED_ITEMS", 1, def - 1);
  std::string shortRecord = Record(9, 0, shortData).substr(0, 9);
  shortRecord[0] = 9;
  file.Add("NV_ITEM_ARRAY", 2, numbered - 1,
           Record(550, 0, Pattern(1)) + Record(465, 0, Element(2, 0)) + Record(465, 1, Element(3, 1)) + Record(7, 0, Pattern(4)) +
               shortRecord);
  TempDir dir;
  WriteFile(dir / "hand.qcn", file.Bytes());
  QcnContents read;
  ASSERT_EQ(ReadQcnFile(dir / "hand.qcn", &read), S_OK);
  EXPECT_EQ(read.esn, 0x80ABCDEFu);
  EXPECT_EQ(read.phoneVersion, "v1");
  const std::vector<NvItem> expected = {
      {550, 0, Pattern(1)}, {465, 0, Element(2, 0)}, {465, 1, Element(3, 1)}, {7, 0, Pattern(4)}, {9, 0, shortData}};
  EXPECT_EQ(read.items, expected);

  FakeDiagPhone phone;
  phone.esn = 0x80ABCDEF;
  phone.arrays = {465};
  LogCapture log;
  ASSERT_EQ(RestoreNvItems(phone, dir / "hand.qcn", "482615", false, nullptr), S_OK);
  std::map<FakeDiagPhone::Key, NvData> want;
  for (const NvItem& item : expected)
    if (item.id != 550) want[{item.id, item.index}] = item.data;  // an IMEI item the phone lacks is not cloned
  EXPECT_EQ(phone.items, want);
  EXPECT_EQ(log.Count("NV item 550 holds another identity than the phone's; skipped."), 1);
  EXPECT_EQ(phone.mode, kModeReset);
}

TEST(QcnFile, MalformedFilesAreRefusedBeforeThePhoneHearsAnything) {
  TempDir dir;
  QcnContents sample = Sample();
  std::string good;
  ASSERT_EQ(EncodeQcn(sample, &good), S_OK);
  // A record that runs past its stream, one too long for an NV item, no
  // items stream at all, and no compound file.
  std::string past = EncodeItemRecords(sample.items);
  past[136] = static_cast<char>(200);
  std::string longRecord = Record(1, 0, Pattern(1)) + std::string(8, '\0');
  PutLittleEndian16(reinterpret_cast<unsigned char*>(longRecord.data()), 144);
  std::vector<NvItem> items;
  EXPECT_FALSE(DecodeItemRecords(past, &items));
  EXPECT_FALSE(DecodeItemRecords(longRecord, &items));
  // An element a read cannot name (its index goes into one data byte).
  EXPECT_FALSE(DecodeItemRecords(Record(465, 256, Pattern(1)), &items));
  EXPECT_TRUE(DecodeItemRecords(Record(465, 255, Pattern(1)), &items));
  HandMadeCompoundFile noItems;
  noItems.Add("File_Version", 2, -1, std::string("\x02\0\0\0\0\0", 6));
  int model = noItems.Add("00000000", 1, -1);
  noItems.Add("default", 1, model - 1);
  HandMadeCompoundFile badRecords;
  model = badRecords.Add("00000000", 1, -1);
  int def = badRecords.Add("default", 1, model - 1);
  int numbered = badRecords.Add("NV_NUMBERED_ITEMS", 1, def - 1);
  badRecords.Add("NV_ITEM_ARRAY", 2, numbered - 1, past);
  // Whole items, but a root entry with a sibling outside every storage.
  HandMadeCompoundFile rootSibling;
  model = rootSibling.Add("00000000", 1, -1);
  def = rootSibling.Add("default", 1, model - 1);
  numbered = rootSibling.Add("NV_NUMBERED_ITEMS", 1, def - 1);
  rootSibling.Add("NV_ITEM_ARRAY", 2, numbered - 1, EncodeItemRecords(sample.items));
  rootSibling.SetRootSibling(rootSibling.Add("Stray", 2, 1000));
  const std::pair<const char*, std::string> files[] = {
      {"no items", noItems.Bytes()}, {"bad records", badRecords.Bytes()}, {"text", "not a compound file"},
      {"cut short", good.substr(0, good.size() / 2)}, {"root with a sibling", rootSibling.Bytes()}};
  for (const auto& [what, bytes] : files) {
    WriteFile(dir / "bad.qcn", bytes);
    FakeDiagPhone phone;
    EXPECT_EQ(RestoreNvItems(phone, dir / "bad.qcn", "482615", true, nullptr), HRESULT_FROM_WIN32(ERROR_BAD_FORMAT)) << what;
    EXPECT_TRUE(phone.requests.empty()) << what;
  }
  // A record list is read whole or not at all: a size below the header (once
  // taken as the end of the list), a piece of a record at the end.
  std::string belowHeader = EncodeItemRecords(sample.items) + std::string("\x04\x00\xFF\xFF", 4);
  std::string piece = EncodeItemRecords(sample.items) + Record(1, 0, Pattern(1)).substr(0, 6);
  EXPECT_FALSE(DecodeItemRecords(belowHeader, &items));
  EXPECT_FALSE(DecodeItemRecords(piece, &items));
  EXPECT_FALSE(DecodeItemRecords(std::string(1, '\0'), &items));
  items.clear();
  EXPECT_TRUE(DecodeItemRecords("", &items));
  EXPECT_TRUE(items.empty());
  // 20 items, then a record of size 0 before the other 8: the restore
  // refuses the file instead of writing the first 20. (Streams below 4096
  // bytes, which the hand-made file keeps in its mini stream.)
  std::vector<NvItem> many;
  for (std::uint16_t id = 1; id <= 28; ++id) many.push_back(NvItem{id, 0, Pattern(id)});
  auto fileOf = [](const std::string& stream) {
    HandMadeCompoundFile f;
    int m = f.Add("00000000", 1, -1);
    int d = f.Add("default", 1, m - 1);
    int n = f.Add("NV_NUMBERED_ITEMS", 1, d - 1);
    f.Add("NV_ITEM_ARRAY", 2, n - 1, stream);
    return f.Bytes();
  };
  std::string stream = EncodeItemRecords(many);
  QcnContents whole;
  ASSERT_EQ(DecodeQcn(fileOf(stream), &whole), S_OK);
  EXPECT_EQ(whole.items, many);
  stream[20 * 136] = 0;
  WriteFile(dir / "cut.qcn", fileOf(stream));
  FakeDiagPhone phone;
  EXPECT_EQ(RestoreNvItems(phone, dir / "cut.qcn", "482615", true, nullptr), HRESULT_FROM_WIN32(ERROR_BAD_FORMAT));
  EXPECT_TRUE(phone.requests.empty());
}

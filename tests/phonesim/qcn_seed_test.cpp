// Seeding bench phones from .qcn files: the bench's compound-file reader on
// files libgsf wrote, on the note's record layout, and on damaged files.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "tests/phonesim/gsf_qcn_writer.h"
#include "tests/support/temp_dir.h"
#include "tools/phonesim/diag_responder.h"
#include "tools/phonesim/qcn_seed.h"

using phonesim::Bytes;
using phonesim::NvRecord;

namespace {

NvRecord Record(std::uint16_t context, std::uint16_t id, std::uint16_t index, unsigned seed) {
  NvRecord r;
  r.key = {context, id, index};
  for (std::size_t i = 0; i < 1 + seed % 100; ++i) r.data[i] = static_cast<std::uint8_t>(seed * 31 + i * 7);
  return r;
}

// n ordinary items in no particular order, item 465 with three elements,
// three items for the first SIM.
QcnContent Sample(unsigned n) {
  QcnContent c;
  c.model = "00004110";
  for (unsigned k = 0; k < n; ++k) c.items.push_back(Record(0, static_cast<std::uint16_t>((k * 7919) % 8000 + 1), 0, k));
  for (std::uint16_t e = 0; e < 3; ++e) c.items.push_back(Record(0, 465, e, 500 + e));
  for (std::uint16_t id : {10, 20, 30}) c.sim1.push_back(Record(1, id, 0, id));
  c.withSim2 = false;
  return c;
}

std::vector<NvRecord> All(const QcnContent& c) {
  std::vector<NvRecord> all = c.items;
  all.insert(all.end(), c.sim1.begin(), c.sim1.end());
  all.insert(all.end(), c.sim2.begin(), c.sim2.end());
  return all;
}

bool Same(const std::vector<NvRecord>& a, const std::vector<NvRecord>& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](const NvRecord& x, const NvRecord& y) {
           return x.key == y.key && x.data == y.data;
         });
}

Bytes FileBytes(const std::string& path) {
  std::string text = ReadFile(path);
  return Bytes(text.begin(), text.end());
}

}  // namespace

TEST(QcnSeed, ReadsWhatLibgsfWroteFromMiniAndRegularStreams) {
  TempDir dir;
  // 30 records stay below the mini-stream cutoff, 1000 go to ordinary
  // sectors and need several allocation-table sectors, 60000 need more of
  // those than the header lists.
  for (unsigned n : {0u, 30u, 1000u, 60000u}) {
    SCOPED_TRACE(n);
    QcnContent c = Sample(n);
    ASSERT_TRUE(WriteQcnWithGsf(dir / "a.qcn", c));
    std::string error;
    std::optional<std::vector<NvRecord>> records = phonesim::LoadQcnFile(dir / "a.qcn", &error);
    ASSERT_TRUE(records) << error;
    EXPECT_TRUE(Same(*records, All(c)));
    if (n == 60000) {
      Bytes file = FileBytes(dir / "a.qcn");
      EXPECT_GT(file[0x48], 0) << "no allocation-table extension sector was needed";
    }
  }
}

TEST(QcnSeed, SeededPhoneAnswersTheFilesItems) {
  QcnContent c = Sample(50);
  phonesim::NvStore store = phonesim::SeededStore(All(c));
  EXPECT_EQ(store.Elements(465), 3);
  EXPECT_EQ(store.Elements(10), 0);
  phonesim::DiagResponder phone({}, store);
  Bytes read(133, 0);
  read[0] = 0x26, read[1] = 465 & 0xFF, read[2] = 465 >> 8, read[3] = 2;
  Bytes answer = phone.Handle(read).packet;
  ASSERT_EQ(answer.size(), 133u);
  EXPECT_TRUE(std::equal(c.items.back().data.begin(), c.items.back().data.end(), answer.begin() + 3));
  EXPECT_EQ(answer[131], 0);
}

TEST(QcnSeed, RecordsFollowTheirOwnSizeField) {
  Bytes stream;
  auto add = [&](unsigned size, std::uint16_t id, std::uint16_t index, std::uint8_t fill) {
    Bytes r = {static_cast<std::uint8_t>(size), static_cast<std::uint8_t>(size >> 8), 1, 0, static_cast<std::uint8_t>(id),
               static_cast<std::uint8_t>(id >> 8), static_cast<std::uint8_t>(index), 0};
    r.resize(std::max<unsigned>(size, 8), fill);
    stream.insert(stream.end(), r.begin(), r.end());
  };
  add(136, 7, 0, 0x11);
  add(12, 8, 0, 0x22);   // a short value: the rest reads as zeros
  add(200, 9, 1, 0x33);  // a long one: the first 128 bytes, and the next record after all 200
  add(136, 10, 0, 0x44);
  add(4, 11, 0, 0x55);   // a size below the header ends the stream
  add(136, 12, 0, 0x66);
  std::vector<NvRecord> records = phonesim::ParseNvItemArray(stream, 2);
  ASSERT_EQ(records.size(), 4u);
  EXPECT_EQ(records[1].key, (phonesim::NvKey{2, 8, 0}));
  EXPECT_EQ(records[1].data[3], 0x22);
  EXPECT_EQ(records[1].data[4], 0);
  EXPECT_EQ(records[2].key, (phonesim::NvKey{2, 9, 1}));
  EXPECT_EQ(records[2].data[127], 0x33);
  EXPECT_EQ(records[3].key.id, 10);
  // A record cut short by the end of the stream is left out.
  stream.resize(136 + 12 + 200 + 100);
  EXPECT_EQ(phonesim::ParseNvItemArray(stream, 0).size(), 3u);
}

TEST(QcnSeed, DamagedFilesAreRefusedOrReadWithinBounds) {
  TempDir dir;
  ASSERT_TRUE(WriteQcnWithGsf(dir / "a.qcn", Sample(60)));
  Bytes good = FileBytes(dir / "a.qcn");
  std::string error;
  EXPECT_FALSE(phonesim::ReadQcn(Bytes(good.begin(), good.begin() + 511), &error));
  EXPECT_EQ(error, "not a compound file");
  Bytes notQcn = good;
  for (std::size_t i = 0; i + 13 <= notQcn.size(); ++i) {
    if (std::equal(notQcn.begin() + i, notQcn.begin() + i + 13, "N\0V\0_\0I\0T\0E\0M")) notQcn[i] = 'X';
  }
  EXPECT_FALSE(phonesim::ReadQcn(notQcn, &error));
  EXPECT_EQ(error, "no NV_ITEM_ARRAY stream");
  // The directory chain pointing at itself.
  Bytes loop = good;
  std::uint32_t dirSector = loop[0x30] | loop[0x31] << 8 | loop[0x32] << 16 | std::uint32_t{loop[0x33]} << 24;
  std::uint32_t fatSector = loop[0x4C] | loop[0x4D] << 8 | loop[0x4E] << 16 | std::uint32_t{loop[0x4F]} << 24;
  std::size_t at = (fatSector + 1) * 512 + 4 * dirSector;
  for (int i = 0; i < 4; ++i) loop[at + i] = static_cast<std::uint8_t>(dirSector >> (8 * i));
  EXPECT_FALSE(phonesim::ReadQcn(loop, &error));
  EXPECT_EQ(error, "broken directory");
  // The item stream's first sector chained to itself: refused, not read round and round.
  Bytes circle = good;
  const char kName[] = "N\0V\0_\0I\0T\0E\0M\0_\0A\0R\0R\0A\0Y\0\0";
  auto name = std::search(circle.begin(), circle.end(), kName, kName + sizeof kName - 1);
  ASSERT_NE(name, circle.end());
  std::size_t entry = static_cast<std::size_t>(name - circle.begin());
  std::uint32_t first = circle[entry + 0x74] | circle[entry + 0x75] << 8;
  at = (fatSector + 1) * 512 + 4 * first;
  for (int i = 0; i < 4; ++i) circle[at + i] = static_cast<std::uint8_t>(first >> (8 * i));
  EXPECT_FALSE(phonesim::ReadQcn(circle, &error));
  EXPECT_EQ(error, "broken stream NV_ITEM_ARRAY");
  // Cut anywhere or with bytes changed at random, the file never takes the
  // reader out of bounds (the sanitizer build checks that).
  std::mt19937 random(18);
  for (int round = 0; round < 300; ++round) {
    Bytes damaged = good;
    if (round % 2) damaged.resize(random() % damaged.size());
    for (int k = 0; k < 4 && !damaged.empty(); ++k) damaged[random() % damaged.size()] = static_cast<std::uint8_t>(random());
    std::optional<std::vector<NvRecord>> records = phonesim::ReadQcn(damaged, &error);
    if (records) {
      EXPECT_LE(records->size(), 3 * good.size() / 8);  // each record takes 8 bytes at least
    }
  }
}

// The diagnostic phone's answers, packet by packet, without a port.
#include <gtest/gtest.h>

#include "tests/phonesim/diag_bytes.h"
#include "tools/phonesim/diag_responder.h"
#include "tools/phonesim/generated_nv.h"

using phonesim::Bytes;
using phonesim::DiagResponder;

namespace {

phonesim::NvValue Value(const std::string& hex) {
  phonesim::NvValue v{};
  Bytes b = HexBytes(hex);
  std::copy(b.begin(), b.end(), v.begin());
  return v;
}

// Item 0x077D of the note's examples, ESN item 0 read-only, item 0x0226
// (550) protected, item 465 with three elements, item 7000 defined but empty.
phonesim::NvStore SmallStore() {
  phonesim::NvStore s;
  s.Put({0, 0x077D, 0}, Value("7E 7D 5E 00 B6"));
  s.Put({0, 0, 0}, Value("78 56 34 12"));
  s.SetReadOnly(0);
  s.Put({0, 550, 0}, Value("08 4A 09 51 24 30 32 57 81"));
  s.SetProtected(550);
  for (std::uint8_t e = 0; e < 3; ++e) s.Put({0, 465, e}, Value("0" + std::to_string(e) + " AA"));
  s.SetElements(465, 3);
  s.SetInactive(7000);
  s.Put({1, 0x077D, 0}, Value("C1"));
  return s;
}

DiagResponder Phone(phonesim::DiagFaults faults = {}) {
  phonesim::DiagPhoneConfig c;
  c.spc = "482615";
  c.faults = faults;
  return DiagResponder(c, SmallStore());
}

Bytes Answer(DiagResponder& phone, const std::string& hex) { return phone.Handle(HexBytes(hex)).packet; }

// Every second digit from the right doubled, the sum a multiple of ten.
bool LuhnValid(const std::string& digits) {
  int sum = 0;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    int d = digits[digits.size() - 1 - i] - '0';
    if (i % 2 == 1) d = d * 2 > 9 ? d * 2 - 9 : d * 2;
    sum += d;
  }
  return sum % 10 == 0;
}

const char* kUnlock = "41 34 38 32 36 31 35";  // "482615"

}  // namespace

TEST(DiagResponder, NvReadAnswersMatchThePublishedPackets) {
  DiagResponder phone = Phone();
  EXPECT_EQ(Answer(phone, "26 7D 07 130x00"), HexBytes("26 7D 07 7E 7D 5E 00 B6 125x00"));
  EXPECT_EQ(Answer(phone, "26 58 1B 130x00"), HexBytes("26 58 1B 128x00 05 00"));  // 7000: defined, never written
  EXPECT_EQ(Answer(phone, "26 59 1B 130x00"), HexBytes("26 59 1B 128x00 06 00"));  // 7001: not defined
  // The shorter request without the status field is taken too.
  EXPECT_EQ(Answer(phone, "26 7D 07 128x00"), HexBytes("26 7D 07 7E 7D 5E 00 B6 125x00"));
  EXPECT_EQ(Answer(phone, "26 00 20 130x00"), HexBytes("14 26 00 20 13x00"));  // id 8192 is out of range
}

TEST(DiagResponder, ProtectedItemsNeedTheCode) {
  DiagResponder phone = Phone();
  EXPECT_EQ(Answer(phone, "26 26 02 130x00"), HexBytes("42 26 26 02 13x00"));
  EXPECT_EQ(Answer(phone, "27 26 02 130x00"), HexBytes("42 27 26 02 13x00"));
  EXPECT_EQ(Answer(phone, "41 30 30 30 30 30 30"), HexBytes("41 00"));
  EXPECT_FALSE(phone.spcAccepted());
  EXPECT_EQ(Answer(phone, kUnlock), HexBytes("41 01"));
  EXPECT_EQ(Answer(phone, "26 26 02 130x00"), HexBytes("26 26 02 08 4A 09 51 24 30 32 57 81 121x00"));
  // A restart locks the phone again.
  phone.Restart();
  EXPECT_EQ(Answer(phone, "26 26 02 130x00")[0], 0x42);
}

TEST(DiagResponder, WritesStoreTheValueAsSentExceptOnReadOnlyItems) {
  DiagResponder phone = Phone();
  Bytes write = HexBytes("27 7D 07 01 02 03 125x00 00 00");
  phonesim::DiagAnswer a = phone.Handle(write);
  EXPECT_EQ(a.packet, write);
  EXPECT_TRUE(a.storeChanged);
  EXPECT_EQ(Answer(phone, "26 7D 07 130x00"), HexBytes("26 7D 07 01 02 03 125x00 00 00"));
  a = phone.Handle(HexBytes("27 00 00 11 22 33 44 124x00 00 00"));
  EXPECT_EQ(a.packet, HexBytes("27 00 00 11 22 33 44 124x00 07 00"));
  EXPECT_FALSE(a.storeChanged);
  EXPECT_EQ(Answer(phone, "26 00 00 130x00"), HexBytes("26 00 00 78 56 34 12 124x00 00 00"));
  EXPECT_EQ(Answer(phone, "01"), HexBytes("01 78 56 34 12"));
}

TEST(DiagResponder, IndexedItemsTakeTheElementFromDataByteZero) {
  DiagResponder phone = Phone();
  EXPECT_EQ(Answer(phone, "26 D1 01 02 129x00"), HexBytes("26 D1 01 02 AA 126x00 00 00"));
  EXPECT_EQ(Answer(phone, "26 D1 01 03 129x00"), HexBytes("26 D1 01 128x00 06 00"));  // past the last element
  EXPECT_EQ(Answer(phone, "27 D1 01 01 BB 126x00 00 00"), HexBytes("27 D1 01 01 BB 126x00 00 00"));
  EXPECT_EQ(Answer(phone, "26 D1 01 01 129x00"), HexBytes("26 D1 01 01 BB 126x00 00 00"));
  EXPECT_EQ(Answer(phone, "26 D1 01 00 129x00"), HexBytes("26 D1 01 00 AA 126x00 00 00"));
}

TEST(DiagResponder, ContextReadsReachThePerSimCopies) {
  DiagResponder phone = Phone();
  EXPECT_EQ(Answer(phone, "4B 30 01 00 7D 07 01 00 130x00"), HexBytes("4B 30 01 00 7D 07 01 00 C1 127x00 00 00"));
  EXPECT_EQ(Answer(phone, "4B 30 01 00 7D 07 00 00 130x00"), HexBytes("4B 30 01 00 7D 07 00 00 7E 7D 5E 00 B6 123x00 00 00"));
  // In context 2 the item is defined but was never written.
  EXPECT_EQ(Answer(phone, "4B 30 01 00 7D 07 02 00 130x00"), HexBytes("4B 30 01 00 7D 07 02 00 128x00 05 00"));
  EXPECT_EQ(Answer(phone, "4B 30 02 00 7D 07 02 00 C2 129x00"), HexBytes("4B 30 02 00 7D 07 02 00 C2 129x00"));
  EXPECT_EQ(Answer(phone, "4B 30 01 00 7D 07 02 00 130x00"), HexBytes("4B 30 01 00 7D 07 02 00 C2 127x00 00 00"));
  EXPECT_EQ(Answer(phone, "4B 30 01 00 7D 07 03 00 130x00"), HexBytes("14 4B 30 01 00 7D 07 03 00 8x00"));
  EXPECT_EQ(Answer(phone, "4B 13 01 00"), HexBytes("13 4B 13 01 00"));  // another subsystem
  EXPECT_EQ(Answer(phone, "4B 30 03 00 7D 07 01 00 130x00")[0], 0x13);
}

TEST(DiagResponder, ModeChangesAndTheResetRule) {
  DiagResponder phone = Phone();
  phonesim::DiagAnswer a = phone.Handle(HexBytes("29 02 00"));
  EXPECT_EQ(a.packet, HexBytes("18 29 02 00"));  // not while online
  EXPECT_FALSE(a.resets);
  EXPECT_EQ(Answer(phone, "29 01 00"), HexBytes("29 01 00"));
  EXPECT_TRUE(phone.offline());
  EXPECT_EQ(Answer(phone, "29 04 00"), HexBytes("29 04 00"));
  EXPECT_FALSE(phone.offline());
  EXPECT_EQ(Answer(phone, "29 01 00"), HexBytes("29 01 00"));
  a = phone.Handle(HexBytes("29 02 00"));
  EXPECT_EQ(a.packet, HexBytes("29 02 00"));
  EXPECT_TRUE(a.resets);
  EXPECT_EQ(Answer(phone, "29 09 00"), HexBytes("14 29 09 00"));
}

TEST(DiagResponder, ErrorsEchoAtMostSixteenBytesOfTheRequest) {
  DiagResponder phone = Phone();
  EXPECT_EQ(Answer(phone, "FE 01 02"), HexBytes("13 FE 01 02"));
  EXPECT_EQ(Answer(phone, "26 7D 07 20x00"), HexBytes("15 26 7D 07 13x00"));  // wrong length
  EXPECT_EQ(Answer(phone, "00 00"), HexBytes("15 00 00"));
  EXPECT_EQ(Answer(phone, "41 34 38 32"), HexBytes("15 41 34 38 32"));
  EXPECT_EQ(Answer(phone, "29 01"), HexBytes("15 29 01"));
}

TEST(DiagResponder, VersionAnswerHasItsFixedSize) {
  DiagResponder phone = Phone();
  Bytes v = Answer(phone, "00");
  ASSERT_EQ(v.size(), 55u);
  EXPECT_EQ(std::string(v.begin() + 1, v.begin() + 12), "Jun 11 2011");
}

TEST(DiagResponder, PhoneFaults) {
  phonesim::DiagFaults faults;
  faults.refuseSpc = true;
  faults.busyNvRequests = 2;
  faults.badReadBack = true;
  DiagResponder phone = Phone(faults);
  EXPECT_EQ(Answer(phone, kUnlock), HexBytes("41 00"));
  EXPECT_EQ(Answer(phone, "26 7D 07 130x00"), HexBytes("26 7D 07 128x00 01 00"));
  EXPECT_EQ(Answer(phone, "27 7D 07 05 127x00 00 00"), HexBytes("27 7D 07 05 127x00 01 00"));  // busy: not stored
  EXPECT_EQ(Answer(phone, "26 7D 07 130x00"), HexBytes("26 7D 07 7E 7D 5E 00 B6 125x00"));
  // Untouched items read back as stored; written ones differ.
  EXPECT_EQ(Answer(phone, "27 7D 07 05 127x00 00 00"), HexBytes("27 7D 07 05 127x00 00 00"));
  Bytes back = Answer(phone, "26 7D 07 130x00");
  EXPECT_EQ(back.size(), 133u);
  EXPECT_NE(Bytes(back.begin() + 3, back.begin() + 131), HexBytes("05 127x00"));
  EXPECT_EQ(phone.store().Find({0, 0x077D, 0})->at(0), 0x05);  // stored as sent
}

TEST(GeneratedNv, ItemsDependOnThePhoneAndKeepTheIdentityItems) {
  phonesim::NvStore one = phonesim::GeneratedStore(1, "482615"), two = phonesim::GeneratedStore(2, "482615");
  std::size_t items = 0;
  for (const auto& [key, value] : one.values()) items += key.context == 0;
  EXPECT_GE(items, 250u);
  EXPECT_LE(items, 1000u);
  EXPECT_NE(one.DumpText(), two.DumpText());
  EXPECT_EQ(one.Elements(465), 6);
  EXPECT_TRUE(one.IsReadOnly(0));
  EXPECT_TRUE(one.IsProtected(550));
  // IMEI 490154203237518 in the item's layout, and a generated one with a valid check digit.
  EXPECT_EQ(phonesim::ImeiItemValue("490154203237518"), Value("08 4A 09 51 24 30 32 57 81"));
  EXPECT_TRUE(LuhnValid("490154203237518"));
  for (unsigned index : {1u, 7u, 64u}) {
    std::string imei = phonesim::GeneratedImei(index);
    EXPECT_EQ(imei.size(), 15u);
    EXPECT_TRUE(LuhnValid(imei)) << imei;
  }
  EXPECT_NE(phonesim::GeneratedImei(1), phonesim::GeneratedImei(2));
  EXPECT_EQ(*one.Find({0, 550, 0}), phonesim::ImeiItemValue(phonesim::GeneratedImei(1)));
}

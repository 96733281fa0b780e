#include "tools/phonesim/generated_nv.h"

#include <cstdio>

namespace phonesim {

namespace {

// A small mixing function, so that values look unrelated from item to item
// and from phone to phone.
std::uint32_t Mix(std::uint32_t a, std::uint32_t b, std::uint32_t c) {
  std::uint32_t h = a * 0x9E3779B1u ^ (b + 0x7F4A7C15u) * 0x85EBCA77u ^ (c + 1) * 0xC2B2AE3Du;
  h ^= h >> 15;
  h *= 0x2C1B3C6Du;
  h ^= h >> 12;
  return h;
}

// Between 1 and 128 bytes of pattern, the rest zero, as NV items are.
NvValue PatternValue(unsigned phoneIndex, unsigned id, unsigned salt) {
  NvValue v{};
  std::size_t length = 1 + Mix(id, salt, 7) % kNvDataSize;
  for (std::size_t i = 0; i < length; ++i) v[i] = static_cast<std::uint8_t>(Mix(phoneIndex, id, salt * 131 + static_cast<unsigned>(i)));
  return v;
}

void PutLe(NvValue& v, std::uint64_t value, std::size_t bytes) {
  for (std::size_t i = 0; i < bytes; ++i) v[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

bool IsIdentityItem(unsigned id) {
  return id == kNvEsnItem || id == kNvSpcItem || id == kNvImeiItem || id == kNvMeidItem || id == 465 || id == 1014 ||
         id == 1206;
}

void PutIndexed(NvStore& store, unsigned phoneIndex, std::uint16_t id, std::uint16_t count) {
  store.SetElements(id, count);
  for (std::uint16_t e = 0; e < count; ++e) {
    NvValue v = PatternValue(phoneIndex, id, 1000u + e);
    v[0] = static_cast<std::uint8_t>(e);  // the element, as such items carry it
    store.Put({0, id, e}, v);
  }
}

}  // namespace

std::string GeneratedImei(unsigned phoneIndex) {
  char body[16];
  std::snprintf(body, sizeof body, "35999900%06u", phoneIndex % 1000000);
  int sum = 0;  // Luhn: every second digit from the left, doubled
  for (int i = 0; i < 14; ++i) {
    int d = body[i] - '0';
    if (i % 2 == 1) d = d * 2 > 9 ? d * 2 - 9 : d * 2;
    sum += d;
  }
  return std::string(body) + static_cast<char>('0' + (10 - sum % 10) % 10);
}

std::uint32_t GeneratedEsn(unsigned phoneIndex) { return 0x805A0000u + (phoneIndex & 0xFFFF) * 0x101u; }

NvValue ImeiItemValue(const std::string& digits) {
  NvValue v{};
  auto digit = [&](std::size_t i) { return i < digits.size() ? static_cast<std::uint8_t>(digits[i] - '0') : 0x0F; };
  v[0] = 8;
  v[1] = static_cast<std::uint8_t>(digit(0) << 4 | 0x0A);
  for (std::size_t b = 2; b <= 8; ++b) {
    std::size_t first = 2 * (b - 2) + 1;  // digit 2 (counting from 1) sits in byte 2's low nibble
    v[b] = static_cast<std::uint8_t>(digit(first) | digit(first + 1) << 4);
  }
  return v;
}

NvStore GeneratedStore(unsigned phoneIndex, const std::string& spc) {
  NvStore store;
  NvValue esn{};
  PutLe(esn, GeneratedEsn(phoneIndex), 4);
  store.Put({0, kNvEsnItem, 0}, esn);
  store.SetReadOnly(kNvEsnItem);

  NvValue code{};
  for (std::size_t i = 0; i < spc.size() && i < kNvDataSize; ++i) code[i] = static_cast<std::uint8_t>(spc[i]);
  store.Put({0, kNvSpcItem, 0}, code);
  store.SetReadOnly(kNvSpcItem);
  store.SetProtected(kNvSpcItem);

  store.Put({0, kNvImeiItem, 0}, ImeiItemValue(GeneratedImei(phoneIndex)));
  store.SetProtected(kNvImeiItem);

  NvValue meid{};
  PutLe(meid, 0xA1000000000000ull + phoneIndex, 7);
  store.Put({0, kNvMeidItem, 0}, meid);
  store.SetReadOnly(kNvMeidItem);
  store.SetProtected(kNvMeidItem);

  PutIndexed(store, phoneIndex, 465, 6);
  PutIndexed(store, phoneIndex, 1206, 3);
  PutIndexed(store, phoneIndex, 1014, 2);

  // 290 ordinary items spread over ids 1..6950; every 37th read-only, every
  // 41st protected, the first ten with copies for both SIMs.
  for (unsigned k = 0; k < 290; ++k) {
    auto id = static_cast<std::uint16_t>(1 + k * 24 + k % 5);
    if (IsIdentityItem(id)) continue;
    store.Put({0, id, 0}, PatternValue(phoneIndex, id, 0));
    if (k % 37 == 5) store.SetReadOnly(id);
    if (k % 41 == 7) store.SetProtected(id);
    if (k < 10) {
      store.Put({1, id, 0}, PatternValue(phoneIndex, id, 1));
      store.Put({2, id, 0}, PatternValue(phoneIndex, id, 2));
    }
  }
  for (std::uint16_t id = 7000; id < 7020; ++id) store.SetInactive(id);
  return store;
}

void ApplyIdentity(NvStore& store, const DiagIdentity& identity) {
  auto replace = [&](std::uint16_t id, bool none, const NvValue& value) {
    if (none) {
      store.Erase({0, id, 0});
      store.SetInactive(id);
    } else {
      store.Put({0, id, 0}, value);
    }
  };
  if (identity.imei) replace(kNvImeiItem, identity.imei->empty(), ImeiItemValue(*identity.imei));
  if (identity.meid) {
    NvValue meid{};
    PutLe(meid, *identity.meid, 7);
    replace(kNvMeidItem, *identity.meid == 0, meid);
  }
  if (identity.esn) {
    NvValue esn{};
    PutLe(esn, *identity.esn, 4);
    replace(kNvEsnItem, *identity.esn == 0, esn);
  }
}

}  // namespace phonesim

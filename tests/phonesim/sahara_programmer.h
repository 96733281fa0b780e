// The synthetic 64-bit programmer of the protocol note (one loadable segment
// of 16 bytes at 0x1000) and the host's answer to HELLO, for the tests that
// upload it to a bench Sahara phone.
#pragma once
#include "tests/phonesim/diag_bytes.h"

inline phonesim::Bytes SyntheticProgrammer() {
  phonesim::Bytes f = HexBytes(
      "7f 45 4c 46 02 01 01 00 00 00 00 00 00 00 00 00 02 00 b7 00 01 00 00 00 00 00 68 14 00 00 00 00"
      " 40 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 40 00 38 00 01 00 00 00 00 00 00 00"
      " 01 00 00 00 05 00 00 00 00 10 00 00 00 00 00 00 00 00 68 14 00 00 00 00 00 00 68 14 00 00 00 00"
      " 10 00 00 00 00 00 00 00 10 00 00 00 00 00 00 00 00 10 00 00 00 00 00 00");
  f.resize(0x1010, 0x11);
  return f;
}

inline const phonesim::Bytes kSaharaHelloResp = HexBytes(
    "02 00 00 00 30 00 00 00 02 00 00 00 01 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"
    " 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00");

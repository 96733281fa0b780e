// Records made up for the record tests.
#pragma once
#include <string>

#include "platform/format.h"
#include "records/flash_record.h"

inline FlashRecord SampleRecord(int n, const std::string& outcome = kOutcomeSucceeded) {
  FlashRecord r;
  r.uid = NewRecordUid();
  r.startUtc = Format("2026-12-%02dT10:%02d:00.000Z", 1 + n % 28, n % 60);
  r.endUtc = r.startUtc;
  r.elapsedSeconds = n * 0.5;
  r.host = "bench-1";
  r.version = "6.0.0.1";
  r.user = "tech";
  r.locationIndex = static_cast<std::uint32_t>(n % 8 + 1);
  r.deviceId = Format("device-%d", n % 4);
  r.typeCode = 0x1000002;
  r.method = "disk drive";
  r.package = n % 2 ? "/pkg/a" : "/pkg/b";
  r.files = {{"/pkg/a/rawprogram0.xml", 120, std::string(64, 'a')}, {"/pkg/a/sys, \"x\".img", 0, ""}};
  r.result = outcome == kOutcomeSucceeded ? S_OK : static_cast<HRESULT>(0x80070026);
  r.resultText = "text\twith tab";
  r.outcome = outcome;
  r.lastStatus = Format("status %d", n);
  r.logFile = "Vantor-1@bench.log";
  return r;
}

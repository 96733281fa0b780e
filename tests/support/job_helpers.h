// Reading a job as the windows do.
#pragma once
#include <chrono>
#include <string>

#include "jobs/device_report.h"
#include "tests/support/temp_dir.h"

inline std::string Status(IDeviceReport* job) {
  Bstr text;
  job->GetStatus(&text);
  return text.str();
}

inline bool Finished(IDeviceReport* job) {
  return WaitUntil([&] { return job->IsCompleted() != 0; }, std::chrono::seconds(30));
}

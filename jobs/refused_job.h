// A job that is never started: it reads as completed with the result it was
// made with, for a row whose job could not even be asked for.
#pragma once
#include "jobs/device_report.h"

class CRefusedJob : public CDeviceReport {
 public:
  // Hands out a new refused job with one reference; E_OUTOFMEMORY when it
  // cannot be made.
  static HRESULT Create(HRESULT result, IDeviceReport** out);
  // The same, with reason as its last status message: the row reads the
  // result's text, its code and the reason.
  static HRESULT Create(HRESULT result, const std::string& reason, IDeviceReport** out);
};

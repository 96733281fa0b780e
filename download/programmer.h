// First stage of an emergency download: the DMSS download protocol writes
// the flash programmer into the phone's memory and starts it.
#pragma once
#include <string>

#include "download/intel_hex.h"
#include "download/serial_port.h"
#include "jobs/status_sink.h"

HRESULT DownloadFlashProgrammer(const std::string& path, IQStatusReport* sink, SerialPort& port);
// The same with the programmer already loaded ("Load programmer" is still sent).
HRESULT DownloadFlashProgrammer(const std::string& path, const ProgrammerImage& image, IQStatusReport* sink,
                                SerialPort& port);

// Reads from a phone's port with a deadline: the wait is cut into slices of
// at most 100 ms, so a stop request of the thread's work ends it quickly.
#pragma once
#include <chrono>
#include <cstddef>
#include <vector>

#include "download/serial_port.h"

namespace firehose {

using Deadline = std::chrono::steady_clock::time_point;

// Now plus ms, scaled by the timing seam.
Deadline DeadlineIn(unsigned ms);

// One byte before the deadline: HRESULT_FROM_WIN32(ERROR_TIMEOUT) when none
// came, ERROR_CANCELLED on a stop request, the port's failure otherwise.
HRESULT ReadByteBefore(SerialPort& port, Deadline deadline, unsigned char* byte);

// Exactly size bytes before the deadline.
HRESULT ReadExactBefore(SerialPort& port, Deadline deadline, unsigned char* data, size_t size);

// One Sahara packet: the header, its length checked, then the rest; each
// packet must be complete within waitMs (scaled).
HRESULT ReadSaharaPacket(SerialPort& port, unsigned waitMs, std::vector<unsigned char>* packet);

// The rest of a Sahara packet whose first header bytes were already read.
HRESULT CompleteSaharaPacket(SerialPort& port, Deadline deadline, std::vector<unsigned char>* packet);

}  // namespace firehose

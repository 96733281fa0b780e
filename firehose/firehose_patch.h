// Firehose patch and power: the patches the phone evaluates against its own
// storage (NUM_DISK_SECTORS, CRC32 of written sectors), and the reset that
// ends a session.
#pragma once
#include <string>

#include "firehose/firehose_channel.h"
#include "firehose/firehose_package.h"

inline constexpr unsigned kPatchWaitMs = 10000;
inline constexpr unsigned kPowerWaitMs = 10000;

std::string PatchCommand(const FirehosePatch& patch);

// Sends one patch; a NAK or an error log fails with HRESULT_FROM_WIN32(ERROR_WRITE_FAULT).
HRESULT PatchFirehose(firehose::Channel& channel, const FirehosePatch& patch, IQStatusReport* sink);

// Asks the programmer to reset the phone and waits for its ACK.
HRESULT ResetFirehosePhone(firehose::Channel& channel, IQStatusReport* sink);

// Firehose program: one program element written with the raw data phase.
// The phone ACKs the command with rawmode="true", takes exactly the
// announced sectors (the file, its last sector padded with zeros), and
// closes with an ACK rawmode="false".
#pragma once
#include <cstdint>
#include <string>

#include "firehose/firehose_channel.h"
#include "firehose/firehose_package.h"

inline constexpr unsigned kProgramAckWaitMs = 10000;
inline constexpr unsigned kProgramDoneWaitMs = 120000;

// Bytes of the whole package sent so far, for the status texts.
struct ProgramProgress {
  std::uint64_t sent = 0;
  std::uint64_t total = 0;
};

// The document the host sends for an element.
std::string ProgramCommand(const FirehoseProgram& program);

// Writes one element in chunks of the largest whole number of sectors within
// payload. A NAK or an error log fails with HRESULT_FROM_WIN32(ERROR_WRITE_FAULT).
// The image is opened (a regular file only) for the length of its element; a
// file shorter than when it was checked fails with
// HRESULT_FROM_WIN32(ERROR_HANDLE_EOF).
HRESULT ProgramFirehose(firehose::Channel& channel, const FirehoseProgram& program, std::uint32_t payload,
                        ProgramProgress* progress, IQStatusReport* sink);

// Firehose configure: the first command of a session. It names the storage
// and agrees on the largest raw data chunk the host sends, which the phone
// may lower in its answer.
#pragma once
#include <cstdint>
#include <string>

#include "firehose/firehose_channel.h"

// The chunk size the host asks for first.
inline constexpr std::uint32_t kWantedPayload = 1048576;
// The smallest chunk size accepted from a phone.
inline constexpr std::uint32_t kSmallestPayload = 512;
// How long the first answer may take: the programmer may still be starting.
inline constexpr unsigned kFirstConfigureWaitMs = 10000;
inline constexpr unsigned kConfigureWaitMs = 5000;

// Configures memoryName ("emmc" or "ufs") and sets *payload to the agreed
// chunk size: an ACK whose supported size is smaller, or a NAK naming a
// smaller size, makes the host configure again with it (twice at most).
HRESULT ConfigureFirehose(firehose::Channel& channel, const std::string& memoryName, IQStatusReport* sink,
                          std::uint32_t* payload);

// The document the host sends.
std::string ConfigureCommand(const std::string& memoryName, std::uint32_t payload);

// HDLC-style frames over a serial port: 0x7E flags at both ends, 0x7E and
// 0x7D stuffed as 0x7D, byte ^ 0x20, and a CRC-16/X-25 check sequence sent
// least significant byte first.
#pragma once
#include <cstddef>
#include <cstdint>

#include "download/hdlc.h"
#include "download/serial_port.h"
#include "jobs/status_sink.h"

// Frames payload and writes it in one request; a failed request is retried
// after 100 ms, ten requests in all (ERROR_CANCELLED once the thread's work
// is asked to stop).
HRESULT TransmitPacket(SerialPort& port, const unsigned char* payload, size_t size);

// Reads until one acceptable frame has arrived and leaves its payload at the
// start of buffer, which holds capacity bytes (the check bytes land behind a
// shorter payload when room is left). Frames starting with ignoredCode are
// skipped. *received, when given, is the payload length of the frame.
// A read that fails or times out is retried after 100 ms, ten requests in
// all; a stop request of the thread's work ends the retries with
// HRESULT_FROM_WIN32(ERROR_CANCELLED).
HRESULT ReceivePacket(SerialPort& port, unsigned char* buffer, size_t capacity, bool exactLength,
                      unsigned char ignoredCode, size_t* received = nullptr);

// Sends a status text to the sink (with iId 0 and a null first text); does
// nothing, not even formatting, when there is no sink.
void NotifyStatus(IQStatusReport* sink, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Tells the sink which protocol flashes the phone: NewStatus with
// kProtocolStatusEvent, the protocol's name as the first text and a status
// text as the second.
void NotifyProtocol(IQStatusReport* sink, const char* protocol, const char* text);
inline constexpr char kProtocolDmss[] = "DMSS";
inline constexpr char kProtocolFirehose[] = "Sahara/Firehose";

// The ignoredCode of every caller that ignores nothing.
constexpr unsigned char kIgnoreNothing = 0xFF;

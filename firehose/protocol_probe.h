// Which protocol a freshly opened emergency port speaks. A Sahara boot ROM
// sends HELLO by itself; a DMSS boot loader says nothing until it is asked;
// a Firehose programmer that is already running sends XML. The probe first
// only listens, so a Sahara ROM hears nothing before its HELLO is answered.
#pragma once
#include <vector>

#include "download/serial_port.h"
#include "jobs/status_sink.h"

enum class PhoneProtocol { kSilent, kSahara, kFirehose, kDmss };

struct ProbeResult {
  PhoneProtocol protocol = PhoneProtocol::kSilent;
  // kSahara: the first packet, complete; kFirehose: the bytes read so far.
  std::vector<unsigned char> bytes;
};

inline constexpr unsigned kListenWaitMs = 3000;
inline constexpr unsigned kAskWaitMs = 1000;

// Reads for up to kListenWaitMs (scaled, never below 200 ms) and writes nothing. kSilent when no
// byte came; ERROR_INVALID_DATA for bytes of no known protocol.
HRESULT ListenToPhone(SerialPort& port, IQStatusReport* sink, ProbeResult* result);

// For a silent phone: sends the DMSS parameter request and reads for
// kAskWaitMs; still silent, sends an unsolicited Sahara HELLO_RESP and reads
// as long again (a ROM whose HELLO was lost answers with a packet). A DMSS
// answer is read to its closing flag, so the next exchange starts clean.
HRESULT AskPhone(SerialPort& port, IQStatusReport* sink, ProbeResult* result);

// The Sahara and Firehose flash of one phone over its open emergency port:
// the programmer uploaded (unless one already runs), configure, every
// program element, every patch, and the reset.
#pragma once
#include "download/serial_port.h"
#include "firehose/firehose_package.h"
#include "firehose/protocol_probe.h"
#include "jobs/status_sink.h"

// The probe's result says whether the boot ROM waits (kSahara, with its first
// packet) or a programmer already runs (kFirehose, with the bytes read).
HRESULT FlashWithFirehose(SerialPort& port, const FirehosePackage& package, const ProbeResult& probe,
                          IQStatusReport* sink);

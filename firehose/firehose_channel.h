// The host's end of a Firehose conversation over a serial port: commands
// out, the phone's documents in. Every log document goes to the log file;
// a response ends one exchange. Reads are bounded by the step's wait, and
// a stop request of the thread's work ends them within 100 ms.
#pragma once
#include <cstddef>
#include <string>
#include <vector>

#include "download/serial_port.h"
#include "firehose/firehose_documents.h"
#include "jobs/status_sink.h"

namespace firehose {

// The most log documents accepted before one response.
inline constexpr size_t kMaxLogsPerResponse = 100000;

struct Response {
  bool ack = false;
  Element element;          // the <response> element
  std::string errorLog;     // the first log of this exchange that reports an error
  bool rawmode() const;     // rawmode="true"
};

class Channel {
 public:
  explicit Channel(SerialPort& port) : port_(port) {}

  // Hands bytes already read from the port (by the protocol probe) to the reader.
  void Prime(const unsigned char* data, size_t size) { splitter_.Feed(data, size); }

  // Writes one command document.
  HRESULT Send(const std::string& document);
  // Writes raw data, as the program phase asks.
  HRESULT SendRaw(const unsigned char* data, size_t size);
  // Reads documents until a response arrives: logs before it are written to
  // the log and remembered when they report an error. No document for waitMs
  // (scaled) is HRESULT_FROM_WIN32(ERROR_TIMEOUT).
  HRESULT ReadResponse(unsigned waitMs, Response* response);

 private:
  HRESULT ReadMore(unsigned waitMs);
  HRESULT TakeDocument(Response* response, bool* done);

  SerialPort& port_;
  DocumentSplitter splitter_;
};

// S_OK for an ACK without an error log; otherwise reports the phone's text
// ("<command> refused by the phone: ERROR: ...") and returns refusal.
HRESULT CheckAck(const Response& response, IQStatusReport* sink, const std::string& command, HRESULT refusal);

// Reads the response to the command just sent and checks it (CheckAck);
// the response is kept in *response when given.
HRESULT AwaitAck(Channel& channel, unsigned waitMs, IQStatusReport* sink, const std::string& command, HRESULT refusal,
                 Response* response = nullptr);

// A log text that reports an error: it begins with "ERROR" (any case).
bool IsErrorLog(const std::string& text);

}  // namespace firehose

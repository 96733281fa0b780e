#include "firehose/firehose_channel.h"

#include "firehose/port_reads.h"
#include "download/transport.h"
#include "platform/text.h"
#include "platform/timing.h"
#include "shell/log.h"

namespace firehose {

namespace {

constexpr HRESULT kCancelled = HRESULT_FROM_WIN32(ERROR_CANCELLED);

}  // namespace

bool Response::rawmode() const {
  const std::string* value = FindAttribute(element, "rawmode");
  return value && EqualsIgnoreCase(*value, "true");
}

HRESULT CheckAck(const Response& response, IQStatusReport* sink, const std::string& command, HRESULT refusal) {
  if (response.ack && response.errorLog.empty()) return S_OK;
  std::string text = !response.errorLog.empty() ? response.errorLog : std::string("NAK");
  NotifyStatus(sink, "%s refused by the phone: %s", command.c_str(), text.c_str());
  return refusal;
}

HRESULT AwaitAck(Channel& channel, unsigned waitMs, IQStatusReport* sink, const std::string& command, HRESULT refusal,
                 Response* response) {
  Response own;
  if (!response) response = &own;
  HRESULT hr = channel.ReadResponse(waitMs, response);
  return FAILED(hr) ? hr : CheckAck(*response, sink, command, refusal);
}

bool IsErrorLog(const std::string& text) { return text.size() >= 5 && EqualsIgnoreCase(text.substr(0, 5), "ERROR"); }

HRESULT Channel::Send(const std::string& document) {
  if (StopRequested()) return kCancelled;
  return port_.Write(reinterpret_cast<const unsigned char*>(document.data()), document.size());
}

HRESULT Channel::SendRaw(const unsigned char* data, size_t size) {
  if (StopRequested()) return kCancelled;
  return port_.Write(data, size);
}

// Waits for at least one byte, up to waitMs, then takes every byte the port
// already holds.
HRESULT Channel::ReadMore(unsigned waitMs) {
  unsigned char byte = 0;
  HRESULT hr = ReadByteBefore(port_, DeadlineIn(waitMs), &byte);
  if (FAILED(hr)) return hr;
  splitter_.Feed(&byte, 1);
  const unsigned char* held = nullptr;
  size_t count = port_.Buffered(&held);
  splitter_.Feed(held, count);
  port_.Consume(count);
  return S_OK;
}

// Handles the next complete document, if any: *done when it held the response.
HRESULT Channel::TakeDocument(Response* response, bool* done) {
  std::string document;
  HRESULT hr = splitter_.Next(&document);
  if (hr != S_OK) return hr;
  std::vector<Element> elements;
  hr = ParseDocument(document, &elements);
  if (FAILED(hr)) {
    WriteLog("Firehose: unreadable document from the phone (%zu bytes)", document.size());
    return hr;
  }
  for (Element& element : elements) {
    if (EqualsIgnoreCase(element.localName, "log")) {
      const std::string* text = FindAttribute(element, "value");
      std::string line = text ? *text : std::string();
      WriteLog("Firehose log: %s", line.c_str());
      if (IsErrorLog(line) && response->errorLog.empty()) response->errorLog = line;
    } else if (EqualsIgnoreCase(element.localName, "response") && !*done) {
      const std::string* value = FindAttribute(element, "value");
      response->ack = value && EqualsIgnoreCase(*value, "ACK");
      response->element = std::move(element);
      *done = true;
    }
  }
  return S_OK;
}

HRESULT Channel::ReadResponse(unsigned waitMs, Response* response) {
  *response = Response{};
  for (size_t documents = 0; documents <= kMaxLogsPerResponse;) {
    bool done = false;
    HRESULT hr = TakeDocument(response, &done);
    if (FAILED(hr)) return hr;
    if (done) return S_OK;
    if (hr == S_OK) {
      ++documents;
      continue;
    }
    hr = ReadMore(waitMs);
    if (FAILED(hr)) return hr;
  }
  return HRESULT_FROM_WIN32(ERROR_INVALID_DATA);  // a phone that only ever logs
}

}  // namespace firehose

#include "firehose/firehose_configure.h"

#include "download/disk_numbers.h"
#include "download/transport.h"
#include "shell/log.h"

namespace {

constexpr const char* kName = "ConfigureFirehose";
constexpr int kMaxRounds = 3;

// The size a response names, preferring the supported one; 0 when none.
std::uint64_t NamedPayload(const firehose::Response& r) {
  for (const char* name : {"MaxPayloadSizeToTargetInBytesSupported", "MaxPayloadSizeToTargetInBytes"}) {
    const std::string* value = firehose::FindAttribute(r.element, name);
    if (value && !value->empty() && value->size() <= 10) return ParseDecimal64(*value);
  }
  return 0;
}

}  // namespace

std::string ConfigureCommand(const std::string& memoryName, std::uint32_t payload) {
  // A tty carries no zero-length packets, so the host does not rely on them.
  return firehose::BuildCommand("configure", {{"MemoryName", memoryName},
                                              {"MaxPayloadSizeToTargetInBytes", std::to_string(payload)},
                                              {"Verbose", "0"},
                                              {"ZlpAwareHost", "0"},
                                              {"SkipStorageInit", "0"}});
}

HRESULT ConfigureFirehose(firehose::Channel& channel, const std::string& memoryName, IQStatusReport* sink,
                          std::uint32_t* payload) {
  std::uint32_t wanted = kWantedPayload;
  for (int round = 0; round < kMaxRounds; ++round) {
    NotifyStatus(sink, "Firehose configure %s, payload %u", memoryName.c_str(), wanted);
    HRESULT hr = channel.Send(ConfigureCommand(memoryName, wanted));
    if (!TraceResult(hr, kName, __LINE__)) return hr;
    firehose::Response response;
    hr = channel.ReadResponse(round == 0 ? kFirstConfigureWaitMs : kConfigureWaitMs, &response);
    if (!TraceResult(hr, kName, __LINE__)) return hr;
    std::uint64_t named = NamedPayload(response);
    if (named >= kSmallestPayload && named < wanted) {
      wanted = static_cast<std::uint32_t>(named);  // lowered by the phone: configure again
      continue;
    }
    if (response.ack) {
      *payload = wanted;
      return S_OK;
    }
    hr = firehose::CheckAck(response, sink, "configure", HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED));
    TraceResult(hr, kName, __LINE__);
    return hr;
  }
  TraceResult(HRESULT_FROM_WIN32(ERROR_INVALID_DATA), kName, __LINE__);
  return HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
}

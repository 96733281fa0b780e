#include "firehose/port_reads.h"

#include <algorithm>

#include "firehose/sahara_packets.h"
#include "platform/timing.h"

namespace firehose {

namespace {

constexpr long long kStopCheckMs = 100;

}  // namespace

Deadline DeadlineIn(unsigned ms) {
  return std::chrono::steady_clock::now() + std::chrono::milliseconds(ScaledMilliseconds(ms));
}

HRESULT ReadByteBefore(SerialPort& port, Deadline deadline, unsigned char* byte) {
  for (;;) {
    if (StopRequested()) return HRESULT_FROM_WIN32(ERROR_CANCELLED);
    // Rounded up: a deadline less than a millisecond away still reads what
    // the port holds.
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return HRESULT_FROM_WIN32(ERROR_TIMEOUT);
    HRESULT hr = port.ReadByte(byte, static_cast<unsigned>(std::min<long long>(left.count(), kStopCheckMs)));
    if (hr != kReadTimeout) return hr;
  }
}

HRESULT ReadExactBefore(SerialPort& port, Deadline deadline, unsigned char* data, size_t size) {
  size_t done = 0;
  while (done < size) {
    HRESULT hr = ReadByteBefore(port, deadline, data + done);
    if (FAILED(hr)) return hr;
    ++done;
    const unsigned char* held = nullptr;
    size_t count = std::min(port.Buffered(&held), size - done);
    std::copy_n(held, count, data + done);
    port.Consume(count);
    done += count;
  }
  return S_OK;
}

HRESULT CompleteSaharaPacket(SerialPort& port, Deadline deadline, std::vector<unsigned char>* packet) {
  size_t have = packet->size();
  packet->resize(sahara::kHeaderSize);
  HRESULT hr = ReadExactBefore(port, deadline, packet->data() + have, sahara::kHeaderSize - have);
  if (FAILED(hr)) return hr;
  sahara::Header header;
  hr = sahara::DecodeHeader(*packet, &header);
  if (FAILED(hr)) return hr;
  packet->resize(header.length);
  return ReadExactBefore(port, deadline, packet->data() + sahara::kHeaderSize, header.length - sahara::kHeaderSize);
}

HRESULT ReadSaharaPacket(SerialPort& port, unsigned waitMs, std::vector<unsigned char>* packet) {
  packet->clear();
  return CompleteSaharaPacket(port, DeadlineIn(waitMs), packet);
}

}  // namespace firehose

#include "download/transport.h"

#include <array>
#include <cstdarg>
#include <new>
#include <vector>

#include "platform/format.h"
#include "platform/timing.h"
#include "shell/log.h"

namespace {

constexpr unsigned char kFlag = 0x7E;
constexpr unsigned char kEscape = 0x7D;
constexpr unsigned char kEscapeXor = 0x20;
constexpr int kAttempts = 10;
constexpr DWORD kRetryWaitMs = 100;
constexpr unsigned kReadTimeoutMs = 1000;
constexpr HRESULT kCancelled = HRESULT_FROM_WIN32(ERROR_CANCELLED);

constexpr std::array<std::uint16_t, 256> MakeTable() {
  std::array<std::uint16_t, 256> table{};
  for (unsigned i = 0; i < 256; ++i) {
    std::uint16_t v = static_cast<std::uint16_t>(i);
    for (int bit = 0; bit < 8; ++bit) v = (v & 1) ? static_cast<std::uint16_t>((v >> 1) ^ 0x8408) : static_cast<std::uint16_t>(v >> 1);
    table[i] = v;
  }
  return table;
}
constexpr std::array<std::uint16_t, 256> kTable = MakeTable();
static_assert(kTable[1] == 0x1189 && kTable[2] == 0x2312);

void AppendStuffed(std::vector<unsigned char>& frame, unsigned char byte) {
  if (byte == kFlag || byte == kEscape) {
    frame.push_back(kEscape);
    frame.push_back(byte ^ kEscapeXor);
  } else {
    frame.push_back(byte);
  }
}

// One byte with the retry rule: a failed or empty read is traced, followed
// by a 100 ms wait, ten requests in all; then the failure is traced once more.
HRESULT FetchByte(SerialPort& port, unsigned char* byte, CHexDump& dump) {
  HRESULT hr = E_FAIL;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    hr = port.ReadByte(byte, ScaledMilliseconds(kReadTimeoutMs));
    if (TraceResult(hr, "ReceivePacket", __LINE__)) {
      dump.Append(byte, 1);
      return S_OK;
    }
    if (!WaitUnlessStopped(kRetryWaitMs)) {
      hr = kCancelled;
      break;
    }
  }
  TraceResult(hr, "ReceivePacket", __LINE__);
  return hr;
}

}  // namespace

std::uint16_t UpdateFrameCheck(std::uint16_t reg, unsigned char byte) {
  return static_cast<std::uint16_t>(kTable[(reg ^ byte) & 0xFF] ^ (reg >> 8));
}

std::uint16_t FrameCheckSequence(const unsigned char* data, size_t size) {
  std::uint16_t reg = 0xFFFF;
  for (size_t i = 0; i < size; ++i) reg = UpdateFrameCheck(reg, data[i]);
  return static_cast<std::uint16_t>(reg ^ 0xFFFF);
}

HRESULT TransmitPacket(SerialPort& port, const unsigned char* payload, size_t size) {
  CHexDump dump("TransmitPacket\r\n");
  std::vector<unsigned char> frame;
  try {
    frame.reserve(size + size / 8 + 8);
  } catch (const std::bad_alloc&) {
    TraceResult(E_OUTOFMEMORY, "TransmitPacket", __LINE__);
    return E_OUTOFMEMORY;
  }
  frame.push_back(kFlag);
  std::uint16_t reg = 0xFFFF;
  for (size_t i = 0; i < size; ++i) {
    reg = UpdateFrameCheck(reg, payload[i]);
    AppendStuffed(frame, payload[i]);
  }
  std::uint16_t check = static_cast<std::uint16_t>(reg ^ 0xFFFF);
  AppendStuffed(frame, static_cast<unsigned char>(check & 0xFF));
  AppendStuffed(frame, static_cast<unsigned char>(check >> 8));
  frame.push_back(kFlag);

  HRESULT hr = E_FAIL;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    hr = port.Write(frame.data(), frame.size());
    if (TraceResult(hr, "TransmitPacket", __LINE__)) break;
    if (!WaitUnlessStopped(kRetryWaitMs)) {
      hr = kCancelled;
      break;
    }
  }
  if (!TraceResult(hr, "TransmitPacket", __LINE__)) return hr;
  dump.Append(frame.data(), frame.size());
  return S_OK;
}

HRESULT ReceivePacket(SerialPort& port, unsigned char* buffer, size_t capacity, bool exactLength,
                      unsigned char ignoredCode, size_t* received) {
  CHexDump dump("ReceivePacket\r\n");
  enum class State { Hunting, AfterFlag, InFrame } state = State::Hunting;
  size_t count = 0;
  std::uint16_t reg = 0xFFFF;
  for (;;) {
    unsigned char byte = 0;
    HRESULT hr = FetchByte(port, &byte, dump);
    if (FAILED(hr)) return hr;

    if (state == State::Hunting) {
      if (byte == kFlag) {
        count = 0;
        reg = 0xFFFF;
        state = State::AfterFlag;
      }
      continue;
    }
    if (state == State::AfterFlag) {
      if (byte == kFlag) continue;
      state = State::InFrame;
    }
    if (byte == kFlag) {
      if (reg != kGoodFrameCheck) {
        TraceResult(HRESULT_FROM_WIN32(ERROR_CRC), "ReceivePacket", __LINE__);
        return HRESULT_FROM_WIN32(ERROR_CRC);
      }
      if (count < 3) {
        TraceResult(HRESULT_FROM_WIN32(ERROR_BAD_FORMAT), "ReceivePacket", __LINE__);
        return HRESULT_FROM_WIN32(ERROR_BAD_FORMAT);
      }
      if (capacity > 0 && buffer[0] == ignoredCode) {
        state = State::Hunting;
        continue;
      }
      if (count > capacity + 2) {
        TraceResult(HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER), "ReceivePacket", __LINE__);
        return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
      }
      if (exactLength && count != capacity + 2) {
        TraceResult(HRESULT_FROM_WIN32(ERROR_BAD_LENGTH), "ReceivePacket", __LINE__);
        return HRESULT_FROM_WIN32(ERROR_BAD_LENGTH);
      }
      if (received) *received = count - 2;
      return S_OK;
    }
    if (byte == kEscape) {
      // The escaped byte is fetched with one request and no retry.
      hr = port.ReadByte(&byte, ScaledMilliseconds(kReadTimeoutMs));
      if (!TraceResult(hr, "ReceivePacket", __LINE__)) return hr;
      byte ^= kEscapeXor;
    }
    reg = UpdateFrameCheck(reg, byte);
    if (count < capacity) buffer[count] = byte;
    ++count;
  }
}

void NotifyStatus(IQStatusReport* sink, const char* format, ...) {
  if (!sink) return;
  va_list args;
  va_start(args, format);
  std::string text = FormatV(format, args);
  va_end(args);
  sink->NewStatus(0, Bstr(), Bstr(std::move(text)));
}

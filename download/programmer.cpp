#include "download/programmer.h"

#include <algorithm>
#include <vector>

#include "download/byte_order.h"
#include "download/intel_hex.h"
#include "download/transport.h"
#include "shell/log.h"

// The helpers below are steps of one operation: each failing step is traced
// once under the operation's name, and callers pass the result up untraced.
namespace {

constexpr const char* kName = "DownloadFlashProgrammer";
constexpr HRESULT kInvalidState = HRESULT_FROM_WIN32(ERROR_INVALID_STATE);

constexpr unsigned char kParameterRequest = 0x07;
constexpr unsigned char kParameterResponse = 0x08;
constexpr unsigned char kWrite32 = 0x0F;
constexpr unsigned char kGo = 0x05;
constexpr unsigned char kAck = 0x02;
constexpr size_t kParameterResponseSize = 8;
constexpr size_t kWriteHeader = 7;
constexpr std::uint32_t kPacketsPerStatus = 20;

// Sends a packet and expects the one-byte acknowledgement.
HRESULT SendAcknowledged(SerialPort& port, const unsigned char* packet, size_t size) {
  HRESULT hr = TransmitPacket(port, packet, size);
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  unsigned char answer = 0;
  hr = ReceivePacket(port, &answer, 1, true, kIgnoreNothing);
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  if (answer != kAck) {
    TraceResult(kInvalidState, kName, __LINE__);
    return kInvalidState;
  }
  return S_OK;
}

// Asks the boot loader for the largest write length it accepts.
HRESULT QueryLargestWrite(SerialPort& port, IQStatusReport* sink, std::uint32_t* largest) {
  NotifyStatus(sink, "Send parameters command");
  HRESULT hr = TransmitPacket(port, &kParameterRequest, 1);
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  unsigned char response[kParameterResponseSize] = {};
  hr = ReceivePacket(port, response, sizeof response, true, kIgnoreNothing);
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  if (response[0] != kParameterResponse) {
    TraceResult(kInvalidState, kName, __LINE__);
    return kInvalidState;
  }
  *largest = GetBigEndian16(response + 3);
  // A length of 0 would never advance the write loop.
  if (*largest == 0) {
    TraceResult(HRESULT_FROM_WIN32(ERROR_INVALID_DATA), kName, __LINE__);
    return HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
  }
  return S_OK;
}

HRESULT WriteBlock(SerialPort& port, IQStatusReport* sink, std::uint32_t address,
                   const std::vector<unsigned char>& data, std::uint32_t largest, std::vector<unsigned char>& packet) {
  const std::uint64_t statusStride = static_cast<std::uint64_t>(kPacketsPerStatus) * largest;
  for (size_t offset = 0; offset < data.size(); offset += largest) {
    size_t left = data.size() - offset;
    if (offset % statusStride == 0) {
      NotifyStatus(sink, "Write32 address %#08x, size %u", static_cast<unsigned>(address + offset),
                   static_cast<unsigned>(std::min<std::uint64_t>(statusStride, left)));
    }
    size_t length = std::min<size_t>(largest, left);
    packet[0] = kWrite32;
    PutBigEndian32(packet.data() + 1, static_cast<std::uint32_t>(address + offset));
    PutBigEndian16(packet.data() + 5, static_cast<std::uint16_t>(length));
    std::copy_n(data.data() + offset, length, packet.data() + kWriteHeader);
    HRESULT hr = SendAcknowledged(port, packet.data(), length + kWriteHeader);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

// Asks for the write length, writes every block and jumps to the entry point.
HRESULT SendProgrammer(const ProgrammerImage& image, IQStatusReport* sink, SerialPort& port) {
  std::uint32_t largest = 0;
  HRESULT hr = QueryLargestWrite(port, sink, &largest);
  if (FAILED(hr)) return hr;

  std::vector<unsigned char> packet(largest + kWriteHeader);
  for (const auto& [address, data] : image.blocks) {
    hr = WriteBlock(port, sink, address, data, largest, packet);
    if (FAILED(hr)) return hr;
  }

  NotifyStatus(sink, "Jump to flash programmer(%#08x)", static_cast<unsigned>(image.entryPoint));
  unsigned char go[5] = {kGo};
  PutBigEndian32(go + 1, image.entryPoint);
  return SendAcknowledged(port, go, sizeof go);
}

}  // namespace

HRESULT DownloadFlashProgrammer(const std::string& path, IQStatusReport* sink, SerialPort& port) {
  NotifyStatus(sink, "Load programmer \"%s\"", path.c_str());
  ProgrammerImage image;
  HRESULT hr = LoadIntelHex(path, &image);
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  return SendProgrammer(image, sink, port);
}

HRESULT DownloadFlashProgrammer(const std::string& path, const ProgrammerImage& image, IQStatusReport* sink,
                                SerialPort& port) {
  NotifyStatus(sink, "Load programmer \"%s\"", path.c_str());
  return SendProgrammer(image, sink, port);
}

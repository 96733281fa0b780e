#include "download/streaming.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "download/boot_image.h"
#include "download/byte_order.h"
#include "download/transport.h"
#include "platform/timing.h"
#include "shell/log.h"

// The helpers below are steps of one operation: each failing step is traced
// once under the operation's name, and callers pass the result up untraced.
namespace {

constexpr const char* kName = "DownloadMiniKernel";
constexpr HRESULT kInvalidState = HRESULT_FROM_WIN32(ERROR_INVALID_STATE);
constexpr HRESULT kInvalidData = HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
constexpr HRESULT kCancelled = HRESULT_FROM_WIN32(ERROR_CANCELLED);

constexpr char kHostText[] = "QCOM fast download protocol host";
constexpr char kTargetText[] = "QCOM fast download protocol targ";
constexpr size_t kTextSize = 32;
constexpr int kLastHelloAttempt = 60;
constexpr DWORD kHelloWaitMs = 1000;
constexpr std::uint32_t kBlocksPerStatus = 40;
constexpr std::uint32_t kBytesPerStatusBlocks = 20;

enum : unsigned char {
  kHello = 0x01,
  kHelloResponse = 0x02,
  kRead = 0x03,
  kReadResponse = 0x04,
  kStreamWrite = 0x07,
  kBlockWritten = 0x08,
  kReset = 0x0B,
  kResetAck = 0x0C,
  kLog = 0x0E,
  kClose = 0x15,
  kClosed = 0x16,
  kSecurityMode = 0x17,
  kSecurityModeResponse = 0x18,
  kOpenMultiImage = 0x1B,
  kOpenMultiImageResponse = 0x1C,
};
constexpr unsigned char kTrusted = 0x01;
constexpr unsigned char kEmmcUser = 0x21;
constexpr size_t kPacketHeader = 5;  // code and 4-byte address

HRESULT Fail(HRESULT hr, int line) {
  TraceResult(hr, kName, line);
  return hr;
}

// The image read ahead many blocks at a time, so that a block costs a copy
// rather than a read request of its own. Blocks start at multiples of the
// block size, so a chunk of whole blocks never splits one. A file that has
// become shorter fails the chunk that reaches past its new end.
class ImageChunks {
 public:
  ImageChunks(const BootImage& image, std::uint32_t block)
      : image_(image), bytes_(static_cast<size_t>(block) * kBlocksPerChunk) {}

  // The length bytes at offset, valid until the next call.
  HRESULT At(std::uint32_t offset, std::uint32_t length, const unsigned char** data) {
    if (offset < start_ || offset + static_cast<std::uint64_t>(length) > start_ + static_cast<std::uint64_t>(filled_)) {
      std::uint32_t want = static_cast<std::uint32_t>(std::min<std::uint64_t>(bytes_.size(), image_.size() - offset));
      filled_ = 0;
      HRESULT hr = image_.Read(offset, bytes_.data(), want);
      if (FAILED(hr)) return hr;
      start_ = offset;
      filled_ = want;
    }
    *data = bytes_.data() + (offset - start_);
    return S_OK;
  }

 private:
  static constexpr size_t kBlocksPerChunk = 64;
  const BootImage& image_;
  std::vector<unsigned char> bytes_;
  std::uint32_t start_ = 0;
  std::uint32_t filled_ = 0;
};

HRESULT Send(SerialPort& port, const unsigned char* packet, size_t size, int line) {
  HRESULT hr = TransmitPacket(port, packet, size);
  return TraceResult(hr, kName, line) ? S_OK : hr;
}

HRESULT Receive(SerialPort& port, unsigned char* buffer, size_t capacity, int line,
                unsigned char ignored = kIgnoreNothing) {
  HRESULT hr = ReceivePacket(port, buffer, capacity, true, ignored);
  return TraceResult(hr, kName, line) ? S_OK : hr;
}

// A one-byte command answered by a one-byte response.
HRESULT ReceiveAnswer(SerialPort& port, unsigned char expected, int line) {
  unsigned char answer = 0;
  HRESULT hr = Receive(port, &answer, 1, line);
  if (FAILED(hr)) return hr;
  return answer == expected ? S_OK : Fail(kInvalidState, line);
}

HRESULT Exchange(SerialPort& port, unsigned char command, unsigned char expected, int line) {
  HRESULT hr = Send(port, &command, 1, line);
  if (FAILED(hr)) return hr;
  return ReceiveAnswer(port, expected, line);
}

// A phone restarts as soon as it has acknowledged the reset, and the kernel
// takes its port away with what the port still held: the acknowledgement
// may be lost before it is read. A port that vanishes once the request went
// out is the reset taken; whether the phone comes back shows at the next
// stage, which waits for its disk.
HRESULT Reset(SerialPort& port, int line) {
  unsigned char command = kReset;
  HRESULT hr = Send(port, &command, 1, line);
  if (FAILED(hr)) return hr;
  hr = ReceiveAnswer(port, kResetAck, line);
  return hr == HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED) ? S_OK : hr;
}

// Hello until the programmer answers, attempts 0 to 60, 1000 ms apart.
HRESULT Greet(SerialPort& port, IQStatusReport* sink, HelloParameters* hello) {
  unsigned char packet[36] = {kHello};
  std::memcpy(packet + 1, kHostText, kTextSize);
  packet[33] = 3;  // version
  packet[34] = 3;  // compatible version
  packet[35] = 9;  // feature bits
  std::vector<unsigned char> response(kHelloResponseCapacity);
  for (int attempt = 0;; ++attempt) {
    NotifyStatus(sink, "Send hello command %d", attempt);
    size_t received = 0;
    HRESULT hr = TransmitPacket(port, packet, sizeof packet);
    if (SUCCEEDED(hr)) hr = ReceivePacket(port, response.data(), response.size(), false, kIgnoreNothing, &received);
    if (SUCCEEDED(hr) && response[0] == kHelloResponse) {
      hr = DecodeHelloResponse(response.data(), received, hello);
      return TraceResult(hr, kName, __LINE__) ? S_OK : hr;
    }
    if (attempt == kLastHelloAttempt) return Fail(HRESULT_FROM_WIN32(ERROR_NOT_READY), __LINE__);
    if (!WaitUnlessStopped(kHelloWaitMs)) return Fail(kCancelled, __LINE__);
  }
}

HRESULT EnterTrustedModeAndOpen(SerialPort& port, IQStatusReport* sink) {
  NotifyStatus(sink, "Enable trusted security mode");
  const unsigned char security[2] = {kSecurityMode, kTrusted};
  HRESULT hr = Send(port, security, sizeof security, __LINE__);
  if (FAILED(hr)) return hr;
  unsigned char answer[2] = {};
  hr = Receive(port, answer, 1, __LINE__, kLog);  // log packets that come first are skipped
  if (FAILED(hr)) return hr;
  if (answer[0] != kSecurityModeResponse) return Fail(kInvalidState, __LINE__);

  NotifyStatus(sink, "Open EMMC card USER partition");
  const unsigned char open[2] = {kOpenMultiImage, kEmmcUser};
  hr = Send(port, open, sizeof open, __LINE__);
  if (FAILED(hr)) return hr;
  hr = Receive(port, answer, 2, __LINE__);
  if (FAILED(hr)) return hr;
  if (answer[0] != kOpenMultiImageResponse) return Fail(kInvalidState, __LINE__);
  if (answer[1] != 0) return Fail(HRESULT_FROM_WIN32(ERROR_OPEN_FAILED), __LINE__);
  return S_OK;
}

void ReportProgress(IQStatusReport* sink, const char* what, std::uint32_t offset, std::uint32_t size,
                    std::uint32_t block) {
  const std::uint64_t stride = static_cast<std::uint64_t>(kBlocksPerStatus) * block;
  if (offset % stride != 0) return;
  std::uint64_t shown = std::min<std::uint64_t>(static_cast<std::uint64_t>(kBytesPerStatusBlocks) * block, size - offset);
  NotifyStatus(sink, "%s address %#08x, size %u", what, offset, static_cast<unsigned>(shown));
}

HRESULT ReceiveBlockWritten(SerialPort& port, std::uint32_t* address) {
  unsigned char ack[kPacketHeader] = {};
  HRESULT hr = Receive(port, ack, sizeof ack, __LINE__);
  if (FAILED(hr)) return hr;
  if (ack[0] != kBlockWritten) return Fail(kInvalidState, __LINE__);
  *address = GetLittleEndian32(ack + 1);
  return S_OK;
}

// Up to W write packets in flight; each acknowledgement names the oldest.
HRESULT StreamWrite(SerialPort& port, IQStatusReport* sink, const BootImage& image, const HelloParameters& hello,
                    std::vector<unsigned char>& packet) {
  const std::uint32_t size = image.size();
  const std::uint32_t block = hello.largestBlock;
  std::uint16_t outstanding = 0;
  ImageChunks chunks(image, block);
  for (std::uint32_t offset = 0; offset < size; offset = offset + std::min(block, size - offset)) {
    if (StopRequested()) return Fail(kCancelled, __LINE__);
    std::uint32_t length = std::min(block, size - offset);
    ReportProgress(sink, "StreamWrite", offset, size, block);
    if (outstanding == hello.window) {
      std::uint32_t acknowledged = 0;
      HRESULT hr = ReceiveBlockWritten(port, &acknowledged);
      if (FAILED(hr)) return hr;
      if (acknowledged != offset - static_cast<std::uint32_t>(outstanding) * block) return Fail(kInvalidState, __LINE__);
      --outstanding;
    }
    packet[0] = kStreamWrite;
    PutLittleEndian32(packet.data() + 1, offset);
    const unsigned char* data = nullptr;
    HRESULT hr = chunks.At(offset, length, &data);
    if (FAILED(hr)) return Fail(hr, __LINE__);
    std::memcpy(packet.data() + kPacketHeader, data, length);
    hr = Send(port, packet.data(), length + kPacketHeader, __LINE__);
    if (FAILED(hr)) return hr;
    ++outstanding;
  }
  while (outstanding != 0) {
    --outstanding;
    std::uint32_t ignored = 0;
    HRESULT hr = ReceiveBlockWritten(port, &ignored);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

// Reads every block back, strictly one request at a time, and compares it
// with the image.
HRESULT ReadBack(SerialPort& port, IQStatusReport* sink, const BootImage& image, const HelloParameters& hello,
                 std::vector<unsigned char>& response) {
  const std::uint32_t size = image.size();
  const std::uint32_t block = hello.largestBlock;
  ImageChunks chunks(image, block);
  for (std::uint32_t offset = 0; offset < size; offset = offset + std::min(block, size - offset)) {
    if (StopRequested()) return Fail(kCancelled, __LINE__);
    std::uint32_t length = std::min(block, size - offset);
    ReportProgress(sink, "ReadPacket", offset, size, block);
    unsigned char request[7] = {kRead};
    PutLittleEndian32(request + 1, offset);
    PutLittleEndian16(request + 5, static_cast<std::uint16_t>(length));
    HRESULT hr = Send(port, request, sizeof request, __LINE__);
    if (FAILED(hr)) return hr;
    hr = Receive(port, response.data(), length + kPacketHeader, __LINE__);
    if (FAILED(hr)) return hr;
    if (response[0] != kReadResponse || GetLittleEndian32(response.data() + 1) != offset)
      return Fail(kInvalidState, __LINE__);
    const unsigned char* expected = nullptr;
    hr = chunks.At(offset, length, &expected);
    if (FAILED(hr)) return Fail(hr, __LINE__);
    if (std::memcmp(response.data() + kPacketHeader, expected, length) != 0)
      return Fail(kInvalidData, __LINE__);
  }
  return S_OK;
}

// Hello to reset, over an open boot image.
HRESULT StreamBootImage(const BootImage& image, IQStatusReport* sink, SerialPort& port) {
  HelloParameters hello;
  HRESULT hr = Greet(port, sink, &hello);
  if (FAILED(hr)) return hr;
  std::vector<unsigned char> writeBuffer(hello.largestBlock + kPacketHeader);
  std::vector<unsigned char> readBuffer(hello.largestBlock + kPacketHeader);

  hr = EnterTrustedModeAndOpen(port, sink);
  if (FAILED(hr)) return hr;
  hr = StreamWrite(port, sink, image, hello, writeBuffer);
  if (FAILED(hr)) return hr;
  hr = ReadBack(port, sink, image, hello, readBuffer);
  if (FAILED(hr)) return hr;

  NotifyStatus(sink, "Close EMMC card USER partition");
  hr = Exchange(port, kClose, kClosed, __LINE__);
  if (FAILED(hr)) return hr;
  NotifyStatus(sink, "Reboot to mini kernel");
  return Reset(port, __LINE__);
}

}  // namespace

HRESULT DecodeHelloResponse(const unsigned char* response, size_t size, HelloParameters* out) {
  constexpr size_t kTextEnd = 1 + kTextSize;
  constexpr size_t kIdLengthAt = 43;
  if (size < kTextEnd) return HRESULT_FROM_WIN32(ERROR_BAD_FORMAT);
  if (std::memcmp(response + 1, kTargetText, kTextSize) != 0) return HRESULT_FROM_WIN32(ERROR_REVISION_MISMATCH);
  if (size <= kIdLengthAt) return HRESULT_FROM_WIN32(ERROR_BAD_FORMAT);
  size_t idLength = response[kIdLengthAt];
  size_t windowAt = kIdLengthAt + 1 + idLength;
  if (size < windowAt + 2) return HRESULT_FROM_WIN32(ERROR_BAD_FORMAT);
  out->largestBlock = GetLittleEndian32(response + 35);
  out->window = GetLittleEndian16(response + windowAt);
  if (out->largestBlock == 0 || out->largestBlock > kMaxBlock || out->window == 0) return kInvalidData;
  return S_OK;
}

HRESULT OpenBootImage(const std::string& path, BootImage* image) { return image->Open(path); }

HRESULT DownloadMiniKernel(const std::string& path, IQStatusReport* sink, SerialPort& port) {
  NotifyStatus(sink, "Open boot file \"%s\"", path.c_str());
  BootImage image;
  HRESULT hr = OpenBootImage(path, &image);
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  return StreamBootImage(image, sink, port);
}

HRESULT DownloadMiniKernel(const std::string& path, const BootImage& image, IQStatusReport* sink, SerialPort& port) {
  NotifyStatus(sink, "Open boot file \"%s\"", path.c_str());
  return StreamBootImage(image, sink, port);
}

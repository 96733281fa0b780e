#include "download/transport.h"

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <new>
#include <vector>

#include "platform/format.h"
#include "platform/timing.h"
#include "shell/log.h"

namespace {

constexpr unsigned char kFlag = kHdlcFlag;
constexpr unsigned char kEscape = kHdlcEscape;
constexpr int kAttempts = 10;
constexpr DWORD kRetryWaitMs = 100;
constexpr unsigned kReadTimeoutMs = 1000;
constexpr HRESULT kCancelled = HRESULT_FROM_WIN32(ERROR_CANCELLED);

// One byte with the retry rule: a failed or empty read is traced, followed
// by a 100 ms wait, ten requests in all; then the failure is traced once more.
// A read ended by the stop request is not retried.
HRESULT FetchByte(SerialPort& port, unsigned char* byte, unsigned timeoutMs) {
  HRESULT hr = E_FAIL;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    hr = port.ReadByte(byte, timeoutMs);
    if (TraceResult(hr, "ReceivePacket", __LINE__)) return S_OK;
    if (hr == kCancelled) return hr;
    if (!WaitUnlessStopped(kRetryWaitMs)) {
      hr = kCancelled;
      break;
    }
  }
  TraceResult(hr, "ReceivePacket", __LINE__);
  return hr;
}

HRESULT Refuse(HRESULT hr, int line) {
  TraceResult(hr, "ReceivePacket", line);
  return hr;
}

// The receiver's state machine over fetched bytes.
class FrameReceiver {
 public:
  enum class Verdict { More, Escape, Done };

  FrameReceiver(unsigned char* buffer, size_t capacity, bool exactLength, unsigned char ignoredCode, CHexDump& dump)
      : buffer_(buffer), capacity_(capacity), exactLength_(exactLength), ignoredCode_(ignoredCode), dump_(dump) {}

  // Runs over fetched bytes and returns how many it used: all of them (More),
  // up to a 0x7D whose partner has still to be fetched (Escape), or up to the
  // flag that ended the frame (Done, with the result in *hr). A byte after
  // 0x7D is taken from the run when it is there; it is not dumped.
  size_t Run(const unsigned char* bytes, size_t size, Verdict* verdict, HRESULT* hr) {
    for (size_t i = 0; i < size;) {
      if (state_ == State::InFrame) {
        i = TakeOrdinary(bytes, i, size);
        if (i == size) break;
      }
      unsigned char byte = bytes[i++];
      dump_.Append(&byte, 1);
      if (state_ == State::Hunting) {
        if (byte == kFlag) Restart();
        continue;
      }
      if (byte == kFlag) {
        if (state_ == State::AfterFlag) continue;  // repeated flags, empty frames
        if (Close(hr)) {
          *verdict = Verdict::Done;
          return i;
        }
        continue;
      }
      state_ = State::InFrame;
      if (byte == kEscape) {
        if (i == size) {
          *verdict = Verdict::Escape;
          return size;
        }
        byte = Unstuffed(bytes[i++]);
      }
      Data(byte);
    }
    *verdict = Verdict::More;
    return size;
  }

  void Escaped(unsigned char byte) { Data(Unstuffed(byte)); }
  size_t payloadLength() const { return count_ - 2; }

 private:
  enum class State { Hunting, AfterFlag, InFrame };

  void Restart() {
    count_ = 0;
    reg_ = 0xFFFF;
    state_ = State::AfterFlag;
  }
  void Data(unsigned char byte) {
    reg_ = UpdateFrameCheck(reg_, byte);
    if (count_ < capacity_) buffer_[count_] = byte;
    ++count_;
  }
  // The bytes of a frame between flags and escapes, as one run: checked,
  // stored while room is left, and dumped. Returns where the run ended.
  size_t TakeOrdinary(const unsigned char* bytes, size_t from, size_t size) {
    const size_t end = FindReserved(bytes, from, size);
    const size_t run = end - from;
    reg_ = UpdateFrameCheck(reg_, bytes + from, run);
    if (count_ < capacity_) std::memcpy(buffer_ + count_, bytes + from, std::min(run, capacity_ - count_));
    count_ += run;
    dump_.Append(bytes + from, run);
    return end;
  }
  // The checks at the closing flag, in order. False when the frame is
  // skipped and the receiver hunts for the next one.
  bool Close(HRESULT* hr) {
    if (reg_ != kGoodFrameCheck) return *hr = Refuse(HRESULT_FROM_WIN32(ERROR_CRC), __LINE__), true;
    if (count_ < 3) return *hr = Refuse(HRESULT_FROM_WIN32(ERROR_BAD_FORMAT), __LINE__), true;
    if (capacity_ > 0 && buffer_[0] == ignoredCode_) {
      state_ = State::Hunting;  // the next frame brings its own opening flag
      return false;
    }
    if (count_ > capacity_ + 2) return *hr = Refuse(HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER), __LINE__), true;
    if (exactLength_ && count_ != capacity_ + 2) return *hr = Refuse(HRESULT_FROM_WIN32(ERROR_BAD_LENGTH), __LINE__), true;
    *hr = S_OK;
    return true;
  }

  unsigned char* buffer_;
  size_t capacity_;
  bool exactLength_;
  unsigned char ignoredCode_;
  CHexDump& dump_;
  State state_ = State::Hunting;
  size_t count_ = 0;
  std::uint16_t reg_ = 0xFFFF;
};

}  // namespace

HRESULT TransmitPacket(SerialPort& port, const unsigned char* payload, size_t size) {
  CHexDump dump("TransmitPacket\r\n");
  // Each thread frames into a buffer of its own that keeps its room between
  // frames, so streaming allocates once, not per block.
  thread_local std::vector<unsigned char> frame;
  try {
    if (frame.size() < 1 + MaxFrameBody(size)) frame.resize(1 + MaxFrameBody(size));
  } catch (const std::bad_alloc&) {
    TraceResult(E_OUTOFMEMORY, "TransmitPacket", __LINE__);
    return E_OUTOFMEMORY;
  }
  frame[0] = kFlag;
  const size_t frameSize = 1 + PutFrameBody(frame.data() + 1, payload, size);

  HRESULT hr = E_FAIL;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    hr = port.Write(frame.data(), frameSize);
    if (TraceResult(hr, "TransmitPacket", __LINE__)) break;
    if (!WaitUnlessStopped(kRetryWaitMs)) {
      hr = kCancelled;
      break;
    }
  }
  if (!TraceResult(hr, "TransmitPacket", __LINE__)) return hr;
  dump.Append(frame.data(), frameSize);
  return S_OK;
}

HRESULT ReceivePacket(SerialPort& port, unsigned char* buffer, size_t capacity, bool exactLength,
                      unsigned char ignoredCode, size_t* received) {
  CHexDump dump("ReceivePacket\r\n");
  const unsigned timeoutMs = ScaledMilliseconds(kReadTimeoutMs);
  FrameReceiver receiver(buffer, capacity, exactLength, ignoredCode, dump);
  for (;;) {
    // Bytes the port already holds are run through in one go; otherwise one
    // byte is fetched under the retry rule.
    const unsigned char* bytes = nullptr;
    size_t size = port.Buffered(&bytes);
    unsigned char fetched = 0;
    if (size == 0) {
      HRESULT hr = FetchByte(port, &fetched, timeoutMs);
      if (FAILED(hr)) return hr;
      bytes = &fetched;
      size = 1;
    }
    FrameReceiver::Verdict verdict;
    HRESULT result = S_OK;
    size_t used = receiver.Run(bytes, size, &verdict, &result);
    if (bytes != &fetched) port.Consume(used);
    if (verdict == FrameReceiver::Verdict::Done) {
      if (SUCCEEDED(result) && received) *received = receiver.payloadLength();
      return result;
    }
    if (verdict == FrameReceiver::Verdict::Escape) {
      // The escaped byte is fetched with one request and no retry.
      unsigned char escaped = 0;
      HRESULT hr = port.ReadByte(&escaped, timeoutMs);
      if (!TraceResult(hr, "ReceivePacket", __LINE__)) return hr;
      receiver.Escaped(escaped);
    }
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

void NotifyProtocol(IQStatusReport* sink, const char* protocol, const char* text) {
  if (sink) sink->NewStatus(kProtocolStatusEvent, Bstr(protocol), Bstr(text));
}

// The NV link takes no heap memory per request once its buffers are warm:
// requests are built, framed and answered in storage the phone object and
// its link keep for their life.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "nv/diag_phone.h"
#include "tests/support/allocation_count.h"

namespace {

// Answers each request with a frame made beforehand, chosen by the first
// three bytes of the request's frame (command and item, or command,
// subsystem and its command). It decodes nothing, so it allocates nothing.
class ReadyAnswers final : public SerialPort {
 public:
  void Add(const DiagPacket& answer) { frames_.push_back(EncodeDiagFrame(answer)); }

  HRESULT Write(const unsigned char* data, size_t size) override {
    pending_ = nullptr;
    at_ = 0;
    for (const DiagPacket& frame : frames_)
      if (size >= 3 && std::memcmp(frame.data(), data, 3) == 0) pending_ = &frame;
    return S_OK;
  }
  HRESULT ReadByte(unsigned char* byte, unsigned) override {
    if (!pending_ || at_ == pending_->size()) return kReadTimeout;
    *byte = (*pending_)[at_++];
    return S_OK;
  }
  size_t Buffered(const unsigned char** data) override {
    *data = pending_ ? pending_->data() + at_ : nullptr;
    return pending_ ? pending_->size() - at_ : 0;
  }
  void Consume(size_t n) override { at_ += n; }

 private:
  std::vector<DiagPacket> frames_;
  const DiagPacket* pending_ = nullptr;
  size_t at_ = 0;
};

}  // namespace

TEST(DiagLinkAllocations, NvReadsAndWritesTakeNoHeapMemoryOnceWarm) {
  constexpr std::uint16_t kId = 0x077D;  // its low byte is stuffed in every frame
  NvItem item{kId, 0, {}};
  for (size_t i = 0; i < item.data.size(); ++i) item.data[i] = static_cast<unsigned char>(0x70 + i % 16);  // flags, escapes
  ReadyAnswers port;
  DiagPacket read = NvReadRequest(kId, 0);
  std::copy(item.data.begin(), item.data.end(), read.begin() + 3);
  port.Add(read);
  port.Add(NvWriteRequest(kId, item.data));  // a write is answered by its echo
  DiagPacket contextRead = NvContextReadRequest(kId, 1);
  std::copy(item.data.begin(), item.data.end(), contextRead.begin() + 8);
  port.Add(contextRead);
  port.Add(NvContextWriteRequest(kId, 1, item.data));

  DiagPhone phone(port);
  NvAnswer answer;
  unsigned char error = 0;
  auto round = [&] {
    bool ok = phone.Read(kId, 0, &answer, &error) == S_OK && answer.data == item.data;
    ok = phone.Write(item, &answer, &error) == S_OK && answer.status == kNvDone && ok;
    ok = phone.ReadContext(kId, 1, &answer, &error) == S_OK && answer.data == item.data && ok;
    return phone.WriteContext(item, 1, &answer, &error) == S_OK && answer.status == kNvDone && ok;
  };
  ASSERT_TRUE(round());  // the first requests may size the buffers
  bool answered = true;
  size_t allocations = 0;
  {
    AllocationCount counting;
    for (int i = 0; i < 100; ++i) answered = round() && answered;
    allocations = counting.count();
  }
  EXPECT_TRUE(answered);
  EXPECT_EQ(allocations, 0u);
}

// One FunctionFS interface with a bulk pair, as a phone's USB port offers it:
// writes its descriptors (full and high speed) and its string to ep0, opens
// the two endpoint files and answers ep0's events while the gadget is
// plugged: control requests of the host's driver (line state) are taken,
// requests for data are refused with a stall.
#pragma once
#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

namespace phonesim {

struct InterfaceClass {
  std::uint8_t cls = 0xff, subclass = 0xff, protocol = 0xff;
};

class FfsFunction {
 public:
  FfsFunction() = default;
  ~FfsFunction();
  FfsFunction(const FfsFunction&) = delete;
  FfsFunction& operator=(const FfsFunction&) = delete;

  // mountPoint: where the function's FunctionFS is mounted.
  bool Open(const std::string& mountPoint, InterfaceClass kind, std::string* error);
  void Close();

  int in() const { return in_; }    // phone -> host
  int out() const { return out_; }  // host -> phone
  // The largest packet at the fastest speed offered.
  static constexpr std::size_t kPacket = 512;

 private:
  void ServeControl();

  int ep0_ = -1, in_ = -1, out_ = -1;
  std::atomic<bool> stop_{false};
  std::thread control_;
};

}  // namespace phonesim

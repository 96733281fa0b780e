// A normally running phone whose diagnostic port is attached: a
// pseudo-terminal published as mode "diagnostic" with the USB serial number
// adb addresses it by. It answers nothing on the port; its NV items are the
// outside server's business.
#pragma once
#include <string>

namespace phonesim {

class DiagnosticPhone {
 public:
  DiagnosticPhone(std::string benchDir, unsigned index, std::string serial);
  ~DiagnosticPhone();
  DiagnosticPhone(const DiagnosticPhone&) = delete;
  DiagnosticPhone& operator=(const DiagnosticPhone&) = delete;

  bool Start(std::string* error);
  const std::string& portPath() const { return portPath_; }

 private:
  std::string benchDir_;
  unsigned index_;
  std::string serial_;
  int master_ = -1;
  int slave_ = -1;
  std::string portPath_;
};

}  // namespace phonesim

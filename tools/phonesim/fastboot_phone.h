// A phone in fastboot mode on a TCP port of 127.0.0.1, as the real fastboot
// tool reaches it with "-s tcp:127.0.0.1:PORT": after the "FB01" greeting on
// both sides, every message is an 8-byte big-endian length and its payload.
// It answers getvar, download (whose data may come in several messages),
// flash (storing the partition), erase and reboot.
#pragma once
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace phonesim {

struct FastbootPhoneOptions {
  std::string benchDir;              // where the state goes ("" publishes nothing)
  unsigned index = 1;
  std::string serial = "VB0001";
  std::string failPartition;         // flash of this partition answers FAIL
  int silentAfterCommands = -1;      // stops answering after K commands
  std::uint32_t maxDownload = 64u << 20;
};

class TcpFastbootPhone {
 public:
  explicit TcpFastbootPhone(FastbootPhoneOptions options);
  ~TcpFastbootPhone();
  TcpFastbootPhone(const TcpFastbootPhone&) = delete;
  TcpFastbootPhone& operator=(const TcpFastbootPhone&) = delete;

  bool Start(std::string* error);
  void Stop();
  // "tcp:127.0.0.1:PORT", the identifier fastboot takes after -s.
  std::string identifier() const;
  std::map<std::string, std::vector<std::uint8_t>> partitions() const;
  int rebootCount() const { return reboots_; }

 private:
  void Serve();
  void Converse(int fd);
  std::string Answer(int fd, const std::string& command, bool* close);

  FastbootPhoneOptions options_;
  int listener_ = -1;
  unsigned port_ = 0;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  std::map<std::string, std::vector<std::uint8_t>> partitions_;
  std::vector<std::uint8_t> downloaded_;
  int commands_ = 0;
  std::atomic<int> reboots_{0};
};

}  // namespace phonesim

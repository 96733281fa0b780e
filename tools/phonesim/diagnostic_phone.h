// A normally running phone with its diagnostic port: a pseudo-terminal
// published as mode "diagnostic" (with the USB serial number adb addresses
// it by) that answers the diagnostic protocol with the bench's own codec.
// Its NV items come from a backup file or are generated from its index;
// after every change, and at start, it writes them to <bench>/nv-<index>.txt
// ("ID INDEX HEX" lines, see NvStore::DumpText). A reset drops the port and
// brings a new one back at the same index after a delay.
//
// The file is rewritten shortly after a run of writes ends, and always
// before any answer other than an NV read or write leaves the phone, so it
// is current once a reset (or a version probe) has been answered.
#pragma once
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tools/phonesim/diag_frame.h"
#include "tools/phonesim/diag_responder.h"
#include "tools/phonesim/generated_nv.h"

namespace phonesim {

// Faults of the link, counted in packets received and answers sent.
struct DiagLinkFaults {
  int silenceAfterPackets = -1;  // packets after the first K get no answer
  int corruptFcsFrom = -1;       // answers from the K-th (counting from 1) on carry a bad check sequence
};

struct DiagnosticPhoneOptions {
  std::string benchDir;  // state and dump file; empty: neither
  unsigned index = 1;
  std::string serial;
  std::string spc = "482615";
  std::optional<std::vector<NvRecord>> seed;  // none: the generated items
  DiagIdentity identity;                      // replaces the identity of the items above
  DiagFaults faults;
  DiagLinkFaults link;
  unsigned resetDelayMs = 500;  // scaled by VANTOR_TIME_SCALE
  bool leadingFlag = false;     // answers open with a flag too
};

class DiagnosticPhone {
 public:
  explicit DiagnosticPhone(DiagnosticPhoneOptions options);
  // A phone with the generated items and no faults.
  DiagnosticPhone(std::string benchDir, unsigned index, std::string serial);
  ~DiagnosticPhone();
  DiagnosticPhone(const DiagnosticPhone&) = delete;
  DiagnosticPhone& operator=(const DiagnosticPhone&) = delete;

  // Opens the port, writes the dump, publishes the phone and starts answering.
  bool Start(std::string* error);
  void Stop();

  // The current port (a new one after each reset).
  std::string portPath() const;
  std::string dumpPath() const;
  // Copies taken under the phone's lock.
  NvStore Store() const;
  bool offline() const;
  // How often the phone has come back after a reset.
  int comebacks() const { return comebacks_; }
  // Frames dropped for a bad check sequence, size or escape.
  int droppedFrames() const { return dropped_; }

 private:
  bool OpenPort(std::string* error);
  void LeavePort();
  void Publish(const char* mode);
  void Run();
  // Answers one packet; true when the phone resets after the answer.
  bool Serve(const Bytes& packet);
  void Send(const Bytes& frame);
  // Gets the phone's thread out of a blocking read or write on its port.
  void WakePort();
  void WaitUntilHostRead();
  void ComeBack();
  void WriteDump(bool always);
  void DumpLoop();

  DiagnosticPhoneOptions options_;
  mutable std::mutex mutex_;  // the responder and the port's path
  DiagResponder responder_;
  std::string portPath_;
  int master_ = -1;  // blocking: the phone's thread waits in one read per batch of requests
  int slave_ = -1;   // held so the master never reads as hung up while the host is away; non-blocking
  Bytes frame_;      // the answer's frame; its storage serves every answer
  int packets_ = 0, answers_ = 0;
  std::atomic<int> comebacks_{0}, dropped_{0};
  std::atomic<bool> stop_{false};
  std::atomic<bool> running_{false};  // the phone's thread has not ended yet
  std::thread thread_, dumper_;
  std::mutex dumpMutex_;  // one dump write at a time
  std::atomic<std::uint64_t> changes_{0}, dumped_{0};
};

}  // namespace phonesim

#include "tools/phonesim/diagnostic_phone.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "tools/bench_state/bench_state.h"
#include "tools/phonesim/generated_nv.h"
#include "tools/phonesim/pty_master.h"
#include "tools/phonesim/pty_wake.h"
#include "tools/phonesim/time_scale.h"

namespace phonesim {

namespace {

constexpr auto kDumpCoalescing = std::chrono::milliseconds(20);
constexpr auto kDumpLag = std::chrono::milliseconds(500);

NvStore InitialStore(const DiagnosticPhoneOptions& o) {
  NvStore store = o.seed ? SeededStore(*o.seed) : GeneratedStore(o.index, o.spc);
  ApplyIdentity(store, o.identity);
  return store;
}

DiagPhoneConfig ResponderConfig(const DiagnosticPhoneOptions& o) {
  DiagPhoneConfig c;
  c.phoneIndex = o.index;
  c.spc = o.spc;
  c.faults = o.faults;
  return c;
}

DiagnosticPhoneOptions Plain(std::string benchDir, unsigned index, std::string serial) {
  DiagnosticPhoneOptions o;
  o.benchDir = std::move(benchDir);
  o.index = index;
  o.serial = std::move(serial);
  return o;
}

}  // namespace

DiagnosticPhone::DiagnosticPhone(DiagnosticPhoneOptions options)
    : options_(std::move(options)), responder_(ResponderConfig(options_), InitialStore(options_)) {}

DiagnosticPhone::DiagnosticPhone(std::string benchDir, unsigned index, std::string serial)
    : DiagnosticPhone(Plain(std::move(benchDir), index, std::move(serial))) {}

DiagnosticPhone::~DiagnosticPhone() { Stop(); }

bool DiagnosticPhone::Start(std::string* error) {
  if (!OpenPort(error)) return false;
  WriteDump(true);
  Publish("diagnostic");
  running_ = true;
  thread_ = std::thread([this] {
    Run();
    running_ = false;
  });
  if (!options_.benchDir.empty()) dumper_ = std::thread(&DiagnosticPhone::DumpLoop, this);
  return true;
}

void DiagnosticPhone::Stop() {
  stop_ = true;
  WakeUntilEnded(running_, [this] { WakePort(); });
  if (thread_.joinable()) thread_.join();
  if (dumper_.joinable()) dumper_.join();
  WriteDump(false);
  LeavePort();
}

std::string DiagnosticPhone::portPath() const {
  std::lock_guard lock(mutex_);
  return portPath_;
}

std::string DiagnosticPhone::dumpPath() const {
  return options_.benchDir + "/nv-" + std::to_string(options_.index) + ".txt";
}

NvStore DiagnosticPhone::Store() const {
  std::lock_guard lock(mutex_);
  return responder_.store();
}

bool DiagnosticPhone::offline() const {
  std::lock_guard lock(mutex_);
  return responder_.offline();
}

bool DiagnosticPhone::OpenPort(std::string* error) {
  std::string name;
  int master = OpenRawPtyMaster(&name, error);
  if (master < 0) return false;
  int slave = ::open(name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  std::lock_guard lock(mutex_);
  master_ = master;
  slave_ = slave;
  portPath_ = name;
  return true;
}

void DiagnosticPhone::WakePort() {
  std::lock_guard lock(mutex_);
  WakeMasterThroughSlave(slave_);
}

void DiagnosticPhone::LeavePort() {
  std::lock_guard lock(mutex_);
  if (master_ >= 0) ::close(master_);
  if (slave_ >= 0) ::close(slave_);
  master_ = slave_ = -1;
}

void DiagnosticPhone::Publish(const char* mode) {
  if (options_.benchDir.empty()) return;
  bench::PhoneState s;
  s.index = options_.index;
  s.mode = mode;
  if (s.mode == "diagnostic") s.port = portPath();
  s.serial = options_.serial;
  bench::WritePhoneState(options_.benchDir, s);
}

void DiagnosticPhone::Run() {
  DiagDecoder decoder;
  std::uint8_t buffer[4096];
  while (!stop_) {
    // One blocking read takes what the host sent; Stop wakes it.
    ssize_t n = ::read(master_, buffer, sizeof buffer);
    if (stop_) break;
    if (n <= 0) {  // interrupted, or a port that fails: try again after a pause
      if (n == 0 || errno != EINTR) ::usleep(10000);
      continue;
    }
    bool reset = false;
    decoder.Feed(buffer, static_cast<std::size_t>(n), [&](const Bytes& packet) {
      if (!reset && !stop_) reset = Serve(packet);
    });
    dropped_ = decoder.droppedFrames();
    if (reset) {
      ComeBack();
      decoder = DiagDecoder{};
    }
  }
}

bool DiagnosticPhone::Serve(const Bytes& packet) {
  ++packets_;
  if (options_.link.silenceAfterPackets >= 0 && packets_ > options_.link.silenceAfterPackets) return false;
  // The answer stays in the responder's buffer, which only this thread
  // changes, so it is framed outside the lock.
  const DiagAnswer* answer = nullptr;
  {
    std::lock_guard lock(mutex_);
    answer = &responder_.Handle(packet);
    if (answer->storeChanged) ++changes_;
  }
  if (answer->packet.empty()) return false;
  if (!answer->nvRequest) WriteDump(false);
  ++answers_;
  bool corrupt = options_.link.corruptFcsFrom >= 0 && answers_ >= options_.link.corruptFcsFrom;
  frame_.clear();
  AppendDiagFrame(frame_, answer->packet, options_.leadingFlag, corrupt);
  Send(frame_);
  return answer->resets;
}

void DiagnosticPhone::Send(const Bytes& frame) {
  std::size_t done = 0;
  while (done < frame.size() && !stop_) {
    ssize_t n = ::write(master_, frame.data() + done, frame.size() - done);
    if (n > 0) done += static_cast<std::size_t>(n);
    else if (n == 0 || errno != EINTR) return;
  }
}

// Closing the master drops what the host has not read yet, so the reset's
// answer must have reached the slave's input queue (the pty moves it there
// asynchronously) and left it again before the port goes.
void DiagnosticPhone::WaitUntilHostRead() {
  auto pending = [&] {
    int bytes = 0;
    return ::ioctl(slave_, FIONREAD, &bytes) == 0 ? bytes : 0;
  };
  auto now = std::chrono::steady_clock::now;
  auto arrivedBy = now() + std::chrono::milliseconds(100), readBy = now() + std::chrono::seconds(2);
  while (!stop_ && pending() == 0 && now() < arrivedBy) ::usleep(200);
  while (!stop_ && pending() > 0 && now() < readBy) ::usleep(200);
}

void DiagnosticPhone::ComeBack() {
  WaitUntilHostRead();
  LeavePort();
  Publish("gone");
  auto back = std::chrono::steady_clock::now() + std::chrono::milliseconds(ScaledMs(options_.resetDelayMs));
  while (!stop_ && std::chrono::steady_clock::now() < back) ::usleep(1000);
  if (stop_) return;
  {
    std::lock_guard lock(mutex_);
    responder_.Restart();
  }
  std::string error;
  if (!OpenPort(&error)) return;  // the phone stays away
  ++comebacks_;
  Publish("diagnostic");
}

void DiagnosticPhone::WriteDump(bool always) {
  if (options_.benchDir.empty()) return;
  std::lock_guard writing(dumpMutex_);
  std::uint64_t generation;
  std::string text;
  {
    std::lock_guard lock(mutex_);
    generation = changes_;
    if (!always && generation == dumped_) return;
    text = responder_.store().DumpText();
  }
  if (ReplaceFile(dumpPath(), text)) dumped_ = generation;
}

// Writes come in runs (a restore writes item after item): the file is
// rewritten once a run pauses, and at least every kDumpLag during a long one.
void DiagnosticPhone::DumpLoop() {
  auto now = std::chrono::steady_clock::now;
  std::uint64_t seen = changes_;
  auto clean = now();
  while (!stop_) {
    std::this_thread::sleep_for(kDumpCoalescing);
    std::uint64_t current = changes_;
    if (current == dumped_) {
      clean = now();
    } else if (current == seen || now() - clean > kDumpLag) {
      WriteDump(false);
      clean = now();
    }
    seen = current;
  }
}

}  // namespace phonesim

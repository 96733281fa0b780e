// A bench phone's thread waits for the host in one blocking read of its
// pseudo-terminal's master and writes its answers blocking too. The phone
// holds the slave itself (so that the master never reads as hung up while
// the host is away), opened non-blocking; through it the thread is woken
// when the phone stops: a byte written into the slave ends a blocked read of
// the master, and taking what the slave holds lets a blocked write of the
// master go on.
#pragma once
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace phonesim {

inline void WakeMasterThroughSlave(int slave) {
  if (slave < 0) return;
  const unsigned char wake = 0;
  // When the queue is full the byte is not needed: the read has bytes to take.
  [[maybe_unused]] const ssize_t written = ::write(slave, &wake, 1);
  unsigned char taken[4096];
  while (::read(slave, taken, sizeof taken) > 0) {
  }
}

// Calls wake until running reads false: the thread saw its stop request.
template <class Wake>
void WakeUntilEnded(const std::atomic<bool>& running, Wake wake) {
  while (running) {
    wake();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

}  // namespace phonesim

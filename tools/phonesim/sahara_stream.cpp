#include "tools/phonesim/sahara_stream.h"

#include <algorithm>
#include <chrono>
#include <limits>

namespace phonesim {

SaharaStream::SaharaStream(SaharaSession& session) : session_(session) { Queue(session_.Hello()); }

// Called with the lock held.
void SaharaStream::Queue(SaharaSession::Out writes) {
  for (std::string& w : writes) queue_.push_back(std::move(w));
}

bool SaharaStream::Read(std::vector<std::uint8_t>* chunk) {
  chunk->clear();
  std::unique_lock lock(mutex_);
  if (queue_.empty()) {
    said_.wait_for(lock, std::chrono::milliseconds(50), [&] { return !queue_.empty(); });
    if (queue_.empty()) Queue(session_.Idle());
  }
  if (queue_.empty()) return !session_.ended();
  chunk->assign(queue_.front().begin(), queue_.front().end());
  queue_.pop_front();
  return true;
}

bool SaharaStream::Write(const std::uint8_t* data, std::size_t size) {
  std::lock_guard lock(mutex_);
  Queue(session_.Feed(data, size));
  said_.notify_all();
  return true;
}

std::size_t SaharaStream::Awaited() const {
  std::lock_guard lock(mutex_);
  return static_cast<std::size_t>(
      std::min<std::uint64_t>(session_.rawBytesAwaited(), std::numeric_limits<std::size_t>::max()));
}

}  // namespace phonesim

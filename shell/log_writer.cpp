#include "shell/log_writer.h"

#include <unistd.h>

#include <chrono>
#include <vector>

#include "platform/file_sync.h"

LogWriter::~LogWriter() {
  {
    std::lock_guard lock(mutex_);
    ending_ = true;
  }
  posted_.notify_all();
  if (thread_.joinable()) thread_.join();
}

std::uint64_t LogWriter::Post(int fd, std::string bytes) {
  std::uint64_t ticket;
  {
    std::lock_guard lock(mutex_);
    if (!thread_.joinable()) thread_ = std::thread(&LogWriter::Run, this);
    queue_.push_back(Line{fd, std::move(bytes)});
    ticket = ++lastPosted_;
  }
  posted_.notify_one();
  return ticket;
}

void LogWriter::WaitFlushed(std::uint64_t ticket) {
  std::unique_lock lock(mutex_);
  flushed_.wait(lock, [&] { return lastFlushed_ >= ticket; });
}

void LogWriter::Flush(unsigned limitMs) {
  std::unique_lock lock(mutex_);
  const std::uint64_t ticket = lastPosted_;
  flushed_.wait_for(lock, std::chrono::milliseconds(limitMs), [&] { return lastFlushed_ >= ticket; });
}

// Takes every queued line at once, writes each in one request, flushes each
// file the batch wrote to, and then tells the waiters. Failures of the write
// or the flush are ignored: the log never fails its callers.
void LogWriter::Run() {
  std::vector<Line> batch;
  std::unique_lock lock(mutex_);
  for (;;) {
    posted_.wait(lock, [&] { return ending_ || !queue_.empty(); });
    if (queue_.empty()) return;  // ending, and nothing left to write
    batch.assign(std::make_move_iterator(queue_.begin()), std::make_move_iterator(queue_.end()));
    queue_.clear();
    const std::uint64_t last = lastPosted_;
    lock.unlock();
    for (size_t i = 0; i < batch.size(); ++i) {
      ssize_t written = ::write(batch[i].fd, batch[i].bytes.data(), batch[i].bytes.size());
      (void)written;
      // One flush for each run of lines to one file: the last of the batch,
      // or the last before the log moved to another file.
      if (i + 1 == batch.size() || batch[i + 1].fd != batch[i].fd) SyncFileData(batch[i].fd);
    }
    batch.clear();
    lock.lock();
    lastFlushed_ = last;
    flushed_.notify_all();
  }
}

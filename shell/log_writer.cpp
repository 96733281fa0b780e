#include "shell/log_writer.h"

#include <unistd.h>

#include <algorithm>
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
    if (!waitingForLines_) return ticket;  // the pending flush takes it along
  }
  posted_.notify_one();
  return ticket;
}

void LogWriter::WaitFlushed(std::uint64_t ticket) {
  std::unique_lock lock(mutex_);
  ++waiters_;
  posted_.notify_one();
  flushed_.wait(lock, [&] { return lastFlushed_ >= ticket; });
  --waiters_;
}

void LogWriter::Flush(unsigned limitMs) {
  std::unique_lock lock(mutex_);
  const std::uint64_t ticket = lastPosted_;
  ++waiters_;
  posted_.notify_one();
  flushed_.wait_for(lock, std::chrono::milliseconds(limitMs), [&] { return lastFlushed_ >= ticket; });
  --waiters_;
}

// Writes what is queued as it comes and flushes the written lines when their
// flush is due. Failures of the write or the flush are ignored: the log never
// fails its callers.
void LogWriter::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    if (lastWritten_ == lastFlushed_) {
      // Nothing waits for a flush: the next line is written as it comes.
      waitingForLines_ = true;
      posted_.wait(lock, [&] { return ending_ || !queue_.empty(); });
      waitingForLines_ = false;
    } else {
      // A flush is pending: lines that come before it are written with it.
      posted_.wait_until(lock, nextFlush_, [&] { return ending_ || waiters_ > 0; });
    }
    if (!queue_.empty()) WriteQueued(lock);
    if (lastWritten_ != lastFlushed_ && FlushDue()) FlushWritten(lock);
    if (ending_ && queue_.empty() && lastWritten_ == lastFlushed_) return;
  }
}

// Every queued line, each in one write request, in the order logged.
void LogWriter::WriteQueued(std::unique_lock<std::mutex>& lock) {
  std::deque<Line> batch;
  batch.swap(queue_);
  const std::uint64_t last = lastPosted_;
  lock.unlock();
  std::vector<int> files;
  for (const Line& line : batch) {
    ssize_t written = ::write(line.fd, line.bytes.data(), line.bytes.size());
    (void)written;
    if (files.empty() || files.back() != line.fd) files.push_back(line.fd);
  }
  lock.lock();
  for (int fd : files)
    if (std::find(unflushed_.begin(), unflushed_.end(), fd) == unflushed_.end()) unflushed_.push_back(fd);
  lastWritten_ = last;
}

bool LogWriter::FlushDue() const { return ending_ || waiters_ > 0 || Clock::now() >= nextFlush_; }

// One flush of each file written to, then the waiters are told.
void LogWriter::FlushWritten(std::unique_lock<std::mutex>& lock) {
  std::vector<int> files;
  files.swap(unflushed_);
  const std::uint64_t last = lastWritten_;
  lock.unlock();
  for (int fd : files) SyncFileData(fd);
  lock.lock();
  lastFlushed_ = last;
  nextFlush_ = Clock::now() + kFlushSpacing;
  flushed_.notify_all();
}

// The log's writer thread: lines are handed over in the order they were
// logged and written by one thread of the log's own, each line in one write
// request, and flushed to disk (fdatasync through the file-sync seam) after
// each batch, so one flush covers every line queued before it. The threads
// that log (a phone's worker among them) never wait for the disk, unless
// they ask to: a failure's trace line waits until it is on disk.
// Flushes are spaced: while lines keep coming, they are written and flushed
// together at most once per spacing, so a phone that reports many lines a
// second costs a few writes and flushes a second, not one per line and no
// wake-up of this thread per line; a line that comes after a quiet spell,
// and any line someone waits for, is written and flushed at once.
#pragma once
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class LogWriter {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr Clock::duration kFlushSpacing = std::chrono::milliseconds(50);

  LogWriter() = default;
  // Writes and flushes what is queued, then ends the thread.
  ~LogWriter();
  LogWriter(const LogWriter&) = delete;
  LogWriter& operator=(const LogWriter&) = delete;

  // Queues bytes to be written to fd (which the caller keeps open until a
  // Flush has covered them) and returns the line's ticket. The thread starts
  // with the first line.
  std::uint64_t Post(int fd, std::string bytes);
  // Waits until the line of ticket is written and flushed.
  void WaitFlushed(std::uint64_t ticket);
  // Waits until every line posted so far is written and flushed, at most
  // limitMs (a hung disk must not hold the program at exit).
  void Flush(unsigned limitMs = 0xFFFFFFFFu);

 private:
  struct Line {
    int fd;
    std::string bytes;
  };
  void Run();
  void WriteQueued(std::unique_lock<std::mutex>& lock);
  void FlushWritten(std::unique_lock<std::mutex>& lock);
  bool FlushDue() const;

  std::mutex mutex_;
  std::condition_variable posted_;  // a line, a waiter or the end came
  std::condition_variable flushed_;
  std::deque<Line> queue_;
  std::vector<int> unflushed_;  // the files written to since the last flush
  std::uint64_t lastPosted_ = 0;
  std::uint64_t lastWritten_ = 0;
  std::uint64_t lastFlushed_ = 0;
  unsigned waiters_ = 0;
  bool waitingForLines_ = false;  // the thread sleeps until a line comes
  Clock::time_point nextFlush_{};
  bool ending_ = false;
  std::thread thread_;
};

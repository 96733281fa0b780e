// The log's writer thread: lines are handed over in the order they were
// logged and written by one thread of the log's own, each line in one write
// request, and flushed to disk (fdatasync through the file-sync seam) after
// each batch, so one flush covers every line queued before it. The threads
// that log (a phone's worker among them) never wait for the disk, unless
// they ask to: a failure's trace line waits until it is on disk.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

class LogWriter {
 public:
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

  std::mutex mutex_;
  std::condition_variable posted_;
  std::condition_variable flushed_;
  std::deque<Line> queue_;
  std::uint64_t lastPosted_ = 0;
  std::uint64_t lastFlushed_ = 0;
  bool ending_ = false;
  std::thread thread_;
};

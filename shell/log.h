// The log: one plain-text file per process run, "Vantor-%u@%s.log" (the
// time of opening in seconds since 1970, the host name), found like any
// other file by SearchFile's default folders, so it lies beside the
// executable unless a file of that name exists elsewhere on the search path.
// Lines are converted to the locale's codeset and end with CR LF; each is
// one write on an O_APPEND descriptor, so lines of different threads never
// mix. The log's writer thread (shell/log_writer.h) does the writing and the
// flushing, in the order the lines were logged: a phone's worker never waits
// for the disk, except that a failure's trace line is on disk before
// TraceResult returns, so a crash keeps the cause. At exit what is queued is
// written (waiting at most 3 seconds for a hung disk).
//
// When the executable's folder is not writable (an installed program under
// /usr/bin), the file goes to $XDG_STATE_HOME/vantor/ (default
// ~/.local/state/vantor/) instead of being lost. When neither can be
// created, the line is dropped and the next line tries again. Opening a log
// prunes the old ones beside it, and a log is bounded (shell/log_limits.h).
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "platform/hresult.h"
#include "shell/log_limits.h"
#include "shell/log_writer.h"

struct LogPlacement {
  // Turns the file name into the full path to create.
  std::function<std::string(const std::string& fileName)> resolve;
  // Where the file goes when the resolved path cannot be created ("" = none).
  std::string fallbackFolder;
  // The host name, or nullopt when it cannot be obtained ("unknown" is used).
  std::function<std::optional<std::string>()> hostName;
  // Past this many bytes only trace lines are written.
  std::uint64_t maxBytes = kMaxLogBytes;

  static LogPlacement Default();
};

class LogFile {
 public:
  explicit LogFile(LogPlacement placement);
  ~LogFile();
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;

  // Appends CR LF, converts, and queues the line for the writer thread,
  // which writes it in one request and flushes it; past the run's bound only
  // a trace line is queued, another is counted.
  void WriteLine(std::string_view line, LogLineKind kind = LogLineKind::Message);
  // The same for a trace line, returning once it (and every line before it) is on disk.
  void WriteLineDurably(std::string_view line);
  // Waits until every line logged so far is on disk, at most limitMs.
  void Flush(unsigned limitMs = 0xFFFFFFFFu);
  // Writes how many lines the bound left out, if any (at the end of a run).
  void WriteLeftOutCount();
  // The path of the open file, "" while none is open.
  std::string path() const;
  // Closes the current file; the next line opens one under the new placement.
  void Redirect(LogPlacement placement);

 private:
  int OpenIfNeeded();
  // The line's ticket with the writer, 0 when no file could be opened.
  std::uint64_t Post(std::string_view line, LogLineKind kind);
  LogWriter writer_;
  mutable std::mutex lock_;  // guards the lazy opening only
  LogPlacement placement_;
  std::atomic<int> fd_{-1};
  std::string path_;
  LogBudget budget_;  // restarted for each file opened
};

// The process's log.
LogFile& ProcessLog();

// Formats a message (printf-style, UTF-8) and writes it as one line.
void WriteLog(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The result-checking convention: a failure code writes one line
// "%s(%d): %s(0x%08x)" (operation, line, the code's English text, code) and
// returns false; any other code writes nothing and returns true.
bool TraceResult(HRESULT hr, const char* operation, int line);

// Where a thread's trace lines also go while a ScopedTraceCapture is in scope.
class ITraceSink {
 public:
  virtual void TraceLine(const std::string& line) = 0;

 protected:
  ~ITraceSink() = default;
};

// For its life, every trace line the constructing thread writes is also
// handed to sink (a job keeps the lines of its worker for its story). Nests:
// the previous capture of the thread returns when this one ends.
class ScopedTraceCapture {
 public:
  explicit ScopedTraceCapture(ITraceSink* sink);
  ~ScopedTraceCapture();
  ScopedTraceCapture(const ScopedTraceCapture&) = delete;
  ScopedTraceCapture& operator=(const ScopedTraceCapture&) = delete;

 private:
  ITraceSink* previous_;
};

// True when the environment variable DumpVantor held exactly "1" when the
// process started.
bool DumpEnabled();
// The rule behind DumpEnabled, for a given value of the variable.
bool DumpSwitchFromValue(const char* value);

// The text of a hex dump: the title, then "%02X " per byte, with CR LF after
// every 16th byte except the last.
std::string FormatHexDump(std::string_view title, const unsigned char* data, size_t count);

// Collects bytes while dumps are enabled and writes them as one log line
// when it goes out of scope (nothing when it holds no byte). The title is a
// literal that outlives the dump; with dumps off the recorder costs nothing.
class CHexDump {
 public:
  explicit CHexDump(const char* title);
  ~CHexDump();
  CHexDump(const CHexDump&) = delete;
  CHexDump& operator=(const CHexDump&) = delete;

  void Append(const void* data, size_t count) {
    if (enabled_ && count > 0) bytes_.append(static_cast<const char*>(data), count);
  }

 private:
  bool enabled_;
  const char* title_;
  std::string bytes_;
};

// The log's bounds. Old logs go when a run opens its own: those older than
// 30 days, and beyond the newest 200, in the folder the new one lies in. One
// run's log stops growing at 256 MiB (a script that prints without end must
// not fill the disk): past the bound, lines other than trace lines are
// counted rather than written, and a line says how many were left out.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

inline constexpr std::uint64_t kMaxLogBytes = 256ull * 1024 * 1024;
inline constexpr int kLogKeepDays = 30;
inline constexpr size_t kLogKeepFiles = 200;

// Removes the log files ("Vantor-*.log") of folder last written more than
// kLogKeepDays before now, then the oldest beyond the newest kLogKeepFiles.
// The file keep, and any log still being written (its writer holds its
// lock), stay.
void PruneLogFolder(const std::string& folder, const std::string& keep, std::time_t now);

enum class LogLineKind { Message, Trace };

// The bytes one log has taken. Trace lines are always admitted; other lines
// only while the log is below its bound, after which they are counted.
class LogBudget {
 public:
  explicit LogBudget(std::uint64_t bound = kMaxLogBytes) : bound_(bound) {}
  // A new file: nothing written yet, under this bound.
  void Restart(std::uint64_t bound);

  // Whether a line of this many bytes is written. When it is the first line
  // left out, *notice is set to the line that says so (written as a trace
  // line would be).
  bool Admit(size_t bytes, LogLineKind kind, std::string* notice);
  // "N lines were left out of this log ...", or "" when none was.
  std::string LeftOutLine() const;

 private:
  std::atomic<std::uint64_t> bound_;
  std::atomic<std::uint64_t> written_{0};
  std::atomic<std::uint64_t> leftOut_{0};
};

// Reading a process's small files under /proc (stat, cmdline). The process
// may end at any moment: the kernel then answers the read with ESRCH.
#pragma once
#include <sys/types.h>

#include <cstddef>
#include <string>

// What is read of a file at most: a stat line is far shorter, and of a
// command line only the first argument is wanted.
inline constexpr size_t kMaxProcFileBytes = 65536;

// The file into *text (its first kMaxProcFileBytes and a little more at the
// most); false when it cannot be opened or read.
bool ReadProcFile(const std::string& path, std::string* text);

// The fields of /proc/PID/stat this program uses.
struct ProcessStat {
  std::string name;                  // the kernel's name, at most 15 characters
  char state = 0;                    // 'R', 'S', … 'Z' for a zombie
  pid_t parent = 0;
  unsigned long long startTime = 0;  // clock ticks after boot
};

// The process's stat line, read and parsed; false when it cannot be. The
// name stands in parentheses and may itself hold blanks and parentheses, so
// the other fields are counted from the last ')'.
bool ReadProcessStat(pid_t pid, ProcessStat* stat);

// A snapshot of the running processes, read from /proc once and not
// refreshed.
#pragma once
#include <sys/types.h>

#include <string>
#include <vector>

struct ProcessRecord {
  pid_t pid = 0;
  pid_t parent = 0;
  std::string exeName;    // executable file name without folder
  std::string imagePath;  // full path of the executable ("" when unreadable)
  uid_t owner = 0;
  bool ownerKnown = false;
};

class CProcessList {
 public:
  virtual ~CProcessList() = default;
  // Takes the snapshot; false when /proc cannot be read (the list is then empty).
  bool Snapshot();
  const std::vector<ProcessRecord>& processes() const { return processes_; }

 private:
  std::vector<ProcessRecord> processes_;
};

// Reads one process's record; false when it is gone.
bool ReadProcessRecord(pid_t pid, ProcessRecord* record);

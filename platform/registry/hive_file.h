// One hive kept as one REGEDIT4 file. Readers load the whole file; writers
// take an exclusive flock on a lock file beside it, load, change, write a
// temporary file, fsync it and rename it over the hive, so concurrent
// writers lose nothing and a writer killed mid-save leaves the previous
// file intact.
#pragma once
#include <sys/types.h>
#include <functional>
#include <string>

#include "platform/registry/hive.h"

class HiveFile {
 public:
  // mode: the permissions of the file written (and of its lock file).
  HiveFile(std::string path, std::string rootName, mode_t mode = 0644);

  // The hive as stored; a missing file is an empty hive. Returns a Win32
  // error: ERROR_BAD_FORMAT for a file that is not a hive.
  LSTATUS Load(Hive* hive) const;

  // Loads under the lock, lets change edit the hive, and saves it when change
  // returns ERROR_SUCCESS and reports (through *modified) that it changed
  // something. The result of change, or of loading or saving, is returned.
  LSTATUS Modify(const std::function<LSTATUS(Hive&, bool* modified)>& change) const;

  // ERROR_SUCCESS when this process can change the hive: its folder and lock
  // file can be made and opened for writing, and a file can be renamed into
  // the folder. Otherwise the error met (ERROR_ACCESS_DENIED for a folder
  // of another user). The file itself is not touched.
  LSTATUS CheckWritable() const;

  const std::string& path() const { return path_; }

 private:
  LSTATUS Save(const Hive& hive) const;
  std::string path_;
  std::string rootName_;
  mode_t mode_;
};

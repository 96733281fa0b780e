// The log files other processes of a test wrote: those in the given folders
// whose name is a log's and that were written since a moment.
#pragma once
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

inline std::vector<std::string> LogsSince(std::filesystem::file_time_type since, const std::vector<std::string>& folders) {
  std::vector<std::string> texts;
  for (const std::string& folder : folders) {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
      if (entry.path().filename().string().rfind("Vantor-", 0) != 0 || entry.last_write_time() < since) continue;
      texts.push_back(ReadFile(entry.path().string()));
    }
  }
  return texts;
}

// Where a program's log can be: beside it, in the current folder (a log of
// the same name found there is used), and in the state folder, where a run
// goes when another one holds the log of the same second.
inline std::vector<std::string> LogFolders(const std::string& program, const std::string& stateFolder) {
  return {std::filesystem::path(program).parent_path().string(), std::filesystem::current_path().string(),
          stateFolder};
}


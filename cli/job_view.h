// How a run's rows are shown: a live table on a terminal, a line per change
// of a row's status otherwise, or one JSON object per change.
#pragma once
#include <cstdio>
#include <string>
#include <vector>

struct JobRow {
  unsigned index = 0;
  std::string device;
  int percent = 0;
  double elapsed = 0;
  std::string status;
  bool error = false;
  bool done = false;
};

enum class ViewMode { Table, Lines, Json };

class JobView {
 public:
  JobView(ViewMode mode, std::FILE* out) : mode_(mode), out_(out) {}
  // Called every poll with the rows as they are now.
  void Update(const std::vector<JobRow>& rows);
  // The summary at the end.
  void Finish(const std::vector<JobRow>& rows);

 private:
  void DrawTable(const std::vector<JobRow>& rows);
  ViewMode mode_;
  std::FILE* out_;
  std::vector<std::string> shown_;  // the status last shown per row
  size_t drawnLines_ = 0;
};

// A JSON string literal of text (quotes, backslashes and control characters escaped).
std::string JsonString(const std::string& text);

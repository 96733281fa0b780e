// How a run's rows are shown: a live table on a terminal, a line per status
// message otherwise, or one JSON object per status message with --json.
// Every write is checked: the first that fails (a closed pipe, a full disk)
// is kept, nothing more is written, and the run ends on it.
#pragma once
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "platform/hresult.h"

struct JobRow {
  unsigned index = 0;
  std::string device;
  int percent = 0;
  double elapsed = 0;
  std::string status;         // in the user's language, as a row shows it
  std::string englishStatus;  // the same in English, for --json
  bool error = false;
  bool done = false;
  HRESULT result = S_FALSE;  // S_FALSE while running, then the final result
};

enum class ViewMode { Table, Lines, Json };

// JSON when asked; the table on a terminal that can move its cursor; lines
// otherwise (a pipe, a file, TERM=dumb).
ViewMode ChooseViewMode(bool json, bool terminal, const char* term);
// Colour unless NO_COLOR holds a text or the terminal is dumb.
bool ColourWanted(const char* noColor, const char* term);

struct TerminalSize {
  unsigned columns = 80;
  unsigned lines = 24;
};

class JobView {
 public:
  // The table measures the terminal through measure (TIOCGWINSZ on out when
  // none is given); it is asked again at each redraw.
  JobView(ViewMode mode, std::FILE* out, std::function<TerminalSize()> measure = {});

  ViewMode mode() const { return mode_; }
  // Failed rows are drawn red unless this is switched off.
  void SetColour(bool on) { colour_ = on; }
  // The errno of the first write that failed, 0 while all succeeded.
  int outputError() const { return outputError_; }
  // A status message a job posted, in the order posted.
  void Message(const JobRow& row, const std::string& message);
  // A row has reached its final state.
  void Finished(const JobRow& row);
  // Every poll, with the rows as they are now: the table is redrawn.
  void Update(const std::vector<JobRow>& rows);
  // The end of the run: the last table, on a terminal the full status text
  // of each failed row below it, and the summary.
  void Finish(const std::vector<JobRow>& rows);
  // A failure that ends the command before or instead of a run.
  void Error(const std::string& message, HRESULT hr);

 private:
  void DrawTable(const std::vector<JobRow>& rows);
  std::string TableLine(const JobRow& row, unsigned columns) const;
  void Emit(const std::string& text);

  ViewMode mode_;
  std::FILE* out_;
  std::function<TerminalSize()> measure_;
  size_t drawnLines_ = 0;
  bool colour_ = true;
  int outputError_ = 0;
};

// The terminal's size by TIOCGWINSZ on fd; 80 x 24 when it cannot be read.
TerminalSize MeasureTerminal(int fd);

#include "cli/job_view.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <string_view>

#include "cli/output_status.h"
#include "cli/text_output.h"
#include "platform/error_text.h"

namespace {

std::string JsonRow(const JobRow& r, const std::string& status) {
  char numbers[128];
  std::snprintf(numbers, sizeof numbers, "\"index\":%u,\"percent\":%d,\"elapsed\":%.2f,", r.index, r.percent, r.elapsed);
  std::string json = "{\"device\":" + JsonString(r.device) + "," + numbers + "\"status\":" + JsonString(status) +
                     ",\"error\":" + (r.error ? "true" : "false") + ",\"done\":" + (r.done ? "true" : "false");
  if (r.done) {
    char result[32];
    std::snprintf(result, sizeof result, ",\"result\":\"0x%08x\"", static_cast<unsigned>(r.result));
    json += result;
  }
  return json + "}";
}

std::string PlainLine(const JobRow& r, const std::string& status) {
  char head[64];
  std::snprintf(head, sizeof head, "%u ", r.index);
  char numbers[64];
  std::snprintf(numbers, sizeof numbers, " %d%% %.0fs ", r.percent, r.elapsed);
  return head + PrintableText(r.device) + numbers + PrintableText(status) +
         (r.done ? (r.error ? " [failed]" : " [done]") : "");
}

std::string Bar(int percent) {
  int filled = percent * 20 / 100;
  return "[" + std::string(static_cast<size_t>(filled), '#') + std::string(static_cast<size_t>(20 - filled), '.') + "]";
}

// Below the last table: what the width cut off the failures, in full.
std::string FailureTexts(const std::vector<JobRow>& rows) {
  std::string text;
  for (const JobRow& r : rows)
    if (r.error) text += std::to_string(r.index) + " " + PrintableText(r.device) + ": " + PrintableText(r.status) + "\n";
  return text;
}

}  // namespace

ViewMode ChooseViewMode(bool json, bool terminal, const char* term) {
  if (json) return ViewMode::Json;
  bool dumb = term && std::string_view(term) == "dumb";
  return terminal && !dumb ? ViewMode::Table : ViewMode::Lines;
}

bool ColourWanted(const char* noColor, const char* term) {
  return !(noColor && *noColor) && !(term && std::string_view(term) == "dumb");
}

TerminalSize MeasureTerminal(int fd) {
  TerminalSize size;
  winsize w{};
  if (::ioctl(fd, TIOCGWINSZ, &w) == 0 && w.ws_col > 0 && w.ws_row > 0) {
    size.columns = w.ws_col;
    size.lines = w.ws_row;
  }
  return size;
}

JobView::JobView(ViewMode mode, std::FILE* out, std::function<TerminalSize()> measure)
    : mode_(mode), out_(out), measure_(std::move(measure)) {
  if (!measure_) measure_ = [fd = ::fileno(out)] { return MeasureTerminal(fd); };
}

void JobView::Message(const JobRow& row, const std::string& message) {
  if (mode_ == ViewMode::Table) return;  // the table shows the newest at its next redraw
  JobRow running = row;
  running.done = false;
  running.error = false;
  Emit((mode_ == ViewMode::Json ? JsonRow(running, message) : PlainLine(running, message)) + "\n");
}

void JobView::Finished(const JobRow& row) {
  if (mode_ == ViewMode::Table) return;
  // A row with no English text of its own has one text for both.
  const std::string& english = row.englishStatus.empty() ? row.status : row.englishStatus;
  Emit((mode_ == ViewMode::Json ? JsonRow(row, english) : PlainLine(row, row.status)) + "\n");
}

void JobView::Emit(const std::string& text) {
  if (outputError_ == 0) outputError_ = WriteOutput(out_, text);
}

void JobView::Update(const std::vector<JobRow>& rows) {
  if (mode_ == ViewMode::Table) DrawTable(rows);
}

std::string JobView::TableLine(const JobRow& r, unsigned columns) const {
  char numbers[96];
  std::snprintf(numbers, sizeof numbers, " %s %3d%% %5.0fs  ", Bar(r.percent).c_str(), r.percent, r.elapsed);
  std::string device = FitToColumns(PrintableText(r.device), 24);
  device += std::string(24 - DisplayWidth(device), ' ');
  char index[16];
  std::snprintf(index, sizeof index, "%3u  ", r.index);
  return FitToColumns(index + device + numbers + PrintableText(r.status), columns);
}

// Draws over the table drawn before: back to its first line, clear to the
// end of the screen, one line per row cut to the width. With more rows than
// the terminal has lines, the rows that fit and a line "... and N more".
void JobView::DrawTable(const std::vector<JobRow>& rows) {
  TerminalSize size = measure_();
  std::string text = drawnLines_ > 0 ? "\x1b[" + std::to_string(drawnLines_) + "A\r" : "";
  text += "\x1b[J";
  size_t room = size.lines > 1 ? size.lines - 1 : 1;  // the cursor's line stays free
  size_t shown = rows.size() <= room ? rows.size() : room - 1;
  for (size_t i = 0; i < shown; ++i) {
    bool red = colour_ && rows[i].error;
    text += (red ? "\x1b[31m" : "") + TableLine(rows[i], size.columns) + (red ? "\x1b[0m\n" : "\n");
  }
  drawnLines_ = shown;
  if (shown < rows.size()) {
    text += FitToColumns("... and " + std::to_string(rows.size() - shown) + " more", size.columns) + "\n";
    ++drawnLines_;
  }
  Emit(text);
}


void JobView::Finish(const std::vector<JobRow>& rows) {
  Update(rows);
  int failed = 0;
  for (const JobRow& r : rows) failed += r.error;
  int succeeded = static_cast<int>(rows.size()) - failed;
  char summary[128];
  if (mode_ == ViewMode::Json) {
    std::snprintf(summary, sizeof summary, "{\"summary\":{\"phones\":%zu,\"succeeded\":%d,\"failed\":%d}}\n",
                  rows.size(), succeeded, failed);
  } else {
    std::snprintf(summary, sizeof summary, "%zu phones: %d succeeded, %d failed\n", rows.size(), succeeded, failed);
  }
  Emit((mode_ == ViewMode::Table ? FailureTexts(rows) : std::string()) + summary);
}

void JobView::Error(const std::string& message, HRESULT hr) {
  std::string text = message;
  char code[16] = "";
  if (FAILED(hr)) {
    text += ": " + (mode_ == ViewMode::Json ? GetEnglishErrorText(hr) : GetErrorText(hr));
    std::snprintf(code, sizeof code, "0x%08x", static_cast<unsigned>(hr));
  }
  if (mode_ == ViewMode::Json) {
    Emit("{\"error\":{\"message\":" + JsonString(text) + (*code ? ",\"code\":\"" + std::string(code) + "\"" : "") +
         "}}\n");
  } else {
    std::fprintf(stderr, "vantor-cli: %s%s%s%s\n", PrintableText(text).c_str(), *code ? "(" : "", code, *code ? ")" : "");
  }
}

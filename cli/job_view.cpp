#include "cli/job_view.h"

namespace {

std::string JsonRow(const JobRow& r) {
  char numbers[128];
  std::snprintf(numbers, sizeof numbers, "\"index\":%u,\"percent\":%d,\"elapsed\":%.2f,", r.index, r.percent, r.elapsed);
  return "{\"device\":" + JsonString(r.device) + "," + numbers + "\"status\":" + JsonString(r.status) +
         ",\"error\":" + (r.error ? "true" : "false") + ",\"done\":" + (r.done ? "true" : "false") + "}";
}

std::string Bar(int percent) {
  int filled = percent * 20 / 100;
  return "[" + std::string(static_cast<size_t>(filled), '#') + std::string(static_cast<size_t>(20 - filled), '.') + "]";
}

}  // namespace

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

void JobView::Update(const std::vector<JobRow>& rows) {
  if (mode_ == ViewMode::Table) {
    DrawTable(rows);
    return;
  }
  shown_.resize(rows.size(), std::string("\x01"));  // nothing shown yet
  for (size_t i = 0; i < rows.size(); ++i) {
    const JobRow& r = rows[i];
    std::string key = r.status + (r.done ? "\x02" : "");
    if (key == shown_[i]) continue;
    shown_[i] = key;
    if (mode_ == ViewMode::Json) {
      std::fprintf(out_, "%s\n", JsonRow(r).c_str());
    } else {
      std::fprintf(out_, "%u %s %d%% %.0fs %s%s\n", r.index, r.device.c_str(), r.percent, r.elapsed, r.status.c_str(),
                   r.done ? (r.error ? " [failed]" : " [done]") : "");
    }
  }
  std::fflush(out_);
}

void JobView::DrawTable(const std::vector<JobRow>& rows) {
  if (drawnLines_ > 0) std::fprintf(out_, "\x1b[%zuA", drawnLines_);  // back to the table's first line
  for (const JobRow& r : rows) {
    std::string status = r.status.substr(0, 60);
    std::fprintf(out_, "\x1b[2K%s%3u  %-24.24s %s %3d%% %5.0fs  %s%s\n", r.error ? "\x1b[31m" : "", r.index,
                 r.device.c_str(), Bar(r.percent).c_str(), r.percent, r.elapsed, status.c_str(),
                 r.error ? "\x1b[0m" : "");
  }
  drawnLines_ = rows.size();
  std::fflush(out_);
}

void JobView::Finish(const std::vector<JobRow>& rows) {
  Update(rows);
  int failed = 0;
  for (const JobRow& r : rows) failed += r.error;
  int succeeded = static_cast<int>(rows.size()) - failed;
  if (mode_ == ViewMode::Json) {
    std::fprintf(out_, "{\"summary\":{\"phones\":%zu,\"succeeded\":%d,\"failed\":%d}}\n", rows.size(), succeeded, failed);
  } else {
    std::fprintf(out_, "%zu phones: %d succeeded, %d failed\n", rows.size(), succeeded, failed);
  }
  std::fflush(out_);
}

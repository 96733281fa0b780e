#include "installer/console_progress.h"

#include "platform/format.h"
#include "platform/text.h"

void CConsoleProgress::SetRange(unsigned start, unsigned total) {
  total_ = total;
  position_ = start;
}

void CConsoleProgress::SetPosition(unsigned value) {
  if (value == position_) return;
  position_ = value;
  Print(Format("[%u/%u] %s", value, total_, path_.c_str()));
}

void CConsoleProgress::SetLine(int line, const std::string& text, bool) {
  if (line == 2) path_ = text;
  else if (line == 1) Print(text);
}

void CConsoleProgress::Print(const std::string& line) {
  std::fprintf(out_, "%s\n", Utf8ToLocale(line).c_str());
  std::fflush(out_);
}

// The installer's progress on a terminal, for the switches that install or
// uninstall and end (they need no display): the first line's text when it is
// set, then one line per step as the bar moves, "[step/total] path".
#pragma once
#include <cstdio>
#include <string>

#include "installer/progress_window.h"

class CConsoleProgress final : public IProgressWindow {
 public:
  explicit CConsoleProgress(std::FILE* out) : out_(out) {}

  void SetTitle(const std::string&) override {}
  void SetAnimation(int) override {}
  void SetTimeDisplay(bool) override {}
  void SetMinimizeButton(bool) override {}
  void SetProgressBar(bool) override {}
  void SetRange(unsigned start, unsigned total) override;
  void SetPosition(unsigned value) override;
  bool ShowModeless() override { return true; }
  void SetLine(int line, const std::string& text, bool compact) override;
  // Nobody can press Cancel here.
  bool HasUserCancelled() override { return false; }
  void Stop() override {}
  // "failed: " and the step, on its own line.
  void ShowFailedStep(const std::string& step) override { Print("failed: " + step); }

 private:
  void Print(const std::string& line);

  std::FILE* out_;
  unsigned total_ = 0;
  unsigned position_ = 0;
  std::string path_;
};

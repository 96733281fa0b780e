// Sends the process log into a fresh folder for one test and reads it back.
#pragma once
#include <string>

#include "shell/log.h"
#include "tests/support/temp_dir.h"

class LogCapture {
 public:
  LogCapture() {
    std::string folder = dir_.path();
    ProcessLog().Redirect(LogPlacement{[folder](const std::string& name) { return folder + "/" + name; }, "",
                                       [] { return std::optional<std::string>("test"); }});
  }
  ~LogCapture() { ProcessLog().Redirect(LogPlacement::Default()); }
  // The log as the writer thread has written it by now, every line logged
  // before the call included.
  std::string Text() const {
    ProcessLog().Flush();
    return ReadFile(ProcessLog().path());
  }
  // How many log lines contain `fragment`.
  int Count(const std::string& fragment) const {
    std::string text = Text();
    int n = 0;
    for (size_t at = text.find(fragment); at != std::string::npos; at = text.find(fragment, at + 1)) ++n;
    return n;
  }

 private:
  TempDir dir_;
};

// The tests that run vantor-cli against the virtual bench: Debian's fastboot
// must be there, and the project's sample package is generated into a folder.
#pragma once
#include <string>

#include "process/command_line.h"
#include "process/executor.h"

inline bool FastbootInstalled() { return ExecuteCommand("fastboot --version") == 0; }

inline bool MakeSamplePackage(const std::string& folder) {
  return ExecuteCommand(QuoteArgument(VANTOR_SOURCE_DIR "/scripts/make-sample-package") + " " + QuoteArgument(folder)) ==
         0;
}

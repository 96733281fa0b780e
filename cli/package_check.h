// A dry run over a flash package: every file a job of the mode would use is
// resolved and read by the same readers the jobs use (the flash programmer's
// HEX parsed, the boot image mapped, both XML files parsed with every image
// opened and every number read, the fastboot script found, the .qcn read
// whole), touching no phone.
#pragma once
#include <string>
#include <vector>

#include "jobs/dispatch.h"

enum class CheckMode { Emergency, Disk, Fastboot, Nv };

// "emergency", "disk", "fastboot", "nv"; false for any other word.
bool ParseCheckMode(const std::string& word, CheckMode* mode);
const char* CheckModeName(CheckMode mode);

// One file checked: what it was for, its path, and what was found (a
// summary when result succeeded).
struct PackageFinding {
  CheckMode mode;
  std::string role;  // "flash programmer", "rawprogram XML" ...
  std::string path;
  HRESULT result = S_OK;
  std::string found;
  std::string where;  // on failure: the reader's newest status text, if any
};

// The checks of one mode, in the order a job meets the files. A failed file
// does not stop the checks of the others.
std::vector<PackageFinding> CheckPackage(CheckMode mode, const JobSettings& settings);

// Reading a process's small files under /proc (stat, cmdline). The process
// may end at any moment: the kernel then answers the read with ESRCH.
#pragma once
#include <cstddef>
#include <string>

// What is read of a file at most: a stat line is far shorter, and of a
// command line only the first argument is wanted.
inline constexpr size_t kMaxProcFileBytes = 65536;

// The file into *text (its first kMaxProcFileBytes and a little more at the
// most); false when it cannot be opened or read.
bool ReadProcFile(const std::string& path, std::string* text);

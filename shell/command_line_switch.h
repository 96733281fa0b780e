// The switches of the program's command line: "-" or "/" followed by
// "RegServer", "UnregServer", "Automation" or "Embedding". The rest of the
// line after the "-" or "/" is compared with each name ignoring case, so a
// switch counts only as the last thing on the line.
#pragma once
#include <string>
#include <string_view>

enum class StartSwitch { None, RegServer, UnregServer, Automation };

StartSwitch ScanCommandLine(std::string_view commandLine);

// The whole command line of argv, program path included, as one line.
std::string JoinCommandLine(int argc, const char* const* argv);

// "--help" or "-h" as the only argument: the switches are printed instead of
// starting the program.
bool AsksForHelp(int argc, const char* const* argv);
// "--version" as the only argument: the version is printed instead.
bool AsksForVersion(int argc, const char* const* argv);
// The switches, one line each.
extern const char kStartSwitchHelp[];

#include "shell/command_line_switch.h"

#include "platform/text.h"
#include "process/command_line.h"

StartSwitch ScanCommandLine(std::string_view line) {
  for (size_t at = line.find_first_of("-/"); at != std::string_view::npos; at = line.find_first_of("-/", at + 1)) {
    std::string_view rest = line.substr(at + 1);
    if (EqualsIgnoreCase(rest, "UnregServer")) return StartSwitch::UnregServer;
    if (EqualsIgnoreCase(rest, "RegServer")) return StartSwitch::RegServer;
    if (EqualsIgnoreCase(rest, "Automation") || EqualsIgnoreCase(rest, "Embedding")) return StartSwitch::Automation;
  }
  return StartSwitch::None;
}

// The program path is quoted, as the system writes it; other arguments only
// when they would not stay one token.
std::string JoinCommandLine(int argc, const char* const* argv) {
  std::string line;
  for (int i = 0; i < argc; ++i) {
    std::string_view arg = argv[i];
    bool plain = i > 0 && !arg.empty() && arg.find_first_of(" \t\"") == std::string_view::npos;
    if (i > 0) line += ' ';
    line += plain ? std::string(arg) : QuoteArgument(arg);
  }
  return line;
}

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

bool AsksForHelp(int argc, const char* const* argv) {
  return argc == 2 && (std::string_view(argv[1]) == "--help" || std::string_view(argv[1]) == "-h");
}

bool AsksForVersion(int argc, const char* const* argv) {
  return argc == 2 && std::string_view(argv[1]) == "--version";
}

const char kStartSwitchHelp[] =
    "usage: vantor [/RegServer | /UnregServer | /Automation | /Embedding]\n"
    "  Without a switch: the main window (a second start raises the running one's window).\n"
    "  Each switch may begin with \"-\" or \"/\", in any letter case, and counts only as the last word.\n"
    "  /RegServer     install the components (udev rules, machine settings) and end\n"
    "  /UnregServer   remove the components and end\n"
    "  /Automation    serve the program's own automation objects, without a window, until no client is left\n"
    "  /Embedding     the same as /Automation\n"
    "  --help, -h     print this help and end\n"
    "  --version      print the version and end\n";

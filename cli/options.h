// The command table of vantor-cli: each subcommand is one CommandSpec with
// its options and their help lines; one parser and one help printer serve
// them all.
#pragma once
#include <cstdio>
#include <map>
#include <string>
#include <vector>

struct OptionSpec {
  const char* longName;   // without the leading "--"
  char shortName;         // 0 for none
  const char* valueName;  // nullptr for a flag that takes no value
  const char* help;       // one line
  bool repeatable = false;
  bool required = false;
};

class ParsedOptions {
 public:
  bool Has(const std::string& longName) const { return values_.count(longName) != 0; }
  // The last value given, or fallback when the option was not given.
  std::string Value(const std::string& longName, const std::string& fallback = "") const;
  // Every value given, in order.
  std::vector<std::string> Values(const std::string& longName) const;
  void Add(const std::string& longName, std::string value) { values_[longName].push_back(std::move(value)); }

 private:
  std::map<std::string, std::vector<std::string>> values_;
};

struct CommandSpec {
  const char* name;
  const char* summary;  // one line, for the command list
  std::vector<OptionSpec> options;
  int (*run)(const ParsedOptions& options);
};

enum class ParseOutcome { Run, Help, UsageError };

// Reads the words after the command's name. "--name VALUE", "--name=VALUE",
// "-x VALUE" and "-xVALUE" set an option; "-h" or "--help" anywhere before
// "--" asks for help; "--" ends the options. On a usage error, *error names
// the offending word.
ParseOutcome ParseOptions(const CommandSpec& command, const std::vector<std::string>& words, ParsedOptions* parsed,
                          std::string* error);

// "usage: vantor-cli NAME [OPTIONS]", the summary, then one line per option.
void PrintCommandHelp(const CommandSpec& command, std::FILE* out);
// The commands, one line each.
void PrintProgramHelp(const std::vector<const CommandSpec*>& commands, std::FILE* out);

// Runs argv against the table: help or the version (exit 0), a usage error
// naming the offending word (exit 2), or the command's own exit status.
int RunCommandLine(const std::vector<const CommandSpec*>& commands, int argc, char** argv);

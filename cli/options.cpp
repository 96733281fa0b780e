#include "cli/options.h"

#include <algorithm>
#include <cstring>

#include "platform/version.h"

namespace {

const OptionSpec kHelpOption{"help", 'h', nullptr, "print this help and exit"};

const OptionSpec* FindLong(const CommandSpec& command, const std::string& name) {
  for (const OptionSpec& o : command.options)
    if (name == o.longName) return &o;
  return nullptr;
}

const OptionSpec* FindShort(const CommandSpec& command, char name) {
  for (const OptionSpec& o : command.options)
    if (o.shortName != 0 && o.shortName == name) return &o;
  return nullptr;
}

std::string Quoted(const std::string& word) { return "\"" + word + "\""; }

// "-p, --package DIR" for the help's left column.
std::string OptionTitle(const OptionSpec& o) {
  std::string title = o.shortName ? std::string("-") + o.shortName + ", " : "    ";
  title += std::string("--") + o.longName;
  if (o.valueName) title += std::string(" ") + o.valueName;
  return title;
}

void PrintOptionLine(const OptionSpec& o, size_t column, std::FILE* out) {
  std::string title = OptionTitle(o);
  std::fprintf(out, "  %-*s  %s%s\n", static_cast<int>(column), title.c_str(), o.help,
               o.repeatable ? " (may be repeated)" : "");
}

}  // namespace

std::string ParsedOptions::Value(const std::string& longName, const std::string& fallback) const {
  auto it = values_.find(longName);
  return it == values_.end() || it->second.empty() ? fallback : it->second.back();
}

std::vector<std::string> ParsedOptions::Values(const std::string& longName) const {
  auto it = values_.find(longName);
  return it == values_.end() ? std::vector<std::string>{} : it->second;
}

ParseOutcome ParseOptions(const CommandSpec& command, const std::vector<std::string>& words, ParsedOptions* parsed,
                          std::string* error) {
  auto optionsEnd = std::find(words.begin(), words.end(), "--");
  if (std::any_of(words.begin(), optionsEnd, [](const std::string& w) { return w == "-h" || w == "--help"; }))
    return ParseOutcome::Help;
  for (size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    const OptionSpec* option = nullptr;
    std::string value;
    bool inlineValue = false;
    if (word == "--") {
      // The options end here; no command takes operands.
      if (i + 1 < words.size()) {
        *error = "unexpected argument " + Quoted(words[i + 1]);
        return ParseOutcome::UsageError;
      }
      break;
    }
    if (word.rfind("--", 0) == 0 && word.size() > 2) {
      size_t equals = word.find('=');
      option = FindLong(command, word.substr(2, equals == std::string::npos ? std::string::npos : equals - 2));
      if (option && equals != std::string::npos) {
        value = word.substr(equals + 1);
        inlineValue = true;
      }
    } else if (word.size() >= 2 && word[0] == '-' && word[1] != '-') {
      // "-x", or "-xVALUE" for an option that takes a value.
      option = FindShort(command, word[1]);
      if (option && word.size() > 2) {
        if (!option->valueName) {
          *error = "unknown option " + Quoted(word);
          return ParseOutcome::UsageError;
        }
        value = word.substr(2);
        inlineValue = true;
      }
    } else {
      *error = "unexpected argument " + Quoted(word);
      return ParseOutcome::UsageError;
    }
    if (!option) {
      *error = "unknown option " + Quoted(word);
      return ParseOutcome::UsageError;
    }
    if (!option->valueName) {
      if (inlineValue) {
        *error = "option " + Quoted(word) + " takes no value";
        return ParseOutcome::UsageError;
      }
      parsed->Add(option->longName, "");
      continue;
    }
    if (!inlineValue) {
      if (i + 1 >= words.size()) {
        *error = "option " + Quoted(word) + " needs a value (" + option->valueName + ")";
        return ParseOutcome::UsageError;
      }
      value = words[++i];
    }
    parsed->Add(option->longName, std::move(value));
  }
  for (const OptionSpec& o : command.options) {
    if (o.required && !parsed->Has(o.longName)) {
      *error = "option " + Quoted(std::string("--") + o.longName) + " is required";
      return ParseOutcome::UsageError;
    }
  }
  return ParseOutcome::Run;
}

void PrintCommandHelp(const CommandSpec& command, std::FILE* out) {
  std::fprintf(out, "usage: vantor-cli %s%s\n  %s\n\noptions:\n", command.name,
               command.options.empty() ? "" : " [OPTIONS]", command.summary);
  size_t column = OptionTitle(kHelpOption).size();
  for (const OptionSpec& o : command.options) column = std::max(column, OptionTitle(o).size());
  for (const OptionSpec& o : command.options) PrintOptionLine(o, column, out);
  PrintOptionLine(kHelpOption, column, out);
}

void PrintProgramHelp(const std::vector<const CommandSpec*>& commands, std::FILE* out) {
  std::fprintf(out, "usage: vantor-cli COMMAND [OPTIONS]\n\ncommands:\n");
  size_t column = 0;
  for (const CommandSpec* c : commands) column = std::max(column, std::strlen(c->name));
  for (const CommandSpec* c : commands) std::fprintf(out, "  %-*s  %s\n", static_cast<int>(column), c->name, c->summary);
  std::fprintf(out, "\n\"vantor-cli COMMAND --help\" prints the options of a command, \"vantor-cli --version\" the version.\n");
}

int RunCommandLine(const std::vector<const CommandSpec*>& commands, int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "vantor-cli: a command is needed\n");
    PrintProgramHelp(commands, stderr);
    return 2;
  }
  std::string name = argv[1];
  if (name == "--help" || name == "-h" || name == "help") {
    PrintProgramHelp(commands, stdout);
    return 0;
  }
  if (name == "--version") {
    std::printf("vantor-cli %s\n", VANTOR_VERSION);
    return 0;
  }
  auto it = std::find_if(commands.begin(), commands.end(), [&](const CommandSpec* c) { return name == c->name; });
  if (it == commands.end()) {
    std::fprintf(stderr, "vantor-cli: unknown command \"%s\"\n", name.c_str());
    PrintProgramHelp(commands, stderr);
    return 2;
  }
  const CommandSpec& command = **it;
  ParsedOptions parsed;
  std::string error;
  switch (ParseOptions(command, std::vector<std::string>(argv + 2, argv + argc), &parsed, &error)) {
    case ParseOutcome::Help:
      PrintCommandHelp(command, stdout);
      return 0;
    case ParseOutcome::UsageError:
      std::fprintf(stderr, "vantor-cli %s: %s\n\"vantor-cli %s --help\" lists its options.\n", command.name,
                   error.c_str(), command.name);
      return 2;
    case ParseOutcome::Run:
      break;
  }
  return command.run(parsed);
}

#include "process/command_line.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

size_t SkipBlanks(std::string_view line, size_t i) {
  while (i < line.size() && IsBlank(line[i])) ++i;
  return i;
}

// The program name: no backslash rules; quotes only group.
size_t ReadProgram(std::string_view line, size_t i, std::string* out) {
  if (i < line.size() && line[i] == '"') {
    size_t close = line.find('"', i + 1);
    if (close == std::string_view::npos) close = line.size();
    *out = std::string(line.substr(i + 1, close - i - 1));
    return close < line.size() ? close + 1 : close;
  }
  size_t end = i;
  while (end < line.size() && !IsBlank(line[end])) ++end;
  *out = std::string(line.substr(i, end - i));
  return end;
}

size_t ReadArgument(std::string_view line, size_t i, std::string* out) {
  bool quoted = false;
  while (i < line.size() && (quoted || !IsBlank(line[i]))) {
    if (line[i] == '\\') {
      size_t run = 0;
      while (i < line.size() && line[i] == '\\') ++run, ++i;
      if (i < line.size() && line[i] == '"') {
        out->append(run / 2, '\\');
        if (run % 2 == 1) {
          *out += '"';
          ++i;
        }
      } else {
        out->append(run, '\\');
      }
      continue;
    }
    if (line[i] == '"') {
      if (quoted && i + 1 < line.size() && line[i + 1] == '"') {
        *out += '"';
        i += 2;
        continue;
      }
      quoted = !quoted;
      ++i;
      continue;
    }
    *out += line[i++];
  }
  return i;
}

}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view line) {
  std::vector<std::string> args;
  size_t i = SkipBlanks(line, 0);
  if (i >= line.size()) return args;
  std::string program;
  i = ReadProgram(line, i, &program);
  args.push_back(std::move(program));
  for (i = SkipBlanks(line, i); i < line.size(); i = SkipBlanks(line, i)) {
    std::string arg;
    i = ReadArgument(line, i, &arg);
    args.push_back(std::move(arg));
  }
  return args;
}

std::string QuoteArgument(std::string_view argument) {
  std::string out = "\"";
  size_t backslashes = 0;
  for (char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') {
      out.append(backslashes * 2 + 1, '\\');
    } else {
      out.append(backslashes, '\\');
    }
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, '\\');
  return out + '"';
}

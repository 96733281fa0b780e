#include "process/path_list.h"

namespace {

bool IsBlankEntry(std::string_view entry, std::string_view blanks) {
  return entry.find_first_not_of(blanks) == std::string_view::npos;
}

}  // namespace

std::vector<std::string> SplitPathList(std::string_view list) {
  std::vector<std::string> entries;
  size_t start = 0;
  while (start <= list.size()) {
    size_t end = list.find(';', start);
    if (end == std::string_view::npos) end = list.size();
    std::string_view entry = list.substr(start, end - start);
    if (!IsBlankEntry(entry, " \t\r\n")) entries.emplace_back(entry);
    start = end + 1;
  }
  return entries;
}

std::string JoinPathList(const std::vector<std::string>& entries) {
  std::string out;
  for (const std::string& entry : entries) {
    if (IsBlankEntry(entry, "; \t\r\n")) continue;
    if (!out.empty()) out += ';';
    out += entry;
  }
  return out;
}

std::string MergePathLists(std::string_view first, std::string_view second) {
  std::vector<std::string> entries = SplitPathList(first);
  for (std::string& entry : SplitPathList(second)) entries.push_back(std::move(entry));
  return JoinPathList(entries);
}

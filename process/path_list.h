// Folder lists: folders separated by ";".
#pragma once
#include <string>
#include <string_view>
#include <vector>

// The tokens between ";" characters; an entry that is empty or only blanks,
// TABs, CR and LF is dropped; other entries keep their blanks.
std::vector<std::string> SplitPathList(std::string_view list);
// Non-blank entries (blank as above, also counting ";"), joined by ";".
std::string JoinPathList(const std::vector<std::string>& entries);
// The entries of first followed by those of second.
std::string MergePathLists(std::string_view first, std::string_view second);

// Replacing a file's contents so that a reader, or the file after a crash,
// holds the old contents or the new ones, never a part: write a temporary
// beside it, flush it, rename it over the file, flush the folder.
#pragma once
#include <sys/types.h>

#include <string>
#include <string_view>

// 0, or the errno of the step that failed (the temporary is then removed).
int ReplaceFileDurably(const std::string& path, std::string_view contents, mode_t mode);

// Where the running program lives.
#pragma once
#include <string>

// The full path of the running executable ("" when it cannot be read).
std::string ExecutablePath();
// Its folder: the path with the file name removed ("" when unknown).
std::string ExecutableFolder();

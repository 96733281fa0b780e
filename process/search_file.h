// Finding a file given by a relative name.
#pragma once
#include <string>
#include <string_view>
#include <vector>

// The default folders, in order: the executable's folder, the current
// folder, each PATH entry, /usr/local/share/vantor, /usr/share/vantor (the
// places where the shared data of an installed program lives).
std::vector<std::string> DefaultSearchFolders();

// An absolute name is returned unchanged. A relative name is looked for in
// each folder of the list (";"-separated; an empty or all-blank list means the
// default folders): the first candidate that exists wins; when none exists,
// the candidate in the first folder is returned. "" when there is no folder.
std::string SearchFile(std::string_view folderList, std::string_view name);
std::string SearchFile(const std::vector<std::string>& folders, std::string_view name);

// As SearchFile, but a name holding a glob ("prog_*firehose*") names the
// first matching file, in name order, of the first folder that has one; the
// name itself is returned when nothing matches.
std::string SearchFilePattern(std::string_view folderList, std::string_view pattern);

// The folder joined with the name by one "/".
std::string AppendPath(std::string_view folder, std::string_view name);

// The native architecture name: PROCESSOR_ARCHITEW6432 when set and not
// empty, else PROCESSOR_ARCHITECTURE, else the kernel's machine name (for
// example "x86_64"), as the udev rules folders are named.
std::string GetNativeArchitecture();

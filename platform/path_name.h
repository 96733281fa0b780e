// The two halves of a path, by its last "/".
#pragma once
#include <filesystem>
#include <string>

// The folder that holds path: "." for a bare name, "/" for a name in the
// root. Trailing slashes do not count as a last part.
inline std::string ParentFolder(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The last part of path: the file's own name.
inline std::string FileName(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The folder above folder as the path-append rule gives it: ".." is
// appended and the "." and "name/.." parts are removed, without asking the
// file system. "a/b" -> "a", "a" -> ".", "." -> "..", "x/.." -> "..",
// "/" -> "/".
inline std::string ParentOfFolder(const std::string& folder) {
  std::string parent = (std::filesystem::path(folder) / "..").lexically_normal().string();
  if (parent.size() > 1 && parent.back() == '/') parent.pop_back();
  return parent.empty() ? "." : parent;
}

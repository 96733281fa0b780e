// The files a flash package's rawprogram XML names, as a job's record lists
// them.
#pragma once
#include <string>
#include <vector>

// Each file a rawprogram XML names, found over the search paths, in document
// order; none when the file cannot be read.
std::vector<std::string> RawprogramFiles(const std::string& rawprogramXml, const std::string& searchPaths);

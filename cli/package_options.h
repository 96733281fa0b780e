// The options that name a flash package, shared by the commands that read
// one (flash and check): the folder list and the six file names, each over
// the setting the window stored (never written here).
#pragma once
#include <string>
#include <vector>

#include "cli/options.h"
#include "jobs/job_settings.h"

extern const OptionSpec kPackageOption;

// --nv, --script, --programmer, --boot, --rawprogram and --patch.
std::vector<OptionSpec> FileOptionSpecs();

// The folder list: -p, else the stored one.
std::string ReadPackageOption(const ParsedOptions& parsed);
// The stored file settings with the options over them.
FileSettings ReadFileOptions(const ParsedOptions& parsed);
// Whether any folder of the list exists.
bool AnyPackageFolderExists(const std::string& package);

// The options that name a flash package, shared by the commands that read
// one (flash and check): the folder list and the seven file names, each over
// the setting the window stored (never written here); and for flash the
// storage type of a Firehose phone.
#pragma once
#include <string>
#include <vector>

#include "cli/options.h"
#include "jobs/job_settings.h"

extern const OptionSpec kPackageOption;
extern const OptionSpec kFirehoseMemoryOption;

// --nv, --script, --programmer, --boot, --rawprogram, --patch and
// --firehose-programmer.
std::vector<OptionSpec> FileOptionSpecs();

// The folder list: -p, else the stored one.
std::string ReadPackageOption(const ParsedOptions& parsed);
// The stored file settings and storage type with the options over them.
FileSettings ReadFileOptions(const ParsedOptions& parsed);
// "" when the storage type is "", eMMC or UFS in any case; else the
// message that refuses it, naming the option or the stored setting.
std::string FirehoseMemoryError(const ParsedOptions& parsed, const FileSettings& files);
// Whether any folder of the list exists.
bool AnyPackageFolderExists(const std::string& package);

#include "cli/package_options.h"

#include <unistd.h>

#include "cli/text_output.h"
#include "firehose/firehose_package.h"
#include "process/path_list.h"
#include "shell/settings.h"

namespace {

struct FileOption {
  OptionSpec spec;
  std::string FileSettings::*field;
  const SettingName* setting;
};

const FileOption kFileOptions[] = {
    {{"nv", 0, "FILE", "the NV item file (default: the stored setting, kelva-factory.qcn)"}, &FileSettings::nvItemFile,
     &kNvItemFileSetting},
    {{"script", 0, "FILE", "the fastboot script (default: the stored setting, flash_all.sh)"},
     &FileSettings::fastbootScript, &kBatchFileSetting},
    {{"programmer", 0, "FILE", "the flash programmer (default: the stored setting, MPRG8660.hex)"},
     &FileSettings::flashProgrammer, &kProgrammerSetting},
    {{"boot", 0, "FILE", "the boot image (default: the stored setting, 8660_msimage.mbn)"}, &FileSettings::bootImage,
     &kBootImageSetting},
    {{"rawprogram", 0, "FILE", "the rawprogram XML (default: the stored setting, rawprogram0.xml)"},
     &FileSettings::rawprogramXml, &kRawFileSetting},
    {{"patch", 0, "FILE", "the patch XML (default: the stored setting, patch0.xml)"}, &FileSettings::patchXml,
     &kPatchFileSetting},
    {{"firehose-programmer", 0, "FILE",
      "the Sahara/Firehose programmer, a glob allowed (default: the stored setting, prog_*firehose*)"},
     &FileSettings::firehoseProgrammer, &kFirehoseProgrammerSetting},
};

}  // namespace

const OptionSpec kPackageOption{"package", 'p', "DIR[;DIR]",
                                "the package folders (default: the folder list stored by the window)"};
const OptionSpec kFirehoseMemoryOption{
    "firehose-memory", 0, "emmc|ufs",
    "the storage a Firehose phone is configured for (default: the stored setting, else by the package's sector size)"};

std::vector<OptionSpec> FileOptionSpecs() {
  std::vector<OptionSpec> options;
  for (const FileOption& f : kFileOptions) options.push_back(f.spec);
  return options;
}

std::string ReadPackageOption(const ParsedOptions& parsed) {
  return parsed.Value(kPackageOption.longName, ReadSetting(kSearchPathSetting));
}

FileSettings ReadFileOptions(const ParsedOptions& parsed) {
  FileSettings files;
  for (const FileOption& f : kFileOptions) files.*f.field = parsed.Value(f.spec.longName, ReadSetting(*f.setting));
  files.firehoseMemory = parsed.Value(kFirehoseMemoryOption.longName, ReadSetting(kFirehoseMemorySetting));
  return files;
}

std::string FirehoseMemoryError(const ParsedOptions& parsed, const FileSettings& files) {
  std::string memory;
  if (FirehoseMemoryName(files.firehoseMemory, &memory)) return "";
  const std::string source = parsed.Has(kFirehoseMemoryOption.longName)
                                 ? std::string("--") + kFirehoseMemoryOption.longName
                                 : std::string("the stored storage type");
  return source + " \"" + PrintableText(files.firehoseMemory) + "\" is neither emmc nor ufs";
}

bool AnyPackageFolderExists(const std::string& package) {
  for (const std::string& folder : SplitPathList(package))
    if (::access(folder.c_str(), F_OK) == 0) return true;
  return false;
}

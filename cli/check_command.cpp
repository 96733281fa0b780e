#include "cli/check_command.h"

#include <cstdio>
#include <string>
#include <vector>

#include "cli/package_check.h"
#include "cli/package_options.h"
#include "cli/text_output.h"
#include "platform/error_text.h"
#include "platform/format.h"

namespace {

std::vector<OptionSpec> CheckOptions() {
  std::vector<OptionSpec> options = {kPackageOption};
  options.push_back({"mode", 'm', "MODE", "emergency, disk, fastboot or nv (default: all four)"});
  for (const OptionSpec& o : FileOptionSpecs()) options.push_back(o);
  return options;
}

// "ok      disk       rawprogram XML \"PATH\": what was found", or the
// failure with its code and where the reader stopped.
std::string FindingLine(const PackageFinding& f) {
  std::string head = Format("%-9s %-16s \"%s\": ", CheckModeName(f.mode), f.role.c_str(), f.path.c_str());
  if (SUCCEEDED(f.result)) return "ok      " + PrintableText(head + f.found) + "\n";
  unsigned code = static_cast<unsigned>(f.result);
  std::string where = f.where.empty() ? "" : ": " + f.where;
  return "FAILED  " + PrintableText(head + GetErrorText(f.result) + Format("(0x%08x", code) + where + ")") + "\n";
}

int RunCheck(const ParsedOptions& parsed) {
  std::vector<CheckMode> modes = {CheckMode::Emergency, CheckMode::Disk, CheckMode::Fastboot, CheckMode::Nv};
  if (parsed.Has("mode")) {
    CheckMode mode;
    if (!ParseCheckMode(parsed.Value("mode"), &mode)) {
      std::fprintf(stderr, "vantor-cli check: --mode \"%s\" is none of emergency, disk, fastboot, nv\n",
                   PrintableText(parsed.Value("mode")).c_str());
      return 2;
    }
    modes = {mode};
  }
  std::string package = ReadPackageOption(parsed);
  if (!AnyPackageFolderExists(package)) {
    std::fprintf(stderr, "vantor-cli check: no package folder of \"%s\" exists\n", PrintableText(package).c_str());
    return 2;
  }
  JobSettings settings = BuildJobSettings(package, ReadFileOptions(parsed));
  int failed = 0;
  for (CheckMode mode : modes) {
    for (const PackageFinding& f : CheckPackage(mode, settings)) {
      failed += FAILED(f.result);
      std::fputs(FindingLine(f).c_str(), stdout);
    }
  }
  std::printf("%s\n", failed == 0 ? "the package passed every check" : Format("%d checks failed", failed).c_str());
  return failed == 0 ? 0 : 1;
}

}  // namespace

const CommandSpec kCheckCommand{
    "check", "check a package as the jobs would read it (files, XML, numbers, script, .qcn), touching no phone",
    CheckOptions(), RunCheck};

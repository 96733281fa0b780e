#include "cli/package_check.h"

#include <unistd.h>

#include "cli/print_sink.h"
#include "download/boot_image.h"
#include "download/package_check.h"
#include "download/intel_hex.h"
#include "download/streaming.h"
#include "nv/qcn_file.h"
#include "platform/com/comptr.h"
#include "platform/format.h"
#include "shell/log.h"

namespace {

constexpr const char* kName = "CheckPackage";

// Whether the file is there to be read: its own error, before a reader
// turns it into one of format.
HRESULT Readable(const std::string& path) {
  if (path.empty()) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  return ::access(path.c_str(), R_OK) == 0 ? S_OK : HresultFromLastErrno();
}

PackageFinding CheckProgrammer(const std::string& path) {
  PackageFinding f{CheckMode::Emergency, "flash programmer", path};
  ProgrammerImage image;
  f.result = Readable(path);
  if (SUCCEEDED(f.result)) f.result = LoadIntelHex(path, &image);
  size_t bytes = 0;
  for (const auto& [address, block] : image.blocks) bytes += block.size();
  f.found = Format("%zu blocks, %zu bytes, entry 0x%08x", image.blocks.size(), bytes, image.entryPoint);
  return f;
}

PackageFinding CheckBootImage(const std::string& path) {
  PackageFinding f{CheckMode::Emergency, "boot image", path};
  BootImage image;
  f.result = OpenBootImage(path, &image);
  f.found = Format("%llu bytes", static_cast<unsigned long long>(image.size()));
  return f;
}

// The numbers are read and checked; the ranges cannot be without a disk.
PackageFinding CheckRawprogram(CheckMode mode, const std::string& path, const std::string& searchPaths) {
  PackageFinding f{mode, "rawprogram XML", path};
  std::vector<PackageImage> programs;
  f.result = ReadProgramElements(path, searchPaths, &programs, &f.where);
  unsigned long long bytes = 0;
  for (const PackageImage& p : programs) bytes += p.fileBytes;
  f.found = Format("%zu images found and opened, %llu bytes", programs.size(), bytes);
  return f;
}

PackageFinding CheckPatch(CheckMode mode, const std::string& path) {
  PackageFinding f{mode, "patch XML", path};
  std::vector<PackagePatch> patches;
  f.result = Readable(path);
  if (SUCCEEDED(f.result)) f.result = ReadPatchElements(path, &patches);
  f.found = Format("%zu patches of the disk", patches.size());
  return f;
}

PackageFinding CheckScript(const std::string& path) {
  PackageFinding f{CheckMode::Fastboot, "fastboot script", path};
  f.result = Readable(path);
  f.found = "found";
  return f;
}

PackageFinding CheckNvItems(const std::string& path) {
  PackageFinding f{CheckMode::Nv, "NV item file", path};
  QcnContents contents;
  f.result = Readable(path);
  if (SUCCEEDED(f.result)) f.result = ReadQcnFile(path, &contents);
  f.found = Format("%zu NV items, %zu and %zu per subscription", contents.items.size(),
                   contents.contextItems[0].size(), contents.contextItems[1].size());
  return f;
}

}  // namespace

bool ParseCheckMode(const std::string& word, CheckMode* mode) {
  for (CheckMode m : {CheckMode::Emergency, CheckMode::Disk, CheckMode::Fastboot, CheckMode::Nv}) {
    if (word == CheckModeName(m)) {
      *mode = m;
      return true;
    }
  }
  return false;
}

const char* CheckModeName(CheckMode mode) {
  switch (mode) {
    case CheckMode::Emergency: return "emergency";
    case CheckMode::Disk: return "disk";
    case CheckMode::Fastboot: return "fastboot";
    case CheckMode::Nv: return "nv";
  }
  return "";
}

std::vector<PackageFinding> CheckPackage(CheckMode mode, const JobSettings& s) {
  std::vector<PackageFinding> findings;
  switch (mode) {
    case CheckMode::Emergency:
      findings.push_back(CheckProgrammer(s.flashProgrammer));
      findings.push_back(CheckBootImage(s.bootImage));
      [[fallthrough]];  // then the disk, as the emergency download writes it
    case CheckMode::Disk:
      findings.push_back(CheckRawprogram(mode, s.rawprogramXml, s.searchPaths));
      findings.push_back(CheckPatch(mode, s.patchXml));
      break;
    case CheckMode::Fastboot:
      findings.push_back(CheckScript(s.fastbootScript));
      break;
    case CheckMode::Nv:
      findings.push_back(CheckNvItems(s.nvItemFile));
      break;
  }
  for (const PackageFinding& f : findings) TraceResult(f.result, kName, __LINE__);
  return findings;
}

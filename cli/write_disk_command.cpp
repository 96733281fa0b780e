#include "cli/write_disk_command.h"

#include <cstdio>
#include <string>

#include "cli/print_sink.h"
#include "download/disk_writer.h"
#include "platform/com/comptr.h"
#include "platform/error_text.h"
#include "platform/path_name.h"

namespace {

// One disk image run: the files of the rawprogram XML, then its patches. The
// files are looked for in --search, or else in the rawprogram file's folder.
int RunWriteDisk(const ParsedOptions& parsed) {
  std::string disk = parsed.Value("disk"), rawprogram = parsed.Value("rawprogram");
  std::string search = parsed.Value("search", ParentFolder(rawprogram));
  CComObject<CPrintSink>* raw = nullptr;
  HRESULT hr = CComObject<CPrintSink>::CreateInstance(&raw);
  if (FAILED(hr)) {
    PrintCommandFailure("write-disk", hr, "");
    return 1;
  }
  ComPtr<IQStatusReport> sink(raw);
  raw->Init(disk, stdout);
  hr = DownloadToDiskDrive(disk, rawprogram, parsed.Value("patch"), search, sink.Get());
  if (FAILED(hr)) {
    PrintCommandFailure("write-disk", hr, raw->newest());
    return 1;
  }
  return 0;
}

}  // namespace

const CommandSpec kWriteDiskCommand{
    "write-disk",
    "write the files of a rawprogram XML onto a phone's USB disk, then apply its patches",
    {{"disk", 0, "PATH", "the phone's disk (/dev/sdX, or a bench disk file)", false, true},
     {"rawprogram", 0, "XML", "the rawprogram XML", false, true},
     {"patch", 0, "XML", "the patch XML", false, true},
     {"search", 0, "DIR[;DIR]", "the folders holding the images (default: the rawprogram file's folder)"}},
    RunWriteDisk};

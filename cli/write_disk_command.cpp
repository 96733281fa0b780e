#include "cli/write_disk_command.h"

#include <cstdio>
#include <map>
#include <string>

#include "cli/print_sink.h"
#include "download/disk_writer.h"
#include "platform/com/comptr.h"
#include "platform/error_text.h"

namespace {

void Usage() {
  std::fprintf(stderr, "usage: vantor-cli write-disk --disk PATH --rawprogram XML --patch XML [--search \"DIR;DIR\"]\n");
}

}  // namespace

// One disk image run: the files of the rawprogram XML, then its patches.
int RunWriteDiskCommand(int argc, char** argv) {
  std::map<std::string, std::string> options = {{"--disk", ""}, {"--rawprogram", ""}, {"--patch", ""}, {"--search", ""}};
  for (int i = 0; i < argc; ++i) {
    auto it = options.find(argv[i]);
    if (it == options.end() || i + 1 >= argc) {
      Usage();
      return 2;
    }
    it->second = argv[++i];
  }
  if (options["--disk"].empty() || options["--rawprogram"].empty() || options["--patch"].empty()) {
    Usage();
    return 2;
  }
  CComObject<CPrintSink>* raw = nullptr;
  HRESULT hr = CComObject<CPrintSink>::CreateInstance(&raw);
  if (SUCCEEDED(hr)) {
    ComPtr<IQStatusReport> sink(raw);
    raw->Init(options["--disk"], stdout);
    hr = DownloadToDiskDrive(options["--disk"], options["--rawprogram"], options["--patch"], options["--search"],
                             sink.Get());
  }
  if (FAILED(hr)) {
    std::printf("error: %s(0x%08x)\n", GetErrorText(hr).c_str(), static_cast<unsigned>(hr));
    return 1;
  }
  return 0;
}

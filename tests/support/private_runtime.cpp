// Every test process gets a runtime folder of its own, so the phone locks of
// jobs with made-up identifiers ("diag1", "COM7") in test processes that run
// at the same time never meet. Programs a test starts inherit the folder, so
// locks still meet between a test and its own children.
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <string>

namespace {

struct PrivateRuntimeFolder {
  PrivateRuntimeFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vantor-runtime-XXXXXX").string();
    if (::mkdtemp(pattern.data())) {
      path = pattern;
      owner = ::getpid();
      ::setenv("XDG_RUNTIME_DIR", path.c_str(), 1);
    }
  }
  ~PrivateRuntimeFolder() {
    std::error_code ec;
    if (!path.empty() && owner == ::getpid()) std::filesystem::remove_all(path, ec);  // not a forked copy
  }
  std::string path;
  pid_t owner = 0;
};

PrivateRuntimeFolder folder;

}  // namespace

// Linked into every test program: puts the folder of stand-ins first on PATH
// before any test runs, so that no test, nor any program a test starts,
// reaches the machine's own udevadm.
#include <cstdlib>
#include <string>

namespace {

const bool kStandInsFirst = [] {
  const char* path = std::getenv("PATH");
  std::string value = std::string(VANTOR_STAND_INS) + ":" + (path ? path : "/usr/bin:/bin");
  return ::setenv("PATH", value.c_str(), 1) == 0;
}();

}  // namespace

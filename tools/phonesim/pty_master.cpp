#include "tools/phonesim/pty_master.h"

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace phonesim {

int OpenRawPtyMaster(std::string* slavePath, std::string* error) {
  int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  char name[128];
  if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0 || ::ptsname_r(master, name, sizeof name) != 0) {
    if (error) *error = std::string("cannot open a pseudo-terminal: ") + std::strerror(errno);
    if (master >= 0) ::close(master);
    return -1;
  }
  termios tio{};
  ::tcgetattr(master, &tio);
  ::cfmakeraw(&tio);
  ::tcsetattr(master, TCSANOW, &tio);
  *slavePath = name;
  return master;
}

}  // namespace phonesim

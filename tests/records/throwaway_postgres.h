// A PostgreSQL server of its own for a test binary: initdb and pg_ctl from
// Debian's postgresql package on a temporary folder, listening on a free
// loopback port. PostgreSQL refuses to run as root, so under root (as in CI)
// the server runs as "nobody" in a folder that user owns (under /tmp, which
// every user can reach, whatever TMPDIR says).
#pragma once
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "process/command_line.h"
#include "process/executor.h"
#include "tests/support/temp_dir.h"

class ThrowawayPostgres {
 public:
  // The folder of initdb and pg_ctl: the newest /usr/lib/postgresql/*/bin.
  static std::string BinFolder() {
    std::string best;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/usr/lib/postgresql", ec)) {
      std::string bin = entry.path().string() + "/bin";
      if (std::filesystem::exists(bin + "/pg_ctl") && bin > best) best = bin;
    }
    return best;
  }

  // Creates the cluster and starts it; false (with *why) when that fails.
  bool Start(std::string* why) {
    bin_ = BinFolder();
    if (bin_.empty()) return Fail(why, "no /usr/lib/postgresql/*/bin/pg_ctl");
    port_ = FreePort();
    if (::geteuid() == 0) {
      struct passwd* nobody = ::getpwnam("nobody");
      if (!nobody) return Fail(why, "no user nobody");
      std::filesystem::permissions(dir_.path(), std::filesystem::perms::all);
      if (::chown(dir_.path().c_str(), nobody->pw_uid, nobody->pw_gid) != 0) return Fail(why, "chown failed");
      runAs_ = (std::filesystem::exists("/usr/sbin/runuser") ? "/usr/sbin/runuser" : "runuser") +
               std::string(" -u nobody -- ");
    }
    std::string out;
    HRESULT hr = ExecuteCommand(runAs_ + QuoteArgument(bin_ + "/initdb") + " --no-sync -A trust -U vantor -E UTF8 -D " +
                                    QuoteArgument(data()),
                                &out);
    if (hr != 0) return Fail(why, "initdb: " + out);
    return Run("start", why);
  }
  bool Stop(std::string* why = nullptr) { return Run("stop", why); }
  bool Restart(std::string* why = nullptr) { return Run("start", why); }
  ~ThrowawayPostgres() {
    if (!bin_.empty()) ExecuteCommand(runAs_ + QuoteArgument(bin_ + "/pg_ctl") + " -D " + QuoteArgument(data()) +
                                      " -m immediate -w stop");
  }

  std::string Url(const std::string& user = "vantor") const {
    return "host=127.0.0.1 port=" + std::to_string(port_) + " user=" + user + " dbname=postgres";
  }
  int port() const { return port_; }

 private:
  std::string data() const { return dir_.path() + "/data"; }

  bool Run(const std::string& verb, std::string* why) {
    std::string options = "-p " + std::to_string(port_) + " -k " + dir_.path() +
                          " -c listen_addresses=127.0.0.1 -c fsync=off -c synchronous_commit=off";
    std::string out;
    HRESULT hr = ExecuteCommand(runAs_ + QuoteArgument(bin_ + "/pg_ctl") + " -D " + QuoteArgument(data()) + " -l " +
                                    QuoteArgument(dir_.path() + "/server.log") + " -o " + QuoteArgument(options) +
                                    " -m fast -w -t 60 " + verb,
                                &out);
    if (hr != 0) return Fail(why, "pg_ctl " + verb + ": " + out + ReadFile(dir_.path() + "/server.log"));
    return true;
  }

  static bool Fail(std::string* why, const std::string& text) {
    if (why) *why = text;
    return false;
  }

  static int FreePort() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    ::close(fd);
    return ntohs(address.sin_port);
  }

  ScopedEnv tmp_{"TMPDIR", "/tmp"};
  TempDir dir_;
  std::string bin_;
  std::string runAs_;
  int port_ = 0;
};

#include "flashers/fastboot_flasher.h"

#include <unistd.h>

#include <cerrno>

#include "flashers/hand_out.h"
#include "platform/path_name.h"
#include "platform/text.h"
#include "platform/timing.h"
#include "process/command_line.h"
#include "process/executor.h"
#include "process/process_tree.h"
#include "process/search_file.h"
#include "shell/log.h"

namespace {

struct Weight {
  const char* file;
  double percent;
};
// The first file a command names decides its weight.
constexpr Weight kWeights[] = {
    {"boot.img", 0.896},          {"cache.img.ext4", 0.199},   {"emmc_appsboot.mbn", 0.155},
    {"misc.img", 0.005},          {"NON-HLOS.bin", 4.208},     {"persist.img.ext4", 0.828},
    {"recovery.img", 0.872},      {"rpm.mbn", 0.028},          {"sbl1.mbn", 0.019},
    {"sbl2.mbn", 0.024},          {"sbl3.mbn", 0.117},         {"system.img.ext4", 30.592},
    {"tz.mbn", 0.026},            {"userdata.img.ext4", 30.543},
};

constexpr size_t kMaxLine = 1022;  // a read of 1023 characters, less its line break
constexpr int kStopCheckMs = 100;

bool Contains(std::string_view line, std::string_view word) {
  return AsciiLower(line).find(AsciiLower(word)) != std::string::npos;
}

// The SDK's folder beside the program (or elsewhere on the search path),
// else the folder of the fastboot on PATH, else the place beside the program.
std::string SdkFolder() {
  std::string sdk = SearchFile(std::string_view(), "Google/Android");
  if (::access(sdk.c_str(), F_OK) == 0) return sdk;
  std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
  for (size_t start = 0; start <= path.size();) {
    size_t end = path.find(':', start);
    if (end == std::string::npos) end = path.size();
    std::string dir = path.substr(start, end - start);
    if (!dir.empty() && ::access((dir + "/fastboot").c_str(), X_OK) == 0) return dir;
    start = end + 1;
  }
  return sdk;
}

// The script runs from its own folder: a relative path must not depend on
// the folder it was given from.
std::string Absolute(const std::string& path) {
  if (path.empty() || path[0] == '/') return path;
  char here[4096];
  return ::getcwd(here, sizeof here) ? std::string(here) + "/" + path : path;
}

// Splits the pipe's bytes into lines of at most kMaxLine characters.
class LineReader {
 public:
  // Reads fd until its end, or until the process has ended and left nothing
  // more (a background child may keep the pipe open).
  LineReader(int fd, const ProcessHandle& process) : fd_(fd), process_(process) {}
  // A line; false at the end of the output or when the work is asked to stop.
  bool Next(std::string* line) {
    for (;;) {
      size_t newline = pending_.find('\n');
      if (newline != std::string::npos || pending_.size() >= kMaxLine || (ended_ && !pending_.empty())) {
        size_t take = std::min({newline == std::string::npos ? pending_.size() : newline, kMaxLine});
        *line = LocaleToUtf8(pending_.substr(0, take));
        if (!line->empty() && line->back() == '\r') line->pop_back();
        pending_.erase(0, take + (take == newline ? 1 : 0));
        return true;
      }
      if (ended_ || StopRequested()) return false;
      ProcessEvents events = process_.WaitForExitOrInput(fd_, kStopCheckMs);
      if (!events.readable && !events.ended) continue;
      char buffer[4096];
      ssize_t n = ::read(fd_, buffer, sizeof buffer);
      if (n > 0) pending_.append(buffer, static_cast<size_t>(n));
      else if (n == 0 || (errno != EAGAIN && errno != EINTR) || events.ended) ended_ = true;
    }
  }

 private:
  int fd_;
  const ProcessHandle& process_;
  std::string pending_;
  bool ended_ = false;
};

// Waits for the script's end; false when the work is asked to stop first.
bool WaitForEnd(const ProcessHandle& process) {
  while (!process.WaitForExit(kStopCheckMs))
    if (StopRequested()) return false;
  return true;
}

}  // namespace

FastbootLine ClassifyFastbootLine(std::string_view line) {
  FastbootLine meaning;
  if (Contains(line, "error") || Contains(line, "failed")) {
    meaning.failed = true;
  } else if (Contains(line, "$fastboot")) {
    meaning.command = true;
    for (const Weight& w : kWeights) {
      if (Contains(line, w.file)) {
        meaning.weight = w.percent;
        break;
      }
    }
  } else if (Contains(line, "finished")) {
    meaning.finished = true;
  }
  return meaning;
}

std::string FastbootCommandLine(const std::string& folder, const std::string& sdk, const std::string& script,
                                const std::string& serial) {
  static const char kShell[] =
      "cd \"$1\" || exit 1; PATH=\"$2:$PATH\"; export PATH; PS4='$'; export PS4; exec /bin/sh -x \"$3\" -s \"$4\"";
  return "/bin/sh -c " + QuoteArgument(kShell) + " sh " + QuoteArgument(folder) + " " + QuoteArgument(sdk) + " " +
         QuoteArgument(script) + " " + QuoteArgument(serial);
}

HRESULT CFastBootFlasher::StartFlash(const std::string& deviceId, const std::string& scriptPath, IDeviceReport** out) {
  constexpr const char* kName = "CFastBootFlasher::StartFlash";
  CComObject<CFastBootFlasher>* job = nullptr;
  HRESULT hr = CComObject<CFastBootFlasher>::CreateInstance(&job);
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  job->script_ = scriptPath;
  return HandOutJob(job, deviceId, out, kName);
}

HRESULT CFastBootFlasher::DoWork() {
  constexpr const char* kName = "CFastBootFlasher::DoWork";
  std::string folder = ParentFolder(script_);
  ReportStatus("start flash %s", folder.c_str());
  // A script that is not there would run nothing and read as a success.
  if (::access(script_.c_str(), R_OK) != 0) {
    HRESULT missing = HresultFromLastErrno();
    TraceResult(missing, kName, __LINE__);
    return missing;
  }
  ChildProcess child;
  std::string script = Absolute(script_);
  HRESULT hr =
      StartProcessTree(FastbootCommandLine(ParentFolder(script), SdkFolder(), script, GetDeviceId()), true, &child);
  if (!TraceResult(hr, kName, __LINE__)) return hr;

  LineReader reader(child.output.get(), child.process);
  double pending = 0.0;
  std::string line;
  while (reader.Next(&line)) {
    ReportStatus("%s", line.c_str());
    FastbootLine meaning = ClassifyFastbootLine(line);
    if (meaning.failed) {
      hr = E_FAIL;
      break;
    }
    if (meaning.command) pending = meaning.weight;
    if (meaning.finished) {
      AddProgress(pending);
      pending = 0.0;
    }
  }
  // Its output has ended: the script's status tells whether it did its work.
  bool ranToItsEnd = SUCCEEDED(hr) && WaitForEnd(child.process);
  // The script's whole tree goes, so no fastboot is left holding the phone.
  int status = EndProcessTree(&child);
  if (StopRequested()) return HRESULT_FROM_WIN32(ERROR_CANCELLED);
  if (ranToItsEnd && status != 0) {
    ReportStatus("script exited with status %d", status);
    hr = E_FAIL;
  }
  TraceResult(hr, kName, __LINE__);
  return hr;
}

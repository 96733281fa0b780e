#include "shell/log.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <ctime>
#include <utility>

#include "platform/error_text.h"
#include "platform/executable.h"
#include "platform/format.h"
#include "platform/home_folder.h"
#include "platform/path_name.h"
#include "platform/text.h"
#include "process/search_file.h"

namespace {

std::string StateFolder() {
  if (const char* state = std::getenv("XDG_STATE_HOME"); state && *state) return std::string(state) + "/vantor";
  std::string home = HomeFolder();
  return home.empty() ? std::string() : home + "/.local/state/vantor";
}

std::optional<std::string> SystemHostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return std::nullopt;
  return std::string(name);
}

void MakeFolders(const std::string& folder) {
  for (size_t slash = folder.find('/', 1); ; slash = folder.find('/', slash + 1)) {
    ::mkdir(folder.substr(0, slash).c_str(), 0755);
    if (slash == std::string::npos) break;
  }
}

// Opens the log file for this process only. The write lock, held as long as
// the file is open, keeps a process that starts in the same second out of a
// log in use (it goes to the fallback folder); a log of the same name that
// an ended run left is appended to, never truncated, so no run's lines are
// lost. The folder may be one another user can write: a link planted at
// the name is never followed, and only a regular file is written to.
int CreateLogFile(const std::string& path) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
  if (fd < 0) return -1;
  struct stat st{};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// Read before main runs, once, as the dump switch must not change later.
const bool g_dumpEnabled = DumpSwitchFromValue(std::getenv("DumpVantor"));

}  // namespace

LogPlacement LogPlacement::Default() {
  // A program installed under /usr (the Debian package) never writes there,
  // not even as root: its logs go to the state folder.
  auto resolve = [](const std::string& name) {
    return ExecutablePath().rfind("/usr/", 0) == 0 ? std::string() : SearchFile(std::string_view(), name);
  };
  return LogPlacement{resolve, StateFolder(), SystemHostName};
}

LogFile::LogFile(LogPlacement placement) : placement_(std::move(placement)) {}

LogFile::~LogFile() {
  writer_.Flush();
  int fd = fd_.exchange(-1);
  if (fd >= 0) ::close(fd);
}

int LogFile::OpenIfNeeded() {
  int fd = fd_.load(std::memory_order_acquire);
  if (fd >= 0) return fd;
  std::lock_guard guard(lock_);
  fd = fd_.load(std::memory_order_acquire);
  if (fd >= 0) return fd;
  std::optional<std::string> host = placement_.hostName ? placement_.hostName() : std::nullopt;
  std::string name = Format("Vantor-%u@%s.log", static_cast<unsigned>(std::time(nullptr)),
                            host ? host->c_str() : "unknown");
  std::string path = placement_.resolve ? placement_.resolve(name) : name;
  fd = CreateLogFile(path);
  if (fd < 0 && !placement_.fallbackFolder.empty()) {
    MakeFolders(placement_.fallbackFolder);
    path = AppendPath(placement_.fallbackFolder, name);
    fd = CreateLogFile(path);
  }
  if (fd < 0) return -1;
  path_ = path;
  budget_.Restart(placement_.maxBytes);
  PruneLogFolder(ParentFolder(path), path, std::time(nullptr));
  fd_.store(fd, std::memory_order_release);
  return fd;
}

std::uint64_t LogFile::Post(std::string_view line, LogLineKind kind) {
  int fd = OpenIfNeeded();
  if (fd < 0) return 0;
  std::string bytes = Utf8ToLocale(line);
  bytes += "\r\n";
  std::string notice;
  if (!budget_.Admit(bytes.size(), kind, &notice)) {
    return notice.empty() ? 0 : Post(notice, LogLineKind::Trace);
  }
  return writer_.Post(fd, std::move(bytes));
}

void LogFile::WriteLine(std::string_view line, LogLineKind kind) { Post(line, kind); }

void LogFile::WriteLineDurably(std::string_view line) {
  std::uint64_t ticket = Post(line, LogLineKind::Trace);
  if (ticket != 0) writer_.WaitFlushed(ticket);
}

void LogFile::Flush(unsigned limitMs) { writer_.Flush(limitMs); }

void LogFile::WriteLeftOutCount() {
  if (fd_.load(std::memory_order_acquire) < 0) return;
  std::string line = budget_.LeftOutLine();
  if (!line.empty()) WriteLine(line, LogLineKind::Trace);
}

std::string LogFile::path() const {
  std::lock_guard guard(lock_);
  return fd_.load() >= 0 ? path_ : std::string();
}

void LogFile::Redirect(LogPlacement placement) {
  writer_.Flush();  // the lines of the current file reach it before it closes
  std::lock_guard guard(lock_);
  int fd = fd_.exchange(-1);
  if (fd >= 0) ::close(fd);
  path_.clear();
  placement_ = std::move(placement);
}

namespace {

constexpr unsigned kExitFlushLimitMs = 3000;

void FlushProcessLogAtExit() { ProcessLog().Flush(kExitFlushLimitMs); }

}  // namespace

LogFile& ProcessLog() {
  static LogFile* log = [] {
    auto* created = new LogFile(LogPlacement::Default());  // lives until exit
    std::atexit(FlushProcessLogAtExit);  // runs after the count below is logged
    std::atexit([] { ProcessLog().WriteLeftOutCount(); });
    return created;
  }();
  return *log;
}

void WriteLog(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string line = FormatV(format, args);
  va_end(args);
  ProcessLog().WriteLine(line);
}

namespace {
thread_local ITraceSink* t_traceSink = nullptr;
}

bool TraceResult(HRESULT hr, const char* operation, int line) {
  if (SUCCEEDED(hr)) return true;
  std::string text = Format("%s(%d): %s(0x%08x)", operation, line, GetEnglishErrorText(hr).c_str(), static_cast<unsigned>(hr));
  ProcessLog().WriteLineDurably(text);
  if (t_traceSink) t_traceSink->TraceLine(text);
  return false;
}

ScopedTraceCapture::ScopedTraceCapture(ITraceSink* sink) : previous_(std::exchange(t_traceSink, sink)) {}

ScopedTraceCapture::~ScopedTraceCapture() { t_traceSink = previous_; }

bool DumpSwitchFromValue(const char* value) { return value != nullptr && std::string_view(value) == "1"; }

bool DumpEnabled() { return g_dumpEnabled; }

std::string FormatHexDump(std::string_view title, const unsigned char* data, size_t count) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text(title);
  text.reserve(title.size() + count * 3 + count / 16 * 2);
  for (size_t i = 0; i < count; ++i) {
    text += kDigits[data[i] >> 4];
    text += kDigits[data[i] & 0xF];
    text += ' ';
    if ((i + 1) % 16 == 0 && i + 1 < count) text += "\r\n";
  }
  return text;
}

CHexDump::CHexDump(const char* title) : enabled_(g_dumpEnabled), title_(title) {}

CHexDump::~CHexDump() {
  if (bytes_.empty()) return;
  ProcessLog().WriteLine(
      FormatHexDump(title_, reinterpret_cast<const unsigned char*>(bytes_.data()), bytes_.size()));
}

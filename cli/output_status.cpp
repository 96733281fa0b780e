#include "cli/output_status.h"

#include <cerrno>
#include <csignal>
#include <cstring>

namespace {

constexpr int kIoErrorStatus = 74;  // EX_IOERR

}  // namespace

void IgnoreBrokenPipes() { std::signal(SIGPIPE, SIG_IGN); }

int OutputFailureStatus(int error) { return error == EPIPE ? 128 + SIGPIPE : kIoErrorStatus; }

int WriteOutput(std::FILE* out, std::string_view text) {
  errno = 0;
  bool written = std::fwrite(text.data(), 1, text.size(), out) == text.size();
  if (std::fflush(out) == 0 && written) return 0;
  return errno != 0 ? errno : EIO;
}

int FinishOutput(std::FILE* out, const char* program) {
  errno = 0;
  bool failed = std::fflush(out) != 0;
  int error = errno;
  failed = std::ferror(out) || failed;
  if (!failed) return 0;
  // A write failed earlier and its errno is gone: a closed pipe still shows
  // as one when written to once more.
  if (error == 0 && std::fputc('\n', out) != EOF && std::fflush(out) != 0) error = errno;
  if (error == 0) error = EIO;
  if (error != EPIPE) std::fprintf(stderr, "%s: the output cannot be written: %s\n", program, std::strerror(error));
  return OutputFailureStatus(error);
}

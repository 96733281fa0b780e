#include "cli/run_signals.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <csignal>

namespace {

std::atomic<int> g_stopSignal{0};
int g_wakePipe[2] = {-1, -1};

void Wake() {
  char c = 0;
  (void)!::write(g_wakePipe[1], &c, 1);
}

void OnStop(int signal) {
  int none = 0;
  g_stopSignal.compare_exchange_strong(none, signal);
  Wake();
}

void OnResize(int) { Wake(); }

void Handle(int signal, void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(signal, &action, nullptr);
}

}  // namespace

void InstallRunSignals() {
  if (g_wakePipe[0] >= 0) return;
  if (::pipe2(g_wakePipe, O_CLOEXEC | O_NONBLOCK) != 0) g_wakePipe[0] = g_wakePipe[1] = -1;
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) Handle(signal, OnStop);
  Handle(SIGWINCH, OnResize);
}

int PendingStopSignal() { return g_stopSignal.load(); }

void WaitForSignal(int ms) {
  pollfd p{g_wakePipe[0], POLLIN, 0};
  if (::poll(&p, g_wakePipe[0] >= 0 ? 1 : 0, ms) > 0) {
    char buffer[64];
    while (::read(g_wakePipe[0], buffer, sizeof buffer) > 0) {
    }
  }
}

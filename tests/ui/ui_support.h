// Helpers of the window tests: a registry of the test's own, and waiting for
// a condition with the event loop running (so idle handlers run as they do
// in the program).
#pragma once
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>
#include <functional>
#include <memory>

#include "tests/support/temp_dir.h"

// Runs the event loop until condition holds or deadlineMs pass; the loop
// blocks between checks, which is when idle handlers run.
inline bool WaitFor(const std::function<bool()>& condition, int deadlineMs = 10000) {
  QDeadlineTimer deadline(deadlineMs);
  while (!condition()) {
    if (deadline.hasExpired()) return condition();
    QEventLoop loop;
    QTimer::singleShot(5, &loop, &QEventLoop::quit);
    loop.exec();
  }
  return true;
}

// Lets the event loop block once, so that idle handlers have run.
inline void RunIdle() {
  bool done = false;
  QTimer::singleShot(1, [&] { done = true; });
  WaitFor([&] { return done; });
}

// A fresh registry for one test function.
struct TestRegistry {
  TempDir dir;
  ScopedEnv env{"VANTOR_REGISTRY_DIR", dir.path().c_str()};
};

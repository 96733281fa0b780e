// Helpers of the window tests: a registry of the test's own, and waiting for
// a condition with the event loop running (so idle handlers run as they do
// in the program).
#pragma once
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDropEvent>
#include <QEventLoop>
#include <QMimeData>
#include <QTimer>
#include <QUrl>
#include <QWidget>
#include <QWindow>
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

// Drops paths at pos (in the window's coordinates) as a file manager does:
// the links as a list and as text, the events given to the window's native
// window, which passes them to the widget under the point and up to the
// first one that takes them. Whether the drop was taken.
inline bool DropOnto(QWidget* window, QPoint pos, const QStringList& paths) {
  QMimeData data;
  QList<QUrl> urls;
  QStringList lines;
  for (const QString& path : paths) {
    urls << QUrl::fromLocalFile(path);
    lines << urls.back().toString();
  }
  data.setUrls(urls);
  data.setText(lines.join("\n"));
  QWindow* target = window->windowHandle();
  const Qt::DropActions actions = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;
  QDragEnterEvent enter(pos, actions, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(target, &enter);
  // As the platform does: a move after an accepted enter starts accepted.
  QDragMoveEvent move(pos, actions, &data, Qt::LeftButton, Qt::NoModifier);
  if (enter.isAccepted() && enter.dropAction() != Qt::IgnoreAction) {
    move.setDropAction(enter.dropAction());
    move.accept();
  }
  QCoreApplication::sendEvent(target, &move);
  if (!move.isAccepted()) {
    QDragLeaveEvent leave;
    QCoreApplication::sendEvent(target, &leave);
    return false;
  }
  QDropEvent drop(QPointF(pos), actions, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(target, &drop);
  return drop.isAccepted();
}

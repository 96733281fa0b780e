// The verdict of a run, shown in the status bar's message pane when every
// job has ended: how many phones succeeded and how many failed, in the
// window's language. The usual prompt returns with the next refresh or start.
#pragma once
#include <QString>

class CListImpl;

struct RunCount {
  int succeeded = 0;
  int failed = 0;
};

// Over the rows that hold a job.
RunCount CountRun(const CListImpl& list);
QString VerdictText(const RunCount& count);

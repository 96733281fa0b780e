// The flash record of every job a front end starts through StartRowJob. The
// facts of the start are noted when the job is created; the record is handed
// to the recorder once, by the thread that sees the job end: a front end's
// poll that finds it completed (RecordJobIfEnded), or the release of its last
// reference while it still runs (its outcome then reads "released"). Nothing
// here runs on a job's worker or waits for the store.
#pragma once
#include <chrono>
#include <string>
#include <vector>

#include "jobs/dispatch.h"

class CRecorder;

// Notes the start of a job that StartRowJob created.
void NoteJobStarted(IDeviceReport* job, const std::string& deviceId, bool backup, const std::string& folderList,
                    const JobSettings& settings);
// The front ends' poll of one row: remembers the status text shown and the
// row's location index, and hands the record over the first time the job
// reads completed.
void RecordJobIfEnded(IDeviceReport* job, const std::string& deviceId, unsigned locationIndex,
                      const std::string& statusText);
// The last reference of a job is going: its record, if not handed over yet.
void RecordReleasedJob(IDeviceReport* job);
// A front end ends a job that still runs and fails its row with hr (a time
// limit, a termination signal): the record reads failed with hr and the
// row's status text, not released. Call it before releasing the job.
void RecordStoppedJob(IDeviceReport* job, const std::string& deviceId, HRESULT hr, const std::string& statusText);

// The first fault of the record store or server in this run, once: a front
// end shows it where it shows errors. S_OK otherwise. *notKept, when given,
// tells a local store's fault (records lost) from a server's (records wait).
HRESULT TakeRecordsFault(bool* notKept = nullptr);
// Whether every record handed over so far has been written (or failed).
bool JobRecordsWritten();
// TakeRecordsFault once the records handed over so far are written (or the wait
// has passed), so a run that ends sees the fault its own records met.
HRESULT TakeRecordsFaultOfRun(std::chrono::milliseconds wait, bool* notKept);

// Where records go: ProcessRecorder() unless a test put another recorder in
// place for its scope.
class ScopedJobRecorder {
 public:
  explicit ScopedJobRecorder(CRecorder* recorder);
  ~ScopedJobRecorder();
  ScopedJobRecorder(const ScopedJobRecorder&) = delete;
  ScopedJobRecorder& operator=(const ScopedJobRecorder&) = delete;

 private:
  CRecorder* previous_;
};

// The flash record of every job a front end starts through StartRowJob. The
// facts of the start are noted when the job is created; the record is handed
// to the recorder once, by the thread that sees the job end: a front end's
// poll that finds it completed (RecordJobIfEnded), or the release of its last
// reference while it still runs (its outcome then reads "released"). Nothing
// here runs on a job's worker or waits for the store.
#pragma once
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

// The first fault of the record store or server in this run, once: a front
// end shows it where it shows errors. S_OK otherwise.
HRESULT TakeRecordsFault();

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

// The files a rawprogram XML names, each found over the search paths, in
// document order; none when the file cannot be read.
std::vector<std::string> RawprogramFiles(const std::string& rawprogramXml, const std::string& searchPaths);
// The IMEI a .qcn file is named after ("<15 digits>.qcn"); "" when its name
// is no IMEI or the phone's IMEI was unknown.
std::string ImeiOfQcnFile(const std::string& path);

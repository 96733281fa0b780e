#include "jobs/job_record.h"

#include <pwd.h>
#include <unistd.h>

#include <map>
#include <memory>
#include <mutex>
#include <utility>

#include "jobs/job_description.h"
#include "jobs/job_story.h"
#include "jobs/status_text.h"
#include "platform/error_text.h"
#include "platform/path_name.h"
#include "records/recorder.h"
#include "shell/log.h"
#include "shell/program.h"

namespace {

// What is known of a job from its start until its record is handed over.
struct Pending {
  FlashRecord record;  // start, device, method, package, files
  std::string lastStatus;
  std::string firehoseProgrammer;  // added to the files when the Sahara path ran
};

using Key = std::pair<IDeviceReport*, std::string>;

std::mutex g_lock;
std::map<Key, Pending> g_pending;
CRecorder* g_recorder = nullptr;

CRecorder& Recorder() {
  {
    std::lock_guard guard(g_lock);
    if (g_recorder) return *g_recorder;
  }
  return ProcessRecorder();
}

std::string HostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "unknown";
  return name;
}

std::string UserName() {
  if (struct passwd* pw = ::getpwuid(::geteuid()); pw && pw->pw_name) return pw->pw_name;
  return std::to_string(::geteuid());
}

std::string ProgramVersion() {
  std::string caption = kProgramCaption;
  size_t blank = caption.rfind(' ');
  return blank == std::string::npos ? caption : caption.substr(blank + 1);
}

void AddFile(FlashRecord* r, const std::string& path) {
  if (path.empty()) return;
  for (const RecordFile& f : r->files)
    if (f.path == path) return;
  r->files.push_back(RecordFile{path, 0, ""});
}

// The method, its device type code, the files it works from and the
// phone's identity, as the job describes itself.
void DescribeJob(IDeviceReport* job, bool backup, const JobSettings& s, FlashRecord* r) {
  auto* describing = dynamic_cast<IJobDescription*>(job);
  if (!describing) {
    r->method = backup ? "NV item backup (not started)" : "none (not started)";
    return;
  }
  JobDescription d;
  describing->DescribeJob(s, &d);
  r->typeCode = d.typeCode;
  r->method = std::move(d.method);
  r->imei = std::move(d.identity);
  for (const std::string& file : d.files) AddFile(r, file);
}

// The status a completed job ended on, in English as records keep it (the
// rows show it in the user's language). No reference is taken: the record
// of a released job is handed over while its last reference goes.
std::string EnglishFinalStatus(IDeviceReport* job, const std::string& shown) {
  auto* story = dynamic_cast<IJobStory*>(job);
  if (!story) return shown;
  JobStory told;
  story->GetStory(&told);
  return FinalStatusText(told.result, GetEnglishErrorText(told.result), told.Newest());
}

// Completes the record from the job as it is now and hands it over. A
// front end that stopped the job gives the result it failed the row with.
void HandOver(IDeviceReport* job, Pending pending, HRESULT stoppedWith = S_OK) {
  FlashRecord& r = pending.record;
  r.endUtc = UtcNow();
  if (auto* describing = dynamic_cast<IJobDescription*>(job)) {
    JobProtocol protocol;
    describing->DescribeProtocol(&protocol);
    if (!protocol.name.empty()) r.method += " (" + protocol.name + ")";
    if (protocol.usedFirehoseProgrammer) AddFile(&r, pending.firehoseProgrammer);
  }
  bool completed = job->IsCompleted();
  r.result = FAILED(stoppedWith) ? stoppedWith : job->GetResult();
  r.elapsedSeconds = job->GetElapsedTime();
  r.resultText = GetEnglishErrorText(r.result);
  r.outcome = FAILED(r.result) ? kOutcomeFailed : !completed ? kOutcomeReleased : kOutcomeSucceeded;
  r.lastStatus = completed ? EnglishFinalStatus(job, pending.lastStatus) : std::move(pending.lastStatus);
  r.logFile = FileName(ProcessLog().path());
  Recorder().Submit(std::move(r));
}

// Takes the pending record of (job, deviceId) out; false when there is none.
bool TakePending(IDeviceReport* job, const std::string& deviceId, Pending* pending) {
  std::lock_guard guard(g_lock);
  auto it = g_pending.find({job, deviceId});
  if (it == g_pending.end()) return false;
  *pending = std::move(it->second);
  g_pending.erase(it);
  return true;
}

}  // namespace

void NoteJobStarted(IDeviceReport* job, const std::string& deviceId, bool backup, const std::string& folderList,
                    const JobSettings& settings) {
  if (!job) return;
  Pending p;
  FlashRecord& r = p.record;
  r.uid = NewRecordUid();
  r.startUtc = UtcNow();
  r.host = HostName();
  r.version = ProgramVersion();
  r.user = UserName();
  r.deviceId = deviceId;
  r.package = folderList;
  DescribeJob(job, backup, settings, &r);
  p.firehoseProgrammer = settings.firehoseProgrammer;
  // The recorder starts with the first job, so a server it cannot use is
  // known, and shown, while the run is still on the screen.
  Recorder();
  std::lock_guard guard(g_lock);
  g_pending[{job, deviceId}] = std::move(p);
}

void RecordJobIfEnded(IDeviceReport* job, const std::string& deviceId, unsigned locationIndex,
                      const std::string& statusText) {
  if (!job) return;
  bool completed = job->IsCompleted();
  Pending ended;
  {
    std::lock_guard guard(g_lock);
    auto it = g_pending.find({job, deviceId});
    if (it == g_pending.end()) return;
    it->second.record.locationIndex = locationIndex;
    it->second.lastStatus = statusText;
    if (!completed) return;
    ended = std::move(it->second);
    g_pending.erase(it);
  }
  HandOver(job, std::move(ended));
}

void RecordReleasedJob(IDeviceReport* job) {
  std::vector<Pending> ended;
  {
    std::lock_guard guard(g_lock);
    for (auto it = g_pending.lower_bound({job, std::string()}); it != g_pending.end() && it->first.first == job;) {
      ended.push_back(std::move(it->second));
      it = g_pending.erase(it);
    }
  }
  for (Pending& p : ended) HandOver(job, std::move(p));
}

void RecordStoppedJob(IDeviceReport* job, const std::string& deviceId, HRESULT hr, const std::string& statusText) {
  Pending stopped;
  if (!job || !TakePending(job, deviceId, &stopped)) return;
  stopped.lastStatus = statusText;
  HandOver(job, std::move(stopped), hr);
}

HRESULT TakeRecordsFault(bool* notKept) { return Recorder().TakeFault(notKept); }

bool JobRecordsWritten() { return Recorder().Flush(std::chrono::milliseconds(0)); }

HRESULT TakeRecordsFaultOfRun(std::chrono::milliseconds wait, bool* notKept) {
  CRecorder& recorder = Recorder();
  recorder.Flush(wait);
  return recorder.TakeFault(notKept);
}

ScopedJobRecorder::ScopedJobRecorder(CRecorder* recorder) {
  std::lock_guard guard(g_lock);
  previous_ = std::exchange(g_recorder, recorder);
}

ScopedJobRecorder::~ScopedJobRecorder() {
  std::lock_guard guard(g_lock);
  g_recorder = previous_;
}

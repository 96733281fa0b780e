#include "jobs/job_record.h"

#include <pwd.h>
#include <unistd.h>

#include <cctype>
#include <map>
#include <memory>
#include <mutex>
#include <utility>

#include "download/transport.h"
#include "download/xml_reader.h"
#include "flashers/disk_drive_flasher.h"
#include "flashers/emergency_flasher.h"
#include "flashers/fastboot_flasher.h"
#include "flashers/nv_item_jobs.h"
#include "jobs/discovery.h"
#include "platform/error_text.h"
#include "platform/path_name.h"
#include "platform/text.h"
#include "process/search_file.h"
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

// The method, its device type code and the files it works from, read from
// the job's own class and the settings it was started with.
void DescribeJob(IDeviceReport* job, bool backup, const JobSettings& s, FlashRecord* r) {
  auto addPackage = [&] {
    AddFile(r, s.rawprogramXml);
    AddFile(r, s.patchXml);
    for (const std::string& file : RawprogramFiles(s.rawprogramXml, s.searchPaths)) AddFile(r, file);
  };
  if (dynamic_cast<CEmergencyFlasher*>(job)) {
    r->typeCode = kDeviceEmergencyDownload;
    r->method = "emergency download";
    AddFile(r, s.flashProgrammer);
    AddFile(r, s.bootImage);
    addPackage();
  } else if (dynamic_cast<CDiskDriveFlasher*>(job)) {
    r->typeCode = kDeviceUsbDisk;
    r->method = "disk drive";
    addPackage();
  } else if (dynamic_cast<CFastBootFlasher*>(job)) {
    r->typeCode = kDeviceFastboot;
    r->method = "fastboot";
    AddFile(r, s.fastbootScript);
  } else if (auto* restore = dynamic_cast<CNvItemFlasher*>(job)) {
    r->typeCode = kDeviceDiagnostic;
    r->method = "NV item restore";
    AddFile(r, restore->QcnFile());
    r->imei = ImeiOfQcnFile(restore->QcnFile());
  } else if (auto* save = dynamic_cast<CNvItemBackup*>(job)) {
    r->typeCode = kDeviceDiagnostic;
    r->method = "NV item backup";
    AddFile(r, save->QcnFile());
    r->imei = ImeiOfQcnFile(save->QcnFile());
  } else {
    r->method = backup ? "NV item backup (not started)" : "none (not started)";
  }
}

// Completes the record from the job as it is now and hands it over.
void HandOver(IDeviceReport* job, Pending pending) {
  FlashRecord& r = pending.record;
  r.endUtc = UtcNow();
  if (auto* emergency = dynamic_cast<CEmergencyFlasher*>(job); emergency && !emergency->Protocol().empty()) {
    r.method += " (" + emergency->Protocol() + ")";
    if (emergency->Protocol() == kProtocolFirehose) AddFile(&r, pending.firehoseProgrammer);
  }
  bool completed = job->IsCompleted();
  r.result = job->GetResult();
  r.elapsedSeconds = job->GetElapsedTime();
  r.resultText = GetErrorText(r.result);
  r.outcome = !completed ? kOutcomeReleased : FAILED(r.result) ? kOutcomeFailed : kOutcomeSucceeded;
  r.lastStatus = std::move(pending.lastStatus);
  r.logFile = FileName(ProcessLog().path());
  Recorder().Submit(std::move(r));
}

}  // namespace

std::vector<std::string> RawprogramFiles(const std::string& rawprogramXml, const std::string& searchPaths) {
  std::vector<std::string> files;
  std::unique_ptr<XmlElementReader> reader;
  if (FAILED(CreateXmlReaderOnFile(rawprogramXml, &reader))) return files;
  XmlElementReader::Element element;
  while (reader->NextElement(&element) == S_OK) {
    if (!EqualsIgnoreCase(element.localName, "program")) continue;
    for (const auto& [name, value] : element.attributes)
      if (name == "filename" && !value.empty()) files.push_back(SearchFile(searchPaths, value));
  }
  return files;
}

std::string ImeiOfQcnFile(const std::string& path) {
  std::string name = FileName(path);
  if (name.size() != 19 || name.compare(15, 4, ".qcn") != 0) return std::string();
  std::string imei = name.substr(0, 15);
  for (char c : imei)
    if (!std::isdigit(static_cast<unsigned char>(c))) return std::string();
  return imei == kUnknownImei ? std::string() : imei;
}

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

HRESULT TakeRecordsFault() { return Recorder().TakeFault(); }

ScopedJobRecorder::ScopedJobRecorder(CRecorder* recorder) {
  std::lock_guard guard(g_lock);
  previous_ = std::exchange(g_recorder, recorder);
}

ScopedJobRecorder::~ScopedJobRecorder() {
  std::lock_guard guard(g_lock);
  g_recorder = previous_;
}

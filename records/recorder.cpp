#include "records/recorder.h"

#include <cstdlib>

#include "platform/error_text.h"
#include "platform/format.h"
#include "platform/timing.h"
#include "records/file_digest.h"
#include "shell/log.h"
#include "shell/settings.h"

RecorderConfig DefaultRecorderConfig() {
  RecorderConfig config;
  config.localPath = DefaultRecordsPath();
  if (const char* url = std::getenv("VANTOR_RECORDS_URL"); url && *url) config.serverUrl = url;
  else config.serverUrl = ReadSetting(kRecordsServerSetting, "");
  return config;
}

CRecorder::CRecorder(RecorderConfig config) : CRecorder([config] { return config; }) {}

CRecorder::CRecorder(std::function<RecorderConfig()> loadConfig) : loadConfig_(std::move(loadConfig)) {
  ProcessLog();  // the log outlives this object at exit
  // So does the digest library: set up by a first digest now, its exit
  // handler runs after this object's destructor, which may still digest files.
  Sha256Hex("", 0);
  thread_ = std::thread(&CRecorder::Run, this);
}

CRecorder::~CRecorder() {
  server_.CutOffAt(std::chrono::steady_clock::now() + std::chrono::milliseconds(ScaledMilliseconds(kExitWaitMs)));
  {
    std::lock_guard guard(lock_);
    stop_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void CRecorder::Submit(FlashRecord record) {
  {
    std::lock_guard guard(lock_);
    queue_.push_back(std::move(record));
    ++submitted_;
  }
  wake_.notify_one();
}

bool CRecorder::Flush(std::chrono::milliseconds deadline) {
  std::unique_lock guard(lock_);
  std::uint64_t target = submitted_;
  return idle_.wait_for(guard, deadline, [&] { return handled_ >= target && !busy_ && queue_.empty(); });
}

HRESULT CRecorder::TakeFault(bool* local) {
  std::lock_guard guard(lock_);
  if (local) *local = localFault_;
  if (faultTaken_ || SUCCEEDED(fault_)) return S_OK;
  faultTaken_ = true;
  return fault_;
}

std::uint64_t CRecorder::written() const {
  std::lock_guard guard(lock_);
  return written_;
}

std::uint64_t CRecorder::delivered() const {
  std::lock_guard guard(lock_);
  return delivered_;
}

void CRecorder::Run() {
  // Opened at once, so records an earlier run left waiting go to the server
  // without waiting for this run's first record. A failure is reported with
  // the first record that cannot be written.
  config_ = loadConfig_();
  openResult_ = local_.Open(config_.localPath, config_.busyTimeoutMs);
  std::unique_lock guard(lock_);
  for (;;) {
    auto due = [&] { return stop_ || !queue_.empty(); };
    bool serverAway = !config_.serverUrl.empty() && !server_.connected();
    if (serverAway || !unwritten_.empty()) {
      auto wakeAt = serverAway ? nextAttempt_ : retryLocal_;
      if (serverAway && !unwritten_.empty()) wakeAt = std::min(nextAttempt_, retryLocal_);
      wake_.wait_until(guard, wakeAt, due);
    } else {
      wake_.wait(guard, due);
    }
    std::uint64_t count = queue_.size();
    for (FlashRecord& r : queue_) unwritten_.push_back(std::move(r));
    queue_.clear();
    bool stopping = stop_;
    busy_ = true;
    guard.unlock();
    WriteLocal(stopping);
    // At exit a server that is away is not waited for: its records wait.
    if (!stopping || server_.connected()) Deliver();
    if (stopping) ReportWaitingAtExit();
    guard.lock();
    handled_ += count;
    busy_ = false;
    idle_.notify_all();
    if (stopping && queue_.empty()) return;
  }
}

void CRecorder::WriteLocal(bool last) {
  if (unwritten_.empty()) return;
  for (FlashRecord& r : unwritten_) {
    for (RecordFile& f : r.files)
      if (f.sha256.empty()) f = DigestFile(f.path);
    MakeStorable(&r);
  }
  const HRESULT kBusy = HRESULT_FROM_WIN32(ERROR_BUSY);
  HRESULT hr = openResult_;
  // A store busy past the time-out at the start is opened later; any other
  // store that could not be opened stays closed for the run.
  if (!local_.is_open() && hr == kBusy) hr = openResult_ = local_.Open(config_.localPath, config_.busyTimeoutMs);
  if (local_.is_open()) {
    hr = local_.Insert(unwritten_);
    // A file damaged under a running process: moved aside, then one more try.
    if (hr == HRESULT_FROM_WIN32(ERROR_BAD_FORMAT) &&
        SUCCEEDED(hr = openResult_ = local_.Open(config_.localPath, config_.busyTimeoutMs)))
      hr = local_.Insert(unwritten_);
  }
  if (SUCCEEDED(hr)) {
    std::lock_guard guard(lock_);
    written_ += unwritten_.size();
    unwritten_.clear();
    return;
  }
  // Busy past the time-out, or full: the records stay in memory and are
  // tried again; at exit they are given up with a line in the log.
  bool again = local_.is_open() || hr == kBusy;
  if (!again || last) return Drop(hr);
  retryLocal_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(ScaledMilliseconds(config_.retryMs));
  if (!retryReported_) ReportLocalFault(hr, "they are kept and tried again");
  retryReported_ = true;
}

// The store never opened: said once for the run. Records given up at exit
// after the store stayed busy: said each time, as records are lost.
void CRecorder::Drop(HRESULT hr) {
  if (!local_.is_open()) {
    if (!openReported_) ReportLocalFault(hr, "the records of this run are not kept");
    openReported_ = true;
  } else {
    ReportLocalFault(hr, Format("%zu records are given up", unwritten_.size()));
  }
  unwritten_.clear();
}

void CRecorder::ReportLocalFault(HRESULT hr, const std::string& consequence) {
  WriteLog("Records: \"%s\" cannot be written (%s(0x%08x)); %s", config_.localPath.c_str(), GetEnglishErrorText(hr).c_str(),
           static_cast<unsigned>(hr), consequence.c_str());
  std::lock_guard guard(lock_);
  if (SUCCEEDED(fault_)) {
    fault_ = hr;
    localFault_ = true;
  }
}

void CRecorder::ReportServerFault(HRESULT hr, const std::string& message) {
  DeliverLater();
  if (serverReported_) return;
  serverReported_ = true;
  std::string words = message;
  while (!words.empty() && (words.back() == '\n' || words.back() == ' ')) words.pop_back();
  WriteLog("Records: the records server cannot take records (%s(0x%08x)) %s; they wait in \"%s\"",
           GetEnglishErrorText(hr).c_str(), static_cast<unsigned>(hr), words.c_str(), config_.localPath.c_str());
  std::lock_guard guard(lock_);
  if (SUCCEEDED(fault_)) fault_ = hr;
}

// The local file could not be read or marked: the connection is dropped, so
// the thread wakes for the next attempt as it does for a server away.
void CRecorder::DeliverLater() {
  server_.Disconnect();
  nextAttempt_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(ScaledMilliseconds(config_.retryMs));
}

void CRecorder::Deliver() {
  if (config_.serverUrl.empty()) return;
  if (!local_.is_open()) {
    nextAttempt_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(ScaledMilliseconds(config_.retryMs));
    return;
  }
  if (!server_.connected()) {
    if (std::chrono::steady_clock::now() < nextAttempt_) return;
    std::string message;
    HRESULT hr = server_.Connect(config_.serverUrl, &message);
    if (FAILED(hr)) return ReportServerFault(hr, message);
  }
  for (;;) {
    std::vector<WaitingRecord> waiting;
    if (FAILED(local_.Waiting(config_.batch, &waiting))) return DeliverLater();
    if (waiting.empty()) return;
    std::vector<FlashRecord> records;
    std::vector<std::int64_t> ids;
    for (WaitingRecord& w : waiting) {
      ids.push_back(w.id);
      records.push_back(std::move(w.record));
    }
    HRESULT hr = server_.Insert(records);
    if (FAILED(hr)) return ReportServerFault(hr, server_.lastError());
    // Marked only after the server committed; a mark lost to a kill sends the
    // batch again, and the server keeps each uid once.
    if (FAILED(local_.MarkDelivered(ids))) return DeliverLater();
    std::lock_guard guard(lock_);
    delivered_ += ids.size();
  }
}

// Records the server has not taken stay in the local file, marked waiting,
// and go to the server in a later run.
void CRecorder::ReportWaitingAtExit() {
  if (config_.serverUrl.empty() || !local_.is_open()) return;
  std::vector<WaitingRecord> waiting;
  if (FAILED(local_.Waiting(config_.batch, &waiting)) || waiting.empty()) return;
  WriteLog("Records: %s%zu records not delivered to the records server wait in \"%s\" for the next run",
           waiting.size() == config_.batch ? "at least " : "", waiting.size(), config_.localPath.c_str());
}

CRecorder& ProcessRecorder() {
  static CRecorder recorder{std::function<RecorderConfig()>(DefaultRecorderConfig)};
  return recorder;
}

#include "records/recorder.h"

#include <cstdlib>

#include "platform/error_text.h"
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

HRESULT CRecorder::TakeFault() {
  std::lock_guard guard(lock_);
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
  openResult_ = local_.Open(config_.localPath);
  std::unique_lock guard(lock_);
  for (;;) {
    auto due = [&] { return stop_ || !queue_.empty(); };
    if (!config_.serverUrl.empty() && !server_.connected()) wake_.wait_until(guard, nextAttempt_, due);
    else wake_.wait(guard, due);
    std::deque<FlashRecord> batch;
    batch.swap(queue_);
    bool stopping = stop_;
    busy_ = true;
    guard.unlock();
    std::uint64_t count = batch.size();
    WriteLocal(&batch);
    // At exit a server that is away is not waited for: its records wait.
    if (!stopping || server_.connected()) Deliver();
    guard.lock();
    handled_ += count;
    busy_ = false;
    idle_.notify_all();
    if (stopping && queue_.empty()) return;
  }
}

void CRecorder::WriteLocal(std::deque<FlashRecord>* batch) {
  if (batch->empty()) return;
  std::vector<FlashRecord> records(std::make_move_iterator(batch->begin()), std::make_move_iterator(batch->end()));
  for (FlashRecord& r : records)
    for (RecordFile& f : r.files)
      if (f.sha256.empty()) f = DigestFile(f.path);
  // A store that could not be opened stays closed for the run: one report,
  // not one per record.
  HRESULT hr = local_.is_open() ? local_.Insert(records) : openResult_;
  // A file damaged under a running process: moved aside, then one more try.
  if (hr == HRESULT_FROM_WIN32(ERROR_BAD_FORMAT) && SUCCEEDED(hr = local_.Open(config_.localPath)))
    hr = local_.Insert(records);
  if (SUCCEEDED(hr)) {
    std::lock_guard guard(lock_);
    written_ += records.size();
    return;
  }
  if (!localReported_) {
    localReported_ = true;
    WriteLog("Records: \"%s\" cannot be written (%s); the records of this run are not kept",
             config_.localPath.c_str(), GetErrorText(hr).c_str());
    std::lock_guard guard(lock_);
    if (SUCCEEDED(fault_)) fault_ = hr;
  }
}

void CRecorder::ReportServerFault(HRESULT hr, const std::string& message) {
  server_.Disconnect();
  nextAttempt_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(ScaledMilliseconds(config_.retryMs));
  if (serverReported_) return;
  serverReported_ = true;
  std::string words = message;
  while (!words.empty() && (words.back() == '\n' || words.back() == ' ')) words.pop_back();
  WriteLog("Records: the records server cannot take records (%s(0x%08x)) %s; they wait in \"%s\"",
           GetErrorText(hr).c_str(), static_cast<unsigned>(hr), words.c_str(), config_.localPath.c_str());
  std::lock_guard guard(lock_);
  if (SUCCEEDED(fault_)) fault_ = hr;
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
    if (FAILED(local_.Waiting(config_.batch, &waiting)) || waiting.empty()) return;
    std::vector<FlashRecord> records;
    std::vector<std::int64_t> ids;
    for (WaitingRecord& w : waiting) {
      ids.push_back(w.id);
      records.push_back(std::move(w.record));
    }
    HRESULT hr = server_.Insert(records);
    if (FAILED(hr)) return ReportServerFault(hr, "");
    // Marked only after the server committed; a mark lost to a kill sends the
    // batch again, and the server keeps each uid once.
    if (FAILED(local_.MarkDelivered(ids))) return;
    std::lock_guard guard(lock_);
    delivered_ += ids.size();
  }
}

CRecorder& ProcessRecorder() {
  static CRecorder recorder{std::function<RecorderConfig()>(DefaultRecorderConfig)};
  return recorder;
}

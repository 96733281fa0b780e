// The process's record writer: a queue and one store thread. Front ends hand
// it finished records and go on at once; the thread completes each record's
// file digests, writes it to the local file and, with a server set, delivers
// every record waiting there, oldest first, marking each one delivered. A
// server that is away or refuses the login is tried again every retry
// period; its records wait locally meanwhile and nothing is dropped.
#pragma once
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "platform/types.h"
#include "records/flash_record.h"
#include "records/local_records.h"
#include "records/server_records.h"

// The user setting that holds the server's connection string.
inline constexpr char kRecordsServerSetting[] = "RecordsServer";

struct RecorderConfig {
  std::string localPath;  // "" = records go nowhere
  std::string serverUrl;  // "" = local only
  DWORD retryMs = 5000;   // between attempts at a server that is away (timing seam applies)
  size_t batch = 500;     // records per server transaction
  int busyTimeoutMs = CLocalRecords::kBusyTimeoutMs;  // how long a write waits for another process
};

// DefaultRecordsPath(); VANTOR_RECORDS_URL when set, else the setting.
RecorderConfig DefaultRecorderConfig();

class CRecorder {
 public:
  explicit CRecorder(RecorderConfig config);
  // The configuration is read by the store thread, so creating the recorder
  // never reads the settings on the caller's thread.
  explicit CRecorder(std::function<RecorderConfig()> loadConfig);
  // How long the end of a recorder waits for the server at most.
  static constexpr DWORD kExitWaitMs = 3000;
  // Writes what is queued, delivers once more when the server is answering,
  // and ends the thread. The server is given kExitWaitMs (timing seam): what
  // it has not taken by then waits in the local file for the next run, said
  // once in the log.
  ~CRecorder();
  CRecorder(const CRecorder&) = delete;
  CRecorder& operator=(const CRecorder&) = delete;

  // Queues the record; file digests are filled in on the store thread.
  void Submit(FlashRecord record);
  // Waits until every record submitted before the call is written (or, with
  // no store, dropped) and no delivery is under way; false at the deadline.
  bool Flush(std::chrono::milliseconds deadline);
  // The first fault of the store or the server in this run, handed out once;
  // S_OK otherwise. *local, when given, tells whether it was the local
  // store's: records that were not kept, not records waiting for a server.
  HRESULT TakeFault(bool* local = nullptr);
  // Records written to the local file and delivered to the server so far.
  std::uint64_t written() const;
  std::uint64_t delivered() const;

 private:
  void Run();
  void WriteLocal(bool last);
  void Drop(HRESULT hr);
  void ReportLocalFault(HRESULT hr, const std::string& consequence);
  void Deliver();
  void DeliverLater();
  void ReportWaitingAtExit();
  void ReportServerFault(HRESULT hr, const std::string& message);

  std::function<RecorderConfig()> loadConfig_;
  RecorderConfig config_;  // store thread only
  CLocalRecords local_;
  CServerRecords server_;
  HRESULT openResult_ = S_OK;    // store thread only
  std::vector<FlashRecord> unwritten_;  // store thread only: taken from the queue, not yet in the file
  std::chrono::steady_clock::time_point retryLocal_{};  // store thread only
  bool openReported_ = false;    // store thread only
  bool retryReported_ = false;   // store thread only
  bool serverReported_ = false;  // store thread only
  std::chrono::steady_clock::time_point nextAttempt_{};  // store thread only

  mutable std::mutex lock_;
  std::condition_variable wake_;
  std::condition_variable idle_;
  std::deque<FlashRecord> queue_;
  std::uint64_t submitted_ = 0;
  std::uint64_t handled_ = 0;
  std::uint64_t written_ = 0;
  std::uint64_t delivered_ = 0;
  bool busy_ = false;
  bool stop_ = false;
  HRESULT fault_ = S_OK;
  bool localFault_ = false;
  bool faultTaken_ = false;
  std::thread thread_;
};

// The recorder of this process, created with DefaultRecorderConfig() on
// first use and ended at exit.
CRecorder& ProcessRecorder();

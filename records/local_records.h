// The embedded store: one SQLite file in WAL mode, shared by every process of
// the bench (the window and vantor-cli write at once; a busy file is waited
// for). Each record is one transaction, so a process killed while writing
// leaves the file whole. A file that is not a record store (corrupt, or some
// other program's database) is moved aside with a time stamp and a new one
// started.
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "records/flash_record.h"
#include "records/record_query.h"
#include "records/sqlite_db.h"

// VANTOR_RECORDS_DB when set, else records.db in $XDG_STATE_HOME/vantor/
// (default ~/.local/state/vantor/); "" when there is no home to put it in.
std::string DefaultRecordsPath();

struct WaitingRecord {
  std::int64_t id = 0;
  FlashRecord record;
};

class CLocalRecords {
 public:
  // How long a statement waits for another process's write.
  static constexpr int kBusyTimeoutMs = 10000;

  // Opens or creates the store and brings its schema up to date. Creates the
  // folder when needed.
  HRESULT Open(const std::string& path, int busyTimeoutMs = kBusyTimeoutMs);
  bool is_open() const { return db_.is_open(); }
  // Where a damaged file went ("" when none was moved this time).
  const std::string& movedAside() const { return movedAside_; }
  int SchemaVersion();

  // Inserts the records in one transaction: all or none.
  HRESULT Insert(const std::vector<FlashRecord>& records);
  // Records no server holds yet, oldest first.
  HRESULT Waiting(size_t limit, std::vector<WaitingRecord>* out);
  HRESULT MarkDelivered(const std::vector<std::int64_t>& ids);
  // Matching records, newest first.
  HRESULT Query(const RecordFilter& filter, std::vector<FlashRecord>* out);

 private:
  HRESULT OpenWaitingForOthers(bool* damaged);
  HRESULT OpenOnce(bool* damaged);
  HRESULT Migrate(bool* foreign);
  HRESULT MoveAside();

  SqliteDb db_;
  std::string path_;
  int busyTimeoutMs_ = kBusyTimeoutMs;
  std::string movedAside_;
};

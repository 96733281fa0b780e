// Flash records: one record per job, kept after the run so a bench can tell
// which phone got which package, when, where, and whether it worked.
//
// What this folder offers:
// - FlashRecord (flash_record.h): the record, with its JSON and CSV forms.
// - CLocalRecords (local_records.h): the embedded store, one SQLite file
//   (records.db in $XDG_STATE_HOME/vantor/, or VANTOR_RECORDS_DB) in WAL mode
//   with numbered migrations; a corrupt or foreign file is moved aside.
// - CServerRecords (server_records.h): the same schema on a PostgreSQL
//   server, for a line of benches; records are inserted once each by uid.
// - CRecorder (recorder.h): the process's queue and store thread. Front ends
//   hand it finished records and never wait: the thread writes the local
//   file and, when a server is set ("RecordsServer" or VANTOR_RECORDS_URL),
//   delivers what is waiting there, in order, once each.
// - RecordFilter and the read side (record_query.h), for `vantor-cli records`.
// - FileDigest (file_digest.h): SHA-256 and size of the files a job used.
#pragma once

#include "records/flash_record.h"
#include "records/recorder.h"

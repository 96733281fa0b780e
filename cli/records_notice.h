// The one line a run prints when its flash records could not be kept (no
// state folder, a full disk, a store held locked past its wait): the log
// alone is not where a technician looks.
#pragma once

// Waits for the run's records to be written, then says so on standard
// error when they could not be; nothing otherwise.
void ReportRecordsFault();

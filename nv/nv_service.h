// The NV service: what the program's own server objects do for a running
// phone's NV items, over the phone's diagnostic port.
//  - PhoneOffline: mode change to offline.
//  - BackupNvItems: probe, unlock, read every item id below the walk bound
//    (each element of an array item, and the subscription copies when the
//    phone has them), keep what the phone holds, write the .qcn file.
//  - RestoreNvItems: read the .qcn file (a malformed one is refused before
//    the phone is touched), unlock, compare the file's identity (IMEI item,
//    MEID, ESN) with the phone's, go offline, write every item and read it
//    back, then reset the phone. Without allowEsnMismatch a file of another
//    phone fails with HRESULT_FROM_WIN32(ERROR_WRONG_DISK) before anything
//    is written; with it the restore goes on. Either way the identity items
//    (550, 1943) are written only where the phone already holds the value.
#pragma once
#include <string>

#include "download/serial_port.h"
#include "jobs/status_sink.h"

struct NvBackupOptions {
  unsigned walkBound = 8192;  // item ids 0 .. walkBound-1 are read
};

// The walk bound from the user's settings ("NvWalkBound", a DWORD under the
// program's key), 8192 when it is not set; bounded to 1..65536.
unsigned ReadNvWalkBound();

HRESULT PhoneOffline(SerialPort& port);
HRESULT BackupNvItems(SerialPort& port, const std::string& qcnPath, const std::string& spc, const NvBackupOptions& options,
                      IQStatusReport* sink);
HRESULT RestoreNvItems(SerialPort& port, const std::string& qcnPath, const std::string& spc, bool allowEsnMismatch,
                       IQStatusReport* sink);

// The same on the phone's port by its name, opened for the call.
HRESULT PhoneOffline(const std::string& portPath);
HRESULT BackupNvItems(const std::string& portPath, const std::string& qcnPath, const std::string& spc,
                      const NvBackupOptions& options, IQStatusReport* sink);
HRESULT RestoreNvItems(const std::string& portPath, const std::string& qcnPath, const std::string& spc,
                       bool allowEsnMismatch, IQStatusReport* sink);

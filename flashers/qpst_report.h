// The base of the jobs that work through an automation server: each job gets
// a server of its own when it is created, finds its phone's port object on
// it, and makes the server quit when it is destroyed.
#pragma once
#include "download/qpst_interfaces.h"
#include "jobs/device_report.h"

class CQPSTReport : public CDeviceReport {
 public:
  // Creates the server (whatever CoCreateInstance gives, kept in the global
  // interface table; cookie 0 when there is none).
  HRESULT FinalConstruct();
  ~CQPSTReport() override;

  // The ready port object of this job's phone: GetPort until the port reports
  // ready (5), AddPort at attempt 10, RemovePort and AddPort at 20, and
  // HRESULT_FROM_WIN32(ERROR_NOT_READY) at 30; "wait port ready to use %d"
  // and one second (through the timing seam) between attempts.
  HRESULT GetPortObject(IQPortProxy** port);
  // The port's software-download object.
  HRESULT GetSoftwareDownload(IQSoftwareDownload** download);

 protected:
  CQPSTReport() = default;

 private:
  DWORD serverCookie_ = 0;
};

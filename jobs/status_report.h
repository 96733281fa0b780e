// The status sink of a job class T: records each NewStatus text on the job
// and adds T's progress step.
#pragma once
#include <mutex>

#include "jobs/device_report.h"
#include "platform/com/marshal.h"
#include "shell/log.h"

class CNvItemFlasher;
class CNvItemBackup;
class CEmergencyFlasher;
class CDiskDriveFlasher;

// Per job class: the progress step per status message, the trace name of
// CreateInstance, and whether event 4425 marks the job's last event.
template <class T>
struct StatusReportTraits;

template <>
struct StatusReportTraits<CNvItemFlasher> {
  static constexpr double kStep = 10.0;
  static constexpr const char* kCreateName = "CStatusReport<class CNvItemFlasher>::CreateInstance";
  static constexpr bool kRecordsLastEvent = false;
};
template <>
struct StatusReportTraits<CNvItemBackup> {
  static constexpr double kStep = 20.0;
  static constexpr const char* kCreateName = "CStatusReport<class CNvItemBackup>::CreateInstance";
  static constexpr bool kRecordsLastEvent = false;
};
template <>
struct StatusReportTraits<CEmergencyFlasher> {
  static constexpr double kStep = 0.142;
  static constexpr const char* kCreateName = "CStatusReport<class CEmergencyFlasher>::CreateInstance";
  static constexpr bool kRecordsLastEvent = true;
};
template <>
struct StatusReportTraits<CDiskDriveFlasher> {
  static constexpr double kStep = 0.191;
  static constexpr const char* kCreateName = "CStatusReport<class CDiskDriveFlasher>::CreateInstance";
  static constexpr bool kRecordsLastEvent = false;
};

// The event id after which an emergency download has nothing more to report.
inline constexpr LONG kLastStatusEvent = 4425;

template <class T>
class CStatusReport : public CJobSink {
 public:
  using Traits = StatusReportTraits<T>;

  // Creates the sink for job and hands out its IQStatusReport; the job keeps
  // it until its work ends and then detaches it.
  static HRESULT CreateInstance(T* job, IQStatusReport** out) {
    CComObject<CStatusReport<T>>* sink = nullptr;
    HRESULT hr = CComObject<CStatusReport<T>>::CreateInstance(&sink);
    if (!TraceResult(hr, Traits::kCreateName, __LINE__)) return hr;
    ComPtr<CJobSink> hold(sink);  // destroys the sink on a failed query
    sink->job_ = job;
    hr = sink->QueryInterface(IQStatusReport::kIid, reinterpret_cast<void**>(out));
    if (!TraceResult(hr, Traits::kCreateName, __LINE__)) return hr;
    if (job) job->KeepSinkUntilWorkEnds(sink);
    return S_OK;
  }

  HRESULT FinalConstruct() { return marshaler_.Create(static_cast<IQStatusReport*>(this)); }
  HRESULT InternalQueryInterface(REFIID iid, void** object) {
    if (iid == IUnknown::kIid || iid == IQStatusReport::kIid)
      return ReturnInterface(static_cast<IQStatusReport*>(this), object);
    return marshaler_.QueryInterface(iid, object);
  }

  HRESULT NewStatus(LONG iId, const Bstr& bstrStatus1, const Bstr& bstrStatus2) override {
    std::lock_guard guard(lock_);
    if (!job_) return S_OK;
    if constexpr (Traits::kRecordsLastEvent) {
      if (iId == kLastStatusEvent) job_->SetLastEvent();
    }
    if constexpr (requires(T* job) { job->SetProtocol(std::string()); }) {
      if (iId == kProtocolStatusEvent) job_->SetProtocol(bstrStatus1.str());
    }
    job_->ReportStatus("%s", bstrStatus2.c_str());
    job_->AddProgress(Traits::kStep);
    return S_OK;
  }

  void DetachJob() override {
    std::lock_guard guard(lock_);
    job_ = nullptr;
  }

 private:
  std::mutex lock_;  // keeps DetachJob from passing a NewStatus in flight
  T* job_ = nullptr;
  CAggregatedMarshaler marshaler_;
};

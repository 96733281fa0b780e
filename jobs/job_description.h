// How a job tells its flash record what it is: each job class implements
// IJobDescription, and the record asks through it, so the record keeping of
// jobs/ needs to know no job class.
#pragma once
#include <string>
#include <vector>

#include "jobs/dispatch.h"

struct JobDescription {
  DWORD typeCode = 0;              // the device type code the method serves
  std::string method;              // "emergency download", "NV item backup", ...
  std::vector<std::string> files;  // the files it works from, in the order it uses them
  // The phone's identity the job used to name its file: the IMEI's digits,
  // or "MEID " / "ESN " and the hexadecimal value; empty when it used none.
  std::string identity;
};

// What a job learnt only while it ran: the protocol the phone spoke.
struct JobProtocol {
  std::string name;                     // "" when the method has one protocol only
  bool usedFirehoseProgrammer = false;  // the record then lists that programmer too
};

class IJobDescription {
 public:
  // Fills what the job knows; settings are those the job was started with.
  virtual void DescribeJob(const JobSettings& settings, JobDescription* description) = 0;
  // Fills what the job learnt while it ran; nothing for most jobs.
  virtual void DescribeProtocol(JobProtocol* protocol) {}

 protected:
  ~IJobDescription() = default;
};

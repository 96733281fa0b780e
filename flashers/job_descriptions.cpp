// What each job class tells its flash record: its method, the device type
// code it serves and the files it works from.
#include "download/transport.h"
#include "flashers/disk_drive_flasher.h"
#include "flashers/emergency_flasher.h"
#include "flashers/fastboot_flasher.h"
#include "flashers/nv_item_jobs.h"
#include "flashers/package_files.h"
#include "jobs/discovery.h"

namespace {

// The rawprogram and patch files, then every file the rawprogram file names.
void AddPackage(const JobSettings& s, JobDescription* d) {
  d->files.push_back(s.rawprogramXml);
  d->files.push_back(s.patchXml);
  for (std::string& file : RawprogramFiles(s.rawprogramXml, s.searchPaths)) d->files.push_back(std::move(file));
}

}  // namespace

void CEmergencyFlasher::DescribeJob(const JobSettings& s, JobDescription* d) {
  d->typeCode = kDeviceEmergencyDownload;
  d->method = "emergency download";
  d->files = {s.flashProgrammer, s.bootImage};
  AddPackage(s, d);
}

void CEmergencyFlasher::DescribeProtocol(JobProtocol* p) {
  p->name = Protocol();
  p->usedFirehoseProgrammer = p->name == kProtocolFirehose;
}

void CDiskDriveFlasher::DescribeJob(const JobSettings& s, JobDescription* d) {
  d->typeCode = kDeviceUsbDisk;
  d->method = "disk drive";
  AddPackage(s, d);
}

void CFastBootFlasher::DescribeJob(const JobSettings& s, JobDescription* d) {
  d->typeCode = kDeviceFastboot;
  d->method = "fastboot";
  d->files = {s.fastbootScript};
}

void CNvItemFlasher::DescribeJob(const JobSettings&, JobDescription* d) {
  d->typeCode = kDeviceDiagnostic;
  d->method = "NV item restore";
  d->files = {qcn_.path};
  d->identity = qcn_.identity;
}

void CNvItemBackup::DescribeJob(const JobSettings&, JobDescription* d) {
  d->typeCode = kDeviceDiagnostic;
  d->method = "NV item backup";
  d->files = {qcn_.path};
  d->identity = qcn_.identity;
}

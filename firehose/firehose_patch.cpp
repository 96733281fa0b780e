#include "firehose/firehose_patch.h"

#include "download/transport.h"
#include "shell/log.h"

std::string PatchCommand(const FirehosePatch& p) {
  return firehose::BuildCommand("patch", {{"SECTOR_SIZE_IN_BYTES", std::to_string(p.sectorSize)},
                                          {"byte_offset", std::to_string(p.byteOffset)},
                                          {"filename", "DISK"},
                                          {"physical_partition_number", std::to_string(p.partition)},
                                          {"size_in_bytes", std::to_string(p.sizeInBytes)},
                                          {"start_sector", p.startSector},
                                          {"value", p.value}});
}

HRESULT PatchFirehose(firehose::Channel& channel, const FirehosePatch& p, IQStatusReport* sink) {
  constexpr const char* kName = "PatchFirehose";
  NotifyStatus(sink, "Patch LUN %u sector %s offset %u, %u bytes = %s", p.partition, p.startSector.c_str(),
               p.byteOffset, p.sizeInBytes, p.value.c_str());
  HRESULT hr = channel.Send(PatchCommand(p));
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  hr = firehose::AwaitAck(channel, kPatchWaitMs, sink, "patch", HRESULT_FROM_WIN32(ERROR_WRITE_FAULT));
  TraceResult(hr, kName, __LINE__);
  return hr;
}

HRESULT ResetFirehosePhone(firehose::Channel& channel, IQStatusReport* sink) {
  constexpr const char* kName = "ResetFirehosePhone";
  NotifyStatus(sink, "Firehose reset the phone");
  HRESULT hr = channel.Send(firehose::BuildCommand("power", {{"value", "reset"}}));
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  hr = firehose::AwaitAck(channel, kPowerWaitMs, sink, "power reset", HRESULT_FROM_WIN32(ERROR_WRITE_FAULT));
  TraceResult(hr, kName, __LINE__);
  return hr;
}

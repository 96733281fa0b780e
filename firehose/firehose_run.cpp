#include "firehose/firehose_run.h"

#include "download/transport.h"
#include "firehose/firehose_configure.h"
#include "firehose/firehose_patch.h"
#include "firehose/firehose_program.h"
#include "firehose/sahara_upload.h"
#include "shell/log.h"

HRESULT FlashWithFirehose(SerialPort& port, const FirehosePackage& package, const ProbeResult& probe,
                          IQStatusReport* sink) {
  constexpr const char* kName = "FlashWithFirehose";
  firehose::Channel channel(port);
  HRESULT hr = S_OK;
  if (probe.protocol == PhoneProtocol::kSahara) {
    hr = UploadProgrammer(port, package.programmer, probe.bytes, sink);
    if (!TraceResult(hr, kName, __LINE__)) return hr;
  } else {
    channel.Prime(probe.bytes.data(), probe.bytes.size());
  }
  std::uint32_t payload = 0;
  hr = ConfigureFirehose(channel, package.memoryName, sink, &payload);
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  ProgramProgress progress{0, package.bytesToSend()};
  for (const FirehoseProgram& program : package.programs) {
    hr = ProgramFirehose(channel, program, payload, &progress, sink);
    if (!TraceResult(hr, kName, __LINE__)) return hr;
  }
  for (const FirehosePatch& patch : package.patches) {
    hr = PatchFirehose(channel, patch, sink);
    if (!TraceResult(hr, kName, __LINE__)) return hr;
  }
  hr = ResetFirehosePhone(channel, sink);
  TraceResult(hr, kName, __LINE__);
  return hr;
}

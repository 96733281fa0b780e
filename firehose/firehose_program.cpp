#include "firehose/firehose_program.h"

#include <algorithm>
#include <vector>

#include "download/transport.h"
#include "platform/regular_file.h"
#include "shell/log.h"

namespace {

constexpr const char* kName = "ProgramFirehose";
constexpr HRESULT kRefused = HRESULT_FROM_WIN32(ERROR_WRITE_FAULT);

HRESULT Fail(HRESULT hr, int line) {
  TraceResult(hr, kName, line);
  return hr;
}

// Fills the chunk from the image at byte position; bytes past its checked
// length are zeros. A file that has shrunk since its check gives
// HRESULT_FROM_WIN32(ERROR_HANDLE_EOF).
HRESULT ReadChunk(int file, const FirehoseProgram& p, std::uint64_t position, std::vector<unsigned char>& chunk) {
  std::fill(chunk.begin(), chunk.end(), 0);
  if (position >= p.fileBytes) return S_OK;
  size_t wanted = static_cast<size_t>(std::min<std::uint64_t>(chunk.size(), p.fileBytes - position));
  return ReadFileAt(file, chunk.data(), wanted, position);
}

unsigned Percent(const ProgramProgress& p) {
  return p.total == 0 ? 100 : static_cast<unsigned>(p.sent * 100 / p.total);
}

HRESULT SendData(firehose::Channel& channel, int file, const FirehoseProgram& p, std::uint32_t payload,
                 ProgramProgress* progress, IQStatusReport* sink) {
  std::uint64_t chunkSectors = payload / p.sectorSize;
  if (chunkSectors == 0) return Fail(HRESULT_FROM_WIN32(ERROR_INVALID_DATA), __LINE__);
  std::uint64_t sectors = p.sectorsToSend();
  std::uint64_t blocks = (sectors + chunkSectors - 1) / chunkSectors;
  std::vector<unsigned char> chunk;
  for (std::uint64_t block = 0, done = 0; done < sectors; ++block) {
    std::uint64_t count = std::min(chunkSectors, sectors - done);
    chunk.resize(static_cast<size_t>(count * p.sectorSize));
    HRESULT hr = ReadChunk(file, p, (p.fileSectorOffset + done) * p.sectorSize, chunk);
    if (FAILED(hr)) return Fail(hr, __LINE__);
    hr = channel.SendRaw(chunk.data(), chunk.size());
    if (FAILED(hr)) return Fail(hr, __LINE__);
    done += count;
    progress->sent += chunk.size();
    NotifyStatus(sink, "Program \"%s\" block %llu of %llu, %u%%", p.filename.c_str(),
                 static_cast<unsigned long long>(block + 1), static_cast<unsigned long long>(blocks),
                 Percent(*progress));
  }
  return S_OK;
}

}  // namespace

std::string ProgramCommand(const FirehoseProgram& p) {
  return firehose::BuildCommand("program", {{"SECTOR_SIZE_IN_BYTES", std::to_string(p.sectorSize)},
                                            {"num_partition_sectors", std::to_string(p.sectorsToSend())},
                                            {"physical_partition_number", std::to_string(p.partition)},
                                            {"start_sector", p.startSector},
                                            {"filename", p.filename}});
}

HRESULT ProgramFirehose(firehose::Channel& channel, const FirehoseProgram& p, std::uint32_t payload,
                        ProgramProgress* progress, IQStatusReport* sink) {
  NotifyStatus(sink, "Program \"%s\" to LUN %u at sector %s, %llu sectors of %u bytes", p.filename.c_str(),
               p.partition, p.startSector.c_str(), static_cast<unsigned long long>(p.sectorsToSend()), p.sectorSize);
  // The image is open only while it is sent, and opened before the phone is
  // told to take it.
  UniqueFd file;
  std::uint64_t size = 0;
  HRESULT hr = OpenRegularFile(p.path, &file, &size);
  if (FAILED(hr)) return Fail(hr, __LINE__);
  hr = channel.Send(ProgramCommand(p));
  if (FAILED(hr)) return Fail(hr, __LINE__);
  const std::string command = "program \"" + p.filename + "\"";
  firehose::Response response;
  hr = firehose::AwaitAck(channel, kProgramAckWaitMs, sink, command, kRefused, &response);
  if (SUCCEEDED(hr) && !response.rawmode()) hr = HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
  if (FAILED(hr)) return Fail(hr, __LINE__);
  hr = SendData(channel, file.get(), p, payload, progress, sink);
  if (FAILED(hr)) return hr;
  hr = firehose::AwaitAck(channel, kProgramDoneWaitMs, sink, command, kRefused);
  if (FAILED(hr)) return Fail(hr, __LINE__);
  return S_OK;
}

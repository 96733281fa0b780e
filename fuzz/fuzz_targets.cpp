// libFuzzer targets, one per parser of outside input. Each file is built with
// -DVANTOR_FUZZ_TARGET=<name> into its own fuzzer (see CMakeLists.txt).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <unistd.h>

#include "download/disk_package.h"
#include "download/intel_hex.h"
#include "download/streaming.h"
#include "download/transport.h"
#include "flashers/fastboot_flasher.h"
#include "jobs/discovery.h"
#include "platform/registry/regedit_format.h"
#include "process/command_line.h"
#include "download/xml_reader.h"
#include "nv/qcn_file.h"
#include "platform/timing.h"

namespace {

// A port that hands out the fuzzer's bytes and then times out.
class BytesPort : public SerialPort {
 public:
  BytesPort(const std::uint8_t* data, size_t size) : data_(data), size_(size) {}
  HRESULT ReadByte(unsigned char* byte, unsigned) override {
    if (pos_ >= size_) return kReadTimeout;
    *byte = data_[pos_++];
    return S_OK;
  }
  HRESULT Write(const unsigned char*, size_t) override { return S_OK; }

 private:
  const std::uint8_t* data_;
  size_t size_, pos_ = 0;
};

std::string_view Text(const std::uint8_t* data, size_t size) { return {reinterpret_cast<const char*>(data), size}; }

// The bytes as a file in a folder of its own, removed again at the end.
class BytesFile {
 public:
  BytesFile(const std::uint8_t* data, size_t size) {
    if (!mkdtemp(folder_)) return;
    path_ = std::string(folder_) + "/package.xml";
    FILE* f = std::fopen(path_.c_str(), "wb");
    if (!f) return;
    written_ = std::fwrite(data, 1, size, f) == size;
    written_ = std::fclose(f) == 0 && written_;
  }
  ~BytesFile() {
    if (!path_.empty()) unlink(path_.c_str());
    rmdir(folder_);
  }
  bool ok() const { return written_; }
  const std::string& path() const { return path_; }
  std::string folder() const { return folder_; }

 private:
  char folder_[32] = "/tmp/vantor-fuzz-XXXXXX";
  std::string path_;
  bool written_ = false;
};

// A .qcn file read whole is written back and read again to the same items.
void QcnRoundTrip(std::string_view bytes) {
  QcnContents contents;
  if (FAILED(DecodeQcn(bytes, &contents))) return;
  std::string again;
  QcnContents back;
  if (FAILED(EncodeQcn(contents, &again)) || FAILED(DecodeQcn(again, &back))) __builtin_trap();
  if (back.items != contents.items || back.contextItems[0] != contents.contextItems[0] ||
      back.contextItems[1] != contents.contextItems[1] || back.esn != contents.esn)
    __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  const std::string target = VANTOR_FUZZ_TARGET;
  if (target == "intel_hex") {
    ProgrammerImage image;
    ParseIntelHex(Text(data, size), &image);
  } else if (target == "receive_packet") {
    // A stop already requested ends the read retries at once when the bytes run out.
    std::stop_source stop;
    stop.request_stop();
    ScopedStopToken stopped(stop.get_token());
    BytesPort port(data, size);
    unsigned char buffer[1100];
    size_t capacity = size > 0 ? data[0] % sizeof buffer : 0;
    ReceivePacket(port, buffer, capacity, size > 1 && (data[1] & 1), 0x0E);
  } else if (target == "hello_response") {
    HelloParameters hello;
    DecodeHelloResponse(data, size, &hello);
  } else if (target == "registry_hive") {
    Hive hive;
    if (ParseHive(Text(data, size), "HKEY_CURRENT_USER", &hive)) {
      Hive again;
      if (!ParseHive(SerializeHive(hive, "HKEY_CURRENT_USER"), "HKEY_CURRENT_USER", &again)) __builtin_trap();
    }
  } else if (target == "command_line") {
    std::vector<std::string> args = SplitCommandLine(Text(data, size));
    for (size_t i = 1; i < args.size(); ++i) {
      std::vector<std::string> back = SplitCommandLine("p " + QuoteArgument(args[i]));
      if (back.size() != 2 || back[1] != args[i]) __builtin_trap();
    }
  } else if (target == "helper_answers") {
    SplitListAnswer(Text(data, size));
    ParseNumberAnswer(Text(data, size));
    std::string imei;
    if (SUCCEEDED(FindImei(Text(data, size), &imei)) && !IsImei(imei)) __builtin_trap();
  } else if (target == "fastboot_line") {
    ClassifyFastbootLine(Text(data, size));
  } else if (target == "qcn_file") {
    QcnRoundTrip(Text(data, size));
    std::vector<NvItem> items;
    DecodeItemRecords(Text(data, size), &items);
  } else if (target == "package_xml") {
    // The same bytes as a rawprogram file and as a patch file, what was read
    // of them placed on a 1 MiB disk.
    BytesFile file(data, size);
    if (!file.ok()) return 0;
    CheckedPackage package;
    ReadProgramElements(file.path(), file.folder(), &package.images);
    ReadPatchElements(file.path(), &package.patches);
    std::vector<ProgramWrite> programs;
    std::vector<PatchWrite> patches;
    PlacePackageOnDisk(package, DiskSize{1 << 20, true}, &programs, &patches);
  } else if (target == "xml_reader") {
    char path[] = "/tmp/vantor-fuzz-xml-XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0) return 0;
    if (write(fd, data, size) != static_cast<ssize_t>(size)) size = 0;
    close(fd);
    std::unique_ptr<XmlElementReader> reader;
    if (SUCCEEDED(CreateXmlReaderOnFile(path, &reader))) {
      XmlElementReader::Element element;
      for (int n = 0; n < 100000 && reader->NextElement(&element) == S_OK; ++n) {
      }
    }
    unlink(path);
  }
  return 0;
}

#include "download/disk_package.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <memory>
#include <optional>

#include "download/disk_numbers.h"
#include "download/transport.h"
#include "download/xml_reader.h"
#include "platform/text.h"
#include "process/search_file.h"
#include "shell/log.h"

namespace {

constexpr std::uint64_t kSector = 512;

HRESULT Fail(HRESULT hr, const char* operation, int line) {
  TraceResult(hr, operation, line);
  return hr;
}

// The value of the last attribute of that name: the attributes are walked
// from the first to the last, and a later one replaces an earlier one.
std::optional<std::string> Attribute(const XmlElementReader::Element& e, const char* name) {
  std::optional<std::string> value;
  for (const auto& [key, text] : e.attributes) {
    if (EqualsIgnoreCase(key, name)) value = text;
  }
  return value;
}

std::uint64_t Number(const XmlElementReader::Element& e, const char* name) {
  return ParseDecimal64(Attribute(e, name).value_or(""));
}

// Opens an image for reading; an empty file or one that is not a regular
// file cannot be written, as it could not be mapped.
HRESULT OpenImage(ProgramWrite* program) {
  program->file.Reset(::open(program->path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!program->file.valid()) return HresultFromLastErrno();
  struct stat st{};
  if (::fstat(program->file.get(), &st) != 0) return HresultFromLastErrno();
  if (!S_ISREG(st.st_mode)) return HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
  if (st.st_size == 0) return HRESULT_FROM_WIN32(ERROR_FILE_INVALID);
  program->fileBytes = static_cast<std::uint64_t>(st.st_size);
  return S_OK;
}

bool InsideDisk(std::uint64_t start, std::uint64_t sectors, DiskSize disk) {
  const std::uint64_t diskSectors = disk.bytes / kSector;
  return !disk.bounded || (sectors <= diskSectors && start <= diskSectors - sectors);
}

}  // namespace

std::uint64_t ProgramWrite::sectorsWritten() const {
  const std::uint64_t fileSectors = fileBytes / kSector + (fileBytes % kSector != 0);
  if (fileSectorOffset >= fileSectors) return 0;
  std::uint64_t sectors = fileSectors - fileSectorOffset;
  return sectorLimit != 0 && sectors > sectorLimit ? sectorLimit : sectors;
}

bool IsPackageRelativeName(const std::string& name) {
  if (name.empty() || name[0] == '/') return false;
  size_t begin = 0;
  for (;;) {
    size_t end = name.find('/', begin);
    if (name.compare(begin, end == std::string::npos ? std::string::npos : end - begin, "..") == 0) return false;
    if (end == std::string::npos) return true;
    begin = end + 1;
  }
}

HRESULT ReadProgramElements(const std::string& rawprogramXml, const std::string& searchPaths, DiskSize disk,
                            IQStatusReport* sink, std::vector<ProgramWrite>* programs) {
  constexpr const char* kName = "ReadProgramElements";
  NotifyStatus(sink, "Open program file \"%s\"", rawprogramXml.c_str());
  std::unique_ptr<XmlElementReader> reader;
  HRESULT hr = CreateXmlReaderOnFile(rawprogramXml, &reader);
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  XmlElementReader::Element element;
  while ((hr = reader->NextElement(&element)) == S_OK) {
    if (!EqualsIgnoreCase(element.localName, "program")) continue;
    std::string filename = Attribute(element, "filename").value_or("");
    if (filename.empty()) continue;
    if (!IsPackageRelativeName(filename)) return Fail(E_INVALIDARG, kName, __LINE__);
    ProgramWrite program;
    if (std::optional<std::string> start = Attribute(element, "start_sector")) {
      hr = ParseStartSector(*start, disk.bytes, &program.startSector);
      if (!TraceResult(hr, kName, __LINE__)) return hr;
    }
    program.sectorLimit = Number(element, "num_partition_sectors");
    program.fileSectorOffset = Number(element, "file_sector_offset");
    program.path = SearchFile(searchPaths, filename);
    hr = OpenImage(&program);
    // The failure then names the image, not the program file that named it.
    if (FAILED(hr)) NotifyStatus(sink, "Open image file \"%s\"", program.path.c_str());
    if (!TraceResult(hr, kName, __LINE__)) return hr;
    if (!InsideDisk(program.startSector, program.sectorsWritten(), disk))
      return Fail(E_INVALIDARG, kName, __LINE__);
    programs->push_back(std::move(program));
  }
  TraceResult(hr, kName, __LINE__);
  return FAILED(hr) ? hr : S_OK;
}

HRESULT ReadPatchElements(const std::string& patchXml, DiskSize disk, std::vector<PatchWrite>* patches) {
  constexpr const char* kName = "ReadPatchElements";
  std::unique_ptr<XmlElementReader> reader;
  HRESULT hr = CreateXmlReaderOnFile(patchXml, &reader);
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  XmlElementReader::Element element;
  while ((hr = reader->NextElement(&element)) == S_OK) {
    if (!EqualsIgnoreCase(element.localName, "patch")) continue;
    PatchWrite patch;
    if (std::optional<std::string> value = Attribute(element, "value")) {
      hr = EvaluatePatchValue(*value, disk.bytes, &patch.value);
      if (!TraceResult(hr, kName, __LINE__)) return hr;
    }
    if (!EqualsIgnoreCase(Attribute(element, "filename").value_or(""), "DISK")) continue;
    patch.startSector = Number(element, "start_sector");
    patch.byteOffset = Number(element, "byte_offset");
    patch.sizeInBytes = Number(element, "size_in_bytes");
    // The patched bytes lie inside the one sector that is read and written.
    if (patch.byteOffset > kSector || patch.sizeInBytes > kSector - patch.byteOffset ||
        !InsideDisk(patch.startSector, 1, disk))
      return Fail(E_INVALIDARG, kName, __LINE__);
    patches->push_back(patch);
  }
  TraceResult(hr, kName, __LINE__);
  return FAILED(hr) ? hr : S_OK;
}

#include "firehose/firehose_package.h"

#include <algorithm>
#include <memory>

#include "download/byte_order.h"
#include "download/disk_numbers.h"
#include "download/disk_package.h"
#include "download/transport.h"
#include "download/xml_reader.h"
#include "platform/regular_file.h"
#include "platform/text.h"
#include "process/search_file.h"
#include "shell/log.h"

namespace {

constexpr const char* kName = "ReadFirehosePackage";
constexpr size_t kMaxExpressionChars = 128;
constexpr std::uint32_t kSparseMagic = 0xED26FF3A;
constexpr unsigned char kElfMagic[] = {0x7F, 'E', 'L', 'F'};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

using Attributes = std::vector<std::pair<std::string, std::string>>;

const std::string* Find(const Attributes& attributes, std::string_view name) {
  const std::string* found = nullptr;  // of repeated attributes the last one counts
  for (const auto& [key, value] : attributes)
    if (EqualsIgnoreCase(key, name)) found = &value;
  return found;
}

// Digits with an optional closing period; false for anything else.
bool ReadNumber(const std::string& text, std::uint64_t limit, std::uint64_t* value) {
  std::string_view digits = text;
  if (!digits.empty() && digits.back() == '.') digits.remove_suffix(1);
  if (digits.empty() || digits.size() > 19 || !std::all_of(digits.begin(), digits.end(), IsDigit)) return false;
  *value = ParseDecimal64(digits);
  return *value <= limit;
}

// A required number, or fallback when the attribute is absent and optional.
bool Number(const Attributes& a, std::string_view name, std::uint64_t limit, bool required, std::uint64_t* value) {
  const std::string* text = Find(a, name);
  if (!text) {
    *value = 0;
    return !required;
  }
  return ReadNumber(*text, limit, value);
}

// SECTOR_SIZE_IN_BYTES, 512 when absent: a power of two from 512 to 65536.
bool SectorSize(const Attributes& a, std::uint32_t* size) {
  std::uint64_t value = 0;
  if (!Number(a, "SECTOR_SIZE_IN_BYTES", 65536, false, &value)) return false;
  if (value == 0 && !Find(a, "SECTOR_SIZE_IN_BYTES")) value = 512;
  if (value < 512 || (value & (value - 1)) != 0) return false;
  *size = static_cast<std::uint32_t>(value);
  return true;
}

HRESULT Refuse(HRESULT hr, IQStatusReport* sink, const char* what, const std::string& where) {
  NotifyStatus(sink, "Package refused: %s (%s)", what, where.c_str());
  TraceResult(hr, kName, __LINE__);
  return hr;
}

HRESULT ReadProgrammer(const std::string& path, IQStatusReport* sink, std::vector<unsigned char>* bytes) {
  UniqueFd fd;
  std::uint64_t size = 0;
  HRESULT hr = OpenRegularFile(path, &fd, &size);
  if (FAILED(hr)) return Refuse(hr, sink, "the Firehose programmer cannot be read", path);
  if (size > kMaxProgrammerBytes || size < sizeof kElfMagic)
    return Refuse(HRESULT_FROM_WIN32(ERROR_BAD_FORMAT), sink, "the Firehose programmer is no ELF file", path);
  bytes->resize(static_cast<size_t>(size));
  hr = ReadFileAt(fd.get(), bytes->data(), bytes->size(), 0);
  if (FAILED(hr)) return Refuse(hr, sink, "the Firehose programmer cannot be read", path);
  if (!std::equal(std::begin(kElfMagic), std::end(kElfMagic), bytes->begin()))
    return Refuse(HRESULT_FROM_WIN32(ERROR_BAD_FORMAT), sink, "the Firehose programmer is no ELF file", path);
  return S_OK;
}

// Opens the image to size it and refuse a sparse one, and closes it again:
// a package of hundreds of images on dozens of phones holds no files open.
HRESULT CheckImage(const Attributes& a, IQStatusReport* sink, FirehoseProgram* p) {
  UniqueFd file;
  HRESULT hr = OpenRegularFile(p->path, &file, &p->fileBytes);
  if (FAILED(hr)) return Refuse(hr, sink, "an image cannot be read", p->path);
  unsigned char magic[4] = {};
  bool sparseMagic = p->fileBytes >= sizeof magic && SUCCEEDED(ReadFileAt(file.get(), magic, sizeof magic, 0)) &&
                     GetLittleEndian32(magic) == kSparseMagic;
  const std::string* sparse = Find(a, "sparse");
  if (sparseMagic || (sparse && EqualsIgnoreCase(*sparse, "true")))
    return Refuse(HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED), sink, "sparse images are not supported", p->path);
  return S_OK;
}

// One program element; *skip when it names no file.
HRESULT ReadProgram(const Attributes& a, const std::string& searchPaths, IQStatusReport* sink, FirehoseProgram* p,
                    bool* skip) {
  const std::string* filename = Find(a, "filename");
  *skip = !filename || filename->empty();
  if (*skip) return S_OK;
  p->filename = *filename;
  if (const std::string* label = Find(a, "label")) p->label = *label;
  std::uint64_t partition = 0;
  const std::string* start = Find(a, "start_sector");
  if (!IsPackageRelativeName(p->filename) || !SectorSize(a, &p->sectorSize) ||
      !Number(a, "physical_partition_number", 255, false, &partition) ||
      !Number(a, "num_partition_sectors", UINT64_MAX / 65536, false, &p->sectorLimit) ||
      !Number(a, "file_sector_offset", UINT64_MAX / 65536, false, &p->fileSectorOffset) || !start ||
      !IsFirehoseExpression(*start, false))
    return Refuse(E_INVALIDARG, sink, "a program element is malformed", p->filename);
  p->partition = static_cast<std::uint32_t>(partition);
  p->startSector = *start;
  p->path = SearchFile(searchPaths, p->filename);
  return CheckImage(a, sink, p);
}

HRESULT ReadPatch(const Attributes& a, IQStatusReport* sink, FirehosePatch* p) {
  std::uint64_t partition = 0, offset = 0, size = 0;
  const std::string* start = Find(a, "start_sector");
  const std::string* value = Find(a, "value");
  if (!SectorSize(a, &p->sectorSize) || !Number(a, "physical_partition_number", 255, false, &partition) ||
      !Number(a, "byte_offset", 65536, true, &offset) || !Number(a, "size_in_bytes", 8, true, &size) || size == 0 ||
      offset + size > p->sectorSize || !start || !IsFirehoseExpression(*start, false) || !value ||
      !IsFirehoseExpression(*value, true))
    return Refuse(E_INVALIDARG, sink, "a patch element is malformed", start ? *start : std::string("?"));
  p->partition = static_cast<std::uint32_t>(partition);
  p->byteOffset = static_cast<std::uint32_t>(offset);
  p->sizeInBytes = static_cast<std::uint32_t>(size);
  p->startSector = *start;
  p->value = *value;
  return S_OK;
}

HRESULT OpenXml(const std::string& path, IQStatusReport* sink, std::unique_ptr<XmlElementReader>* reader) {
  HRESULT hr = CreateXmlReaderOnFile(path, reader);
  if (FAILED(hr)) return Refuse(hr, sink, "an XML file cannot be read", path);
  return S_OK;
}

HRESULT ReadPrograms(const std::string& xml, const std::string& searchPaths, IQStatusReport* sink,
                     std::vector<FirehoseProgram>* programs) {
  std::unique_ptr<XmlElementReader> reader;
  HRESULT hr = OpenXml(xml, sink, &reader);
  if (FAILED(hr)) return hr;
  XmlElementReader::Element element;
  while ((hr = reader->NextElement(&element)) == S_OK) {
    if (!EqualsIgnoreCase(element.localName, "program")) continue;
    FirehoseProgram program;
    bool skip = false;
    hr = ReadProgram(element.attributes, searchPaths, sink, &program, &skip);
    if (FAILED(hr)) return hr;
    if (!skip && program.sectorsToSend() > 0) programs->push_back(std::move(program));
  }
  return FAILED(hr) ? Refuse(hr, sink, "the rawprogram file is not well formed", xml) : S_OK;
}

HRESULT ReadPatches(const std::string& xml, IQStatusReport* sink, std::vector<FirehosePatch>* patches) {
  std::unique_ptr<XmlElementReader> reader;
  HRESULT hr = OpenXml(xml, sink, &reader);
  if (FAILED(hr)) return hr;
  XmlElementReader::Element element;
  while ((hr = reader->NextElement(&element)) == S_OK) {
    if (!EqualsIgnoreCase(element.localName, "patch")) continue;
    const std::string* file = Find(element.attributes, "filename");
    if (!file || !EqualsIgnoreCase(*file, "DISK")) continue;  // the same fix for a local file
    FirehosePatch patch;
    hr = ReadPatch(element.attributes, sink, &patch);
    if (FAILED(hr)) return hr;
    patches->push_back(std::move(patch));
  }
  return FAILED(hr) ? Refuse(hr, sink, "the patch file is not well formed", xml) : S_OK;
}

}  // namespace

std::uint64_t FirehoseProgram::sectorsToSend() const {
  std::uint64_t fileSectors = (fileBytes + sectorSize - 1) / sectorSize;
  if (fileSectorOffset >= fileSectors) return 0;
  std::uint64_t sectors = fileSectors - fileSectorOffset;
  return sectorLimit != 0 ? std::min(sectors, sectorLimit) : sectors;
}

std::uint64_t FirehosePackage::bytesToSend() const {
  std::uint64_t total = 0;
  for (const FirehoseProgram& p : programs) total += p.sectorsToSend() * p.sectorSize;
  return total;
}

bool FirehoseMemoryName(const std::string& setting, std::string* memoryName) {
  for (const char* name : {"", "emmc", "ufs"}) {
    if (EqualsIgnoreCase(setting, name)) {
      *memoryName = name;
      return true;
    }
  }
  return false;
}

bool IsFirehoseExpression(const std::string& text, bool allowCrc) {
  if (text.empty() || text.size() > kMaxExpressionChars) return false;
  std::uint64_t number = 0;
  if (ReadNumber(text, UINT64_MAX, &number)) return true;
  std::string rest = text;
  for (std::string_view word : {std::string_view("NUM_DISK_SECTORS"), std::string_view("CRC32")}) {
    if (word == "CRC32" && !allowCrc) continue;
    for (size_t at; (at = rest.find(word)) != std::string::npos;) rest.replace(at, word.size(), " ");
  }
  if (rest.size() == text.size()) return false;  // an expression names the disk
  const std::string_view allowed = allowCrc ? "0123456789+-*/. (),xX" : "0123456789+-*/. xX";
  return std::all_of(rest.begin(), rest.end(), [&](char c) { return allowed.find(c) != std::string_view::npos; });
}

HRESULT ReadFirehosePackage(const std::string& programmer, const std::string& rawprogramXml,
                            const std::string& patchXml, const std::string& searchPaths, const std::string& memory,
                            IQStatusReport* sink, FirehosePackage* package) {
  NotifyStatus(sink, "Check Firehose package \"%s\"", rawprogramXml.c_str());
  if (!FirehoseMemoryName(memory, &package->memoryName))
    return Refuse(E_INVALIDARG, sink, "the storage type is neither eMMC nor UFS", memory);
  package->programmerPath = programmer;
  HRESULT hr = ReadProgrammer(programmer, sink, &package->programmer);
  if (FAILED(hr)) return hr;
  hr = ReadPrograms(rawprogramXml, searchPaths, sink, &package->programs);
  if (FAILED(hr)) return hr;
  hr = ReadPatches(patchXml, sink, &package->patches);
  if (FAILED(hr)) return hr;
  if (package->memoryName.empty()) {
    bool ufs = !package->programs.empty() && package->programs.front().sectorSize == 4096;
    package->memoryName = ufs ? "ufs" : "emmc";
  }
  return S_OK;
}

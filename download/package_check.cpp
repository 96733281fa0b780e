#include "download/package_check.h"

#include <functional>
#include <memory>
#include <optional>

#include "download/xml_reader.h"
#include "platform/regular_file.h"
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

// A count attribute: absent keeps 0.
HRESULT Count(const XmlElementReader::Element& e, const char* name, std::uint64_t* count) {
  std::optional<std::string> text = Attribute(e, name);
  return text ? ParseCount(*text, count) : S_OK;
}

HRESULT Sector(const XmlElementReader::Element& e, const char* name, SectorNumber* sector) {
  std::optional<std::string> text = Attribute(e, name);
  return text ? ParseSectorNumber(*text, sector) : S_OK;
}

// The image is opened to see that it can be read and closed again: a
// package of hundreds of images on dozens of phones holds no files open.
HRESULT CheckImage(PackageImage* image) {
  UniqueFd file;
  HRESULT hr = OpenRegularFile(image->path, &file, &image->fileBytes);
  if (FAILED(hr)) return hr;
  return image->fileBytes == 0 ? HRESULT_FROM_WIN32(ERROR_FILE_INVALID) : S_OK;
}

HRESULT ReadProgram(const XmlElementReader::Element& element, const std::string& searchPaths, PackageImage* image) {
  constexpr const char* kName = "ReadProgramElements";
  std::string filename = Attribute(element, "filename").value_or("");
  if (!IsPackageRelativeName(filename)) return Fail(E_INVALIDARG, kName, __LINE__);
  HRESULT hr = Sector(element, "start_sector", &image->startSector);
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  hr = Count(element, "num_partition_sectors", &image->sectorLimit);
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  hr = Count(element, "file_sector_offset", &image->fileSectorOffset);
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  image->path = SearchFile(searchPaths, filename);
  hr = CheckImage(image);
  TraceResult(hr, kName, __LINE__);
  return hr;
}

HRESULT ReadPatch(const XmlElementReader::Element& element, PackagePatch* patch) {
  constexpr const char* kName = "ReadPatchElements";
  HRESULT hr = Sector(element, "start_sector", &patch->startSector);
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  hr = Count(element, "byte_offset", &patch->byteOffset);
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  hr = Count(element, "size_in_bytes", &patch->sizeInBytes);
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  // The patched bytes lie inside the one sector that is read and written.
  if (patch->byteOffset > kSector || patch->sizeInBytes > kSector - patch->byteOffset)
    return Fail(E_INVALIDARG, kName, __LINE__);
  return S_OK;
}

// Hands each element of that name, in document order, to read. A file that
// cannot be read or parsed is traced under operation; read traces its own
// failures, and the first one ends the walk.
HRESULT ForEachElement(const std::string& path, const char* name, const char* operation,
                       const std::function<HRESULT(const XmlElementReader::Element&)>& read) {
  std::unique_ptr<XmlElementReader> reader;
  HRESULT hr = CreateXmlReaderOnFile(path, &reader);
  if (!TraceResult(hr, operation, __LINE__)) return hr;
  XmlElementReader::Element element;
  while ((hr = reader->NextElement(&element)) == S_OK) {
    if (!EqualsIgnoreCase(element.localName, name)) continue;
    hr = read(element);
    if (FAILED(hr)) return hr;
  }
  TraceResult(hr, operation, __LINE__);
  return FAILED(hr) ? hr : S_OK;
}

}  // namespace

std::uint64_t PackageImage::sectorsWritten() const {
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

HRESULT ReadProgramElements(const std::string& rawprogramXml, const std::string& searchPaths,
                            std::vector<PackageImage>* images, std::string* failedImage) {
  auto read = [&](const XmlElementReader::Element& e) -> HRESULT {
    if (Attribute(e, "filename").value_or("").empty()) return S_OK;
    PackageImage image;
    HRESULT hr = ReadProgram(e, searchPaths, &image);
    if (FAILED(hr) && failedImage) *failedImage = image.path;
    if (SUCCEEDED(hr)) images->push_back(std::move(image));
    return hr;
  };
  return ForEachElement(rawprogramXml, "program", "ReadProgramElements", read);
}

HRESULT ReadPatchElements(const std::string& patchXml, std::vector<PackagePatch>* patches) {
  auto read = [&](const XmlElementReader::Element& e) -> HRESULT {
    PackagePatch patch;
    // A value of an unknown form is refused on every patch element.
    if (std::optional<std::string> value = Attribute(e, "value")) {
      HRESULT hr = ParsePatchValue(*value, &patch.value);
      if (!TraceResult(hr, "ReadPatchElements", __LINE__)) return hr;
    }
    if (!EqualsIgnoreCase(Attribute(e, "filename").value_or(""), "DISK")) return S_OK;
    HRESULT hr = ReadPatch(e, &patch);
    if (SUCCEEDED(hr)) patches->push_back(patch);
    return hr;
  };
  return ForEachElement(patchXml, "patch", "ReadPatchElements", read);
}

HRESULT CheckPackage(const std::string& rawprogramXml, const std::string& patchXml, const std::string& searchPaths,
                     CheckedPackage* package) {
  constexpr const char* kName = "CheckPackage";
  CheckedPackage checked;
  checked.rawprogramXml = rawprogramXml;
  checked.patchXml = patchXml;
  HRESULT hr = ReadProgramElements(rawprogramXml, searchPaths, &checked.images, &package->failedImage);
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  hr = ReadPatchElements(patchXml, &checked.patches);
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  *package = std::move(checked);
  return S_OK;
}

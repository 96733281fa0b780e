#include "flashers/package_files.h"

#include <memory>

#include "download/xml_reader.h"
#include "platform/text.h"
#include "process/search_file.h"

std::vector<std::string> RawprogramFiles(const std::string& rawprogramXml, const std::string& searchPaths) {
  std::vector<std::string> files;
  std::unique_ptr<XmlElementReader> reader;
  if (FAILED(CreateXmlReaderOnFile(rawprogramXml, &reader))) return files;
  XmlElementReader::Element element;
  while (reader->NextElement(&element) == S_OK) {
    if (!EqualsIgnoreCase(element.localName, "program")) continue;
    for (const auto& [name, value] : element.attributes)
      if (name == "filename" && !value.empty()) files.push_back(SearchFile(searchPaths, value));
  }
  return files;
}

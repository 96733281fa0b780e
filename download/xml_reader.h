// A forward-only reader of XML elements over libxml2's xmlTextReader: the
// network is never used, entities are never substituted, a document type
// declaration is refused (WC_E_DTDPROHIBITED), a document that is not well
// formed fails (WC_E_SYNTAX), and libxml2 prints nothing.
#pragma once
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/hresult.h"

class XmlElementReader {
 public:
  struct Element {
    std::string localName;
    std::vector<std::pair<std::string, std::string>> attributes;  // local name, value; no namespace declarations
  };

  ~XmlElementReader();

  // The next element in document order at any depth: S_OK with *element
  // filled, S_FALSE at the end of the input, or the reader's error.
  HRESULT NextElement(Element* element);

 private:
  friend HRESULT CreateXmlReaderOnFile(const std::string& path, std::unique_ptr<XmlElementReader>* reader);
  friend HRESULT CreateXmlReaderOnText(std::string text, std::unique_ptr<XmlElementReader>* reader);
  XmlElementReader() = default;

 public:
  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

// Only a regular file is read (see OpenRegularFile).
HRESULT CreateXmlReaderOnFile(const std::string& path, std::unique_ptr<XmlElementReader>* reader);
// The same reader over a document held in memory (at most INT_MAX bytes).
HRESULT CreateXmlReaderOnText(std::string text, std::unique_ptr<XmlElementReader>* reader);

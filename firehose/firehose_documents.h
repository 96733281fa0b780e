// Firehose documents: small XML documents, one command or answer each, with
// no length prefix. Over a byte stream they are found from "<?xml" to
// "</data>" alone; this file splits, parses and builds them with no I/O.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "download/xml_reader.h"
#include "platform/hresult.h"

namespace firehose {

// The largest document accepted from a phone, declaration to "</data>".
inline constexpr size_t kMaxDocumentBytes = 65536;
// The most elements one phone document may hold.
inline constexpr size_t kMaxElements = 64;

using Element = XmlElementReader::Element;

// Splits the bytes a phone sends into documents: bytes before "<?xml"
// (white space, stray bytes) are dropped, a document ends right after
// "</data>", and whatever follows waits for the next call.
class DocumentSplitter {
 public:
  void Feed(const unsigned char* data, size_t size);
  // S_OK with the next complete document; S_FALSE when none is complete yet;
  // ERROR_INVALID_DATA when more than kMaxDocumentBytes wait without an end.
  HRESULT Next(std::string* document);
  size_t pending() const { return buffer_.size(); }

 private:
  std::string buffer_;
};

// The child elements of the document's <data> root, in order. Bytes between
// the declaration and <data> are skipped (some phones put stray bytes
// there). WC_E_SYNTAX for a document that is not well formed, ERROR_INVALID_DATA
// for another root or more than kMaxElements children.
HRESULT ParseDocument(std::string_view document, std::vector<Element>* elements);

// The value of an attribute, its name compared ignoring case; null when absent.
const std::string* FindAttribute(const Element& element, std::string_view name);

// One command document: `<?xml version="1.0" ?><data><NAME a="v" ... /></data>`,
// the values escaped.
std::string BuildCommand(std::string_view name, const std::vector<std::pair<std::string, std::string>>& attributes);

}  // namespace firehose

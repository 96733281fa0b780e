#include "firehose/firehose_documents.h"

#include "platform/text.h"

namespace firehose {

namespace {

constexpr std::string_view kDeclaration = "<?xml";
constexpr std::string_view kEnd = "</data>";
constexpr HRESULT kInvalid = HRESULT_FROM_WIN32(ERROR_INVALID_DATA);

std::string Escaped(std::string_view value) {
  std::string out;
  for (char c : value) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

}  // namespace

void DocumentSplitter::Feed(const unsigned char* data, size_t size) {
  buffer_.append(reinterpret_cast<const char*>(data), size);
}

HRESULT DocumentSplitter::Next(std::string* document) {
  size_t start = buffer_.find(kDeclaration);
  if (start == std::string::npos) {
    // Keep a tail that may be the start of a declaration cut by the read.
    if (buffer_.size() >= kDeclaration.size()) buffer_.erase(0, buffer_.size() - (kDeclaration.size() - 1));
    return S_FALSE;
  }
  buffer_.erase(0, start);
  size_t end = buffer_.find(kEnd);
  if (end == std::string::npos) return buffer_.size() > kMaxDocumentBytes ? kInvalid : S_FALSE;
  end += kEnd.size();
  if (end > kMaxDocumentBytes) return kInvalid;
  document->assign(buffer_, 0, end);
  buffer_.erase(0, end);
  return S_OK;
}

HRESULT ParseDocument(std::string_view document, std::vector<Element>* elements) {
  elements->clear();
  if (document.size() > kMaxDocumentBytes) return kInvalid;
  size_t root = document.find("<data");
  if (root == std::string_view::npos) return kInvalid;
  std::unique_ptr<XmlElementReader> reader;
  HRESULT hr = CreateXmlReaderOnText(std::string(document.substr(root)), &reader);
  if (FAILED(hr)) return hr;
  Element element;
  hr = reader->NextElement(&element);
  if (hr != S_OK) return FAILED(hr) ? hr : kInvalid;
  if (element.localName != "data") return kInvalid;
  while ((hr = reader->NextElement(&element)) == S_OK) {
    if (elements->size() == kMaxElements) return kInvalid;
    elements->push_back(std::move(element));
  }
  return FAILED(hr) ? hr : S_OK;
}

const std::string* FindAttribute(const Element& element, std::string_view name) {
  for (const auto& [key, value] : element.attributes)
    if (EqualsIgnoreCase(key, name)) return &value;
  return nullptr;
}

std::string BuildCommand(std::string_view name, const std::vector<std::pair<std::string, std::string>>& attributes) {
  std::string text = "<?xml version=\"1.0\" ?><data><";
  text += name;
  for (const auto& [key, value] : attributes) text += " " + key + "=\"" + Escaped(value) + "\"";
  text += " /></data>";
  return text;
}

}  // namespace firehose

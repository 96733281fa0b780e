#include "download/xml_reader.h"

#include <libxml/xmlreader.h>

#include "platform/regular_file.h"
#include "platform/unique_fd.h"
#include "shell/log.h"

struct XmlElementReader::Impl {
  UniqueFd fd;
  std::string text;  // the input of a reader over memory
  xmlTextReaderPtr reader = nullptr;
  bool failed = false;
  ~Impl() {
    if (reader) xmlFreeTextReader(reader);
  }
};

namespace {

std::string Text(const xmlChar* s) { return s ? reinterpret_cast<const char*>(s) : ""; }

// libxml2 sets up its globals (their mutexes among them) on first use, which
// is not safe when two jobs parse their first file at once on threads of
// their own. The set-up is done here exactly once, before the first reader,
// and every thread sees it done.
void InitialiseParser() {
  static const bool initialised = [] {
    xmlInitParser();
    return true;
  }();
  (void)initialised;
}

// Keeps libxml2 silent and remembers that something went wrong.
void Silence(XmlElementReader::Impl* impl) {
  xmlTextReaderSetStructuredErrorHandler(
      impl->reader,
      [](void* context, xmlErrorPtr error) {
        if (error && error->level >= XML_ERR_ERROR) static_cast<XmlElementReader::Impl*>(context)->failed = true;
      },
      impl);
}

}  // namespace

XmlElementReader::~XmlElementReader() = default;

HRESULT CreateXmlReaderOnFile(const std::string& path, std::unique_ptr<XmlElementReader>* out) {
  InitialiseParser();
  std::unique_ptr<XmlElementReader> reader(new XmlElementReader);
  reader->impl_ = std::make_unique<XmlElementReader::Impl>();
  std::uint64_t size = 0;
  HRESULT hr = OpenRegularFile(path, &reader->impl_->fd, &size);
  if (!TraceResult(hr, "CreateXmlReaderOnFile", __LINE__)) return hr;
  reader->impl_->reader = xmlReaderForFd(reader->impl_->fd.get(), path.c_str(), nullptr, XML_PARSE_NONET);
  if (!reader->impl_->reader) {
    TraceResult(E_OUTOFMEMORY, "CreateXmlReaderOnFile", __LINE__);
    return E_OUTOFMEMORY;
  }
  Silence(reader->impl_.get());
  *out = std::move(reader);
  return S_OK;
}

HRESULT CreateXmlReaderOnText(std::string text, std::unique_ptr<XmlElementReader>* out) {
  InitialiseParser();
  std::unique_ptr<XmlElementReader> reader(new XmlElementReader);
  reader->impl_ = std::make_unique<XmlElementReader::Impl>();
  reader->impl_->text = std::move(text);
  const std::string& input = reader->impl_->text;
  reader->impl_->reader =
      xmlReaderForMemory(input.data(), static_cast<int>(input.size()), nullptr, nullptr, XML_PARSE_NONET);
  if (!reader->impl_->reader) {
    TraceResult(E_OUTOFMEMORY, "CreateXmlReaderOnText", __LINE__);
    return E_OUTOFMEMORY;
  }
  Silence(reader->impl_.get());
  *out = std::move(reader);
  return S_OK;
}

HRESULT XmlElementReader::NextElement(Element* element) {
  for (;;) {
    int rc = xmlTextReaderRead(impl_->reader);
    if (rc == 0) return impl_->failed ? WC_E_SYNTAX : S_FALSE;
    if (rc < 0 || impl_->failed) return WC_E_SYNTAX;
    int type = xmlTextReaderNodeType(impl_->reader);
    if (type == XML_READER_TYPE_DOCUMENT_TYPE) return WC_E_DTDPROHIBITED;
    if (type != XML_READER_TYPE_ELEMENT) continue;
    element->localName = Text(xmlTextReaderConstLocalName(impl_->reader));
    element->attributes.clear();
    if (xmlTextReaderMoveToFirstAttribute(impl_->reader) == 1) {
      do {
        if (xmlTextReaderIsNamespaceDecl(impl_->reader) == 1) continue;
        element->attributes.emplace_back(Text(xmlTextReaderConstLocalName(impl_->reader)),
                                         Text(xmlTextReaderConstValue(impl_->reader)));
      } while (xmlTextReaderMoveToNextAttribute(impl_->reader) == 1);
      xmlTextReaderMoveToElement(impl_->reader);
    }
    return S_OK;
  }
}

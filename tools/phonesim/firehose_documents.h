// The Firehose programmer's side of the XML documents: cutting the host's
// byte stream into documents (a document ends at "</data>"; nothing else
// marks its end on a serial line), reading the command elements of one, and
// writing the phone's own documents (logs and responses).
#pragma once
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tools/phonesim/sim_frame.h"

namespace phonesim {

// One element of a document, its name and attribute names in lower case
// (programmers match them without regard to case), values with entities decoded.
struct FirehoseElement {
  std::string name;
  std::map<std::string, std::string> attributes;
  const std::string* Find(const std::string& lowerName) const;
};

enum class DocumentCut { NeedMore, Document, Garbage, Oversize };

// Takes the first document off the front of `buffer`. Garbage: bytes before
// the next "<?xml" that are not blanks were dropped; Oversize: no end tag
// within `largest` bytes, the start was dropped.
DocumentCut CutDocument(Bytes& buffer, std::size_t largest, std::string* document);

// The elements inside <data>; nullopt when the document is not well formed.
std::optional<std::vector<FirehoseElement>> ParseDocument(const std::string& document);

std::string XmlEscape(const std::string& text);
// "<?xml ...?>\n<data>\n" + element + "</data>", the form the phone writes.
std::string PhoneDocument(const std::string& element);
std::string LogDocument(const std::string& text);

}  // namespace phonesim

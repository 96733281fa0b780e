#include "tools/phonesim/firehose_documents.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace phonesim {
namespace {

const char kStart[] = "<?xml";
const char kEnd[] = "</data>";

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::size_t Find(const Bytes& b, const char* what, std::size_t from = 0) {
  std::size_t n = std::strlen(what);
  if (b.size() < n) return std::string::npos;
  auto it = std::search(b.begin() + static_cast<std::ptrdiff_t>(std::min(from, b.size())), b.end(), what, what + n);
  return it == b.end() ? std::string::npos : static_cast<std::size_t>(it - b.begin());
}

bool Blank(std::uint8_t c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::optional<std::string> DecodeEntities(const std::string& raw) {
  std::string out;
  for (std::size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] != '&') {
      if (raw[i] == '<') return std::nullopt;
      out += raw[i];
      continue;
    }
    std::size_t semi = raw.find(';', i);
    if (semi == std::string::npos || semi - i > 8) return std::nullopt;
    std::string name = raw.substr(i + 1, semi - i - 1);
    if (name == "quot") out += '"';
    else if (name == "amp") out += '&';
    else if (name == "lt") out += '<';
    else if (name == "gt") out += '>';
    else if (name == "apos") out += '\'';
    else return std::nullopt;
    i = semi;
  }
  return out;
}

bool NameChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == ':' || c == '.'; }

void SkipBlanks(const std::string& s, std::size_t& i) {
  while (i < s.size() && Blank(static_cast<std::uint8_t>(s[i]))) ++i;
}

std::string Name(const std::string& s, std::size_t& i) {
  std::size_t from = i;
  while (i < s.size() && NameChar(s[i])) ++i;
  return s.substr(from, i - from);
}

// Reads "<name a="v" ... />" or "<name ...>" at s[i]; i moves past it.
std::optional<FirehoseElement> Element(const std::string& s, std::size_t& i, bool* selfClosed) {
  FirehoseElement e;
  ++i;  // '<'
  e.name = Lower(Name(s, i));
  if (e.name.empty()) return std::nullopt;
  for (;;) {
    SkipBlanks(s, i);
    if (i >= s.size()) return std::nullopt;
    if (s.compare(i, 2, "/>") == 0) {
      i += 2;
      *selfClosed = true;
      return e;
    }
    if (s[i] == '>') {
      ++i;
      *selfClosed = false;
      return e;
    }
    std::string key = Lower(Name(s, i));
    SkipBlanks(s, i);
    if (key.empty() || i >= s.size() || s[i] != '=') return std::nullopt;
    ++i;
    SkipBlanks(s, i);
    if (i >= s.size() || (s[i] != '"' && s[i] != '\'')) return std::nullopt;
    char quote = s[i++];
    std::size_t close = s.find(quote, i);
    if (close == std::string::npos) return std::nullopt;
    auto value = DecodeEntities(s.substr(i, close - i));
    if (!value || e.attributes.count(key)) return std::nullopt;
    e.attributes[key] = *value;
    i = close + 1;
  }
}

}  // namespace

const std::string* FirehoseElement::Find(const std::string& lowerName) const {
  auto it = attributes.find(lowerName);
  return it == attributes.end() ? nullptr : &it->second;
}

DocumentCut CutDocument(Bytes& buffer, std::size_t largest, std::string* document) {
  std::size_t start = Find(buffer, kStart);
  std::size_t leading = start == std::string::npos ? buffer.size() : start;
  // Keep a tail that may still become "<?xml".
  if (start == std::string::npos) leading = buffer.size() > 4 ? buffer.size() - 4 : 0;
  bool garbage = !std::all_of(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(leading), Blank);
  buffer.erase(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(leading));
  if (garbage) return DocumentCut::Garbage;
  if (start == std::string::npos) return DocumentCut::NeedMore;
  std::size_t end = Find(buffer, kEnd);
  if (end == std::string::npos || end + sizeof kEnd - 1 > largest) {
    if (buffer.size() <= largest) return DocumentCut::NeedMore;
    buffer.erase(buffer.begin(), buffer.begin() + 1);  // drop this start; hunt for the next
    return DocumentCut::Oversize;
  }
  std::size_t length = end + sizeof kEnd - 1;
  document->assign(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(length));
  buffer.erase(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(length));
  return DocumentCut::Document;
}

std::optional<std::vector<FirehoseElement>> ParseDocument(const std::string& s) {
  std::size_t i = 0;
  SkipBlanks(s, i);
  if (s.compare(i, 5, kStart) != 0) return std::nullopt;
  std::size_t declEnd = s.find("?>", i);
  if (declEnd == std::string::npos) return std::nullopt;
  i = declEnd + 2;
  SkipBlanks(s, i);
  if (s.compare(i, 6, "<data>") != 0) return std::nullopt;
  i += 6;
  std::vector<FirehoseElement> elements;
  for (;;) {
    SkipBlanks(s, i);
    if (i >= s.size() || s[i] != '<') return std::nullopt;
    if (s.compare(i, 7, kEnd) == 0) break;
    bool selfClosed = false;
    auto e = Element(s, i, &selfClosed);
    if (!e) return std::nullopt;
    if (!selfClosed) {
      std::string close = "</" + e->name + ">";
      std::size_t at = Lower(s).find(close, i);
      if (at == std::string::npos) return std::nullopt;
      i = at + close.size();
    }
    elements.push_back(std::move(*e));
  }
  return elements;
}

std::string XmlEscape(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '"': out += "&quot;"; break;
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string PhoneDocument(const std::string& element) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n<data>\n" + element + "</data>";
}

std::string LogDocument(const std::string& text) {
  return PhoneDocument("<log value=\"" + XmlEscape(text) + "\" />");
}

}  // namespace phonesim

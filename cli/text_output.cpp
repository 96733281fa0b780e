#include "cli/text_output.h"

#include <cstdio>

namespace {

bool IsControl(char32_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

unsigned CharWidth(char32_t c) {
  if ((c >= 0x300 && c <= 0x36F) || c == 0x200B || (c >= 0xFE00 && c <= 0xFE0F)) return 0;
  bool wide = (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF && c != 0x303F) ||
              (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F) ||
              (c >= 0xFF00 && c <= 0xFF60) || (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x1F300 && c <= 0x1F64F) ||
              (c >= 0x20000 && c <= 0x3FFFD);
  return wide ? 2 : 1;
}

}  // namespace

std::string PrintableText(std::string_view text) {
  std::string out;
  for (size_t at = 0; at < text.size();) {
    char32_t c = 0;
    size_t length = DecodeUtf8(text, at, &c);
    if (length == 0) {
      out += '?';
      ++at;
      continue;
    }
    if (c == '\t') out += ' ';
    else if (IsControl(c)) out += '?';
    else out.append(text.substr(at, length));
    at += length;
  }
  return out;
}

size_t DisplayWidth(std::string_view printable) {
  size_t width = 0;
  for (size_t at = 0; at < printable.size();) {
    char32_t c = 0;
    size_t length = DecodeUtf8(printable, at, &c);
    width += length ? CharWidth(c) : 1;
    at += length ? length : 1;
  }
  return width;
}

std::string FitToColumns(std::string_view printable, size_t columns) {
  size_t width = 0;
  size_t at = 0;
  while (at < printable.size()) {
    char32_t c = 0;
    size_t length = DecodeUtf8(printable, at, &c);
    unsigned w = length ? CharWidth(c) : 1;
    if (width + w > columns) break;
    width += w;
    at += length ? length : 1;
  }
  return std::string(printable.substr(0, at));
}

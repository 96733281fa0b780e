#include "platform/text.h"

#include <iconv.h>
#include <langinfo.h>
#include <locale.h>
#include <wctype.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// Length of the UTF-8 sequence starting at s[i], or 0 when it is not valid:
// only the shortest form of a code point up to U+10FFFF that is no surrogate
// counts (a database or a JSON reader refuses the others).
size_t Utf8SequenceLength(std::string_view s, size_t i) {
  char32_t code = 0;
  return DecodeUtf8(s, i, &code);
}

bool IsUtf8Codeset(const char* codeset) {
  return strcasecmp(codeset, "UTF-8") == 0 || strcasecmp(codeset, "UTF8") == 0;
}


// One conversion with iconv; on an input sequence the target cannot take,
// emits "?" and skips one character of the source (its UTF-8 length when the
// source is UTF-8, else one byte).
std::string Convert(const char* to, const char* from, std::string_view in, bool fromUtf8) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::string(in);
  std::string out;
  out.reserve(in.size() + 16);
  char* src = const_cast<char*>(in.data());
  size_t srcLeft = in.size();
  char buffer[1024];
  while (srcLeft > 0) {
    char* dst = buffer;
    size_t dstLeft = sizeof buffer;
    size_t rc = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    out.append(buffer, dst - buffer);
    if (rc != static_cast<size_t>(-1)) continue;
    if (errno == E2BIG) continue;
    // EILSEQ or EINVAL (an incomplete sequence at the end): replace it.
    size_t skip = 1;
    if (fromUtf8) {
      size_t len = Utf8SequenceLength(std::string_view(src, srcLeft), 0);
      if (len > 0) skip = len;
    }
    skip = std::min(skip, srcLeft);
    src += skip;
    srcLeft -= skip;
    out += '?';
  }
  char* dst = buffer;
  size_t dstLeft = sizeof buffer;
  iconv(cd, nullptr, nullptr, &dst, &dstLeft);  // shift back to the initial state
  out.append(buffer, dst - buffer);
  iconv_close(cd);
  return out;
}

}  // namespace

namespace {
bool IsAscii(std::string_view s) {
  for (char c : s) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}
}  // namespace

std::string Utf8ToLocale(std::string_view utf8) {
  if (IsAscii(utf8)) return std::string(utf8);  // every codeset in use holds ASCII
  const char* codeset = nl_langinfo(CODESET);
  if (IsUtf8Codeset(codeset)) return SanitizeUtf8(utf8);
  return Convert(codeset, "UTF-8", utf8, true);
}

std::string LocaleToUtf8(std::string_view bytes) {
  const char* codeset = nl_langinfo(CODESET);
  if (IsUtf8Codeset(codeset)) return SanitizeUtf8(bytes);
  return Convert("UTF-8", codeset, bytes, false);
}

std::size_t CharCount(std::string_view utf8) {
  size_t count = 0;
  for (size_t i = 0; i < utf8.size(); ++count) {
    size_t len = Utf8SequenceLength(utf8, i);
    i += len == 0 ? 1 : len;
  }
  return count;
}

std::string TruncateChars(std::string_view utf8, std::size_t maxChars) {
  size_t i = 0;
  for (size_t count = 0; i < utf8.size() && count < maxChars; ++count) {
    size_t len = Utf8SequenceLength(utf8, i);
    i += len == 0 ? 1 : len;
  }
  return std::string(utf8.substr(0, i));
}

bool IsValidUtf8(std::string_view text) {
  for (size_t i = 0; i < text.size();) {
    size_t len = Utf8SequenceLength(text, i);
    if (len == 0) return false;
    i += len;
  }
  return true;
}

std::string SanitizeUtf8(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    size_t len = Utf8SequenceLength(s, i);
    if (len == 0) {
      out += '?';
      ++i;
    } else {
      out.append(s.substr(i, len));
      i += len;
    }
  }
  return out;
}

size_t DecodeUtf8(std::string_view text, size_t at, char32_t* code) {
  auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  unsigned char lead = byte(at);
  if (lead < 0x80) {
    *code = lead;
    return 1;
  }
  size_t length = lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3 : lead >= 0xF0 && lead <= 0xF4 ? 4 : 0;
  if (length == 0 || at + length > text.size()) return 0;
  char32_t c = lead & (0x7F >> length);
  for (size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
    c = (c << 6) | (byte(at + i) & 0x3F);
  }
  bool overlong = (length == 3 && c < 0x800) || (length == 4 && c < 0x10000);
  if (overlong || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
  *code = c;
  return length;
}

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  for (size_t at = 0; at < text.size();) {
    char32_t c = 0;
    size_t length = DecodeUtf8(text, at, &c);
    if (length == 0) {  // a stray byte: kept as the character of its number
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned char>(text[at]));
      out += escaped;
      ++at;
      continue;
    }
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      default:
        if (c < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
          out += escaped;
        } else {
          out.append(text.substr(at, length));
        }
    }
    at += length;
  }
  return out + "\"";
}

size_t ReadDecimalDigits(std::string_view text, size_t i, std::uint64_t* value, bool* overflow) {
  constexpr std::uint64_t kMax = ~std::uint64_t{0};
  *value = 0;
  *overflow = false;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    unsigned digit = static_cast<unsigned>(text[i] - '0');
    if (*value > (kMax - digit) / 10) *overflow = true;
    *value = *value * 10 + digit;
  }
  return i;
}

std::string AsciiLower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

namespace {

// The character at s[*i] as a code point, folded: its upper-case mapping,
// then that one's lower-case mapping, so that all spellings of a letter meet
// in one ("S", "s"; "Σ", "σ", "ς") and ASCII letters fold to lower case. An
// invalid byte stands for itself, above every code point. Advances *i.
std::uint32_t NextFolded(std::string_view s, size_t* i) {
  unsigned char c = static_cast<unsigned char>(s[*i]);
  if (c < 0x80) {
    ++*i;
    return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c;
  }
  size_t len = Utf8SequenceLength(s, *i);
  if (len == 0) {
    ++*i;
    return 0x110000u + c;
  }
  std::uint32_t code = c & (0x7F >> len);
  for (size_t k = 1; k < len; ++k) code = code << 6 | (static_cast<unsigned char>(s[*i + k]) & 0x3F);
  *i += len;
  // The case tables of the built-in UTF-8 locale, whatever the process's
  // own locale is.
  static const locale_t unicode = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
  if (!unicode) return code;
  return static_cast<std::uint32_t>(towlower_l(towupper_l(static_cast<wint_t>(code), unicode), unicode));
}

}  // namespace

std::string FoldCase(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    size_t start = i;
    std::uint32_t code = NextFolded(text, &i);
    if (code >= 0x110000u) {
      out += text[start];  // an invalid byte stays as it is
    } else if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | code >> 6);
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      out += static_cast<char>(0xE0 | code >> 12);
      out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | code >> 18);
      out += static_cast<char>(0x80 | (code >> 12 & 0x3F));
      out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }
  return out;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (NextFolded(a, &i) != NextFolded(b, &j)) return false;
  }
  return i == a.size() && j == b.size();
}

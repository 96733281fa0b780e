// Status texts come from phones and scripts: what reaches a JSON reader and
// what reaches a terminal.
#include "cli/text_output.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <iterator>
#include <random>
#include <string>
#include <vector>

TEST(JsonText, QuoteBackslashAndControlCharactersAreEscaped) {
  EXPECT_EQ(JsonString("a\"b\\c"), "\"a\\\"b\\\\c\"");
  EXPECT_EQ(JsonString("1\n2\t3\r4\b5\f6"), "\"1\\n2\\t3\\r4\\b5\\f6\"");
  EXPECT_EQ(JsonString(std::string("\x01\x1b[31m\x1f", 7) + std::string(1, '\0')), "\"\\u0001\\u001b[31m\\u001f\\u0000\"");
  EXPECT_EQ(JsonString("\x7f/"), "\"\x7f/\"");  // DEL and "/" need no escape in JSON
  EXPECT_EQ(JsonString(""), "\"\"");
}

TEST(JsonText, ValidUtf8StaysAndEveryStrayByteIsEscapedAsItsOwnNumber) {
  EXPECT_EQ(JsonString("刷机 ok \xF0\x9F\x93\xB1"), "\"刷机 ok \xF0\x9F\x93\xB1\"");
  EXPECT_EQ(JsonString("a\xff" "b"), "\"a\\u00ffb\"");
  EXPECT_EQ(JsonString("\xe5\x88"), "\"\\u00e5\\u0088\"");            // a sequence cut short
  EXPECT_EQ(JsonString("\xc0\xaf"), "\"\\u00c0\\u00af\"");            // an overlong "/"
  EXPECT_EQ(JsonString("\xed\xa0\x80"), "\"\\u00ed\\u00a0\\u0080\"");  // a surrogate
  EXPECT_EQ(JsonString("\xf4\x90\x80\x80"), "\"\\u00f4\\u0090\\u0080\\u0080\"");  // past U+10FFFF
  EXPECT_EQ(JsonString("\x80\xe5\x88\xb7"), "\"\\u0080刷\"");                   // resynchronises at once
}

TEST(TerminalText, ControlCharactersAndStrayBytesAreReplaced) {
  EXPECT_EQ(PrintableText("ok\x1b[2J\r\n\a\x7f"), "ok?[2J????");
  EXPECT_EQ(PrintableText("a\tb"), "a b");
  EXPECT_EQ(PrintableText("\xc2\x9b" "1m"), "?1m");  // the one-character CSI of C1
  EXPECT_EQ(PrintableText("x\xff刷"), "x?刷");
}

TEST(TerminalText, WidthCountsWideCharactersTwiceAndCutsBetweenCharacters) {
  EXPECT_EQ(DisplayWidth("abc"), 3u);
  EXPECT_EQ(DisplayWidth("刷新设备"), 8u);
  EXPECT_EQ(DisplayWidth("e\xcc\x81"), 1u);  // e and a combining acute accent
  EXPECT_EQ(FitToColumns("刷新设备", 5), "刷新");
  EXPECT_EQ(FitToColumns("刷新设备", 6), "刷新设");
  EXPECT_EQ(FitToColumns("abcdef", 4), "abcd");
  EXPECT_EQ(FitToColumns("abc", 10), "abc");
  EXPECT_EQ(FitToColumns("abc", 0), "");
}

namespace {

// An independent reader of one JSON string literal: the text it stands for,
// as UTF-8; false when the literal is not valid JSON.
bool ReadJsonString(const std::string& literal, std::string* text) {
  if (literal.size() < 2 || literal.front() != '"' || literal.back() != '"') return false;
  auto put = [text](unsigned c) {
    if (c < 0x80) {
      *text += static_cast<char>(c);
    } else if (c < 0x800) {
      *text += static_cast<char>(0xC0 | (c >> 6));
      *text += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      *text += static_cast<char>(0xE0 | (c >> 12));
      *text += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      *text += static_cast<char>(0x80 | (c & 0x3F));
    }
  };
  for (size_t i = 1; i + 1 < literal.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(literal[i]);
    if (c < 0x20 || c == '"') return false;
    if (c != '\\') {
      *text += static_cast<char>(c);
      continue;
    }
    if (++i + 1 >= literal.size()) return false;
    switch (literal[i]) {
      case '"': case '\\': case '/': *text += literal[i]; break;
      case 'n': *text += '\n'; break;
      case 't': *text += '\t'; break;
      case 'r': *text += '\r'; break;
      case 'b': *text += '\b'; break;
      case 'f': *text += '\f'; break;
      case 'u': {
        if (i + 4 >= literal.size()) return false;
        unsigned code = static_cast<unsigned>(std::stoul(literal.substr(i + 1, 4), nullptr, 16));
        if (code >= 0xD800 && code <= 0xDFFF) return false;
        put(code);
        i += 4;
        break;
      }
      default: return false;
    }
  }
  return true;
}

bool ValidUtf8(const std::string& text) {
  iconv_t cd = ::iconv_open("UTF-32LE", "UTF-8");
  std::string copy = text;
  std::vector<char> out(copy.size() * 4 + 4);
  char* in = copy.data();
  size_t inLeft = copy.size(), outLeft = out.size();
  char* outAt = out.data();
  bool ok = ::iconv(cd, &in, &inLeft, &outAt, &outLeft) != static_cast<size_t>(-1) && inLeft == 0;
  ::iconv_close(cd);
  return ok;
}

// Valid UTF-8 text where each stray byte of text stands as the character of
// its number: what a JSON reader must get back.
std::string AsRead(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size();) {
    size_t n = 1;
    while (n <= 4 && i + n <= text.size() && !ValidUtf8(text.substr(i, n))) ++n;
    if (n <= 4 && i + n <= text.size()) {
      out += text.substr(i, n);
      i += n;
    } else {
      unsigned char c = static_cast<unsigned char>(text[i++]);
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

}  // namespace

// Random bytes, weighted towards the awkward ones: every literal reads back
// as the text (stray bytes as their own numbers) and is valid UTF-8; the
// terminal's text holds no control character and fits the columns it is cut to.
TEST(TextOutput, RandomBytesGiveValidJsonAndHarmlessTerminalText) {
  std::mt19937 random(20261208);
  const std::string pieces[] = {"a", "\"", "\\", "\n", "\x1b", "\x7f", "\xc2\x9b", "\xe5\x88\xb7", "\xf0\x9f\x93\xb1",
                                "\xe5\x88", "\xff", "\xc0\xaf", "\xed\xa0\x80", " ", "\t", std::string(1, '\0')};
  for (int round = 0; round < 3000; ++round) {
    std::string text;
    int length = static_cast<int>(random() % 12);
    for (int i = 0; i < length; ++i) {
      if (random() % 3 == 0) text += static_cast<char>(random() % 256);
      else text += pieces[random() % std::size(pieces)];
    }
    std::string literal = JsonString(text), read;
    ASSERT_TRUE(ValidUtf8(literal)) << literal;
    ASSERT_TRUE(ReadJsonString(literal, &read)) << literal;
    ASSERT_EQ(read, AsRead(text)) << literal;

    std::string printable = PrintableText(text);
    ASSERT_TRUE(ValidUtf8(printable));
    for (unsigned char c : printable) ASSERT_FALSE(c < 0x20 || c == 0x7f) << printable;
    ASSERT_EQ(printable.find("\xc2\x9b"), std::string::npos);
    size_t columns = random() % 10;
    std::string cut = FitToColumns(printable, columns);
    ASSERT_LE(DisplayWidth(cut), columns);
    ASSERT_EQ(printable.rfind(cut, 0), 0u);
    ASSERT_TRUE(ValidUtf8(cut));
  }
}

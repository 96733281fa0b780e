// Status texts come from phones and scripts: what reaches a JSON reader and
// what reaches a terminal.
#include "cli/text_output.h"

#include <gtest/gtest.h>

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

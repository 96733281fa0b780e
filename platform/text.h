// Text conversion between the UTF-8 used inside the program and the codeset
// of the calling thread's locale (what log files and outside programs use).
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// UTF-8 -> locale codeset. A character the codeset cannot hold, and a byte
// that is not valid UTF-8, becomes "?".
std::string Utf8ToLocale(std::string_view utf8);

// Locale codeset -> UTF-8. Bytes that are not valid in the codeset become "?".
std::string LocaleToUtf8(std::string_view bytes);

// Number of characters (code points) in a UTF-8 text; an invalid byte counts
// as one character.
std::size_t CharCount(std::string_view utf8);
// The first maxChars characters of a UTF-8 text, never splitting one.
std::string TruncateChars(std::string_view utf8, std::size_t maxChars);

// Reads the decimal digits of text from position i into *value; *overflow
// tells whether they passed 2^64 - 1. Returns the position after the digits.
size_t ReadDecimalDigits(std::string_view text, size_t i, std::uint64_t* value, bool* overflow);

// True when every byte belongs to a valid UTF-8 sequence (shortest form, no
// surrogate, at most U+10FFFF).
bool IsValidUtf8(std::string_view text);
// The valid UTF-8 sequences kept, every other byte replaced by "?".
std::string SanitizeUtf8(std::string_view text);
// The code point of the UTF-8 sequence at text[at] and its length; length 0
// when the bytes there are not a valid sequence (shortest form, no
// surrogate, at most U+10FFFF).
size_t DecodeUtf8(std::string_view text, size_t at, char32_t* code);
// A JSON string literal: quote, backslash and control characters escaped
// (\" \\ \n \t \r \b \f, others \u00XX); valid UTF-8 kept as it is; each byte
// that is not part of valid UTF-8 written as \u00XX, the character of the
// same number, so every line stays valid UTF-8 and nothing is lost.
std::string JsonString(std::string_view text);

// Lower-case ASCII letters; other bytes unchanged.
std::string AsciiLower(std::string_view text);
// Equal ignoring letter case in every script, as the system compares names
// and paths: each character is taken by the lower case of its upper-case
// mapping (so "Пакет" equals "пакет"); bytes that are not valid UTF-8 must
// match exactly.
bool EqualsIgnoreCase(std::string_view a, std::string_view b);
// The text with each character folded so: two texts are EqualsIgnoreCase
// exactly when their FoldCase are equal (a map key). ASCII letters become
// lower case.
std::string FoldCase(std::string_view text);

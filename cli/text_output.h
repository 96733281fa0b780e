// Text as vantor-cli prints it: status texts come from phones and package
// scripts, so they may hold control characters or bytes that are not UTF-8.
#pragma once
#include <string>
#include <string_view>

#include "platform/text.h"  // JsonString, DecodeUtf8


// The text for a terminal: control characters (C0, DEL, C1) and bytes that
// are not valid UTF-8 each become "?"; a tab becomes a space.
std::string PrintableText(std::string_view text);

// The columns a printable text takes: wide East Asian characters two,
// combining marks none, others one.
size_t DisplayWidth(std::string_view printable);

// The longest start of a printable text that fits in the columns, cut
// between characters.
std::string FitToColumns(std::string_view printable, size_t columns);

// Command lines as one string, split into arguments by the Windows rules:
// blanks and TABs separate; double quotes group; 2n backslashes before a
// quote give n backslashes and the quote toggles grouping, 2n+1 give n and a
// literal quote; backslashes elsewhere are literal; inside a group "" is a
// literal quote. The first argument (the program) ends at the first blank,
// or at its closing quote when it starts with one, with no backslash rules.
#pragma once
#include <string>
#include <string_view>
#include <vector>

std::vector<std::string> SplitCommandLine(std::string_view line);

// The argument as a token that SplitCommandLine gives back unchanged,
// whatever it holds (blanks, quotes, backslashes, shell characters).
std::string QuoteArgument(std::string_view argument);

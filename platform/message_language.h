// The languages the user's messages are wanted in, by the rules gettext
// follows: the locale of messages is named by LC_ALL, LC_MESSAGES or LANG,
// the first that is set and not empty; when it is one other than C or POSIX,
// LANGUAGE (a ":"-separated list of preferences), when set, replaces its
// language.
#pragma once
#include <functional>
#include <string>
#include <vector>

// Reads one environment variable; nullptr when it is not set.
using EnvironmentReader = std::function<const char*(const char* name)>;

// The catalogue names to try, most wanted first: each preference with its
// variants from the most to the least specific ("zh_CN.UTF-8" yields
// "zh_CN.UTF-8", "zh_CN.utf8", "zh_CN", "zh"). Empty when messages are to be
// read untranslated (no locale, or C or POSIX).
std::vector<std::string> MessageLanguages(const EnvironmentReader& environment);
// The same for the process's own environment.
std::vector<std::string> MessageLanguages();

// printf-style formatting into std::string (UTF-8 text).
#pragma once
#include <cstdarg>
#include <string>

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string FormatV(const char* format, va_list args);

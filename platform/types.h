// Fixed-width integer names used across the code, so that interfaces keep
// their documented shapes (32-bit DWORD, BOOL, ...).
#pragma once
#include <cstdint>

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using ULONG = std::uint32_t;
using LONG = std::int32_t;
using BOOL = int;
using LSTATUS = LONG;

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

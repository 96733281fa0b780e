// The 32-bit millisecond tick counter (wraps after about 49.7 days).
#pragma once
#include "platform/types.h"

DWORD GetTickCount();

// Short English descriptions of the result codes the system produces.
#pragma once
#include <string>

#include "platform/hresult.h"

// The text for a code, with no trailing line break; "" for a code that has no
// text of its own (callers rely on that: a trace line then has nothing between
// ": " and "(0x").
std::string GetErrorText(HRESULT hr);

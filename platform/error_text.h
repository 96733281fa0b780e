// The texts of the result codes the system produces: short English
// descriptions, and their translations for the user's language.
#pragma once
#include <string>
#include <vector>

#include "platform/hresult.h"

// The text for a code in the user's language (the message catalogue chosen
// by the locale, see TranslateMessage), with no trailing line break; the
// English text where the catalogue has no translation, "" for a code that
// has no text of its own. This is what a technician reads: rows, the status
// bar, the command line's table.
std::string GetErrorText(HRESULT hr);

// The English text for a code; "" for a code that has no text of its own
// (callers rely on that: a trace line then has nothing between ": " and
// "(0x"). Log and trace lines, stored records and machine output use it, so
// that they read the same on every bench.
std::string GetEnglishErrorText(HRESULT hr);

// Every code that has a text of its own, in table order.
std::vector<HRESULT> ErrorTextCodes();

// The status text of a job that has completed, as its row shows it: the
// result's text, and for a failure the code and the newest status message
// the job posted: "<text>(0x%08x: <newest>)", or "<text>(0x%08x)" when it
// posted none.
#pragma once
#include <string>

#include "platform/hresult.h"

// resultText is the code's text in the language wanted (GetErrorText for a
// reader, GetEnglishErrorText for logs, records and machine output).
std::string FinalStatusText(HRESULT result, const std::string& resultText, const std::string& newest);

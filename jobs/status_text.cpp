#include "jobs/status_text.h"

#include "platform/format.h"

std::string FinalStatusText(HRESULT result, const std::string& resultText, const std::string& newest) {
  if (SUCCEEDED(result)) return resultText;
  unsigned code = static_cast<unsigned>(result);
  return resultText + (newest.empty() ? Format("(0x%08x)", code) : Format("(0x%08x: %s)", code, newest.c_str()));
}

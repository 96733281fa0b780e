#include "cli/phone_choice.h"

#include <algorithm>

#include "jobs/discovery.h"

namespace {

bool IsIndex(const std::string& word) {
  return !word.empty() && word.size() <= 9 && std::all_of(word.begin(), word.end(), [](char c) { return c >= '0' && c <= '9'; });
}

const AttachedPhone* Find(const std::string& word, const std::vector<AttachedPhone>& attached) {
  for (const AttachedPhone& p : attached)
    if (p.id == word) return &p;
  if (!IsIndex(word)) return nullptr;
  unsigned index = static_cast<unsigned>(std::stoul(word));
  for (const AttachedPhone& p : attached)
    if (p.index == index) return &p;
  return nullptr;
}

}  // namespace

HRESULT ListAttachedPhones(std::vector<AttachedPhone>* phones) {
  std::vector<std::string> ids;
  HRESULT hr = GetDeviceList(&ids);
  if (FAILED(hr)) return hr;
  for (const std::string& id : ids) phones->push_back({id, GetDeviceIndex(id), GetDeviceType(id)});
  return S_OK;
}

bool ChoosePhones(bool backup, const std::vector<std::string>& named, const std::vector<AttachedPhone>& attached,
                  std::vector<AttachedPhone>* chosen, std::string* unmatched) {
  auto add = [chosen](const AttachedPhone& p) {
    bool seen = std::any_of(chosen->begin(), chosen->end(), [&](const AttachedPhone& c) { return c.id == p.id; });
    if (!seen) chosen->push_back(p);
  };
  if (named.empty()) {
    for (const AttachedPhone& p : attached)
      if (!backup || p.type == kDeviceDiagnostic) add(p);
    return true;
  }
  for (const std::string& word : named) {
    const AttachedPhone* p = Find(word, attached);
    if (!p) {
      *unmatched = word;
      return false;
    }
    add(*p);
  }
  return true;
}

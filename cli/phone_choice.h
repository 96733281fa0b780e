// Which attached phones a run takes: every phone (a backup: every running
// phone), or those that -d names, by identifier or by location index, each
// once.
#pragma once
#include <string>
#include <vector>

#include "platform/hresult.h"

struct AttachedPhone {
  std::string id;
  unsigned index = 0;
  DWORD type = 0;
};

// The attached phones with their indexes and modes; the failure of the list.
HRESULT ListAttachedPhones(std::vector<AttachedPhone>* phones);

// The phones of the run, in the order named (or listed). A word of -d is an
// identifier of an attached phone, else the location index of one. False
// when a word names no attached phone; *unmatched is then that word.
bool ChoosePhones(bool backup, const std::vector<std::string>& named, const std::vector<AttachedPhone>& attached,
                  std::vector<AttachedPhone>* chosen, std::string* unmatched);

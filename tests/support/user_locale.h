// The user's locale for the scope of a test, set as a desktop session sets
// it, through the environment (no generated system locale is needed: the
// program's catalogues and Qt's translations are chosen from it).
#pragma once
#include "tests/support/temp_dir.h"

class ScopedUserLocale {
 public:
  explicit ScopedUserLocale(const char* locale) : all_("LC_ALL", locale) {}

 private:
  ScopedEnv all_;
  ScopedEnv messages_{"LC_MESSAGES", nullptr};
  ScopedEnv lang_{"LANG", nullptr};
  ScopedEnv language_{"LANGUAGE", nullptr};
};

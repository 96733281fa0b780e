#include "platform/message_language.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace {

bool IsUntranslatedLocale(const std::string& name) {
  return name.empty() || name == "C" || name == "POSIX" || name.rfind("C.", 0) == 0;
}

// The locale the messages category names: LC_ALL, LC_MESSAGES, LANG.
std::string MessagesLocale(const EnvironmentReader& environment) {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = environment(name);
    if (value && *value) return value;
  }
  return std::string();
}

// "UTF-8" -> "utf8": lower case, letters and digits only.
std::string NormalizedCodeset(const std::string& codeset) {
  std::string normal;
  for (char c : codeset)
    if (std::isalnum(static_cast<unsigned char>(c))) normal += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return normal;
}

void AddOnce(std::vector<std::string>* names, const std::string& name) {
  if (!name.empty() && std::find(names->begin(), names->end(), name) == names->end()) names->push_back(name);
}

// language[_territory][.codeset][@modifier], from the most specific form
// down to the bare language.
void AddVariants(const std::string& name, std::vector<std::string>* names) {
  size_t at = name.find('@');
  std::string modifier = at == std::string::npos ? "" : name.substr(at);
  std::string rest = name.substr(0, at);
  size_t dot = rest.find('.');
  std::string codeset = dot == std::string::npos ? "" : rest.substr(dot + 1);
  std::string territory = rest.substr(0, dot);
  std::string language = territory.substr(0, territory.find('_'));
  for (const std::string& tail : {modifier, std::string()}) {
    if (!codeset.empty()) {
      AddOnce(names, territory + "." + codeset + tail);
      AddOnce(names, territory + "." + NormalizedCodeset(codeset) + tail);
    }
    AddOnce(names, territory + tail);
    AddOnce(names, language + tail);
  }
}

}  // namespace

std::vector<std::string> MessageLanguages(const EnvironmentReader& environment) {
  std::vector<std::string> names;
  std::string locale = MessagesLocale(environment);
  if (IsUntranslatedLocale(locale)) return names;
  // A preference list replaces the locale's own language; a "C" in it
  // ends the list (what follows is not wanted before the untranslated text).
  const char* preferences = environment("LANGUAGE");
  if (!preferences || !*preferences) {
    AddVariants(locale, &names);
    return names;
  }
  std::string list = preferences;
  for (size_t start = 0; start <= list.size();) {
    size_t colon = std::min(list.find(':', start), list.size());
    std::string preference = list.substr(start, colon - start);
    if (preference == "C" || preference == "POSIX") break;
    if (!preference.empty()) AddVariants(preference, &names);
    start = colon + 1;
  }
  return names;
}

std::vector<std::string> MessageLanguages() {
  return MessageLanguages([](const char* name) { return static_cast<const char*>(std::getenv(name)); });
}

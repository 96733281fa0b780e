// Message catalogues: the translations of the program's English texts, in
// the binary form msgfmt writes (".mo"), one file per language under
// <folder>/<language>/LC_MESSAGES/vantor.mo.
#pragma once
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/hresult.h"

class CMessageCatalogue {
 public:
  // Reads a catalogue file. A file that is not one (bad magic, a table or a
  // string outside the file) is refused with ERROR_BAD_FORMAT and leaves the
  // catalogue empty.
  HRESULT Load(const std::string& path);
  // The translation of an English text; nullptr when the catalogue has none.
  const std::string* Find(std::string_view english) const;
  bool empty() const { return texts_.empty(); }

 private:
  std::unordered_map<std::string, std::string> texts_;
};

// The folders searched for catalogues, in order: $VANTOR_LOCALE_DIR when
// set, "share/locale" beside the executable's folder (the installed tree,
// and the build tree's programs), and the installation's locale folder.
std::vector<std::string> MessageCatalogueFolders();

// The translation of an English text for the user's languages (see
// MessageLanguages): the first catalogue found for the most wanted language
// serves; the English text itself when none holds a translation. The
// catalogue is read once per choice of languages.
std::string TranslateMessage(const std::string& english);

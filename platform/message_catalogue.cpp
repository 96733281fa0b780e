#include "platform/message_catalogue.h"

#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>

#include "platform/executable.h"
#include "platform/message_language.h"
#include "platform/path_name.h"
#include "platform/regular_file.h"

namespace {

constexpr std::uint32_t kMagic = 0x950412de;
constexpr char kDomain[] = "vantor";
constexpr std::uint64_t kMaxCatalogueBytes = 16u << 20;  // the program's own is a few kilobytes

class MoReader {
 public:
  explicit MoReader(const std::string& bytes) : bytes_(bytes) {}

  bool ReadHeader() {
    std::uint32_t magic;
    if (!Word(0, &magic)) return false;
    if (magic != kMagic) {
      swapped_ = true;
      if (Swap(magic) != kMagic) return false;
    }
    return Word(8, &count_) && Word(12, &originals_) && Word(16, &translations_);
  }
  std::uint32_t count() const { return count_; }
  bool Original(std::uint32_t i, std::string* text) const { return String(originals_ + 8 * i, text); }
  bool Translation(std::uint32_t i, std::string* text) const { return String(translations_ + 8 * i, text); }

 private:
  static std::uint32_t Swap(std::uint32_t v) {
    return (v >> 24) | ((v >> 8) & 0xff00) | ((v << 8) & 0xff0000) | (v << 24);
  }
  bool Word(std::uint64_t offset, std::uint32_t* value) const {
    if (offset + 4 > bytes_.size()) return false;
    const auto* p = reinterpret_cast<const unsigned char*>(bytes_.data() + offset);
    std::uint32_t v = p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
    *value = swapped_ ? Swap(v) : v;
    return true;
  }
  // A table entry: the string's length and offset; the string must lie
  // inside the file.
  bool String(std::uint64_t entry, std::string* text) const {
    std::uint32_t length, offset;
    if (!Word(entry, &length) || !Word(entry + 4, &offset)) return false;
    if (static_cast<std::uint64_t>(offset) + length > bytes_.size()) return false;
    text->assign(bytes_, offset, length);
    return true;
  }

  const std::string& bytes_;
  bool swapped_ = false;
  std::uint32_t count_ = 0, originals_ = 0, translations_ = 0;
};

// The catalogue for one choice of languages.
std::unique_ptr<CMessageCatalogue> LoadFor(const std::vector<std::string>& languages) {
  auto catalogue = std::make_unique<CMessageCatalogue>();
  std::vector<std::string> folders = MessageCatalogueFolders();
  for (const std::string& language : languages) {
    for (const std::string& folder : folders) {
      std::string path = folder + "/" + language + "/LC_MESSAGES/" + kDomain + ".mo";
      if (SUCCEEDED(catalogue->Load(path))) return catalogue;
    }
  }
  return catalogue;
}

}  // namespace

HRESULT CMessageCatalogue::Load(const std::string& path) {
  texts_.clear();
  // Only a regular file, read with plain reads: a folder or a FIFO of that
  // name is no catalogue, and a failed read is an error, not an exception.
  UniqueFd file;
  std::uint64_t size = 0;
  HRESULT hr = OpenRegularFile(path, &file, &size);
  if (FAILED(hr)) return hr;
  if (size > kMaxCatalogueBytes) return HRESULT_FROM_WIN32(ERROR_BAD_FORMAT);
  std::string bytes(static_cast<size_t>(size), '\0');
  hr = ReadFileAt(file.get(), bytes.data(), bytes.size(), 0);
  if (FAILED(hr)) return hr;
  MoReader reader(bytes);
  if (!reader.ReadHeader()) return HRESULT_FROM_WIN32(ERROR_BAD_FORMAT);
  std::unordered_map<std::string, std::string> texts;
  for (std::uint32_t i = 0; i < reader.count(); ++i) {
    std::string english, translated;
    if (!reader.Original(i, &english) || !reader.Translation(i, &translated)) return HRESULT_FROM_WIN32(ERROR_BAD_FORMAT);
    // The empty original holds the catalogue's header, not a text.
    if (!english.empty() && !translated.empty()) texts.emplace(std::move(english), std::move(translated));
  }
  texts_ = std::move(texts);
  return S_OK;
}

const std::string* CMessageCatalogue::Find(std::string_view english) const {
  auto it = texts_.find(std::string(english));
  return it == texts_.end() ? nullptr : &it->second;
}

std::vector<std::string> MessageCatalogueFolders() {
  std::vector<std::string> folders;
  if (const char* dir = std::getenv("VANTOR_LOCALE_DIR"); dir && *dir) folders.push_back(dir);
  if (std::string exe = ExecutableFolder(); !exe.empty()) folders.push_back(ParentFolder(exe) + "/share/locale");
  folders.push_back(VANTOR_INSTALL_LOCALEDIR);
  return folders;
}

std::string TranslateMessage(const std::string& english) {
  static std::mutex lock;
  static std::map<std::vector<std::string>, std::unique_ptr<CMessageCatalogue>> catalogues;
  std::vector<std::string> languages = MessageLanguages();
  if (languages.empty()) return english;
  std::lock_guard guard(lock);
  std::unique_ptr<CMessageCatalogue>& catalogue = catalogues[languages];
  if (!catalogue) catalogue = LoadFor(languages);
  const std::string* translated = catalogue->Find(english);
  return translated ? *translated : english;
}

#include "download/intel_hex.h"

#include "platform/regular_file.h"

namespace {

constexpr HRESULT kInvalid = HRESULT_FROM_WIN32(ERROR_BAD_FORMAT);
// A programmer is loaded into the phone's RAM; a file far larger is not one.
constexpr size_t kMaxFileBytes = 64 * 1024 * 1024;

// Digits count 0..9, Latin letters 10 onward (so 'G' is 16: the checksum
// then fails, as it would for any other corrupted digit); anything else -1.
int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
  if (c >= 'a' && c <= 'z') return c - 'a' + 10;
  return -1;
}

bool DecodeLine(std::string_view line, std::vector<unsigned char>* bytes) {
  bytes->clear();
  for (size_t i = 0; i + 1 < line.size(); i += 2) {
    int hi = DigitValue(line[i]), lo = DigitValue(line[i + 1]);
    if (hi < 0 || lo < 0) return false;
    bytes->push_back(static_cast<unsigned char>(hi * 16 + lo));
  }
  // A lone last digit is dropped, but must still be a digit or letter.
  return line.size() % 2 == 0 || DigitValue(line.back()) >= 0;
}

bool ApplyRecord(const std::vector<unsigned char>& r, std::uint32_t* base, ProgrammerImage* image) {
  size_t count = r[0];
  std::uint32_t address = static_cast<std::uint32_t>(r[1] << 8 | r[2]);
  const unsigned char* data = r.data() + 4;
  switch (r[3]) {
    case 0x00: {
      std::uint64_t start = static_cast<std::uint64_t>(*base) + address;
      if (start + count > 0x100000000ull) return false;  // would wrap around the address space
      image->blocks[static_cast<std::uint32_t>(start)] = std::vector<unsigned char>(data, data + count);
      return true;
    }
    case 0x01: return true;
    case 0x04:
      if (address != 0 || count != 2) return false;
      *base = static_cast<std::uint32_t>(data[0] << 8 | data[1]) << 16;
      return true;
    case 0x05:
      if (address != 0 || count != 4) return false;
      image->entryPoint = static_cast<std::uint32_t>(data[0]) << 24 | static_cast<std::uint32_t>(data[1]) << 16 |
                          static_cast<std::uint32_t>(data[2]) << 8 | data[3];
      return true;
    default: return false;
  }
}

}  // namespace

HRESULT ParseIntelHex(std::string_view text, ProgrammerImage* image) {
  *image = ProgrammerImage();
  std::uint32_t base = 0;
  std::vector<unsigned char> record;
  size_t pos = 0;
  while (pos < text.size() && text[pos] == ':') {
    size_t end = text.find('\n', pos);
    size_t next = end == std::string_view::npos ? text.size() : end + 1;
    std::string_view line = text.substr(pos + 1, (end == std::string_view::npos ? text.size() : end) - pos - 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.size() < 10 || !DecodeLine(line, &record)) return kInvalid;
    unsigned char sum = 0;
    for (unsigned char b : record) sum = static_cast<unsigned char>(sum + b);
    if (sum != 0 || record.size() != static_cast<size_t>(record[0]) + 5) return kInvalid;
    if (!ApplyRecord(record, &base, image)) return kInvalid;
    pos = next;
  }
  if (pos != text.size()) return kInvalid;
  MergeTouchingBlocks(image);
  return S_OK;
}

HRESULT LoadIntelHex(const std::string& path, ProgrammerImage* image) {
  UniqueFd file;
  std::uint64_t size = 0;
  HRESULT hr = OpenRegularFile(path, &file, &size);
  if (hr == E_INVALIDARG) return hr;  // not a regular file: never read
  if (FAILED(hr) || size > kMaxFileBytes) return kInvalid;
  std::string text(static_cast<size_t>(size), '\0');
  if (FAILED(ReadFileAt(file.get(), text.data(), text.size(), 0))) return kInvalid;
  return ParseIntelHex(text, image);
}

void MergeTouchingBlocks(ProgrammerImage* image) {
  auto& blocks = image->blocks;
  for (auto it = blocks.begin(); it != blocks.end();) {
    auto next = std::next(it);
    if (next != blocks.end() &&
        static_cast<std::uint64_t>(it->first) + it->second.size() == next->first) {
      it->second.insert(it->second.end(), next->second.begin(), next->second.end());
      blocks.erase(next);
    } else {
      it = next;
    }
  }
}

#include "tools/phonesim/qcn_seed.h"

#include <algorithm>
#include <fstream>
#include <iterator>

#include "tools/phonesim/cfb_reader.h"

namespace phonesim {

namespace {

constexpr std::size_t kLargestQcn = 64u << 20;
constexpr std::size_t kRecordHeader = 8;

std::optional<std::uint32_t> NumberedItems(const CompoundFile& cf) {
  for (std::uint32_t model : cf.Children(0)) {
    if (cf.entry(model).type != CompoundFile::kStorage) continue;
    auto def = cf.Child(model, "default");
    if (!def) continue;
    if (auto items = cf.Child(*def, "NV_NUMBERED_ITEMS")) return items;
  }
  return std::nullopt;
}

}  // namespace

std::vector<NvRecord> ParseNvItemArray(const Bytes& stream, std::uint16_t context) {
  std::vector<NvRecord> records;
  std::size_t at = 0;
  while (at + kRecordHeader <= stream.size()) {
    std::size_t size = stream[at] | stream[at + 1] << 8;
    if (size < kRecordHeader || at + size > stream.size()) break;
    NvRecord r;
    r.key.context = context;
    r.key.id = static_cast<std::uint16_t>(stream[at + 4] | stream[at + 5] << 8);
    r.key.index = static_cast<std::uint16_t>(stream[at + 6] | stream[at + 7] << 8);
    std::size_t length = std::min(size - kRecordHeader, kNvDataSize);
    std::copy_n(stream.begin() + static_cast<std::ptrdiff_t>(at + kRecordHeader), length, r.data.begin());
    records.push_back(r);
    at += size;
  }
  return records;
}

std::optional<std::vector<NvRecord>> ReadQcn(Bytes file, std::string* error) {
  std::optional<CompoundFile> cf = CompoundFile::Parse(std::move(file), error);
  if (!cf) return std::nullopt;
  std::optional<std::uint32_t> items = NumberedItems(*cf);
  std::optional<std::uint32_t> main = items ? cf->Child(*items, "NV_ITEM_ARRAY") : std::nullopt;
  if (!main) {
    if (error) *error = "no NV_ITEM_ARRAY stream";
    return std::nullopt;
  }
  std::vector<NvRecord> records;
  const char* streams[] = {"NV_ITEM_ARRAY", "NV_ITEM_ARRAY_SIM_1", "NV_ITEM_ARRAY_SIM_2"};
  for (std::uint16_t context = 0; context < 3; ++context) {
    auto id = cf->Child(*items, streams[context]);
    if (!id) continue;
    std::optional<Bytes> content = cf->Read(*id);
    if (!content) {
      if (error) *error = std::string("broken stream ") + streams[context];
      return std::nullopt;
    }
    std::vector<NvRecord> some = ParseNvItemArray(*content, context);
    records.insert(records.end(), some.begin(), some.end());
  }
  return records;
}

std::optional<std::vector<NvRecord>> LoadQcnFile(const std::string& path, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    if (error) *error = "cannot open " + path;
    return std::nullopt;
  }
  Bytes file;
  char chunk[65536];
  while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
    file.insert(file.end(), chunk, chunk + in.gcount());
    if (file.size() > kLargestQcn) {
      if (error) *error = path + " is too large for a .qcn file";
      return std::nullopt;
    }
  }
  return ReadQcn(std::move(file), error);
}

}  // namespace phonesim

#include "nv/qcn_file.h"

#include <fcntl.h>
#include <gsf/gsf.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>

#include "download/byte_order.h"
#include "platform/durable_file.h"
#include "platform/unique_fd.h"
#include "shell/log.h"

namespace {

constexpr size_t kRecordSize = 136;
constexpr size_t kRecordHeader = 8;
constexpr HRESULT kBadFormat = HRESULT_FROM_WIN32(ERROR_BAD_FORMAT);
constexpr char kModelStorage[] = "00000000";
constexpr unsigned char kFileVersion[] = {2, 0, 0, 0, 0, 0};
// The feature mask every file of the phone vendor's tools carries; this
// program cannot ask the phone for it.
constexpr unsigned char kFeatureMask[] = {
    0x36, 0x00, 0x86, 0x23, 0x00, 0x00, 0x00, 0x00, 0x80, 0x00, 0x00, 0x00, 0x12, 0x02, 0x00, 0x30, 0x00, 0x20, 0x80,
    0x02, 0x10, 0x20, 0x83, 0x0c, 0x20, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x08, 0x08,
    0x00, 0x40, 0x8e, 0xd0, 0xb7, 0x80, 0x01, 0x40, 0x04, 0x9f, 0xc9, 0x39, 0x00, 0xfd, 0xff, 0x09, 0xc0, 0xfb};

void InitGsf() {
  static std::once_flag once;
  std::call_once(once, [] { gsf_init(); });
}

template <class T>
struct GUnref {
  void operator()(T* p) const {
    if (p) g_object_unref(p);
  }
};
template <class T>
using GPtr = std::unique_ptr<T, GUnref<T>>;

void PutU16(std::string* out, std::uint16_t v) {
  out->push_back(static_cast<char>(v & 0xFF));
  out->push_back(static_cast<char>(v >> 8));
}

// Adds a stream of bytes under storage.
bool AddStream(GsfOutfile* storage, const char* name, std::string_view bytes) {
  GPtr<GsfOutput> child(gsf_outfile_new_child(storage, name, FALSE));
  if (!child) return false;
  bool ok = bytes.empty() || gsf_output_write(child.get(), bytes.size(), reinterpret_cast<const guint8*>(bytes.data()));
  return gsf_output_close(child.get()) && ok;
}

GPtr<GsfOutfile> AddStorage(GsfOutfile* parent, const char* name) {
  return GPtr<GsfOutfile>(GSF_OUTFILE(gsf_outfile_new_child(parent, name, TRUE)));
}

bool CloseStorage(GsfOutfile* storage) { return storage && gsf_output_close(GSF_OUTPUT(storage)); }

// A storage with empty EFS_Dir and EFS_Data storages.
bool AddEfsPair(GsfOutfile* parent, const char* name) {
  GPtr<GsfOutfile> storage = AddStorage(parent, name);
  if (!storage) return false;
  GPtr<GsfOutfile> dir = AddStorage(storage.get(), "EFS_Dir");
  bool ok = CloseStorage(dir.get());
  GPtr<GsfOutfile> data = AddStorage(storage.get(), "EFS_Data");
  ok = CloseStorage(data.get()) && ok;
  return CloseStorage(storage.get()) && ok;
}

bool WriteDefaultStorage(GsfOutfile* model, const QcnContents& c) {
  GPtr<GsfOutfile> def = AddStorage(model, "default");
  if (!def) return false;
  bool ok = AddStream(def.get(), "Mobile_Property_Info", EncodeMobileProperty(c));
  ok = ok && AddStream(def.get(), "Feature_Mask",
                       std::string_view(reinterpret_cast<const char*>(kFeatureMask), sizeof kFeatureMask));
  GPtr<GsfOutfile> numbered = AddStorage(def.get(), "NV_NUMBERED_ITEMS");
  ok = ok && numbered && AddStream(numbered.get(), "NV_ITEM_ARRAY", EncodeItemRecords(c.items)) &&
       AddStream(numbered.get(), "NV_ITEM_ARRAY_SIM_1", EncodeItemRecords(c.contextItems[0])) &&
       AddStream(numbered.get(), "NV_ITEM_ARRAY_SIM_2", EncodeItemRecords(c.contextItems[1]));
  ok = CloseStorage(numbered.get()) && ok;
  ok = ok && AddEfsPair(def.get(), "NV_Items") && AddEfsPair(def.get(), "EFS_Backup") &&
       AddEfsPair(def.get(), "Provisioning_Item_Files");
  return CloseStorage(def.get()) && ok;
}

// The whole contents of a stream, at most limit bytes.
bool ReadStream(GsfInput* input, size_t limit, std::string* out) {
  gsf_off_t size = gsf_input_size(input);
  if (size < 0 || static_cast<size_t>(size) > limit) return false;
  out->resize(static_cast<size_t>(size));
  return size == 0 || gsf_input_read(input, static_cast<size_t>(size), reinterpret_cast<guint8*>(out->data())) != nullptr;
}

GPtr<GsfInput> Child(GsfInfile* parent, const char* name) {
  return GPtr<GsfInput>(gsf_infile_child_by_name(parent, name));
}

// The "default" storage under the root's model storage, whatever its name.
GPtr<GsfInput> FindDefaultStorage(GsfInfile* root) {
  int n = gsf_infile_num_children(root);
  for (int i = 0; i < n; ++i) {
    GPtr<GsfInput> child(gsf_infile_child_by_index(root, i));
    if (!child || !GSF_IS_INFILE(child.get()) || gsf_infile_num_children(GSF_INFILE(child.get())) < 0) continue;
    GPtr<GsfInput> def = Child(GSF_INFILE(child.get()), "default");
    if (def && GSF_IS_INFILE(def.get())) return def;
  }
  return nullptr;
}

// A compound file's root entry has no siblings. The library reads siblings
// of the root as entries of no storage and never frees them, so a file that
// names any is refused before the library opens it. The root entry is the
// first of the first directory sector; the header sector takes a whole
// sector when sectors are larger than the 512-byte header.
bool RootEntryHasNoSiblings(std::string_view bytes) {
  constexpr size_t kHeaderSize = 512, kEntrySize = 128;
  constexpr std::uint32_t kNoStream = 0xFFFFFFFF;
  auto p = reinterpret_cast<const unsigned char*>(bytes.data());
  if (bytes.size() < kHeaderSize) return false;
  unsigned shift = GetLittleEndian16(p + 0x1E);
  if (shift < 6 || shift > 30) return false;
  std::uint64_t sector = std::uint64_t{1} << shift;
  std::uint64_t root = std::max<std::uint64_t>(kHeaderSize, sector) + (std::uint64_t{GetLittleEndian32(p + 0x30)} << shift);
  if (root + kEntrySize > bytes.size()) return false;
  return GetLittleEndian32(p + root + 0x44) == kNoStream && GetLittleEndian32(p + root + 0x48) == kNoStream;
}

}  // namespace

std::string EncodeItemRecords(const std::vector<NvItem>& items) {
  std::string out;
  out.reserve(items.size() * kRecordSize);
  for (const NvItem& item : items) {
    PutU16(&out, kRecordSize);
    PutU16(&out, 1);
    PutU16(&out, item.id);
    PutU16(&out, item.index);
    out.append(reinterpret_cast<const char*>(item.data.data()), item.data.size());
  }
  return out;
}

bool DecodeItemRecords(std::string_view stream, std::vector<NvItem>* items) {
  auto at = reinterpret_cast<const unsigned char*>(stream.data());
  size_t left = stream.size();
  // Records fill the stream exactly: every byte belongs to a whole record,
  // so a restore never takes part of a list for the whole.
  while (left > 0) {
    if (left < kRecordHeader) return false;
    size_t size = GetLittleEndian16(at);
    if (size < kRecordHeader || size > left || size - kRecordHeader > kNvDataSize) return false;
    NvItem item;
    item.id = GetLittleEndian16(at + 4);
    item.index = GetLittleEndian16(at + 6);
    if (item.index > 0xFF) return false;  // a read names the element in one byte
    std::memcpy(item.data.data(), at + kRecordHeader, size - kRecordHeader);
    items->push_back(item);
    at += size;
    left -= size;
  }
  return true;
}

std::string EncodeMobileProperty(const QcnContents& c) {
  std::string out(4, '\0');
  PutLittleEndian32(reinterpret_cast<unsigned char*>(out.data()), c.esn);
  PutU16(&out, c.model);
  out.push_back(0);  // NV revision 0.0
  out.push_back(0);
  PutU16(&out, static_cast<std::uint16_t>(c.phoneVersion.size()));
  out += c.phoneVersion;
  PutU16(&out, static_cast<std::uint16_t>(c.writer.size()));
  out += c.writer;
  return out;
}

void DecodeMobileProperty(std::string_view s, QcnContents* c) {
  auto p = reinterpret_cast<const unsigned char*>(s.data());
  if (s.size() < 4) return;
  c->esn = GetLittleEndian32(p);
  if (s.size() < 10) return;
  c->model = GetLittleEndian16(p + 4);
  size_t l1 = GetLittleEndian16(p + 8);
  if (10 + l1 > s.size()) return;
  c->phoneVersion.assign(s.substr(10, l1));
  if (12 + l1 > s.size()) return;
  size_t l2 = GetLittleEndian16(p + 10 + l1);
  if (12 + l1 + l2 > s.size()) return;
  c->writer.assign(s.substr(12 + l1, l2));
}

HRESULT EncodeQcn(const QcnContents& contents, std::string* bytes) {
  InitGsf();
  GPtr<GsfOutput> memory(gsf_output_memory_new());
  if (!memory) return E_OUTOFMEMORY;
  bool ok;
  {
    GPtr<GsfOutfile> root(gsf_outfile_msole_new(memory.get()));  // 512-byte sectors: version 3
    if (!root) return E_OUTOFMEMORY;
    ok = AddStream(root.get(), "File_Version",
                   std::string_view(reinterpret_cast<const char*>(kFileVersion), sizeof kFileVersion));
    GPtr<GsfOutfile> model = AddStorage(root.get(), kModelStorage);
    ok = ok && model && WriteDefaultStorage(model.get(), contents);
    ok = CloseStorage(model.get()) && ok;
    ok = CloseStorage(root.get()) && ok;
  }
  if (!ok) return E_FAIL;
  const guint8* data = gsf_output_memory_get_bytes(GSF_OUTPUT_MEMORY(memory.get()));
  gsf_off_t size = gsf_output_size(memory.get());
  if (!data || size <= 0) return E_FAIL;
  bytes->assign(reinterpret_cast<const char*>(data), static_cast<size_t>(size));
  return S_OK;
}

HRESULT DecodeQcn(std::string_view bytes, QcnContents* contents) {
  InitGsf();
  *contents = QcnContents();
  if (!RootEntryHasNoSiblings(bytes)) return kBadFormat;
  GPtr<GsfInput> memory(gsf_input_memory_new(reinterpret_cast<const guint8*>(bytes.data()),
                                             static_cast<gsf_off_t>(bytes.size()), FALSE));
  if (!memory) return E_OUTOFMEMORY;
  GError* error = nullptr;
  GPtr<GsfInfile> root(gsf_infile_msole_new(memory.get(), &error));
  if (error) g_error_free(error);
  if (!root) return kBadFormat;
  GPtr<GsfInput> def = FindDefaultStorage(root.get());
  if (!def) return kBadFormat;
  GPtr<GsfInput> numbered = Child(GSF_INFILE(def.get()), "NV_NUMBERED_ITEMS");
  if (!numbered || !GSF_IS_INFILE(numbered.get())) return kBadFormat;
  GsfInfile* storage = GSF_INFILE(numbered.get());
  GPtr<GsfInput> array = Child(storage, "NV_ITEM_ARRAY");
  std::string stream;
  if (!array || !ReadStream(array.get(), kMaxQcnBytes, &stream) || !DecodeItemRecords(stream, &contents->items))
    return kBadFormat;
  const char* contexts[] = {"NV_ITEM_ARRAY_SIM_1", "NV_ITEM_ARRAY_SIM_2"};
  for (int k = 0; k < 2; ++k) {
    GPtr<GsfInput> sim = Child(storage, contexts[k]);
    if (!sim) continue;  // absent: no items of that context
    if (!ReadStream(sim.get(), kMaxQcnBytes, &stream) || !DecodeItemRecords(stream, &contents->contextItems[k]))
      return kBadFormat;
  }
  GPtr<GsfInput> property = Child(GSF_INFILE(def.get()), "Mobile_Property_Info");
  if (property && ReadStream(property.get(), 4096, &stream)) DecodeMobileProperty(stream, contents);
  GPtr<GsfInput> version = Child(root.get(), "File_Version");
  if (version && ReadStream(version.get(), 64, &stream) && (stream.size() < 2 || stream[0] != 2 || stream[1] != 0))
    WriteLog("The NV file's version is not 2.x; its items are read all the same.");
  return S_OK;
}

HRESULT WriteQcnFile(const std::string& path, const QcnContents& contents) {
  constexpr const char* kName = "WriteQcnFile";
  std::string bytes;
  HRESULT hr = EncodeQcn(contents, &bytes);
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  int err = ReplaceFileDurably(path, bytes, 0644);
  hr = err == 0 ? S_OK : HresultFromErrno(err);
  TraceResult(hr, kName, __LINE__);
  return hr;
}

HRESULT ReadQcnFile(const std::string& path, QcnContents* contents) {
  constexpr const char* kName = "ReadQcnFile";
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  HRESULT hr = fd.valid() ? S_OK : HresultFromLastErrno();
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  std::string bytes;
  char buffer[65536];
  for (;;) {
    ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) hr = HresultFromLastErrno();
    if (n > 0) bytes.append(buffer, static_cast<size_t>(n));
    if (bytes.size() > kMaxQcnBytes) hr = HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);
    if (!TraceResult(hr, kName, __LINE__)) return hr;
    if (n == 0) break;
  }
  hr = DecodeQcn(bytes, contents);
  TraceResult(hr, kName, __LINE__);
  return hr;
}

#include "records/file_digest.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <memory>
#include <mutex>
#include <tuple>
#include <vector>

#include "platform/regular_file.h"
#include "platform/unique_fd.h"

namespace {

using Digest = std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)>;

std::string Hex(const unsigned char* bytes, unsigned size) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (unsigned i = 0; i < size; ++i) {
    out += kDigits[bytes[i] >> 4];
    out += kDigits[bytes[i] & 15];
  }
  return out;
}

// What identifies one version of a file.
using FileKey = std::tuple<std::string, dev_t, ino_t, off_t, long long>;

std::mutex g_cacheLock;
std::map<FileKey, std::string> g_cache;

std::string HashOpenFile(int fd) {
  Digest ctx(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
  if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) != 1) return std::string();
  std::vector<unsigned char> buffer(1 << 20);
  for (;;) {
    ssize_t n = ::read(fd, buffer.data(), buffer.size());
    if (n < 0) return std::string();
    if (n == 0) break;
    EVP_DigestUpdate(ctx.get(), buffer.data(), static_cast<size_t>(n));
  }
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned size = 0;
  if (EVP_DigestFinal_ex(ctx.get(), md, &size) != 1) return std::string();
  return Hex(md, size);
}

}  // namespace

std::string Sha256Hex(const void* data, size_t size) {
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned length = 0;
  if (EVP_Digest(data, size, md, &length, EVP_sha256(), nullptr) != 1) return std::string();
  return Hex(md, length);
}

RecordFile DigestFile(const std::string& path) {
  RecordFile file;
  file.path = path;
  // Only a regular file is read: a FIFO would hold the store thread, and
  // the program's exit with it, until someone wrote to it.
  UniqueFd fd;
  std::uint64_t size = 0;
  struct stat st{};
  if (FAILED(OpenRegularFile(path, &fd, &size)) || ::fstat(fd.get(), &st) != 0) return file;
  FileKey key{path, st.st_dev, st.st_ino, st.st_size,
              static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec};
  {
    std::lock_guard guard(g_cacheLock);
    if (auto it = g_cache.find(key); it != g_cache.end()) {
      file.size = static_cast<std::uint64_t>(st.st_size);
      file.sha256 = it->second;
      return file;
    }
  }
  std::string digest = HashOpenFile(fd.get());
  if (digest.empty()) return file;
  file.size = static_cast<std::uint64_t>(st.st_size);
  file.sha256 = digest;
  std::lock_guard guard(g_cacheLock);
  g_cache[key] = digest;
  return file;
}

#include "records/flash_record.h"

#include <sys/random.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <random>

#include "platform/format.h"
#include "platform/text.h"

std::string StorableText(std::string_view text) {
  std::string out = SanitizeUtf8(text);
  for (char& c : out)
    if (c == '\0') c = '?';
  return out;
}

void MakeStorable(FlashRecord* r) {
  for (std::string* text : {&r->uid, &r->startUtc, &r->endUtc, &r->host, &r->version, &r->user, &r->deviceId,
                            &r->method, &r->imei, &r->package, &r->resultText, &r->outcome, &r->lastStatus,
                            &r->logFile})
    *text = StorableText(*text);
  for (RecordFile& f : r->files) {
    f.path = StorableText(f.path);
    f.sha256 = StorableText(f.sha256);
  }
}

std::string UtcNow() {
  auto now = std::chrono::system_clock::now();
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
  std::time_t seconds = static_cast<std::time_t>(ms / 1000);
  std::tm tm{};
  ::gmtime_r(&seconds, &tm);
  return Format("%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour,
                tm.tm_min, tm.tm_sec, static_cast<int>(ms % 1000));
}

std::string NewRecordUid() {
  unsigned char bytes[16];
  if (::getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) {
    std::random_device device;
    for (unsigned char& b : bytes) b = static_cast<unsigned char>(device());
  }
  std::string uid;
  for (unsigned char b : bytes) uid += Format("%02x", b);
  return uid;
}

std::string FilesToJson(const std::vector<RecordFile>& files) {
  std::string out = "[";
  for (size_t i = 0; i < files.size(); ++i) {
    if (i) out += ",";
    out += "{\"path\":" + JsonString(files[i].path) +
           Format(",\"size\":%llu,\"sha256\":", static_cast<unsigned long long>(files[i].size)) +
           JsonString(files[i].sha256) + "}";
  }
  return out + "]";
}

namespace {

// A strict reader of what FilesToJson writes.
class FilesReader {
 public:
  explicit FilesReader(const std::string& text) : s_(text) {}

  bool Read(std::vector<RecordFile>* files) {
    if (!Take('[')) return false;
    if (Take(']')) return pos_ == s_.size();
    do {
      RecordFile f;
      if (!Take('{') || !Key("path") || !String(&f.path) || !Take(',') || !Key("size") || !Number(&f.size) ||
          !Take(',') || !Key("sha256") || !String(&f.sha256) || !Take('}'))
        return false;
      files->push_back(std::move(f));
    } while (Take(','));
    return Take(']') && pos_ == s_.size();
  }

 private:
  bool Take(char c) {
    if (pos_ >= s_.size() || s_[pos_] != c) return false;
    ++pos_;
    return true;
  }
  bool Key(const char* name) {
    std::string key;
    return String(&key) && key == name && Take(':');
  }
  bool Number(std::uint64_t* value) {
    size_t start = pos_;
    *value = 0;
    while (pos_ < s_.size() && s_[pos_] >= '0' && s_[pos_] <= '9' && pos_ - start < 20)
      *value = *value * 10 + static_cast<unsigned>(s_[pos_++] - '0');
    return pos_ > start;
  }
  bool String(std::string* out) {
    if (!Take('"')) return false;
    while (pos_ < s_.size() && s_[pos_] != '"') {
      char c = s_[pos_++];
      if (c != '\\') {
        *out += c;
        continue;
      }
      if (pos_ >= s_.size()) return false;
      // JsonString's escapes: the short ones, and \u00XX for a control
      // character or a byte that is not part of valid UTF-8 (read back as
      // that byte, so any text comes back as it was).
      static const std::string kShort = "\"\\/bfnrt", kMeaning = "\"\\/\b\f\n\r\t";
      char e = s_[pos_++];
      if (size_t k = kShort.find(e); k != std::string::npos) {
        *out += kMeaning[k];
      } else if (e == 'u' && pos_ + 4 <= s_.size()) {
        unsigned code = 0;
        if (std::sscanf(s_.substr(pos_, 4).c_str(), "%4x", &code) != 1 || code > 0xFF) return false;
        *out += static_cast<char>(code);
        pos_ += 4;
      } else {
        return false;
      }
    }
    return Take('"');
  }

  const std::string& s_;
  size_t pos_ = 0;
};

std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

}  // namespace

bool FilesFromJson(const std::string& json, std::vector<RecordFile>* files) {
  files->clear();
  return FilesReader(json).Read(files);
}

std::string RecordToJsonLine(const FlashRecord& r) {
  return "{\"uid\":" + JsonString(r.uid) + ",\"start\":" + JsonString(r.startUtc) + ",\"end\":" + JsonString(r.endUtc) +
         Format(",\"elapsed\":%.3f", r.elapsedSeconds) + ",\"host\":" + JsonString(r.host) +
         ",\"version\":" + JsonString(r.version) + ",\"user\":" + JsonString(r.user) +
         Format(",\"index\":%u", r.locationIndex) + ",\"device\":" + JsonString(r.deviceId) +
         Format(",\"type\":\"0x%07x\"", r.typeCode) + ",\"method\":" + JsonString(r.method) +
         ",\"imei\":" + JsonString(r.imei) + ",\"package\":" + JsonString(r.package) +
         ",\"files\":" + FilesToJson(r.files) + Format(",\"result\":\"0x%08x\"", static_cast<unsigned>(r.result)) +
         ",\"result_text\":" + JsonString(r.resultText) + ",\"outcome\":" + JsonString(r.outcome) +
         ",\"status\":" + JsonString(r.lastStatus) + ",\"log\":" + JsonString(r.logFile) + "}";
}

std::string RecordCsvHeader() {
  return "uid,start,end,elapsed,host,version,user,index,device,type,method,imei,package,files,result,result_text,"
         "outcome,status,log";
}

std::string RecordToCsvRow(const FlashRecord& r) {
  std::string files;
  for (const RecordFile& f : r.files) {
    if (!files.empty()) files += ";";
    files += f.path + ":" + std::to_string(f.size) + ":" + f.sha256;
  }
  const std::string fields[] = {r.uid, r.startUtc, r.endUtc, Format("%.3f", r.elapsedSeconds), r.host, r.version,
                                r.user, std::to_string(r.locationIndex), r.deviceId, Format("0x%07x", r.typeCode),
                                r.method, r.imei, r.package, files, Format("0x%08x", static_cast<unsigned>(r.result)),
                                r.resultText, r.outcome, r.lastStatus, r.logFile};
  std::string row;
  for (const std::string& field : fields) {
    if (&field != &fields[0]) row += ",";
    row += CsvField(field);
  }
  return row;
}

#include "records/record_query.h"

#include <cctype>
#include <map>

#include "platform/format.h"

namespace {

bool Digits(const std::string& s, size_t pos, size_t count) {
  if (pos + count > s.size()) return false;
  for (size_t i = pos; i < pos + count; ++i)
    if (!std::isdigit(static_cast<unsigned char>(s[i]))) return false;
  return true;
}

bool InRange(const std::string& s, size_t pos, int low, int high) {
  int value = std::stoi(s.substr(pos, 2));
  return value >= low && value <= high;
}

}  // namespace

// Stored times read "2026-12-08T11:27:56.123Z". "~" sorts after every
// character they hold, so an end key with it covers the whole day, minute or
// second it names.
bool RecordDateKey(const std::string& text, bool endOfRange, std::string* key) {
  std::string t = text;
  if (!t.empty() && (t.back() == 'Z' || t.back() == 'z')) t.pop_back();
  if (!Digits(t, 0, 4) || t.size() < 10 || t[4] != '-' || !Digits(t, 5, 2) || t[7] != '-' || !Digits(t, 8, 2) ||
      !InRange(t, 5, 1, 12) || !InRange(t, 8, 1, 31))
    return false;
  if (t.size() == 10) {
    *key = t + (endOfRange ? "~" : "");
    return true;
  }
  if (t[10] != 'T' && t[10] != ' ') return false;
  t[10] = 'T';
  bool ok = (t.size() == 16 || t.size() == 19 || t.size() == 23) && Digits(t, 11, 2) && t[13] == ':' &&
            Digits(t, 14, 2) && InRange(t, 11, 0, 23) && InRange(t, 14, 0, 59);
  if (ok && t.size() >= 19) ok = t[16] == ':' && Digits(t, 17, 2) && InRange(t, 17, 0, 60);
  if (ok && t.size() == 23) ok = t[19] == '.' && Digits(t, 20, 3);
  if (!ok) return false;
  *key = t + (endOfRange ? "~" : "");
  return true;
}

WhereClause BuildWhere(const RecordFilter& f, std::string (*placeholder)(int n), const char* findFunction) {
  WhereClause w;
  std::vector<std::string> terms;
  auto add = [&](const char* column, const char* op, const std::string& value) {
    w.params.push_back(value);
    terms.push_back(std::string(column) + " " + op + " " + placeholder(static_cast<int>(w.params.size())));
  };
  if (!f.since.empty()) add("start_utc", ">=", f.since);
  if (!f.until.empty()) add("start_utc", "<=", f.until);
  if (!f.device.empty()) add("device_id", "=", f.device);
  if (!f.package.empty()) {
    // One folder of the ";"-separated list, whole.
    w.params.push_back(f.package);
    terms.push_back(std::string(findFunction) + "(';' || package || ';', ';' || " +
                    placeholder(static_cast<int>(w.params.size())) + " || ';') > 0");
  }
  if (f.failedOnly) terms.push_back("outcome <> 'succeeded'");
  for (size_t i = 0; i < terms.size(); ++i) w.sql += (i ? " AND " : " WHERE ") + terms[i];
  return w;
}

std::string RecordSummaryLine(const std::vector<FlashRecord>& records) {
  int succeeded = 0, failed = 0, released = 0;
  std::map<std::string, int> byPackage;
  for (const FlashRecord& r : records) {
    if (r.outcome == kOutcomeSucceeded) ++succeeded;
    else if (r.outcome == kOutcomeReleased) ++released;
    else ++failed;
    ++byPackage[r.package];
  }
  std::string line = Format("total %zu, succeeded %d, failed %d, released %d", records.size(), succeeded, failed,
                            released);
  std::string packages;
  for (const auto& [package, count] : byPackage)
    packages += (packages.empty() ? "" : ", ") + (package.empty() ? std::string("(none)") : package) + Format(" %d", count);
  if (!packages.empty()) line += "; by package: " + packages;
  return line;
}

std::string RecordTable(const std::vector<FlashRecord>& records) {
  std::string out = Format("%-24s %6s %-20s %-19s %-9s %9s %-10s %s\n", "START (UTC)", "INDEX", "DEVICE", "METHOD",
                           "OUTCOME", "SECONDS", "RESULT", "PACKAGE");
  for (const FlashRecord& r : records)
    out += Format("%-24s %6u %-20s %-19s %-9s %9.1f 0x%08x %s\n", r.startUtc.c_str(), r.locationIndex,
                  r.deviceId.c_str(), r.method.c_str(), r.outcome.c_str(), r.elapsedSeconds,
                  static_cast<unsigned>(r.result), r.package.c_str());
  return out;
}

#include "platform/registry/regedit_format.h"

#include <cstdio>
#include <optional>

#include "platform/text.h"

namespace {

constexpr std::string_view kHeader = "REGEDIT4";

// True when data is one NUL-terminated line of valid UTF-8 text.
bool IsPlainString(const std::vector<BYTE>& data) {
  if (data.empty() || data.back() != 0) return false;
  std::string_view text(reinterpret_cast<const char*>(data.data()), data.size() - 1);
  for (char c : text) {
    if (c == '\0' || c == '\r' || c == '\n') return false;
  }
  return IsValidUtf8(text);
}

std::string Quote(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out + '"';
}

// "01,02,..." wrapped below 80 columns with "\" continuations.
std::string HexList(const std::vector<BYTE>& data, size_t column) {
  std::string out;
  char byte[4];
  for (size_t i = 0; i < data.size(); ++i) {
    std::snprintf(byte, sizeof byte, "%02x", data[i]);
    out += byte;
    column += 2;
    if (i + 1 < data.size()) {
      out += ',';
      ++column;
      if (column > 76) {
        out += "\\\r\n  ";
        column = 2;
      }
    }
  }
  return out;
}

std::string ValueLine(const RegValue& v) {
  std::string line = v.name.empty() ? "@=" : Quote(v.name) + "=";
  if (v.type == REG_SZ && IsPlainString(v.data)) {
    return line + Quote(std::string_view(reinterpret_cast<const char*>(v.data.data()), v.data.size() - 1));
  }
  char prefix[24];
  if (v.type == REG_DWORD && v.data.size() == 4) {
    DWORD value = v.data[0] | (v.data[1] << 8) | (v.data[2] << 16) | (DWORD{v.data[3]} << 24);
    std::snprintf(prefix, sizeof prefix, "dword:%08x", value);
    return line + prefix;
  }
  if (v.type == REG_BINARY) {
    std::snprintf(prefix, sizeof prefix, "hex:");
  } else {
    std::snprintf(prefix, sizeof prefix, "hex(%x):", v.type);
  }
  line += prefix;
  return line + HexList(v.data, line.size());
}

// --- parsing -------------------------------------------------------------

// Reads a quoted string starting at text[pos] == '"'; pos ends after it.
std::optional<std::string> ReadQuoted(std::string_view text, size_t& pos) {
  if (pos >= text.size() || text[pos] != '"') return std::nullopt;
  std::string out;
  for (++pos; pos < text.size(); ++pos) {
    char c = text[pos];
    if (c == '"') {
      ++pos;
      return out;
    }
    if (c == '\\') {
      if (++pos >= text.size()) return std::nullopt;
      c = text[pos];
    }
    out += c;
  }
  return std::nullopt;
}

int Hex(char c) {
  return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
}

std::optional<std::vector<BYTE>> ReadHexList(std::string_view text) {
  std::vector<BYTE> out;
  size_t i = 0;
  auto skipBlanks = [&] {
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  };
  skipBlanks();
  while (i < text.size()) {
    if (i + 1 >= text.size() || Hex(text[i]) < 0 || Hex(text[i + 1]) < 0) return std::nullopt;
    out.push_back(static_cast<BYTE>(Hex(text[i]) * 16 + Hex(text[i + 1])));
    i += 2;
    skipBlanks();
    if (i == text.size()) break;
    if (text[i] != ',') return std::nullopt;
    ++i;
    skipBlanks();
  }
  return out;
}

std::optional<RegValue> ParseValue(std::string_view line) {
  RegValue v;
  size_t pos = 0;
  if (line.substr(0, 2) == "@=") {
    pos = 2;
  } else {
    auto name = ReadQuoted(line, pos);
    if (!name || pos >= line.size() || line[pos] != '=') return std::nullopt;
    v.name = *name;
    ++pos;
  }
  std::string_view rest = line.substr(pos);
  if (!rest.empty() && rest[0] == '"') {
    size_t p = 0;
    auto text = ReadQuoted(rest, p);
    if (!text || p != rest.size()) return std::nullopt;
    v.type = REG_SZ;
    v.data.assign(text->begin(), text->end());
    v.data.push_back(0);
    return v;
  }
  if (rest.substr(0, 6) == "dword:") {
    std::string_view digits = rest.substr(6);
    if (digits.size() != 8) return std::nullopt;
    DWORD value = 0;
    for (char c : digits) {
      if (Hex(c) < 0) return std::nullopt;
      value = value * 16 + static_cast<DWORD>(Hex(c));
    }
    v.type = REG_DWORD;
    v.data = {static_cast<BYTE>(value), static_cast<BYTE>(value >> 8), static_cast<BYTE>(value >> 16),
              static_cast<BYTE>(value >> 24)};
    return v;
  }
  if (rest.substr(0, 4) == "hex:") {
    v.type = REG_BINARY;
    rest.remove_prefix(4);
  } else if (rest.substr(0, 4) == "hex(") {
    size_t close = rest.find("):");
    if (close == std::string_view::npos || close == 4 || close > 12) return std::nullopt;
    DWORD type = 0;
    for (char c : rest.substr(4, close - 4)) {
      if (Hex(c) < 0) return std::nullopt;
      type = type * 16 + static_cast<DWORD>(Hex(c));
    }
    v.type = type;
    rest.remove_prefix(close + 2);
  } else {
    return std::nullopt;
  }
  auto bytes = ReadHexList(rest);
  if (!bytes) return std::nullopt;
  v.data = std::move(*bytes);
  return v;
}

// Splits into logical lines: CR LF or LF ends a line, a trailing "\" joins
// the next line (without its leading blanks).
std::vector<std::string> LogicalLines(std::string_view text) {
  std::vector<std::string> lines;
  std::string current;
  size_t i = 0;
  while (i <= text.size()) {
    size_t end = text.find('\n', i);
    if (end == std::string_view::npos) end = text.size();
    std::string_view physical = text.substr(i, end - i);
    if (!physical.empty() && physical.back() == '\r') physical.remove_suffix(1);
    if (!current.empty()) {
      while (!physical.empty() && (physical.front() == ' ' || physical.front() == '\t')) physical.remove_prefix(1);
    }
    current.append(physical);
    // Only a hex list is continued: quoted strings end with '"', keys with ']'.
    if (!current.empty() && current.back() == '\\') {
      current.pop_back();
    } else {
      lines.push_back(std::move(current));
      current.clear();
    }
    i = end + 1;
  }
  if (!current.empty()) lines.push_back(std::move(current));
  return lines;
}

}  // namespace

std::string SerializeHive(const Hive& hive, std::string_view rootName) {
  std::string out(kHeader);
  out += "\r\n";
  for (const auto& [lower, key] : hive.keys()) {
    out += "\r\n[";
    out += rootName;
    if (!key.path.empty()) {
      out += '\\';
      out += key.path;
    }
    out += "]\r\n";
    for (const RegValue& v : key.values) {
      out += ValueLine(v);
      out += "\r\n";
    }
  }
  return out;
}

bool ParseHive(std::string_view text, std::string_view rootName, Hive* hive) {
  *hive = Hive();
  std::vector<std::string> lines = LogicalLines(text);
  if (lines.empty() || lines[0] != kHeader) return false;
  std::optional<std::string> key;
  for (size_t n = 1; n < lines.size(); ++n) {
    const std::string& line = lines[n];
    if (line.empty() || line[0] == ';') continue;
    if (line.front() == '[') {
      if (line.back() != ']') return false;
      std::string_view name(line);
      name = name.substr(1, name.size() - 2);
      if (!EqualsIgnoreCase(name.substr(0, rootName.size()), rootName)) return false;
      name.remove_prefix(rootName.size());
      if (!name.empty() && name.front() != '\\') return false;
      key = Hive::Normalize(name);
      hive->CreateKey(*key);
      continue;
    }
    if (!key) return false;
    auto value = ParseValue(line);
    if (!value) return false;
    hive->SetValue(*key, std::move(*value));
  }
  return true;
}

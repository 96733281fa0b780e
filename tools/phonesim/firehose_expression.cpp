#include "tools/phonesim/firehose_expression.h"

#include <cctype>

namespace phonesim {
namespace {

constexpr std::size_t kLongestExpression = 256;

class Parser {
 public:
  Parser(const std::string& text, const ExpressionContext& context) : s_(text), context_(context) {}

  std::optional<std::uint64_t> Whole() {
    auto v = Sum();
    Blanks();
    if (!v || i_ != s_.size()) return std::nullopt;
    return v;
  }

 private:
  void Blanks() {
    while (i_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[i_]))) ++i_;
  }
  bool Take(char c) {
    Blanks();
    if (i_ < s_.size() && s_[i_] == c) {
      ++i_;
      return true;
    }
    return false;
  }
  bool Word(const char* w) {
    Blanks();
    std::string word(w);
    if (s_.compare(i_, word.size(), word) != 0) return false;
    i_ += word.size();
    return true;
  }

  std::optional<std::uint64_t> Sum() {
    auto v = Product();
    while (v) {
      if (Take('+')) {
        auto r = Product();
        if (!r || *v + *r < *v) return std::nullopt;
        *v += *r;
      } else if (Take('-')) {
        auto r = Product();
        if (!r || *r > *v) return std::nullopt;
        *v -= *r;
      } else {
        break;
      }
    }
    return v;
  }

  std::optional<std::uint64_t> Product() {
    auto v = Term();
    while (v) {
      if (Take('*')) {
        auto r = Term();
        if (!r || (*r != 0 && *v > UINT64_MAX / *r)) return std::nullopt;
        *v *= *r;
      } else if (Take('/')) {
        auto r = Term();
        if (!r || *r == 0) return std::nullopt;
        *v /= *r;
      } else {
        break;
      }
    }
    return v;
  }

  std::optional<std::uint64_t> Term() {
    if (++depth_ > 16) return std::nullopt;
    std::optional<std::uint64_t> v;
    if (Take('(')) {
      v = Sum();
      if (!Take(')')) v.reset();
    } else if (Word("NUM_DISK_SECTORS")) {
      v = context_.diskSectors;
    } else if (Word("CRC32")) {
      v = Crc();
    } else {
      v = Number();
    }
    --depth_;
    if (v) Take('.');  // a trailing dot only says "decimal"
    return v;
  }

  std::optional<std::uint64_t> Crc() {
    if (!Take('(')) return std::nullopt;
    auto sector = Sum();
    if (!sector || !Take(',')) return std::nullopt;
    auto bytes = Sum();
    if (!bytes || !Take(')') || !context_.crc32) return std::nullopt;
    auto crc = context_.crc32(*sector, *bytes);
    if (!crc) return std::nullopt;
    return *crc;
  }

  std::optional<std::uint64_t> Number() {
    Blanks();
    int base = 10;
    if (s_.compare(i_, 2, "0x") == 0 || s_.compare(i_, 2, "0X") == 0) {
      base = 16;
      i_ += 2;
    }
    std::size_t from = i_;
    std::uint64_t v = 0;
    while (i_ < s_.size() && std::isxdigit(static_cast<unsigned char>(s_[i_]))) {
      char c = s_[i_];
      unsigned digit = std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : (std::tolower(c) - 'a' + 10);
      if (digit >= static_cast<unsigned>(base)) break;
      if (v > (UINT64_MAX - digit) / base) return std::nullopt;
      v = v * base + digit;
      ++i_;
    }
    if (i_ == from) return std::nullopt;
    return v;
  }

  const std::string& s_;
  const ExpressionContext& context_;
  std::size_t i_ = 0;
  int depth_ = 0;
};

}  // namespace

std::optional<std::uint64_t> EvaluateExpression(const std::string& text, const ExpressionContext& context) {
  if (text.empty() || text.size() > kLongestExpression) return std::nullopt;
  return Parser(text, context).Whole();
}

std::uint32_t Crc32(const std::uint8_t* data, std::size_t size, std::uint32_t crc) {
  crc = ~crc;
  for (std::size_t i = 0; i < size; ++i) {
    crc ^= data[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

}  // namespace phonesim

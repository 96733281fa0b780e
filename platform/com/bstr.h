// A string that can also be null, as strings at object boundaries can.
// The text is UTF-8; Length() counts characters.
#pragma once
#include <string>
#include <string_view>
#include <utility>

#include "platform/text.h"

class Bstr {
 public:
  Bstr() = default;
  Bstr(std::string text) : text_(std::move(text)), null_(false) {}  // NOLINT
  Bstr(const char* text) : null_(text == nullptr) {                  // NOLINT
    if (text) text_ = text;
  }
  Bstr(std::string_view text) : text_(text), null_(false) {}  // NOLINT

  bool IsNull() const { return null_; }
  const std::string& str() const { return text_; }
  const char* c_str() const { return text_.c_str(); }
  std::size_t Length() const { return null_ ? 0 : CharCount(text_); }
  void Clear() {
    text_.clear();
    null_ = true;
  }

  // A null string and an empty one compare equal, as string lengths do.
  friend bool operator==(const Bstr& a, const Bstr& b) { return a.text_ == b.text_; }

 private:
  std::string text_;
  bool null_ = true;
};

// The in-memory contents of one registry hive: keys by path (compared
// ignoring case), each with its values in the order they were first set.
#pragma once
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/types.h"

enum : DWORD {
  REG_NONE = 0,
  REG_SZ = 1,
  REG_EXPAND_SZ = 2,
  REG_BINARY = 3,
  REG_DWORD = 4,
};

struct RegValue {
  std::string name;  // "" is the key's default value
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
};

struct RegKeyData {
  std::string path;  // as first created, components joined by "\"
  std::vector<RegValue> values;
};

class Hive {
 public:
  Hive();

  // Paths are "A\B\C" relative to the hive's root; "" is the root.
  static std::string Normalize(std::string_view path);
  static std::string Join(std::string_view parent, std::string_view child);

  bool HasKey(std::string_view path) const;
  // Creates the key and its missing parents; returns true when it was new.
  bool CreateKey(std::string_view path);
  // Removes every subkey of path and, unless keepKey, the key itself with its
  // values; with keepKey its values are removed too and the key stays.
  void DeleteTree(std::string_view path, bool keepKey);

  const RegValue* FindValue(std::string_view path, std::string_view name) const;
  void SetValue(std::string_view path, RegValue value);
  bool DeleteValue(std::string_view path, std::string_view name);

  // Direct subkey names of path, in path order.
  std::vector<std::string> SubKeyNames(std::string_view path) const;
  const RegKeyData* Key(std::string_view path) const;

  // All keys in path order (a parent before its children).
  const std::map<std::string, RegKeyData>& keys() const { return keys_; }

 private:
  RegKeyData* MutableKey(std::string_view path);
  std::map<std::string, RegKeyData> keys_;  // by case-folded path (FoldCase)
};

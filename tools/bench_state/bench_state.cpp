#include "tools/bench_state/bench_state.h"

#include <dirent.h>
#include <stdio.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>

namespace bench {

std::string StateFilePath(const std::string& dir, unsigned index) {
  return dir + "/phone-" + std::to_string(index) + ".state";
}

bool WritePhoneState(const std::string& dir, const PhoneState& s) {
  std::string path = StateFilePath(dir, s.index);
  std::string temp = path + ".tmp" + std::to_string(::getpid());
  {
    std::ofstream out(temp, std::ios::trunc);
    out << "index=" << s.index << "\nmode=" << s.mode << "\nport=" << s.port << "\ndisk=" << s.disk
        << "\nserial=" << s.serial << "\naddress=" << s.address << "\nheard=" << (s.heard ? 1 : 0) << "\n";
    if (!out.flush()) return false;
  }
  return ::rename(temp.c_str(), path.c_str()) == 0;
}

std::optional<PhoneState> ParsePhoneState(const std::string& text) {
  PhoneState s;
  std::istringstream in(text);
  std::string line;
  bool haveIndex = false;
  while (std::getline(in, line)) {
    size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string key = line.substr(0, eq), value = line.substr(eq + 1);
    if (key == "index") {
      char* end = nullptr;
      unsigned long v = std::strtoul(value.c_str(), &end, 10);
      if (end == value.c_str() || *end != '\0' || v == 0 || v > 0xFFFFFFFFul) return std::nullopt;
      s.index = static_cast<unsigned>(v);
      haveIndex = true;
    } else if (key == "mode") {
      s.mode = value;
    } else if (key == "port") {
      s.port = value;
    } else if (key == "disk") {
      s.disk = value;
    } else if (key == "serial") {
      s.serial = value;
    } else if (key == "address") {
      s.address = value;
    } else if (key == "heard") {
      s.heard = value == "1";
    }
  }
  if (!haveIndex || s.mode.empty()) return std::nullopt;
  return s;
}

std::vector<PhoneState> ReadBench(const std::string& dir) {
  std::vector<PhoneState> phones;
  DIR* d = ::opendir(dir.c_str());
  if (!d) return phones;
  while (dirent* e = ::readdir(d)) {
    std::string name = e->d_name;
    if (name.rfind("phone-", 0) != 0 || name.size() < 12 || name.substr(name.size() - 6) != ".state") continue;
    std::ifstream in(dir + "/" + name);
    std::stringstream text;
    text << in.rdbuf();
    if (auto s = ParsePhoneState(text.str())) phones.push_back(*s);
  }
  ::closedir(d);
  std::sort(phones.begin(), phones.end(), [](const PhoneState& a, const PhoneState& b) { return a.index < b.index; });
  return phones;
}

}  // namespace bench

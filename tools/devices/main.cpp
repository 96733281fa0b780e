// vantor-devices: answers the program's questions about the attached phones,
// one verb each, printing exactly the text the program parses:
//   list            identifiers separated by ";"
//   volumes ID      the disk's volumes separated by ";"
//   type ID         the device type code, decimal
//   index ID        the location index, decimal
//   name INDEX, KIND  kind 16777216: the identifier now at INDEX;
//                   kind 33554432: the name adb uses for it
//   monitor         watch arrivals until killed
//   init            forget the table of location indexes
// Exit status: 0 done, 1 failed, 2 bad arguments, 3 access denied, 4 no such
// device. With VANTOR_BENCH_DIR set, the answers come from the virtual bench.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <syslog.h>

#include "platform/version.h"
#include "tools/devices/backend.h"

namespace {

const char kHelp[] =
    "usage: vantor-devices VERB [ARGUMENTS]\n"
    "verbs:\n"
    "  list              the identifiers of the attached phones, separated by \";\"\n"
    "  volumes ID        the volumes of a phone's disk, separated by \";\"\n"
    "  type ID           the phone's device type code, decimal\n"
    "  index ID          the phone's location index, decimal\n"
    "  name INDEX, KIND  KIND 16777216: the identifier now at INDEX; 33554432: the name adb uses\n"
    "  monitor           watch phones arrive until ended\n"
    "  init              forget the table of location indexes\n"
    "exit status: 0 done, 1 failed, 2 bad arguments, 3 access denied, 4 no such device.\n"
    "With VANTOR_BENCH_DIR set, the answers come from the virtual bench in that folder.\n"
    "--version prints the version.\n";

using devices::Phone;
using devices::Status;

bool ParseUnsigned(std::string text, unsigned long* out) {
  if (!text.empty() && text.back() == ',') text.pop_back();
  if (text.empty() || text[0] < '0' || text[0] > '9') return false;
  char* end = nullptr;
  errno = 0;
  unsigned long v = std::strtoul(text.c_str(), &end, 10);
  if (*end != '\0' || errno != 0 || v > 0xFFFFFFFFul) return false;
  *out = v;
  return true;
}

const Phone* Find(const std::vector<Phone>& phones, const std::string& id) {
  for (const Phone& p : phones) {
    if (p.id == id) return &p;
  }
  return nullptr;
}

void Print(const std::string& text) { std::fwrite(text.data(), 1, text.size(), stdout); }

// An identifier the program can take back from a list: printable ASCII
// without the list's separator.
bool IsPlainIdentifier(const std::string& text) {
  for (unsigned char c : text)
    if (c < 0x20 || c > 0x7E || c == ';') return false;
  return true;
}

// Phones whose identifier or adb name is not plain are left out, each with a
// line in the system log: the program could neither list nor address them.
// (Standard error would reach the program mixed into the answer.)
void DropUnplainPhones(std::vector<Phone>* phones) {
  std::vector<Phone> kept;
  for (Phone& p : *phones) {
    if (IsPlainIdentifier(p.id) && IsPlainIdentifier(p.adbName)) {
      kept.push_back(std::move(p));
      continue;
    }
    ::syslog(LOG_WARNING, "vantor-devices: the phone at location index %u is skipped: its identifier or serial "
             "number holds a \";\", a control character or a byte that is not printable", p.index);
  }
  phones->swap(kept);
}

std::string Join(const std::vector<std::string>& entries) {
  std::string out;
  for (const std::string& e : entries) out += (out.empty() ? "" : ";") + e;
  return out;
}

int Run(devices::Backend& backend, const std::vector<std::string>& args) {
  const std::string& verb = args[0];
  if (verb == "monitor" && args.size() == 1) return backend.Monitor();
  if (verb == "init" && args.size() == 1) return backend.Init();

  std::vector<Phone> phones;
  bool known = verb == "list" || verb == "volumes" || verb == "type" || verb == "index" || verb == "name";
  if (!known) return devices::kBadArguments;
  if ((verb == "list" && args.size() != 1) || (verb != "list" && verb != "name" && args.size() != 2) ||
      (verb == "name" && args.size() != 3))
    return devices::kBadArguments;
  Status status = backend.List(&phones);
  if (status != devices::kOk) return status;
  DropUnplainPhones(&phones);

  if (verb == "list") {
    std::vector<std::string> ids;
    for (const Phone& p : phones) ids.push_back(p.id);
    Print(Join(ids));
    return devices::kOk;
  }
  if (verb == "name") {
    unsigned long index = 0, kind = 0;
    if (!ParseUnsigned(args[1], &index) || !ParseUnsigned(args[2], &kind)) return devices::kBadArguments;
    if (kind != devices::kNameDeviceId && kind != devices::kNameAdb) return devices::kBadArguments;
    for (const Phone& p : phones) {
      if (p.index != index) continue;
      Print(kind == devices::kNameDeviceId ? p.id : p.adbName);
      return devices::kOk;
    }
    return devices::kNoSuchDevice;
  }
  const Phone* phone = Find(phones, args[1]);
  if (verb == "volumes") {
    if (!phone) return devices::kNoSuchDevice;
    Print(Join(phone->volumes));
    return devices::kOk;
  }
  // type and index print 0 for a device that is not there, so a caller that
  // reads only the text sees no known mode and no index.
  unsigned long value = !phone ? 0 : verb == "type" ? phone->type : phone->index;
  std::printf("%lu", value);
  return phone ? devices::kOk : devices::kNoSuchDevice;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::fputs(kHelp, stdout);
    return devices::kOk;
  }
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("vantor-devices %s\n", VANTOR_VERSION);
    return devices::kOk;
  }
  if (argc < 2) {
    std::fputs(kHelp, stderr);
    return devices::kBadArguments;
  }
  std::vector<std::string> args(argv + 1, argv + argc);
  const char* benchDir = std::getenv("VANTOR_BENCH_DIR");
  std::unique_ptr<devices::Backend> backend =
      benchDir && *benchDir ? devices::MakeBenchBackend(benchDir) : devices::MakeUdevBackend();
  int status = Run(*backend, args);
  std::fflush(stdout);
  return status;
}

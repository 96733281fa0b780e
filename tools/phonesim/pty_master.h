// The master side of a bench phone's pseudo-terminal, made raw: no echo of
// the phone's answers and no line editing, whatever the host sets on its
// slave side.
#pragma once
#include <string>

namespace phonesim {

// The master's descriptor (close-on-exec) and in *slavePath the slave's
// path, the port the host opens; -1 with *error set when none can be opened.
int OpenRawPtyMaster(std::string* slavePath, std::string* error);

}  // namespace phonesim

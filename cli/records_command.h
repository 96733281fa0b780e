// vantor-cli records: the flash records of this bench, or of the line of
// benches when a records server is set.
#pragma once
#include "cli/options.h"

extern const CommandSpec kRecordsCommand;

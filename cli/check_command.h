// vantor-cli check: a package checked as the jobs would read it, with no phone.
#pragma once
#include "cli/options.h"

extern const CommandSpec kCheckCommand;

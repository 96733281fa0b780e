// vantor-cli write-disk --disk PATH --rawprogram XML --patch XML [--search DIRS]
#pragma once
#include "cli/options.h"

extern const CommandSpec kWriteDiskCommand;

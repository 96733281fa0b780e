// vantor-cli download --port PORT --programmer HEX --boot IMAGE
#pragma once
#include "cli/options.h"

extern const CommandSpec kDownloadCommand;

// vantor-cli list | flash | backup: the main window's refresh, flash and
// backup, headless.
#pragma once
#include "cli/options.h"

extern const CommandSpec kListCommand;
extern const CommandSpec kFlashCommand;
extern const CommandSpec kBackupCommand;

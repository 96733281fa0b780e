// vantor-cli list | flash | backup: the main window's refresh, flash and
// backup, headless.
#pragma once

int RunListCommand(int argc, char** argv);
// backup is true for "backup", false for "flash".
int RunJobsCommand(bool backup, int argc, char** argv);

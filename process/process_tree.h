// A command whose whole tree of processes ends together. The command runs
// under a reaper process of its own, a forked copy of this program that only
// waits: it is the child subreaper of the tree, so every process the command
// starts stays its descendant, also one that left the command's process group
// or session ("setsid", "( ... & )"). When the command ends, or when the
// reaper is asked to end (EndProcessTree), or when the thread that started it
// dies (PR_SET_PDEATHSIG, also after a SIGKILL of this program), the reaper
// SIGKILLs every process left in the tree and exits with the command's status.
// The command itself gets SIGKILL as well when its reaper dies.
#pragma once
#include <string>

#include "process/executor.h"

// Starts the command (split like StartProcess, found on PATH, never through a
// shell). child->process is the reaper: readable once the whole tree has
// ended. With wantOutput, child->output is the read end of the pipe that
// holds the command's standard output and error; without, both go to
// /dev/null. Standard input is this program's.
HRESULT StartProcessTree(const std::string& commandLine, bool wantOutput, ChildProcess* child);

// Ends what is left of the tree at once and reaps the reaper. Returns the
// command's exit status when it had ended by itself (128 + the signal number
// when a signal ended it), or 128 + SIGTERM when it was still running and
// was ended here; -1 when there was no tree.
int EndProcessTree(ChildProcess* child);

// The process's limit of open files. Each job holds a port or a disk, a few
// package files and its pipes; dozens of phones at once need more than the
// usual soft limit of 1024 allows.
#pragma once

// Raises the soft limit of open files to the hard limit. Called once at the
// start of each program; a limit that cannot be raised stays as it was.
void RaiseOpenFileLimit();

// What becomes of a command whose output cannot be written: a closed pipe
// (its reader, `head` say, has gone) or a full disk. SIGPIPE is ignored, so
// such a write fails with EPIPE instead of killing the program in the middle
// of a phone's protocol; a run then ends as a termination signal ends it, and
// the exit status tells what happened.
#pragma once
#include <cstdio>
#include <string_view>

// Every write to a closed pipe fails with EPIPE from now on, rather than
// ending the process. Children get the default action back (the executor and
// the process tree reset it), so a script's own pipes behave as in a shell.
void IgnoreBrokenPipes();

// 141 (128 + SIGPIPE: what a shell reports for a writer whose pipe was
// closed) for a closed pipe, 74 (EX_IOERR) for any other write error.
int OutputFailureStatus(int error);

// Writes the text and flushes the stream: 0, or the errno of the failure.
int WriteOutput(std::FILE* out, std::string_view text);

// The end of the program's output: flushes out and tells whether everything
// reached it. 0 when it did; else the status for the failure, after a line on
// stderr (none for a closed pipe: its reader left by choice).
int FinishOutput(std::FILE* out, const char* program);
